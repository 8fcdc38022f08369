// The reply analysis of both readers: every reply comes decoded from the link, is matched
// to the command it answers, and goes to whoever sent that command. Failures are reported
// here as the reader words them; replies that never come, or a reader that goes away,
// end the operation that waited.
#include "engine/tagengine.h"

#include "engine/enginelog.h"

using replies::Failure;
using replies::Kind;

void TagEngine::Analyse_Receive_Data(const replies::Reply& reply)
{
    last_rx = reply.raw;
    if (reply.kind == Kind::Unusable) {
        qCDebug(lcEngine) << "rxArray数据越界";
        return;
    }
    if (reply.kind == Kind::Foreign) {
        // An R321 reply to no ISO15693 command is not for the auto-write loop.
        if (reply.failure == Failure::NotIso15693 && autoScanning())
            return;
        // It answered the command in flight, which now waits for nothing more.
        m_seq.matcher().unreadableReply(reply.receivedAt);
        reportFailure(reply);
        return;
    }
    if (reply.damaged) {
        // Damaged on the way: its data, its status, even its command may be wrong.
        qCDebug(lcEngine) << "reply with a wrong CRC";
        dropUnreadableReply(reply);
        return;
    }
    const ReplyMatcher::Verdict verdict = m_seq.matcher().take(reply);
    switch (verdict.to) {
    case ReplyMatcher::To::Drop:
        if (ReplyMatcher::isSequenceReply(reply.kind))
            qCDebug(lcEngine) << "reply to no command in flight dropped (a duplicate or late)";
        return;
    case ReplyMatcher::To::Beeper:
        m_beeper.reply(reply);
        return;
    case ReplyMatcher::To::Scan:
        scanReply(reply);
        return;
    case ReplyMatcher::To::Sequence:
        break;
    }
    // An inventory without a tag: every tag has left the reader.
    if (reply.kind == Kind::Inventory && !reply.ok)
        m_auto.inventoryFailed();
    if (Operation* op = m_seq.operation())
        op->reply(reply);
}

void TagEngine::scanReply(const replies::Reply& reply)
{
    // Quiet: the loop polls the reader whether a tag lies on it or not.
    if (!autoScanning())
        return;
    if (reply.kind == Kind::NoTag || !reply.ok) {
        m_auto.inventoryFailed();
        if (reply.kind == Kind::NoTag)
            m_auto.scan_request = 1;
        m_auto.scanAnswered(false);
        return;
    }
    qCDebug(lcEngine) << "获取标签";
    storeInventory(reply);
    const bool read = reply.uids.value(0).size() == static_cast<int>(uid.size());
    if (read)
        m_auto.takeAutoScanInventory(reply);
    m_auto.scanAnswered(read && m_auto.tag_index < m_auto.found_count);
}

void TagEngine::reportFailure(const replies::Reply& reply)
{
    switch (reply.failure) {
    case Failure::TagNoResponse: {
        // The R321 says the same of every command; an inventory of the auto-write loop
        // finding no tag is no failure.
        if (reply.kind == Kind::Inventory && autoScanning())
            return;
        const int number = reply.kind == Kind::Inventory     ? 1
                           : reply.kind == Kind::ReadBlocks  ? 2
                           : reply.kind == Kind::WriteBlocks ? 3
                                                             : 4;
        Failed_State(QStringLiteral("<操作失败%1：标签无响应>\r\n").arg(number));
        if (reply.kind != Kind::Transparent)
            endWith(ResultTip::NoLabel, record::Result::NoTagResponse);
        return;
    }
    case Failure::ReadFailure:
        Failed_State(QStringLiteral("<操作失败1：读取失败>"));
        endWith(ResultTip::ReadFailed, record::Result::NoTagResponse);
        return;
    case Failure::WriteFailure:
        Failed_State(QStringLiteral("<操作失败2：写入失败>"));
        endWith(ResultTip::WriteFailed, record::Result::WriteFailed);
        return;
    case Failure::NoTagAnswered:
        Failed_State(QStringLiteral("<操作失败3：标签无应答>"));
        endWith(ResultTip::NoLabel, record::Result::NoTagResponse);
        return;
    case Failure::NotIso15693:
        Failed_State(QStringLiteral("<不是ISO15693协议>"));
        endWith(ResultTip::NoIso15693, record::Result::WriteFailed);
        return;
    case Failure::NotFeig:
        Failed_State(QStringLiteral("<操作失败0：不是FEIG协议>"));
        return;
    case Failure::Unreported:
    case Failure::None:
        return;
    }
}

