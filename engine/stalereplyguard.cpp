#include "engine/stalereplyguard.h"

using replies::Kind;

void StaleReplyGuard::commandSent(Kind expected)
{
    // Any new command but the beeper ends the wait for a given-up reply: the auto scan's
    // inventories must be answered even right after a give-up.
    if (expected != Kind::Beeper)
        m_givenUp = false;
    if (isSequenceReply(expected)) {
        m_inFlight = expected;
        m_sentAt.start();
        m_rearm = true;
    }
}

void StaleReplyGuard::restart()
{
    // With nothing in flight an armed guard stays armed: its late reply is still due.
    if (inFlight() && m_rearm)
        m_stale = m_inFlight;
    m_inFlight = Kind::Unusable;
}

bool StaleReplyGuard::dropReply(Kind kind)
{
    if (!isSequenceReply(kind))
        return false;
    if (m_givenUp && !inFlight())
        return true;
    if (armed()) {
        const bool late = answers(kind, m_stale);
        m_stale = Kind::Unusable;
        if (late) {
            // The command in flight keeps waiting, so that the reply time-out reports it
            // if this was its own reply after all; a new action must not be caught again.
            m_rearm = false;
            return true;
        }
    }
    // A reply that cannot answer what waits (a read's reply while an inventory waits)
    // belongs to an earlier command, for instance one sent before a reconnect.
    if (inFlight() && !answers(kind, m_inFlight))
        return true;
    m_inFlight = Kind::Unusable;
    return false;
}

void StaleReplyGuard::reset()
{
    m_inFlight = Kind::Unusable;
    m_stale = Kind::Unusable;
    m_givenUp = false;
}

void StaleReplyGuard::giveUp()
{
    if (!inFlight())
        return;
    m_inFlight = Kind::Unusable;
    m_givenUp = true;
}

Kind StaleReplyGuard::unreadableReply()
{
    // Replies come in request order, so a late reply that is due comes first.
    if (armed()) {
        m_stale = Kind::Unusable;
        return Kind::Unusable;
    }
    const Kind awaited = m_inFlight;
    m_inFlight = Kind::Unusable;
    return awaited;
}

qint64 StaleReplyGuard::waitingMs() const
{
    return inFlight() && m_sentAt.isValid() ? m_sentAt.elapsed() : -1;
}

bool StaleReplyGuard::isSequenceReply(Kind kind)
{
    switch (kind) {
    case Kind::Inventory:
    case Kind::ReadBlocks:
    case Kind::WriteBlocks:
    case Kind::Transparent:
    case Kind::NoTag:
        return true;
    default:
        return false;
    }
}

bool StaleReplyGuard::answers(Kind kind, Kind expected)
{
    if (kind == expected)
        return true;
    return kind == Kind::NoTag && (expected == Kind::Inventory || expected == Kind::ReadBlocks ||
                                   expected == Kind::WriteBlocks);
}
