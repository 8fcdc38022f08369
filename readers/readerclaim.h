#pragma once

#include <QString>
#include <memory>

#include <QLockFile>

/// Holds one reader for this link while it lives: no other link of this process, and for
/// a reader on a real transport no other Vantory process, opens it meanwhile. USB HID
/// devices may be opened by any number of programs at once, so the hold is a lock file
/// per reader under the user's runtime folder (removed by the system when its holder dies).
class ReaderClaim
{
  public:
    ReaderClaim() = default;
    ~ReaderClaim();
    ReaderClaim(const ReaderClaim&) = delete;
    ReaderClaim& operator=(const ReaderClaim&) = delete;

    /// Takes the reader named `key` (its kind and identity), giving up the one held before
    /// unless it is the same. `systemWide` when other processes can reach the same reader.
    /// False when another holder has it. Safe from any thread.
    bool take(const QString& key, bool systemWide);
    /// Gives the reader held back.
    void release();
    /// The reader held; empty when none.
    QString key() const;
    /// The folder the lock files go to.
    static QString lockFolder();

  private:
    QString m_key;
    std::unique_ptr<QLockFile> m_file;
};