void TagEngine::dropUnreadableReply(const replies::Reply& reply)
{
    // Nothing waits for a beeper answer; a damaged one is simply not taken.
    if (reply.kind == Kind::Beeper)
        return;
    const Kind awaited = m_seq.matcher().unreadableReply(reply.receivedAt);
    if (awaited == Kind::Unusable) {
        qCDebug(lcEngine) << "damaged reply to no command of the sequence dropped";
        return;
    }
    // The command's answer is lost: the sequence stops there, as on a refused reply.
    Failed_State(QStringLiteral("<操作失败：回复校验错误>"));
    showFailureTip(awaited);
}

void TagEngine::onReplyOverdue(replies::Kind awaited)
{
    Operation* op = m_seq.operation();
    if (op && op->overdue(awaited))
        return;
    m_seq.handshake().send_enable = 0;
    m_seq.handshake().ack = 0;
    finishOperation(record::Result::ReaderLost);
    Failed_State(QStringLiteral("<操作失败：阅读器无回复>"));
    showFailureTip(awaited);
}

void TagEngine::endSequenceOnLinkLoss()
{
    Operation* op = m_seq.operation();
    const bool running = op && op->running();
    const Kind awaited = m_seq.matcher().inFlightKind();
    if (!running && awaited == Kind::Unusable && !m_record_pending)
        return;
    // A sequence already reported as failed stays where it stopped until the next action;
    // losing the reader now (its failure beep may be what hangs) ends nothing new.
    if (m_sequence_failed && !m_record_pending)
        return;
    // Whatever the reader says after coming back, it is no answer to this sequence.
    m_seq.stop();
    m_auto.model_ready = 0;
    finishOperation(record::Result::ReaderLost, true);
    if (Detection_Usb_Statue(0)) {
        Failed_State(QStringLiteral("<操作失败：阅读器连接中断>"));
    } else {
        qCDebug(lcEngine) << "<操作失败：阅读器连接中断> beep when the reader is back";
        suppress_success_beep = 0;
        m_failure_beep_owed = true;
    }
    showFailureTip(running || awaited != Kind::Unusable ? Kind::Other : Kind::Unusable);
}

void TagEngine::soundOwedFailureBeep()
{
    if (!m_failure_beep_owed)
        return;
    m_failure_beep_owed = false;
    Failed_State(QStringLiteral("<操作失败：阅读器连接中断>"));
}

void TagEngine::showFailureTip(replies::Kind awaited)
{
    // A command of the operation was under way: a read that failed, or a write. With none
    // (an auto-write driver between its model check and its write) the write failed.
    const Operation* op = m_seq.operation();
    const bool reading = awaited != Kind::Unusable && op && op->reads();
    if (reading)
        endWith(ResultTip::ReadFailed, record::Result::NoTagResponse);
    else
        endWith(ResultTip::WriteFailed, record::Result::WriteFailed);
}

bool TagEngine::showTip(ResultTip tip)
{
    // A failure tip that a read-back's own tip has replaced is not shown.
    if (m_verify_tip_shown && (tip == ResultTip::ReadFailed || tip == ResultTip::WriteFailed ||
                               tip == ResultTip::NoIso15693 || tip == ResultTip::NoLabel)) {
        m_verify_tip_shown = false;
        return false;
    }
    emit resultTip(tip, m_chinese);
    return true;
}

void TagEngine::endWith(ResultTip tip, record::Result result)
{
    if (showTip(tip))
        finishOperation(result);
}
