#include "engine/stalereplyguard.h"

using replies::Kind;

void StaleReplyGuard::commandSent(Kind expected)
{
    if (isSequenceReply(expected))
        m_inFlight = expected;
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
