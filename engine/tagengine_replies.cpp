// Reply wiring and analysis: every reply of either reader is decoded (bounds-checked)
// in vantory_core and then accepted or rejected here, which drives the handshake.
#include "engine/tagengine.h"

#include "engine/enginelog.h"
#include "engine/replies.h"
#include "model/tagfields.h"
#include "readers/feigworker.h"
#include "readers/myfeigusb.h"
#include "readers/myhid.h"
#include "readers/myreader.h"

#include <algorithm>

using replies::Kind;

namespace
{

constexpr int kDeviceNameFrom = 11;
constexpr int kDeviceNameLength = 17;

} // namespace

void TagEngine::connectR321()
{
    // The outcome arrives through myhid::usbConnect, wired to in_usbConnect at construction.
    // An open link is not opened again, but the dialog has just painted the label red.
    if (m_myhid->Is_Connected() == 0)
        m_myhid->Connect();
    else
        Tip_R321_Conncect_Succeed(lang_cn());
}

bool TagEngine::connectFeig()
{
    // Always ask the library: a handle kept from before may belong to a reader that has
    // been pulled out since.
    if (m_feig_thread->Feig_Reopen() == 0)
        return false;
    m_feig_wanted = true;
    Tip_Feig_Connect_Succeed(lang_cn());
    // Unique rather than disconnect-then-connect: the worker thread may emit in between.
    connect(m_feig_thread, &writeThreadFEIG1::FeigDevReceive, this,
            &TagEngine::in_FeigDevReceive_Debug, Qt::UniqueConnection);
    // Tells the reply time-out whether the library still holds a request.
    disconnect(m_feig_thread, &writeThreadFEIG1::transceiveDone, this, nullptr);
    connect(m_feig_thread, &writeThreadFEIG1::transceiveDone, this, [this] {
        if (m_feig_outstanding > 0)
            --m_feig_outstanding;
    });
    m_feig_outstanding = 0;
    // A sequence still waiting waits for a request of the old connection: it is over.
    endSequenceOnLinkLoss();
    m_reply_guard.reset();
    forgetFourBlockLink();
    soundOwedFailureBeep();
    return true;
}

void TagEngine::in_usbConnect(QString curUSBInfo)
{
    if (curUSBInfo.isEmpty()) {
        m_device_name.clear();
        emit linkCleared();
        return;
    }
    readThreadEP1* reader = m_myhid->readThread();
    writeThreadEP1* writer = m_myhid->writeThread();
    // Wired once, uniquely: a disconnect-then-connect leaves a gap in which the link
    // threads can emit, and a lost write completion would hold back every later frame.
    connect(reader, &readThreadEP1::hidDevReceive, this, &TagEngine::in_hidDevReceive_usbDebug,
            Qt::UniqueConnection);
    connect(writer, &writeThreadEP1::hidDevSend, m_myreader, &myreader::in_hidDevSend_Myreader,
            Qt::UniqueConnection);
    // A sequence still waiting waits for a reply of the old connection: it is over.
    endSequenceOnLinkLoss();
    m_reply_guard.reset();
    m_r321_crc.reset(); // a new reader: learn its CRC anew
    forgetFourBlockLink();
    m_r321_wanted = m_myhid->connectedInterface();
    Tip_R321_Conncect_Succeed(lang_cn());
    m_device_name = curUSBInfo.mid(kDeviceNameFrom, kDeviceNameLength);
    m_last_send_ok = m_myreader->Send_Frame(m_myreader->Cmd_Init()) != 0;
    soundOwedFailureBeep();
}

void TagEngine::in_hidDevReceive_usbDebug(QByteArray rxArray)
{
    if (rxArray.isEmpty())
        return;
    last_rx = rxArray;
    Analyse_Receive_Data(last_rx);
}

void TagEngine::in_FeigDevReceive_Debug(QByteArray rxArray)
{
    if (rxArray.isEmpty()) {
        // The library could not reach the reader: the request's answer is lost.
        endSequenceOnLinkLoss();
        return;
    }
    last_rx = rxArray;
    FE_Analyse_Receive_Data(last_rx);
}

