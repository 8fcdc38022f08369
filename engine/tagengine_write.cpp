// Write operations: the Write action, the step slots of the write sequences, the bank
// writer that cuts a bank into four commands, the block writer, and the slots that pull
// the panel values into the tag image just before a write.
#include "engine/tagengine.h"

#include "engine/enginelog.h"
#include "engine/enginetexts.h"
#include "engine/writeplan.h"
#include "model/currents.h"
#include "model/tagfields.h"
#include "readers/feigworker.h"
#include "readers/myfeigusb.h"
#include "readers/myreader.h"

#include <functional>

using replies::Kind;

namespace
{

constexpr int kNoticeMs = 3000;
constexpr uint8_t kPwmBlock = 248;
// Set_Current writes the block that holds the channel-1 current: the third of its bank.
constexpr uint8_t kCurrentBlockInBank = 2;

bool inside(const uint8_t* p, int n, const uint8_t* begin, size_t size)
{
    const std::less_equal<const uint8_t*> le;
    return n >= 0 && le(begin, p) && le(p, begin + size) &&
           static_cast<size_t>(n) <= size - static_cast<size_t>(p - begin);
}

} // namespace

QByteArray TagEngine::ownBytes(const uint8_t* p, int n) const
{
    if (!p || n <= 0)
        return {};
    const std::pair<const uint8_t*, size_t> buffers[] = {
        {m_doc->image().image_v2.data(), m_doc->image().image_v2.size()},
        {m_doc->image().image_legacy.data(), m_doc->image().image_legacy.size()},
        {m_doc->image().bank_buffer.data(), m_doc->image().bank_buffer.size()},
        {uid.data(), uid.size()},
        {uid_reversed.data(), uid_reversed.size()},
        {last_uid.data(), last_uid.size()},
    };
    for (const auto& [begin, size] : buffers) {
        if (inside(p, n, begin, size))
            return QByteArray(reinterpret_cast<const char*>(p), n);
    }
    qCWarning(lcEngine) << "write data outside the tag image refused:" << n << "bytes";
    return {};
}

void TagEngine::startWrite()
{
    // An operation under way is never cut short (a second click on Write included).
    if (sequenceRunning() || !Detection_Usb_Statue(1))
        return;
    emit actionStarted();
    // The configuration in the window must be for the model that was read last.
    const QByteArray model = tagfields::modelNameField(m_doc->image());
    const QByteArray snapshot(reinterpret_cast<const char*>(model_snapshot.data()),
                              static_cast<int>(model_snapshot.size()));
    if (model != snapshot) {
        emit notice(enginetext::ModelsInconsistent.pick(lang_cn()), kNoticeMs);
        beginOperation(record::Operation::Write);
        m_op.foundModel = snapshot;
        finishOperation(record::Result::OtherModel);
        return;
    }
    if (refuseOtherKind()) {
        beginOperation(record::Operation::Write);
        finishOperation(record::Result::OtherKind);
        return;
    }
    // The counters are left out where the driver keeps them; a configuration of the other
    // layout would overwrite them with its own bytes.
    const int fileLayout = m_doc->image().image_v2[tagoffset::LayoutCode];
    if (chip_code == tagfields::ChipP && m_read_layout >= 0 &&
        (fileLayout == 2) != (m_read_layout == 2)) {
        const auto name = [this](int code) {
            return code == 2 ? enginetext::Layout2.pick(lang_cn())
                             : enginetext::LegacyLayout.pick(lang_cn()).arg(code);
        };
        emit notice(
            enginetext::OtherLayout.pick(lang_cn()).arg(name(fileLayout), name(m_read_layout)),
            kNoticeMs);
        beginOperation(record::Operation::Write);
        finishOperation(record::Result::OtherLayout);
        return;
    }
    Control_RW(SeqCode::WriteDrive, 0);
    if (chip_code == tagfields::ChipP)
        m_write_layout = m_read_layout;
    if (chip_code == tagfields::ChipPwm)
        Select_Auto_Write(4);
    else if (chip_code == tagfields::ChipP)
        Select_Auto_Write(1);
    beginOperation(record::Operation::Write);
    noteWriteTemplate();
}

