// Read operations: the step slots of the read sequences and the two command senders
// they use. Each step slot sends at most one command per tick and then runs the handshake.
#include "engine/tagengine.h"

#include "model/tagfields.h"
#include "readers/feigworker.h"
#include "readers/myfeigusb.h"
#include "readers/myreader.h"

using replies::Kind;

namespace
{

constexpr uint8_t kPieceBlocks = 12;
constexpr uint8_t kLastPieceBlocks = 8;
constexpr uint8_t kPwmBlock = 248;

} // namespace

void TagEngine::Read_Tag_UID()
{
    if (reader_type == ReaderType::Feig)
        sendFeigFrame(m_feig->Feig_Inventory(), Kind::Inventory);
    else if (reader_type == ReaderType::R321)
        sendR321Frame(m_myreader->Cmd_Inventory(), Kind::Inventory);
    m_cmd.read_bank_step = 2;
}

void TagEngine::Read_BlOCK_NUM(uint8_t block, uint8_t num)
{
    if (reader_type == ReaderType::Feig)
        sendFeigFrame(m_feig->Feig_ReadBlocks(uidBytes(), block, num), Kind::ReadBlocks);
    else if (reader_type == ReaderType::R321)
        sendR321Frame(m_myreader->Cmd_ReadBlocks(uidBytes(), block, num), Kind::ReadBlocks);
}

void TagEngine::Continue_Read_OneBank(uint8_t bank_addr, uint8_t mode)
{
    switch (m_cmd.block_step) {
    case 1:
        Read_BlOCK_NUM(bank_addr, kPieceBlocks);
        m_cmd.block_step = 2;
        break;
    case 2:
        Read_BlOCK_NUM(static_cast<uint8_t>(bank_addr + kPieceBlocks), kPieceBlocks);
        m_cmd.block_step = 3;
        break;
    case 3:
        Read_BlOCK_NUM(static_cast<uint8_t>(bank_addr + 2 * kPieceBlocks), kLastPieceBlocks);
        if (mode != 0) {
            m_cmd.block_step = 1;
            ++m_cmd.read_bank_step;
        } else {
            m_cmd.cmd_type = 0;
        }
        break;
    default:
        break;
    }
}

void TagEngine::Auto_Continue_Read()
{
    if (m_cmd.send_enable == 1) {
        switch (m_cmd.read_bank_step) {
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
            if (chip_code == tagfields::ChipPwm) {
                Read_BlOCK_NUM(kPwmBlock, 1);
                m_cmd.cmd_type = 0;
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
    stepHandshake(m_cmd.readcnt);
}

void TagEngine::Auto_Continue_Read_DriverInfo()
{
    if (m_cmd.send_enable == 1)
        Continue_Read_OneBank(64, 0);
    stepHandshake(m_cmd.readcnt);
}

void TagEngine::Special_Read_Data(uint8_t addr, uint8_t num)
{
    if (m_cmd.send_enable == 1) {
        Read_BlOCK_NUM(addr, num);
        m_cmd.cmd_type = 0;
    }
    stepHandshake(m_cmd.readcnt);
}

void TagEngine::Continue_Read()
{
    if (m_cmd.send_enable == 1) {
        switch (m_cmd.read_bank_step) {
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
    stepHandshake(m_cmd.readcnt);
}