void TagEngine::Analyse_Receive_Data(QByteArray rxArray)
{
    const replies::R321Reply reply = replies::decodeR321(rxArray);
    if (!reply.usable) {
        qCDebug(lcEngine) << "rxArray数据越界";
        return;
    }
    if (!reply.iso) {
        if (auto_scan)
            return;
        // It answered the command in flight, which now waits for nothing more.
        m_reply_guard.unreadableReply();
        Failed_State(QStringLiteral("<不是ISO15693协议>"));
        endWith(ResultTip::NoIso15693, record::Result::WriteFailed);
        return;
    }
    if (!m_r321_crc.accept(reply.crcOk)) {
        // Damaged on the way: its data, its status, even its command may be wrong.
        qCDebug(lcEngine) << "R321 reply with a wrong CRC";
        dropUnreadableReply(reply.kind);
        return;
    }
    if (m_reply_guard.dropReply(reply.kind)) {
        qCDebug(lcEngine) << "late reply of an abandoned sequence dropped";
        return;
    }

    switch (reply.kind) {
    case Kind::Inventory:
        if (reply.ok()) {
            qCDebug(lcEngine) << "获取标签";
            storeR321Inventory(rxArray, reply);
        } else {
            uid.fill(0);
            tag_index = 0;
            m_handled_tags.clear(); // no tag on the reader any more
            if (!auto_scan) {
                Failed_State(QStringLiteral("<操作失败1：标签无响应>\r\n"));
                endWith(ResultTip::NoLabel, record::Result::NoTagResponse);
            }
        }
        break;
    case Kind::ReadBlocks:
        if (reply.ok()) {
            qCDebug(lcEngine) << "读取成功";
            takeReadData(reply.payload);
        } else {
            Failed_State(QStringLiteral("<操作失败2：标签无响应>\r\n"));
            endWith(ResultTip::NoLabel, record::Result::NoTagResponse);
        }
        break;
    case Kind::WriteBlocks:
        if (reply.ok()) {
            qCDebug(lcEngine) << "写入成功";
            if (!sendNextWritePiece())
                Display_Recevie(rxArray);
        } else if (!retryWriteInPieces()) {
            Failed_State(QStringLiteral("<操作失败3：标签无响应>\r\n"));
            endWith(ResultTip::NoLabel, record::Result::NoTagResponse);
        }
        break;
    case Kind::Transparent:
        if (reply.ok()) {
            qCDebug(lcEngine) << "透传成功";
            m_cmd.ack = 1;
            Serianet_Recevie(rxArray);
        } else if (config_write_pending || pwd_write_pending) {
            // The tag does not answer a configuration or password write in time for the
            // reader; the command is taken as done.
            qCDebug(lcEngine) << "写密码或更改配置时透传成功";
            config_write_pending = 0;
            pwd_write_pending = 0;
            m_cmd.ack = 1;
        } else {
            Failed_State(QStringLiteral("<操作失败4：标签无响应>\r\n"));
        }
        break;
    case Kind::Beeper:
        if (!reply.ok()) {
            // Traced only: a failure beep would be refused as well. The pattern is over
            // all the same, and the batch must not wait for a reply that will not come.
            reportBeeperFailure();
            Beep_Recevie();
        } else if (beep_pattern == 0) {
            qCDebug(lcEngine) << "蜂鸣器响应";
            Beep_Recevie();
        }
        break;
    default:
        break;
    }
}