bool TagEngine::refuseOtherKind()
{
    // Currents of one kind are kept where the other kind keeps something else (the drive
    // area, or the PWM block): decoded as the other kind they would be wrong values.
    const uint8_t kind = m_doc->chipCode();
    const auto known = [](uint8_t k) { return k == tagfields::ChipP || k == tagfields::ChipPwm; };
    if (kind == chip_code || !known(kind) || !known(chip_code))
        return false;
    const auto name = [this](uint8_t k) {
        return (k == tagfields::ChipPwm ? enginetext::KindPwm : enginetext::KindP).pick(lang_cn());
    };
    emit notice(enginetext::OtherKind.pick(lang_cn()).arg(name(kind), name(chip_code)), kNoticeMs);
    return true;
}

void TagEngine::Write_BlOCK_NUM(uint8_t* uid, uint8_t block_addr, uint8_t* data, uint8_t datalenth)
{
    const QByteArray id = ownBytes(uid, autoscan::kUidBytes);
    const QByteArray blocks = ownBytes(data, writeplan::kBlockBytes * datalenth);
    if (id.isEmpty() || blocks.isEmpty())
        return;
    writeBlocks(id, block_addr, blocks, datalenth);
}

void TagEngine::writeBlocks(const QByteArray& id, uint8_t block, const QByteArray& data,
                            uint8_t count)
{
    m_written.note(block, data);
    if (writeInPieces(id, block, data, count))
        return;
    sendWriteCommand(id, block, data, count);
}

void TagEngine::sendWriteCommand(const QByteArray& id, uint8_t block, const QByteArray& data,
                                 uint8_t count)
{
    if (reader_type == ReaderType::Feig) {
        const QByteArray reversed = writeplan::reverseEachBlock(data);
        sendFeigFrame(m_feig->Feig_WriteBlocks(id, block, count, reversed, reversed.size()),
                      Kind::WriteBlocks);
    } else if (reader_type == ReaderType::R321) {
        sendR321Frame(m_myreader->Cmd_WriteBlocks(id, block, data, count), Kind::WriteBlocks);
    }
}

void TagEngine::Write_Once_BANK(uint8_t banknum, uint8_t* bankdata, uint8_t offset, uint8_t mode)
{
    // The driver's operating-time counters are its own: a bank that holds them is written
    // around them, in as many commands as a whole bank.
    const uint8_t layout = m_write_layout >= 0 ? static_cast<uint8_t>(m_write_layout)
                                               : m_doc->image().image_v2[tagoffset::LayoutCode];
    const std::vector<writeplan::Piece> pieces =
        writeplan::bankPieces(banknum, offset, writeplan::counterBlocks(layout));
    const int step = m_cmd.write_part_step;
    if (step < 1 || step > static_cast<int>(pieces.size()))
        return;
    const writeplan::Piece& piece = pieces[step - 1];
    const QByteArray bank = ownBytes(bankdata, writeplan::bytesUsed(pieces));
    if (!bank.isEmpty()) {
        writeBlocks(uidBytes(), piece.firstBlock,
                    bank.mid(piece.byteOffset, writeplan::kBlockBytes * piece.count), piece.count);
    }
    if (step < static_cast<int>(pieces.size())) {
        ++m_cmd.write_part_step;
    } else if (mode != 0) {
        ++m_cmd.write_bank_step;
        m_cmd.write_part_step = 1;
    } else {
        m_cmd.cmd_type = 0;
    }
}

void TagEngine::Write_Product_Info()
{
    uint8_t* buffer = bankBuffer();
    if (m_cmd.send_enable == 1) {
        switch (m_cmd.write_bank_step) {
        case 1:
            // Nothing to send: the step only lets the next tick begin with bank 0.
            m_cmd.write_bank_step = 2;
            m_cmd.ack = 1;
            break;
        case 2:
            Write_Once_BANK(0, buffer, writeplan::kPieceBlocks, 1);
            break;
        case 3:
            Write_Once_BANK(32, buffer + 128, writeplan::kPieceBlocks, 0);
            break;
        default:
            break;
        }
    }
    stepHandshake(m_cmd.send_cnt);
}

void TagEngine::Write_Drive_Info()
{
    uint8_t* buffer = bankBuffer();
    if (m_cmd.send_enable == 1) {
        switch (m_cmd.write_bank_step) {
        case 1:
            Write_Once_BANK(64, buffer + 256, writeplan::kPieceBlocks, 1);
            break;
        case 2:
            Write_Once_BANK(96, buffer + 384, writeplan::kPieceBlocks, 0);
            break;
        default:
            break;
        }
    }
    stepHandshake(m_cmd.send_cnt);
}

