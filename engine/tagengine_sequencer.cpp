// The command sequencer: sequence start, the per-tick dispatch to the step slots, the
// handshake between them and the reply analysis, the endings, the reader guard and the
// Read action. The 1 ms tick (TIMER0_HANDLE) runs CheckCmdSequence, then Beep_Process.
#include "engine/tagengine.h"

#include "engine/enginelog.h"
#include "engine/enginetexts.h"
#include "model/tagfields.h"
#include "readers/feigworker.h"
#include "readers/myfeigusb.h"
#include "readers/myhid.h"
#include "readers/myreader.h"

#include <QTimer>
#include <algorithm>

namespace
{

constexpr uint8_t kPwmBlock = 248;
// The FEIG library's own reply time-out (5 s) with a margin, and how often a request
// still inside the library is looked at again.
constexpr qint64 kFeigLibraryTimeoutMs = 6000;
constexpr int kFeigRecheckMs = 50;
constexpr int kDriveAreaOffset = 256;

} // namespace

void TagEngine::Control_RW(uint8_t type, uint8_t readcnt)
{
    m_cmd.block_step = 1;
    m_cmd.read_bank_step = 1;
    m_cmd.write_part_step = 1;
    m_cmd.write_bank_step = 1;
    m_cmd.reply_cnt = 0;
    m_cmd.send_enable = 1;
    m_cmd.cmd_type = type;
    m_cmd.first_transparent_check = 1;
    m_cmd.ack = 0;
    m_cmd.readcnt = readcnt;
    m_cmd.read_data.clear();
    m_sequence_failed = false;
    m_write_layout = -1; // the image's, unless the write that starts says otherwise
    noteSequenceStart(type);
    // Only the model-name read started here may set model_ready, for the tag it is sent
    // to; any other start abandons one still in flight.
    m_model_read_open = type == SeqCode::ReadModel;
    if (m_model_read_open) {
        model_ready = 0;
        tag_model.fill(0);
        m_model_uid = uid;
    }
    // A command of an abandoned sequence may still be in flight; its late reply must not
    // count for the new one.
    m_reply_guard.restart();
    wakeTick();
}

void TagEngine::CheckCmdSequence()
{
    // The idle tick: one byte compare and nothing else.
    switch (m_cmd.cmd_type) {
    case 0:
        return;
    case SeqCode::Read:
        Auto_Continue_Read();
        return;
    case SeqCode::ReadDrive:
        Auto_Continue_Read_DriverInfo();
        return;
    case SeqCode::ReadModel:
        Special_Read_Data(special_addr, special_num);
        return;
    case SeqCode::WriteDrive:
        Write_Drive_Info();
        return;
    case SeqCode::WriteAll:
        Auto_Write_Password_And_Bank();
        return;
    case SeqCode::WriteProduct:
        Write_Product_Info();
        return;
    case SeqCode::SetCurrent:
        Set_Current(m_cmd.set_current_block, imageBytes() + kDriveAreaOffset);
        return;
    case SeqCode::WritePwmTag:
        Write_ST25DV02K_Info(kPwmBlock, imageBytes());
        return;
    case SeqCode::VerifyRead:
        Verify_Read_Back();
        return;
    default:
        return;
    }
}

void TagEngine::stepHandshake(uint8_t count)
{
    if (m_cmd.ack == 1)
        Succeed_Recevie_Ack(count);
    else
        m_cmd.send_enable = 0;
}

void TagEngine::Succeed_Recevie_Ack(uint8_t send_cnt)
{
    Q_UNUSED(send_cnt);
    m_cmd.send_enable = 1;
    m_cmd.ack = 0;
}

void TagEngine::Succeed_End_State(QString str)
{
    qCDebug(lcEngine).noquote() << str;
    if (suppress_success_beep) {
        suppress_success_beep = 0;
        return;
    }
    Start_Beep(1);
}