void TagEngine::FE_Analyse_Receive_Data(QByteArray data)
{
    const replies::FeigReply reply = replies::decodeFeig(data);
    if (!reply.usable) {
        qCDebug(lcEngine) << "data数据越界";
        return;
    }
    if (!reply.feig) {
        m_reply_guard.unreadableReply();
        Failed_State(QStringLiteral("<操作失败0：不是FEIG协议>"));
        return;
    }
    if (!reply.crcOk) {
        qCDebug(lcEngine) << "FEIG reply with a wrong CRC";
        dropUnreadableReply(reply.kind);
        return;
    }
    // Taken before the guard lets the reply answer the command.
    const bool sequenceWaited = m_reply_guard.inFlight();
    const Kind awaited = m_reply_guard.inFlightKind();
    if (m_reply_guard.dropReply(reply.kind)) {
        qCDebug(lcEngine) << "late reply of an abandoned sequence dropped";
        return;
    }

    switch (reply.kind) {
    case Kind::ReadBlocks:
        if (reply.ok()) {
            qCDebug(lcEngine) << "读取成功";
            takeReadData(reply.blockData);
        } else {
            Failed_State(QStringLiteral("<操作失败1：读取失败>"));
            endWith(ResultTip::ReadFailed, record::Result::NoTagResponse);
        }
        break;
    case Kind::WriteBlocks:
        if (reply.ok()) {
            qCDebug(lcEngine) << "写入成功";
            if (!sendNextWritePiece())
                Display_Recevie(data);
        } else if (!retryWriteInPieces()) {
            Failed_State(QStringLiteral("<操作失败2：写入失败>"));
            endWith(ResultTip::WriteFailed, record::Result::WriteFailed);
        }
        break;
    case Kind::Inventory:
        if (reply.ok()) {
            qCDebug(lcEngine) << "获取标签";
            storeFeigInventory(reply);
        } else {
            uid.fill(0);
            tag_index = 0;
            m_handled_tags.clear();
        }
        break;
    case Kind::NoTag:
        // Quiet only for the loop's own inventory: a driver taken away in the middle of
        // its model read or write is a failure the operator must hear about.
        if (auto_scan && !sequenceWaited) {
            uid.fill(0);
            tag_index = 0;
            m_handled_tags.clear();
            scan_request = 1;
        } else if (awaited != Kind::WriteBlocks || !retryWriteInPieces()) {
            // A refused write reads as a reply without a tag: a long one is tried in pieces.
            Failed_State(QStringLiteral("<操作失败3：标签无应答>"));
            endWith(ResultTip::NoLabel, record::Result::NoTagResponse);
        }
        break;
    case Kind::Transparent:
        if (reply.ok()) {
            qCDebug(lcEngine) << "透传成功";
            m_cmd.ack = 1;
        } else if (pwd_write_pending) {
            pwd_write_pending = 0;
            // The reader reports the written password with status 1; anything else is a
            // failed password write and stops the sequence without a word.
            if (reply.status == replies::kFeigStatusNoTransponder) {
                qCDebug(lcEngine) << "<写密码成功>";
                m_cmd.ack = 1;
            } else {
                qCDebug(lcEngine) << "<操作失败4：写密码失败>";
            }
        } else if (reply.status == replies::kFeigStatusIsoError) {
            m_cmd.ack = 1;
            Serianet_Recevie(data);
        } else {
            m_cmd.ack = 1;
            m_cmd.block_step = m_cmd.config_step_saved;
        }
        break;
    case Kind::Beeper:
        if (!reply.ok()) {
            reportBeeperFailure();
            // The pattern is over even though the reader refused to switch off; the
            // waiting batch must not hang on it.
            if (beep_pattern == 0)
                Beep_Recevie();
        } else if (beep_pattern == 0) {
            qCDebug(lcEngine) << "蜂鸣器响应";
            Beep_Recevie();
        }
        break;
    default:
        break;
    }
}

void TagEngine::Get_Recevie_UID(QByteArray rxArray)
{
    if (reader_type == ReaderType::Feig) {
        const replies::FeigReply reply = replies::decodeFeig(rxArray);
        if (reply.usable && reply.kind == Kind::Inventory)
            storeFeigInventory(reply);
    } else if (reader_type == ReaderType::R321) {
        const replies::R321Reply reply = replies::decodeR321(rxArray);
        if (reply.usable && reply.kind == Kind::Inventory)
            storeR321Inventory(rxArray, reply);
    }
}

void TagEngine::storeFeigInventory(const replies::FeigReply& reply)
{
    tag_count = 1;
    found_count = 1;
    setChipCode(reply.uid.size() >= 3 ? static_cast<uint8_t>(reply.uid.at(2)) : 0);
    storeInventoryUid(reply.uid);
}

void TagEngine::storeR321Inventory(const QByteArray& rxArray, const replies::R321Reply& reply)
{
    inventory_reply = rxArray.left(reply.length + 4);
    const int records = (inventory_reply.size() - 15) / replies::kR321InventoryRecordSize;
    tag_count = static_cast<uint8_t>(std::max(0, records));
    found_count = tag_count;
    // Only a UID that lies inside the reply's payload is taken.
    const QByteArray first = replies::r321InventoryUid(inventory_reply, 0);
    setChipCode(first.size() >= 6 ? static_cast<uint8_t>(first.at(5)) : 0);
    storeInventoryUid(first);
}

void TagEngine::storeInventoryUid(const QByteArray& id)
{
    if (id.size() < static_cast<int>(uid.size()))
        return;
    std::copy_n(id.constBegin(), uid.size(), uid.begin());
    const QByteArray reversed = FEInverted(id.left(static_cast<int>(uid.size())));
    std::copy_n(reversed.constBegin(), uid_reversed.size(), uid_reversed.begin());

    if (chip_code == tagfields::ChipP) {
        m_cmd.readcnt = 12;
        auto_write_index = 1;
    } else if (chip_code == tagfields::ChipPwm) {
        m_cmd.readcnt = 7;
        auto_write_index = 2;
    }
    if (auto_scan) {
        qCDebug(lcEngine) << "<自动扫描获取UID成功>\r\n";
        takeAutoScanInventory();
        return;
    }
    qCDebug(lcEngine) << "<UID获取成功>\r\n";
    m_cmd.ack = 1;
    Tip_GetUID_Succeed(lang_cn());
}

