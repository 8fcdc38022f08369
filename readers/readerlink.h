#pragma once

#include "readers/readertype.h"
#include "readers/replies.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>

/// The left label of the status bar: which reader is connected, or none.
enum class LinkTip : uint8_t { FeigConnected, R321Connected, SelectDevice };

/// The reader a link is made for: its kind, and (for a station with several readers)
/// which one of that kind; an empty identity takes the first one found.
struct ReaderChoice {
    ReaderType type = ReaderType::None;
    QString identity;
    bool operator==(const ReaderChoice& o) const
    {
        return type == o.type && identity == o.identity;
    }
};

/// One reader as the engine sees it: the tag commands it sends, the replies it hands back
/// decoded, and whether it is there. The R321 link and the FEIG link implement it; both
/// run over a transport seam (HidBackend, FeusbApi) behind which a real reader, a stand-in
/// library or a simulated reader sits. Made by LinkFactory; lives on the GUI thread.
///
/// UIDs are passed as the reader reported them in its inventory reply.
class ReaderLink : public QObject
{
    Q_OBJECT
  public:
    explicit ReaderLink(const ReaderChoice& choice, QObject* parent = nullptr)
        : QObject(parent), m_choice(choice)
    {
    }

    /// The reader this link was made for.
    const ReaderChoice& choice() const { return m_choice; }
    /// The identity of the reader this link has opened (the one chosen, or the first one
    /// found); empty before the first connection.
    QString identity() const { return m_identity; }
    /// What the status bar says while this link is connected (the reader's name).
    virtual LinkTip connectedTip() const = 0;

    /// Opens the reader unless it is open. True when it is connected afterwards; a
    /// connection also announces itself through connected().
    virtual bool open() = 0;
    virtual bool isConnected() const = 0;
    /// Looked at once a second: a reader that went away is shown as gone and, once it is
    /// back, connected again (the same reader, never another).
    virtual void watch() = 0;
    /// How long after the engine stops waiting for a reply the reader may still send it:
    /// 0 when the link knows a request is over (holdsRequest() says until when).
    virtual int lateReplyWindowMs(int replyTimeoutMs) const = 0;
    /// True while a request has been handed to the reader and may still be answered.
    virtual bool holdsRequest() const { return false; }

    // The tag commands; each is answered by one reply (or none).
    virtual void inventory() = 0;
    virtual void readBlocks(const QByteArray& uid, uint8_t first, uint8_t count) = 0;
    /// Writes `count` blocks from `first`; `data` holds them in tag order, 4 bytes each.
    virtual void writeBlocks(const QByteArray& uid, uint8_t first, const QByteArray& data,
                             uint8_t count) = 0;
    /// An ST25DV custom command (PRESENT PASSWORD, WRITE PASSWORD, WRITE CONFIGURATION)
    /// passed to the tag unchanged, with its parameter bytes.
    virtual void customCommand(const QByteArray& uid, uint8_t isoCommand,
                               const QByteArray& parameters) = 0;
    /// Switches the reader's beeper on or off.
    virtual void beep(bool on) = 0;

    /// `uid` (as this reader reports it) most significant byte first.
    virtual QByteArray uidMsbFirst(const QByteArray& uid) const = 0;

  signals:
    /// A reply, decoded (empty replies are never handed on).
    void replied(const replies::Reply& reply);
    /// A connection has been made; nothing sent before it will be answered.
    void connected();
    /// The reader has gone away (or cannot be reached): the link label asks for a reader.
    void disconnected();
    /// The answer to the request in flight will not come: the reader went away with it.
    void answerLost();
    /// The reader reported an empty connection text: the link label is emptied.
    void cleared();
    /// A reader was found but could not be opened (`path` is its device path).
    void openFailed(const QString& text, const QString& path);
    /// The reader (or every reader of this kind) is held by another link or program.
    void inUse(const QString& identity);

  protected:
    void setIdentity(const QString& identity) { m_identity = identity; }

  private:
    const ReaderChoice m_choice;
    QString m_identity;
};
