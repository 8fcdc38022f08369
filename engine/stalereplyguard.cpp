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
    }
}

void StaleReplyGuard::restart()
{
    // With nothing in flight an armed guard stays armed: its late reply is still due.
    if (inFlight())
        m_stale = m_inFlight;
    m_inFlight = Kind::Unusable;
}

bool StaleReplyGuard::dropReply(Kind kind)
{
    if (!isSequenceReply(kind))
        return false;
    if (m_givenUp && !inFlight())
        return true;
    bool drop = false;
    if (armed()) {
        drop = answers(kind, m_stale);
        m_stale = Kind::Unusable;
    }
    m_inFlight = Kind::Unusable;
    return drop;
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
