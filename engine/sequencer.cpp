#include "engine/sequencer.h"

#include "readers/readerlink.h"

#include <algorithm>

namespace
{

// A request the FEIG library still holds is waited for (the library's own 5 s with a
// margin), and looked at again this often.
constexpr qint64 kLibraryTimeoutMs = 6000;
constexpr int kRecheckMs = 50;
constexpr qint64 kNsPerMs = 1000000;

} // namespace

Sequencer::Sequencer(QObject* parent) : QObject(parent)
{
    m_reply_timer.setSingleShot(true);
    connect(&m_reply_timer, &QTimer::timeout, this, &Sequencer::onReplyOverdue);
}

void Sequencer::setReplyTimeout(int ms)
{
    m_reply_timeout_ms = std::max(1, ms);
}

void Sequencer::Control_RW(std::unique_ptr<Operation> op)
{
    m_op = std::move(op);
    m_hs.send_enable = 1;
    m_hs.ack = 0;
    // A command of an abandoned sequence may still be in flight; its late reply must not
    // count for the new one.
    m_matcher.restart();
}

void Sequencer::restart()
{
    m_hs.send_enable = 1;
    m_hs.ack = 0;
    m_matcher.restart();
}

void Sequencer::CheckCmdSequence()
{
    // The idle tick: one test and nothing else.
    if (!m_op || !m_op->running() || m_matcher.holding())
        return;
    m_op->step();
}

void Sequencer::stop()
{
    if (m_op)
        m_op->cmd_type = 0;
    m_hs.send_enable = 0;
    m_hs.ack = 0;
    m_matcher.giveUp(0);
    m_reply_timer.stop();
}

void Sequencer::send(replies::Kind expected, const std::function<void(ReaderLink&)>& command)
{
    if (!m_link)
        return;
    // Stamped before it leaves: its reply may be back before the link returns.
    const qint64 sentAt = replies::clock();
    command(*m_link);
    m_matcher.commandSent(expected, sentAt);
    // A reader that is unplugged, hung or loses a reply would otherwise leave the sequence
    // waiting for good with nobody told; the link itself gives no reply for it.
    m_reply_timer.start(m_reply_timeout_ms);
}

bool Sequencer::sendScan()
{
    if (!m_link || m_matcher.holding())
        return false;
    const qint64 sentAt = replies::clock();
    m_link->inventory();
    m_matcher.scanSent(sentAt);
    return true;
}

void Sequencer::onReplyOverdue()
{
    const qint64 waited = m_matcher.waitingMs();
    if (waited < 0)
        return; // answered meanwhile
    if (waited < m_reply_timeout_ms) {
        m_reply_timer.start(static_cast<int>(m_reply_timeout_ms - waited));
        return;
    }
    // A request the link still holds may yet be answered: the FEIG library gives up by
    // itself after its own time-out. Waiting for that keeps a late answer from landing in
    // the next action.
    if (m_link && m_link->holdsRequest() && waited < m_reply_timeout_ms + kLibraryTimeoutMs) {
        m_reply_timer.start(kRecheckMs);
        return;
    }
    const replies::Kind awaited = m_matcher.inFlightKind();
    const int window = m_link ? m_link->lateReplyWindowMs(m_reply_timeout_ms) : 0;
    m_matcher.giveUp(window > 0 ? replies::clock() + window * kNsPerMs : 0);
    emit overdue(awaited);
}
