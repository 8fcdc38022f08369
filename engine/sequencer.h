#pragma once

#include "engine/operation.h"
#include "engine/replymatcher.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class ReaderLink;

/// Runs one operation at a time over the engine's link: the handshake its step slots
/// share with the reply analysis, the commands it sends (each tracked by the reply matcher
/// and timed by the reply time-out), and the running operation itself.
class Sequencer : public QObject
{
    Q_OBJECT
  public:
    explicit Sequencer(QObject* parent = nullptr);

    /// The link commands go out on; null while no reader is chosen (nothing is sent).
    void setLink(ReaderLink* link) { m_link = link; }
    /// How long a command waits for its reply before it is given up (3000 ms unless changed).
    void setReplyTimeout(int ms);
    int replyTimeout() const { return m_reply_timeout_ms; }

    Handshake& handshake() { return m_hs; }
    ReplyMatcher& matcher() { return m_matcher; }
    const ReplyMatcher& matcher() const { return m_matcher; }

    /// Starts `op`, abandoning the operation that runs: re-armed, nothing sent yet (the
    /// first command goes out on the next tick).
    void Control_RW(std::unique_ptr<Operation> op);
    /// The running operation starts a sequence of its own over (its read-back).
    void restart();
    /// One step of the running operation, unless it has no command left or the late reply
    /// of a command given up is still being waited out.
    void CheckCmdSequence();
    /// The running (or last) operation; null before the first.
    Operation* operation() const { return m_op.get(); }
    /// True while the running operation has commands to send.
    bool commandsLeft() const { return m_op && m_op->running(); }
    /// Nothing more goes out for the running operation, and its reply is not waited for.
    void stop();

    /// Sends one command of the running operation: `command` is handed the link, and a
    /// reply of `expected` kind is awaited.
    void send(replies::Kind expected, const std::function<void(ReaderLink&)>& command);
    /// Sends the auto-write loop's inventory; false while a late reply is waited out.
    bool sendScan();

  signals:
    /// The command in flight got no reply in time and has been given up.
    void overdue(replies::Kind awaited);

  private:
    void onReplyOverdue();

    ReaderLink* m_link = nullptr;
    Handshake m_hs;
    std::unique_ptr<Operation> m_op;
    ReplyMatcher m_matcher;
    int m_reply_timeout_ms = 3000;
    QTimer m_reply_timer;
};
