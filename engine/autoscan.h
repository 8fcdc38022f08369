#pragma once

#include <QByteArray>
#include <QVector>
#include <cstdint>

// The bookkeeping of auto write: which tags on the reader have been handled already.
namespace autoscan
{

constexpr int kUidBytes = 8;

/// True when any of the `size` bytes at `bytes` is nonzero (a UID of all zero means no tag).
bool anyNonZero(const uint8_t* bytes, int size);

/// True when the first `size` bytes of `a` and `b` differ; false when equal or size is 0.
bool differ(const uint8_t* a, const uint8_t* b, int size);

/// The UIDs of the tags auto write has handled (written or refused) that have stayed on
/// the reader since. A tag that leaves the reader drops out, so laid again it is new.
class HandledTags
{
  public:
    /// Marks `uid` handled; an empty or all-zero UID is ignored.
    void add(const QByteArray& uid);
    /// True when `uid` has been handled and has not left the reader since.
    bool contains(const QByteArray& uid) const;
    /// Forgets every tag (no tag answered an inventory).
    void clear();
    /// Number of handled tags remembered.
    int size() const { return m_uids.size(); }

    /// Takes an inventory: forgets the handled tags it does not list any more and returns
    /// the index of its first tag not handled yet (the inventory's size when there is none).
    int takeInventory(const QVector<QByteArray>& inventory);
    /// Index of the first tag from `from` on that is not handled (`inventory.size()` if none).
    int nextPending(const QVector<QByteArray>& inventory, int from) const;

  private:
    QVector<QByteArray> m_uids;
};

} // namespace autoscan