void TagEngine::Get_BLOCK_Data(QByteArray rxArray)
{
    if (reader_type == ReaderType::Feig) {
        const replies::FeigReply reply = replies::decodeFeig(rxArray);
        if (reply.usable && reply.kind == Kind::ReadBlocks && reply.ok())
            takeReadData(reply.blockData);
    } else if (reader_type == ReaderType::R321) {
        const replies::R321Reply reply = replies::decodeR321(rxArray);
        if (reply.usable && reply.kind == Kind::ReadBlocks && reply.ok())
            takeReadData(reply.payload);
    }
}

void TagEngine::takeReadData(const QByteArray& blocks)
{
    ++m_cmd.reply_cnt;
    m_cmd.ack = 1;
    m_cmd.read_data.append(blocks);
    if (m_cmd.cmd_type != 0)
        return;
    if (m_verifying) {
        finishVerification();
        return;
    }

    if (m_cmd.reply_cnt != m_cmd.readcnt) {
        endReadAsFailed(QStringLiteral("<读取失败：回复数不符>"));
        return;
    }

    const QByteArray& data = m_cmd.read_data;
    if (m_cmd.readcnt == 1) {
        // The model-name read: model_len bytes from model_offset.
        if (!m_model_read_open) {
            qCDebug(lcEngine) << "model-name reply of an abandoned read dropped";
            return;
        }
        const int len = std::min<int>(model_len, static_cast<int>(tag_model.size()));
        if (data.size() < model_offset + len) {
            endReadAsFailed(QStringLiteral("<读取失败：数据不足>"));
            return;
        }
        Succeed_End_State(QStringLiteral("<读取成功>"));
        Tip_Read_Succeed(lang_cn());
        tag_model.fill(0);
        std::copy_n(data.constBegin() + model_offset, len, tag_model.begin());
        m_model_read_open = false;
        model_ready = 1;
        return;
    }

    // A reply count that is right is not enough: the image is filled only from
    // complete data, otherwise the read ends as failed and the image stays as it was.
    if (data.size() < tagfields::requiredReadSize(m_cmd.readcnt, chip_code)) {
        endReadAsFailed(QStringLiteral("<读取失败：数据不足>"));
        return;
    }

    Succeed_End_State(QStringLiteral("<读取成功>"));
    Tip_Read_Succeed(lang_cn());
    // The document takes the data (and rebuilds the bank buffer), and names this driver
    // as the template of later writes, before the layout below is taken from it.
    m_doc->loadRead(data, m_cmd.readcnt, chip_code, uidMsbFirst());
    if (manual_read) {
        manual_read = 0;
        const QByteArray field = tagfields::modelNameField(m_doc->image());
        model_snapshot.fill(0);
        std::copy_n(field.constBegin(), std::min<int>(field.size(), model_snapshot.size()),
                    model_snapshot.begin());
        // Write keeps the driver's counters where this driver keeps them.
        m_read_layout =
            chip_code == tagfields::ChipP ? m_doc->image().image_v2[tagoffset::LayoutCode] : -1;
    }
    emit driverRead(devicereport::TagIdentity{uidMsbFirst(), chip_code});
}

void TagEngine::endReadAsFailed(const QString& reason)
{
    Failed_State(reason);
    endWith(ResultTip::ReadFailed, record::Result::NoTagResponse);
}

void TagEngine::Display_Recevie(QByteArray rxArray)
{
    if (!rxArray.isEmpty())
        ++m_cmd.reply_cnt;
    m_cmd.ack = 1;
    if (m_cmd.cmd_type != 0)
        return;
    if (m_cmd.reply_cnt < m_cmd.send_cnt) {
        Failed_State(QStringLiteral("<写入失败：回复数不足>"));
        endWith(ResultTip::WriteFailed, record::Result::WriteFailed);
    } else if (!startVerification()) {
        Succeed_End_State(QStringLiteral("<写入成功>"));
        endWith(ResultTip::WriteSucceed, record::Result::Written);
    }
}

void TagEngine::Serianet_Recevie(QByteArray rxArray)
{
    if (!m_cmd.first_transparent_check)
        return;
    m_cmd.first_transparent_check = 0;

    int byte1 = -1;
    if (reader_type == ReaderType::Feig)
        byte1 = replies::transparentResponseByte1(replies::decodeFeig(rxArray));
    else if (reader_type == ReaderType::R321)
        byte1 = replies::transparentResponseByte1(replies::decodeR321(rxArray));

    if (byte1 == replies::kPresentPasswordOkByte) {
        pwd_first_failed = 0;
        return;
    }
    qCDebug(lcEngine) << "第一次密码输入错误";
    pwd_first_failed = 1;
    m_cmd.block_step = 2;
}

QByteArray TagEngine::FEInverted(QByteArray data)
{
    return replies::feInverted(data);
}
