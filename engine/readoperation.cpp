#include "engine/readoperation.h"

#include "engine/enginelog.h"
#include "model/tagfields.h"

#include <algorithm>

using replies::Kind;

namespace
{

constexpr uint8_t kPieceBlocks = 12;
constexpr uint8_t kLastPieceBlocks = 8;
constexpr uint8_t kPwmBlock = 248;

} // namespace

ReadOperation::ReadOperation(EngineHost& host, uint8_t type, uint8_t readcnt, bool manual)
    : Operation(host, type), readcnt(readcnt), manual_read(manual ? 1 : 0)
{
}

void ReadOperation::step()
{
    switch (cmd_type) {
    case SeqCode::Read:
        Auto_Continue_Read();
        return;
    case SeqCode::ReadDrive:
        Auto_Continue_Read_DriverInfo();
        return;
    case SeqCode::ReadModel:
        Special_Read_Data(special_addr, special_num);
        return;
    default:
        return;
    }
}

void ReadOperation::Read_Tag_UID()
{
    host().sendInventory();
    read_bank_step = 2;
}

void ReadOperation::Read_BlOCK_NUM(uint8_t block, uint8_t num)
{
    host().sendRead(block, num);
}

void ReadOperation::Continue_Read_OneBank(uint8_t bank_addr, uint8_t mode)
{
    switch (block_step) {
    case 1:
        Read_BlOCK_NUM(bank_addr, kPieceBlocks);
        block_step = 2;
        break;
    case 2:
        Read_BlOCK_NUM(static_cast<uint8_t>(bank_addr + kPieceBlocks), kPieceBlocks);
        block_step = 3;
        break;
    case 3:
        Read_BlOCK_NUM(static_cast<uint8_t>(bank_addr + 2 * kPieceBlocks), kLastPieceBlocks);
        if (mode != 0) {
            block_step = 1;
            ++read_bank_step;
        } else {
            cmd_type = 0;
        }
        break;
    default:
        break;
    }
}

void ReadOperation::Auto_Continue_Read()
{
    if (hs().send_enable == 1) {
        switch (read_bank_step) {
        case 1:
            Read_Tag_UID();
            break;
        case 2:
            Continue_Read_OneBank(0, 1);
            break;
        case 3:
            Continue_Read_OneBank(32, 1);
            break;
        case 4:
            if (host().chipCode() == tagfields::ChipPwm) {
                Read_BlOCK_NUM(kPwmBlock, 1);
                cmd_type = 0;
            } else {
                Continue_Read_OneBank(64, 1);
            }
            break;
        case 5:
            Continue_Read_OneBank(96, 0);
            break;
        default:
            break;
        }
    }
    hs().step(readcnt);
}

void ReadOperation::Auto_Continue_Read_DriverInfo()
{
    if (hs().send_enable == 1)
        Continue_Read_OneBank(64, 0);
    hs().step(readcnt);
}

void ReadOperation::Special_Read_Data(uint8_t addr, uint8_t num)
{
    if (hs().send_enable == 1) {
        Read_BlOCK_NUM(addr, num);
        cmd_type = 0;
    }
    hs().step(readcnt);
}

void ReadOperation::Continue_Read()
{
    if (hs().send_enable == 1) {
        switch (read_bank_step) {
        case 1:
            Continue_Read_OneBank(0, 1);
            break;
        case 2:
            Continue_Read_OneBank(32, 1);
            break;
        case 3:
            Continue_Read_OneBank(64, 1);
            break;
        case 4:
            Continue_Read_OneBank(96, 0);
            break;
        default:
            break;
        }
    }
    hs().step(readcnt);
}

void ReadOperation::reply(const replies::Reply& reply)
{
    switch (reply.kind) {
    case Kind::Inventory:
        if (reply.ok) {
            qCDebug(lcEngine) << "获取标签";
            Get_Recevie_UID(reply);
        } else {
            host().reportFailure(reply);
        }
        break;
    case Kind::ReadBlocks:
        if (reply.ok) {
            qCDebug(lcEngine) << "读取成功";
            Get_BLOCK_Data(reply);
        } else {
            host().reportFailure(reply);
        }
        break;
    case Kind::NoTag:
        host().reportFailure(reply);
        break;
    default:
        break;
    }
}

void ReadOperation::Get_Recevie_UID(const replies::Reply& reply)
{
    host().storeInventory(reply);
    if (reply.uids.isEmpty() || reply.uids.first().size() < 8)
        return;
    if (host().chipCode() == tagfields::ChipP)
        readcnt = 12;
    else if (host().chipCode() == tagfields::ChipPwm)
        readcnt = 7;
    qCDebug(lcEngine) << "<UID获取成功>\r\n";
    hs().ack = 1;
    host().showTip(ResultTip::GetUidSucceed);
}

void ReadOperation::Get_BLOCK_Data(const replies::Reply& reply)
{
    if (reply.kind == Kind::ReadBlocks && reply.ok)
        takeReadData(reply.blocks);
}

void ReadOperation::takeReadData(const QByteArray& blocks)
{
    ++reply_cnt;
    hs().ack = 1;
    read_data.append(blocks);
    if (cmd_type != 0)
        return;
    if (reply_cnt != readcnt) {
        endReadAsFailed(QStringLiteral("<读取失败：回复数不符>"));
        return;
    }
    if (readcnt == 1) {
        // The model-name read: model_len bytes from model_offset.
        if (read_data.size() < model_offset + model_len) {
            endReadAsFailed(QStringLiteral("<读取失败：数据不足>"));
            return;
        }
        host().Succeed_End_State(QStringLiteral("<读取成功>"));
        host().showTip(ResultTip::ReadSucceed);
        host().modelNameRead(read_data.mid(model_offset, model_len));
        return;
    }
    // A reply count that is right is not enough: the image is filled only from complete
    // data, otherwise the read ends as failed and the image stays as it was.
    if (read_data.size() < tagfields::requiredReadSize(readcnt, host().chipCode())) {
        endReadAsFailed(QStringLiteral("<读取失败：数据不足>"));
        return;
    }
    host().Succeed_End_State(QStringLiteral("<读取成功>"));
    host().showTip(ResultTip::ReadSucceed);
    host().readDone(read_data, readcnt, manual_read != 0);
    manual_read = 0;
}

void ReadOperation::endReadAsFailed(const QString& reason)
{
    host().Failed_State(reason);
    host().endWith(ResultTip::ReadFailed, record::Result::NoTagResponse);
}