void TagEngine::Failed_State(QString str)
{
    qCDebug(lcEngine).noquote() << str;
    m_sequence_failed = true;
    verificationInterrupted();
    // The suppression belongs to the success of the sequence that failed; left set, it
    // would silence the next operation's success beep.
    suppress_success_beep = 0;
    Start_Beep(2);
}

bool TagEngine::Detection_Usb_Statue(uint8_t status)
{
    bool connected = false;
    if (reader_type == ReaderType::Feig)
        connected = m_feig_thread->Feig_IsConnected() != 0;
    else if (reader_type == ReaderType::R321)
        connected = m_myhid->Is_Connected() != 0;
    if (!connected && status != 0) {
        emit warning(enginetext::ReaderWarningCaption.pick(lang_cn()),
                     enginetext::ReaderNotConnected.pick(lang_cn()));
        Tip_R321_Select_Device(lang_cn());
    }
    return connected;
}

void TagEngine::startRead()
{
    // An operation under way is never cut short; the host says why nothing happens.
    if (sequenceRunning() || !Detection_Usb_Statue(1))
        return;
    emit actionStarted();
    Control_RW(SeqCode::Read, 7);
    manual_read = 1;
    m_cmd.read_data.clear();
}

void TagEngine::Select_Auto_Write(uint8_t index)
{
    // The document holds every edit as it was made: its settings are what goes out.
    const uint8_t channels = m_doc->channelCount();
    switch (index) {
    case 0:
        m_cmd.send_cnt = 16;
        Change_Current(channels);
        m_doc->applyColourTemperature();
        break;
    case 1:
        m_cmd.send_cnt = 8;
        m_cmd.cmd_type = SeqCode::WriteDrive;
        Change_Current(channels);
        m_doc->applyColourTemperature();
        break;
    case 2:
        m_cmd.send_cnt = 8;
        m_cmd.cmd_type = SeqCode::WriteProduct;
        break;
    case 3:
        m_cmd.send_cnt = 1;
        m_cmd.set_current_block = 64;
        m_cmd.cmd_type = SeqCode::SetCurrent;
        Change_Current(channels);
        break;
    case 4:
        m_cmd.send_cnt = 9;
        m_cmd.cmd_type = SeqCode::WritePwmTag;
        Change_ST25DV02K_PWM1();
        break;
    default:
        break;
    }
    Update_Bank_Buff();
}

QByteArray TagEngine::uidBytes() const
{
    return QByteArray(reinterpret_cast<const char*>(uid.data()), static_cast<int>(uid.size()));
}

QByteArray TagEngine::uidReversedBytes() const
{
    return QByteArray(reinterpret_cast<const char*>(uid_reversed.data()),
                      static_cast<int>(uid_reversed.size()));
}

void TagEngine::sendR321Frame(const QByteArray& frame, replies::Kind expected)
{
    m_last_send_ok = m_myreader->Send_Frame(frame) != 0;
    m_reply_guard.commandSent(expected);
    if (StaleReplyGuard::isSequenceReply(expected))
        armReplyTimer();
}

void TagEngine::sendFeigFrame(const QByteArray& frame, replies::Kind expected)
{
    m_feig_thread->Feig_Send(frame, frame.size());
    ++m_feig_outstanding;
    m_last_send_ok = true;
    m_reply_guard.commandSent(expected);
    if (StaleReplyGuard::isSequenceReply(expected))
        armReplyTimer();
}

void TagEngine::setReplyTimeout(int ms)
{
    m_reply_timeout_ms = std::max(1, ms);
}

void TagEngine::armReplyTimer()
{
    // A reader that is unplugged, hung or loses a reply would otherwise leave the sequence
    // waiting for good with nobody told; the link itself gives no reply for it.
    m_reply_timer->start(m_reply_timeout_ms);
}

