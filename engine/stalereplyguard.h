#pragma once

#include "engine/replies.h"

#include <QElapsedTimer>

/// Recognises the late reply of a command that an abandoned sequence left in flight.
///
/// Both readers answer in request order and the engine keeps one sequence command in
/// flight, so the first sequence reply after a restart is either that late reply or, when
/// it was lost, the first reply of the new sequence. The guard therefore judges exactly
/// one reply after a restart and then lets everything through again.
class StaleReplyGuard
{
  public:
    /// A sequence command went out; `expected` is the kind of reply it will get.
    void commandSent(replies::Kind expected);
    /// A new sequence starts: the command now in flight belongs to the old one.
    void restart();
    /// Called for every reply that reaches the analysis; true when the reply is the
    /// abandoned command's late answer and must be dropped.
    bool dropReply(replies::Kind kind);
    /// Forgets everything (a reader was connected afresh).
    void reset();

    /// The command in flight got no reply in time and is given up. Until the next command
    /// goes out (beeper commands aside), sequence replies are taken for its late answer
    /// and dropped; a reply that never comes does not cost the next action its first one.
    void giveUp();
    /// A reply that cannot be read (corrupted, another protocol) answers what was awaited:
    /// an abandoned command's late reply if one is due, else the command in flight.
    /// Returns the kind the command in flight waited for, or Unusable when the reply
    /// answered no command of the running sequence.
    replies::Kind unreadableReply();

    /// True while a sequence command waits for its reply.
    bool inFlight() const { return m_inFlight != replies::Kind::Unusable; }
    /// The kind of reply the command in flight waits for; Unusable when none.
    replies::Kind inFlightKind() const { return m_inFlight; }
    /// Milliseconds the command in flight has waited; -1 when none is in flight.
    qint64 waitingMs() const;
    /// True after giveUp() until the next command goes out.
    bool givenUp() const { return m_givenUp; }
    /// True while the next sequence reply is checked against an abandoned command.
    bool armed() const { return m_stale != replies::Kind::Unusable; }

    /// True for the kinds that answer sequence commands (not beeper, not ignored ones).
    static bool isSequenceReply(replies::Kind kind);
    /// True when a reply of `kind` can be the answer to a command expecting `expected`;
    /// a FEIG no-tag reply can answer any ISO host command.
    static bool answers(replies::Kind kind, replies::Kind expected);

  private:
    replies::Kind m_inFlight = replies::Kind::Unusable;
    replies::Kind m_stale = replies::Kind::Unusable;
    bool m_givenUp = false;
    bool m_rearm = true; // restart() may take the command in flight for an abandoned one
    QElapsedTimer m_sentAt;
};