void TagEngine::Auto_Write_Password_And_Bank()
{
    uint8_t* buffer = bankBuffer();
    if (m_cmd.send_enable == 1) {
        switch (m_cmd.write_bank_step) {
        case 1:
            // Nothing to send; re-armed within this tick (the handshake below), so that
            // the next tick writes bank 0. Re-arming before the handshake would be undone
            // by it and the sequence would never start.
            m_cmd.write_bank_step = 2;
            m_cmd.ack = 1;
            break;
        case 2:
            Write_Once_BANK(0, buffer, writeplan::kPieceBlocks, 1);
            break;
        case 3:
            Write_Once_BANK(32, buffer + 128, writeplan::kPieceBlocks, 1);
            break;
        case 4:
            Write_Once_BANK(64, buffer + 256, writeplan::kPieceBlocks, 1);
            break;
        case 5:
            Write_Once_BANK(96, buffer + 384, writeplan::kPieceBlocks, 0);
            break;
        default:
            break;
        }
    }
    stepHandshake(m_cmd.send_cnt);
}

void TagEngine::Write_ST25DV02K_Info(uint8_t banknum, uint8_t* bankdata)
{
    uint8_t* buffer = bankBuffer();
    if (m_cmd.send_enable == 1) {
        switch (m_cmd.write_bank_step) {
        case 1:
            Write_Once_BANK(0, buffer, writeplan::kPieceBlocks, 1);
            break;
        case 2:
            Write_Once_BANK(32, buffer + 128, writeplan::kPieceBlocks, 1);
            break;
        case 3: {
            // The PWM block is taken at its own tag address in the given image, and goes
            // out in the tag's byte order.
            const QByteArray block = ownBytes(bankdata, banknum + writeplan::kBlockBytes);
            if (!block.isEmpty())
                writeBlocks(uidBytes(), banknum, currents::pwmBlockTagOrder(block.mid(banknum)), 1);
            m_cmd.cmd_type = 0;
            break;
        }
        default:
            break;
        }
    }
    stepHandshake(m_cmd.send_cnt);
}

// Set_Current and Write_Once_BANK_Pswd1 are engine operations only: no action of the
// window starts them, since a tag once protected by them cannot be written by the
// Write action any more (it presents no password).
void TagEngine::Set_Current(uint8_t banknum, uint8_t* bankdata)
{
    if (m_cmd.send_enable == 1) {
        switch (m_cmd.write_bank_step) {
        case 1:
            Open_PresentPassword(writeplan::fixedPasswordHex(), writeplan::kPasswordArea1);
            m_cmd.write_bank_step = 2;
            break;
        case 2: {
            const int from = kCurrentBlockInBank * writeplan::kBlockBytes;
            const QByteArray bytes = ownBytes(bankdata, from + writeplan::kBlockBytes);
            if (!bytes.isEmpty()) {
                writeBlocks(uidBytes(), static_cast<uint8_t>(banknum + kCurrentBlockInBank),
                            bytes.mid(from), 1);
            }
            m_cmd.cmd_type = 0;
            qCDebug(lcEngine) << "停止发送";
            break;
        }
        default:
            break;
        }
    }
    stepHandshake(m_cmd.send_cnt);
}

void TagEngine::Write_Once_BANK_Pswd1()
{
    if (m_cmd.send_enable == 1) {
        switch (m_cmd.write_bank_step) {
        case 1:
            Configure_Tag_System();
            break;
        case 2: {
            // The bank's own bytes: taken from byte 0, the product area would be written
            // over whichever bank set_current_block names.
            const int from = m_cmd.set_current_block * writeplan::kBlockBytes;
            if (from + writeplan::kBankBytes <= TagImage::Size)
                Write_Once_BANK(m_cmd.set_current_block, bankBuffer() + from,
                                writeplan::kPieceBlocks, 0);
            else
                qCWarning(lcEngine) << "no bank at block" << m_cmd.set_current_block;
            break;
        }
        default:
            break;
        }
    }
    stepHandshake(m_cmd.send_cnt);
}

void TagEngine::Change_Current(uint8_t channel)
{
    m_doc->applyCurrents(channel);
}

void TagEngine::Change_ST25DV02K_PWM1()
{
    // Composes block 248 in the image and rebuilds the bank buffer.
    const uint16_t current = m_doc->channelCurrents()[0];
    const uint16_t period = m_doc->pwmPeriod();
    const uint16_t maximum = m_doc->composePwmBlock();
    qCDebug(lcEngine) << "PWM block" << kPwmBlock << "period" << period << "current" << current
                      << "of" << maximum << "mA";
}