void TagEngine::onReplyOverdue()
{
    const qint64 waited = m_reply_guard.waitingMs();
    if (waited < 0)
        return; // answered meanwhile
    if (waited < m_reply_timeout_ms) {
        m_reply_timer->start(static_cast<int>(m_reply_timeout_ms - waited));
        return;
    }
    // A FEIG request still inside the library may yet be answered: the library gives up
    // by itself after its own time-out. Waiting for that keeps a late answer from landing
    // in the next action.
    if (reader_type == ReaderType::Feig && m_feig_outstanding > 0 &&
        waited < m_reply_timeout_ms + kFeigLibraryTimeoutMs) {
        m_reply_timer->start(kFeigRecheckMs);
        return;
    }
    const replies::Kind awaited = m_reply_guard.inFlightKind();
    m_reply_guard.giveUp();
    if (awaited == replies::Kind::WriteBlocks && retryWriteInPieces())
        return;
    m_model_read_open = false; // its reply, should it come after all, is not a model check
    m_cmd.send_enable = 0;
    m_cmd.ack = 0;
    finishOperation(record::Result::ReaderLost);
    Failed_State(QStringLiteral("<操作失败：阅读器无回复>"));
    showFailureTipFor(awaited);
}

void TagEngine::endSequenceOnLinkLoss()
{
    const uint8_t running = m_cmd.cmd_type;
    replies::Kind awaited = m_reply_guard.inFlightKind();
    if (running == 0 && awaited == replies::Kind::Unusable && !m_op_pending)
        return;
    // A sequence already reported as failed stays where it stopped until the next action;
    // losing the reader now (its failure beep may be what hangs) ends nothing new.
    if (m_sequence_failed && !m_op_pending)
        return;
    if (awaited == replies::Kind::Unusable) {
        // Between two commands: the tip follows what the sequence was doing.
        const bool reading = running == SeqCode::Read || running == SeqCode::ReadDrive ||
                             running == SeqCode::ReadModel;
        awaited = reading ? replies::Kind::ReadBlocks : replies::Kind::WriteBlocks;
    }
    // Whatever the reader says after coming back, it is no answer to this sequence.
    m_reply_guard.giveUp();
    m_reply_timer->stop();
    m_model_read_open = false;
    model_ready = 0;
    m_cmd.cmd_type = 0;
    m_cmd.send_enable = 0;
    m_cmd.ack = 0;
    finishOperation(record::Result::ReaderLost);
    if (Detection_Usb_Statue(0)) {
        Failed_State(QStringLiteral("<操作失败：阅读器连接中断>"));
    } else {
        qCDebug(lcEngine) << "<操作失败：阅读器连接中断> beep when the reader is back";
        suppress_success_beep = 0;
        m_failure_beep_owed = true;
    }
    showFailureTipFor(awaited);
}

void TagEngine::soundOwedFailureBeep()
{
    if (!m_failure_beep_owed)
        return;
    m_failure_beep_owed = false;
    Failed_State(QStringLiteral("<操作失败：阅读器连接中断>"));
}

void TagEngine::dropUnreadableReply(replies::Kind decoded)
{
    // Nothing waits for a beeper answer; a damaged one is simply not taken.
    if (decoded == replies::Kind::Beeper)
        return;
    const replies::Kind awaited = m_reply_guard.unreadableReply();
    if (awaited == replies::Kind::Unusable) {
        qCDebug(lcEngine) << "damaged reply to no command of the sequence dropped";
        return;
    }
    // The command's answer is lost: the sequence stops there, as on a refused reply.
    Failed_State(QStringLiteral("<操作失败：回复校验错误>"));
    showFailureTipFor(awaited);
}

void TagEngine::showFailureTipFor(replies::Kind awaited)
{
    switch (awaited) {
    case replies::Kind::Inventory:
    case replies::Kind::ReadBlocks:
        endWith(ResultTip::ReadFailed, record::Result::NoTagResponse);
        break;
    case replies::Kind::WriteBlocks:
    case replies::Kind::Transparent:
        endWith(ResultTip::WriteFailed, record::Result::WriteFailed);
        break;
    default:
        break;
    }
}
