#pragma once

#include "readers/replies.h"

/// Matches each reply to the command it answers. A reply is taken only for the command in
/// flight: it must be of a kind that can answer it, and it must have been received after
/// the command went out, so that a duplicate of an earlier reply, or the late reply of a
/// command given up, never answers a later one.
///
/// Both readers answer in request order and the engine keeps one sequence command in
/// flight. A command abandoned by a new sequence is still answered: the first reply after
/// the restart that can be its answer is taken for it and dropped. A command given up for
/// want of a reply may still be answered late; until the reader's reply window has passed
/// (holding()) no new sequence command goes out, so that such a reply meets nothing to
/// answer. The inventories of the auto-write loop are matched the same way.
class ReplyMatcher
{
  public:
    /// Whom a reply is for.
    enum class To : uint8_t { Drop, Sequence, Scan, Beeper };
    struct Verdict {
        To to = To::Drop;
        replies::Kind awaited = replies::Kind::Unusable; ///< what the command waited for
    };

    /// A sequence command went out at `sentAt` (replies::clock()); `expected` is the kind of
    /// reply it will get.
    void commandSent(replies::Kind expected, qint64 sentAt);
    /// An inventory of the auto-write loop went out.
    void scanSent(qint64 sentAt);
    /// A new sequence starts: the command now in flight belongs to the old one.
    void restart();
    /// Whom `reply` answers; Drop for a duplicate, a late reply or one nobody waits for.
    Verdict take(const replies::Reply& reply);
    /// Forgets everything (a reader was connected afresh).
    void reset();

    /// The command in flight got no reply in time and is given up; its late reply may come
    /// until `lateUntil` (replies::clock()).
    void giveUp(qint64 lateUntil);
    /// True while a given-up command may still be answered: nothing new goes out.
    bool holding() const;
    /// A reply that cannot be read (damaged, another protocol) answers what was awaited:
    /// an abandoned command's late reply if one is due, else the command in flight.
    /// Returns the kind the command in flight waited for, or Unusable when the reply
    /// answered no command of the running sequence.
    replies::Kind unreadableReply(qint64 receivedAt);

    /// True while a sequence command waits for its reply.
    bool inFlight() const { return m_inFlight != replies::Kind::Unusable; }
    /// The kind of reply the command in flight waits for; Unusable when none.
    replies::Kind inFlightKind() const { return m_inFlight; }
    /// Milliseconds the command in flight has waited; -1 when none is in flight.
    qint64 waitingMs() const;
    /// True while the next reply is checked against an abandoned command.
    bool armed() const { return m_stale != replies::Kind::Unusable; }

    /// True for the kinds that answer sequence commands (not beeper, not ignored ones).
    static bool isSequenceReply(replies::Kind kind);
    /// True when a reply of `kind` can be the answer to a command expecting `expected`;
    /// a FEIG no-tag reply can answer any ISO host command.
    static bool answers(replies::Kind kind, replies::Kind expected);

  private:
    replies::Kind m_inFlight = replies::Kind::Unusable;
    qint64 m_sentAt = 0;
    replies::Kind m_stale = replies::Kind::Unusable;
    bool m_rearm = true; // restart() may take the command in flight for an abandoned one
    bool m_scanInFlight = false;
    qint64 m_scanSentAt = 0;
    qint64 m_lateUntil = 0;
};
