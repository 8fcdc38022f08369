#include "engine/replymatcher.h"

using replies::Kind;

void ReplyMatcher::commandSent(Kind expected, qint64 sentAt)
{
    m_inFlight = expected;
    m_sentAt = sentAt;
    m_rearm = true;
}

void ReplyMatcher::scanSent(qint64 sentAt)
{
    m_scanInFlight = true;
    m_scanSentAt = sentAt;
}

void ReplyMatcher::restart()
{
    // With nothing in flight an armed matcher stays armed: its late reply is still due.
    if (inFlight() && m_rearm)
        m_stale = m_inFlight;
    m_inFlight = Kind::Unusable;
}

ReplyMatcher::Verdict ReplyMatcher::take(const replies::Reply& reply)
{
    if (reply.kind == Kind::Beeper)
        return {To::Beeper, Kind::Unusable};
    if (!isSequenceReply(reply.kind))
        return {};
    if (armed()) {
        const bool late = answers(reply.kind, m_stale);
        m_stale = Kind::Unusable;
        if (late) {
            // The command in flight keeps waiting, so that the reply time-out reports it
            // if this was its own reply after all; a new action must not be caught again.
            m_rearm = false;
            return {};
        }
    }
    if (inFlight() && reply.receivedAt >= m_sentAt && answers(reply.kind, m_inFlight)) {
        const Kind awaited = m_inFlight;
        m_inFlight = Kind::Unusable;
        return {To::Sequence, awaited};
    }
    if (m_scanInFlight && reply.receivedAt >= m_scanSentAt &&
        answers(reply.kind, Kind::Inventory)) {
        m_scanInFlight = false;
        return {To::Scan, Kind::Inventory};
    }
    // A duplicate, the late reply of a command given up, or a reply of a kind that cannot
    // answer what waits (it belongs to an earlier command, one sent before a reconnect).
    return {};
}

void ReplyMatcher::reset()
{
    *this = ReplyMatcher();
}

void ReplyMatcher::giveUp(qint64 lateUntil)
{
    if (!inFlight())
        return;
    m_inFlight = Kind::Unusable;
    m_lateUntil = lateUntil;
}

bool ReplyMatcher::holding() const
{
    return m_lateUntil != 0 && replies::clock() < m_lateUntil;
}

Kind ReplyMatcher::unreadableReply(qint64 receivedAt)
{
    // Replies come in request order, so a late reply that is due comes first.
    if (armed()) {
        m_stale = Kind::Unusable;
        return Kind::Unusable;
    }
    if (!inFlight() || receivedAt < m_sentAt)
        return Kind::Unusable;
    const Kind awaited = m_inFlight;
    m_inFlight = Kind::Unusable;
    return awaited;
}

qint64 ReplyMatcher::waitingMs() const
{
    return inFlight() ? (replies::clock() - m_sentAt) / 1000000 : -1;
}

bool ReplyMatcher::isSequenceReply(Kind kind)
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

bool ReplyMatcher::answers(Kind kind, Kind expected)
{
    if (kind == expected)
        return true;
    return kind == Kind::NoTag && (expected == Kind::Inventory || expected == Kind::ReadBlocks ||
                                   expected == Kind::WriteBlocks);
}
