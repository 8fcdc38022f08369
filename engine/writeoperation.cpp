#include "engine/writeoperation.h"

#include "engine/enginelog.h"
#include "engine/writeplan.h"
#include "model/currents.h"
#include "model/tagdocument.h"
#include "model/tagfields.h"

#include <algorithm>

using replies::Kind;

namespace
{

constexpr uint8_t kPwmBlock = 248;
constexpr int kDriveAreaOffset = 256;
// Set_Current writes the block that holds the channel-1 current: the third of its bank.
constexpr uint8_t kCurrentBlockInBank = 2;

QByteArray bytesOf(const TagImage::Bytes& bytes, int from, int size)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()) + from, size);
}

} // namespace

WriteOperation::WriteOperation(EngineHost& host, uint8_t type, int layout)
    : Operation(host, type), passwords(host, write_bank_step), m_layout(layout)
{
}

void WriteOperation::Select_Auto_Write(uint8_t index)
{
    const uint8_t channels = host().document().channelCount();
    switch (index) {
    case 0:
        send_cnt = 16;
        Change_Current(channels);
        host().document().applyColourTemperature();
        break;
    case 1:
        send_cnt = 8;
        cmd_type = SeqCode::WriteDrive;
        Change_Current(channels);
        host().document().applyColourTemperature();
        break;
    case 2:
        send_cnt = 8;
        cmd_type = SeqCode::WriteProduct;
        break;
    case 3:
        send_cnt = 1;
        set_current_block = 64;
        cmd_type = SeqCode::SetCurrent;
        Change_Current(channels);
        break;
    case 4:
        send_cnt = 9;
        cmd_type = SeqCode::WritePwmTag;
        Change_ST25DV02K_PWM1();
        break;
    default:
        break;
    }
    Update_Bank_Buff();
}

void WriteOperation::Update_Bank_Buff()
{
    host().document().prepareBankBuffer();
}

void WriteOperation::Change_Current(uint8_t channel)
{
    host().document().applyCurrents(channel);
}

void WriteOperation::Change_ST25DV02K_PWM1()
{
    // Composes block 248 in the image and rebuilds the bank buffer.
    TagDocument& doc = host().document();
    const uint16_t current = doc.channelCurrents()[0];
    const uint16_t period = doc.pwmPeriod();
    const uint16_t maximum = doc.composePwmBlock();
    qCDebug(lcEngine) << "PWM block" << kPwmBlock << "period" << period << "current" << current
                      << "of" << maximum << "mA";
}

QByteArray WriteOperation::bankBuffer(int from, int size) const
{
    return bytesOf(const_cast<WriteOperation*>(this)->host().document().image().bank_buffer, from,
                   size);
}

void WriteOperation::step()
{
    // A command cut into pieces goes out one piece per step before the sequence goes on.
    if (!m_pieces.empty()) {
        if (hs().send_enable == 1)
            sendNextWritePiece();
        hs().step(send_cnt);
        return;
    }
    switch (cmd_type) {
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
        Set_Current(set_current_block, bytesOf(host().document().image().image_v2, kDriveAreaOffset,
                                               TagImage::Size - kDriveAreaOffset));
        return;
    case SeqCode::WritePwmTag:
        Write_ST25DV02K_Info(kPwmBlock,
                             bytesOf(host().document().image().image_v2, 0, TagImage::Size));
        return;
    case SeqCode::WriteWithPasswords:
        Write_Once_BANK_Pswd1();
        return;
    case SeqCode::VerifyRead:
        Verify_Read_Back();
        return;
    case SeqCode::WriteChanged:
        Write_Changed_Blocks();
        return;
    default:
        return;
    }
}

void WriteOperation::Write_BlOCK_NUM(const QByteArray& uid, uint8_t block_addr,
                                     const QByteArray& data, uint8_t datalenth)
{
    const int size = writeplan::kBlockBytes * datalenth;
    if (uid.size() != 8 || datalenth == 0 || data.size() < size) {
        qCWarning(lcEngine) << "write of" << datalenth << "blocks with" << data.size()
                            << "bytes refused";
        return;
    }
    writeBlocks(uid, block_addr, data.left(size), datalenth);
}

uint8_t WriteOperation::counterLayout() const
{
    return m_layout >= 0 ? static_cast<uint8_t>(m_layout)
                         : const_cast<WriteOperation*>(this)
                               ->host()
                               .document()
                               .image()
                               .image_v2[tagoffset::LayoutCode];
}

void WriteOperation::writeBlocks(const QByteArray& id, uint8_t block, const QByteArray& data,
                                 uint8_t count)
{
    m_written.note(block, data);
    m_last_write = WritePiece{id, block, data, count};
    m_pieces.clear();
    m_pieces_are_retry = false;
    if (host().fourBlockLink() && count > verifyplan::kMaxPieceBlocks) {
        queuePieces(m_last_write);
        sendNextWritePiece();
        return;
    }
    m_in_flight_blocks = count;
    host().sendWrite(id, block, data, count);
}

void WriteOperation::Write_Once_BANK(uint8_t banknum, const QByteArray& bankdata, uint8_t offset,
                                     uint8_t mode)
{
    // The driver's operating-time counters are its own: a bank that holds them is written
    // around them, in as many commands as a whole bank.
    const std::vector<writeplan::Piece> pieces =
        writeplan::bankPieces(banknum, offset, writeplan::counterBlocks(counterLayout()));
    const int step = write_part_step;
    if (step < 1 || step > static_cast<int>(pieces.size()))
        return;
    const writeplan::Piece& piece = pieces[step - 1];
    if (bankdata.size() >= writeplan::bytesUsed(pieces))
        Write_BlOCK_NUM(host().tagUid(), piece.firstBlock,
                        bankdata.mid(piece.byteOffset, writeplan::kBlockBytes * piece.count),
                        piece.count);
    if (step < static_cast<int>(pieces.size())) {
        ++write_part_step;
    } else if (mode != 0) {
        ++write_bank_step;
        write_part_step = 1;
    } else {
        cmd_type = 0;
    }
}

void WriteOperation::Write_Product_Info()
{
    if (hs().send_enable == 1) {
        switch (write_bank_step) {
        case 1:
            // Nothing to send: the step only lets the next tick begin with bank 0.
            write_bank_step = 2;
            hs().ack = 1;
            break;
        case 2:
            Write_Once_BANK(0, bankBuffer(0, writeplan::kBankBytes), writeplan::kPieceBlocks, 1);
            break;
        case 3:
            Write_Once_BANK(32, bankBuffer(128, writeplan::kBankBytes), writeplan::kPieceBlocks, 0);
            break;
        default:
            break;
        }
    }
    hs().step(send_cnt);
}

void WriteOperation::Write_Drive_Info()
{
    if (hs().send_enable == 1) {
        switch (write_bank_step) {
        case 1:
            Write_Once_BANK(64, bankBuffer(256, writeplan::kBankBytes), writeplan::kPieceBlocks, 1);
            break;
        case 2:
            Write_Once_BANK(96, bankBuffer(384, writeplan::kBankBytes), writeplan::kPieceBlocks, 0);
            break;
        default:
            break;
        }
    }
    hs().step(send_cnt);
}

void WriteOperation::Auto_Write_Password_And_Bank()
{
    if (hs().send_enable == 1) {
        switch (write_bank_step) {
        case 1:
            // Nothing to send; re-armed within this tick (the handshake below), so that
            // the next tick writes bank 0.
            write_bank_step = 2;
            hs().ack = 1;
            break;
        case 2:
        case 3:
        case 4:
        case 5: {
            const int bank = write_bank_step - 2;
            Write_Once_BANK(static_cast<uint8_t>(32 * bank),
                            bankBuffer(writeplan::kBankBytes * bank, writeplan::kBankBytes),
                            writeplan::kPieceBlocks, write_bank_step < 5 ? 1 : 0);
            break;
        }
        default:
            break;
        }
    }
    hs().step(send_cnt);
}

void WriteOperation::Write_ST25DV02K_Info(uint8_t banknum, const QByteArray& bankdata)
{
    if (hs().send_enable == 1) {
        switch (write_bank_step) {
        case 1:
            Write_Once_BANK(0, bankBuffer(0, writeplan::kBankBytes), writeplan::kPieceBlocks, 1);
            break;
        case 2:
            Write_Once_BANK(32, bankBuffer(128, writeplan::kBankBytes), writeplan::kPieceBlocks, 1);
            break;
        case 3:
            // The PWM block is taken at its own tag address in the given image, and goes
            // out in the tag's byte order.
            if (bankdata.size() >= banknum + writeplan::kBlockBytes)
                Write_BlOCK_NUM(
                    host().tagUid(), banknum,
                    currents::pwmBlockTagOrder(bankdata.mid(banknum, writeplan::kBlockBytes)), 1);
            cmd_type = 0;
            break;
        default:
            break;
        }
    }
    hs().step(send_cnt);
}

// Set_Current and Write_Once_BANK_Pswd1 are engine operations only: no action of the
// window starts them, since a tag once protected by them cannot be written by the
// Write action any more (it presents no password).
void WriteOperation::Set_Current(uint8_t banknum, const QByteArray& bankdata)
{
    if (hs().send_enable == 1) {
        switch (write_bank_step) {
        case 1:
            passwords.Open_PresentPassword(writeplan::fixedPasswordHex(),
                                           writeplan::kPasswordArea1);
            write_bank_step = 2;
            break;
        case 2: {
            const int from = kCurrentBlockInBank * writeplan::kBlockBytes;
            if (bankdata.size() >= from + writeplan::kBlockBytes)
                Write_BlOCK_NUM(host().tagUid(),
                                static_cast<uint8_t>(banknum + kCurrentBlockInBank),
                                bankdata.mid(from, writeplan::kBlockBytes), 1);
            cmd_type = 0;
            qCDebug(lcEngine) << "停止发送";
            break;
        }
        default:
            break;
        }
    }
    hs().step(send_cnt);
}

void WriteOperation::Write_Once_BANK_Pswd1()
{
    if (hs().send_enable == 1) {
        switch (write_bank_step) {
        case 1:
            passwords.Configure_Tag_System();
            break;
        case 2: {
            // The bank's own bytes: taken from byte 0, the product area would be written
            // over whichever bank set_current_block names.
            const int from = set_current_block * writeplan::kBlockBytes;
            if (from + writeplan::kBankBytes <= TagImage::Size)
                Write_Once_BANK(set_current_block, bankBuffer(from, writeplan::kBankBytes),
                                writeplan::kPieceBlocks, 0);
            else
                qCWarning(lcEngine) << "no bank at block" << set_current_block;
            break;
        }
        default:
            break;
        }
    }
    hs().step(send_cnt);
}

void WriteOperation::reply(const replies::Reply& reply)
{
    switch (reply.kind) {
    case Kind::WriteBlocks:
        if (reply.ok) {
            qCDebug(lcEngine) << "写入成功";
            noteAcknowledged();
            if (!m_pieces.empty()) {
                hs().ack = 1; // the next piece goes out on the tick
                return;
            }
            if (m_pieces_are_retry && !host().fourBlockLink())
                host().learnFourBlockLink();
            m_pieces_are_retry = false;
            Display_Recevie(reply);
        } else if (!retryWriteInPieces()) {
            host().reportFailure(reply);
        }
        break;
    case Kind::NoTag:
        // A refused write reads as a reply without a tag: a long one is tried in pieces.
        if (m_verifying || !retryWriteInPieces())
            host().reportFailure(reply);
        break;
    case Kind::ReadBlocks:
        if (reply.ok) {
            qCDebug(lcEngine) << "读取成功";
            if (m_reading_held)
                takeHeldBlocks(reply.blocks);
            else
                takeReadBack(reply.blocks);
        } else {
            host().reportFailure(reply);
        }
        break;
    case Kind::Transparent:
        passwords.reply(reply);
        break;
    default:
        break;
    }
}

bool WriteOperation::overdue(replies::Kind awaited)
{
    return awaited == Kind::WriteBlocks && retryWriteInPieces();
}

void WriteOperation::Display_Recevie(const replies::Reply& reply)
{
    if (!reply.raw.isEmpty())
        ++reply_cnt;
    hs().ack = 1;
    if (cmd_type != 0)
        return;
    if (reply_cnt < send_cnt) {
        host().Failed_State(QStringLiteral("<写入失败：回复数不足>"));
        host().endWith(ResultTip::WriteFailed, record::Result::WriteFailed);
    } else if (!startVerification()) {
        host().Succeed_End_State(QStringLiteral("<写入成功>"));
        host().endWith(ResultTip::WriteSucceed, record::Result::Written);
    }
}

// ------------------------------------------------------------------ four-block pieces

void WriteOperation::queuePieces(const WritePiece& write)
{
    m_pieces.clear();
    for (const verifyplan::ReadPiece& p : verifyplan::fourBlockPieces(write.block, write.count)) {
        const int from = static_cast<uint8_t>(p.first - write.block) * writeplan::kBlockBytes;
        m_pieces.push_back(WritePiece{
            write.id, p.first, write.data.mid(from, p.count * writeplan::kBlockBytes), p.count});
    }
}

bool WriteOperation::retryWriteInPieces()
{
    // Once per command: a failed piece, or a short command, is the write's failure.
    const bool whole = !m_last_write.id.isEmpty() && m_pieces.empty() && !m_pieces_are_retry;
    if (!whole || host().fourBlockLink() || m_last_write.count <= verifyplan::kMaxPieceBlocks) {
        m_pieces.clear();
        return false;
    }
    qCInfo(lcEngine) << "write of" << m_last_write.count << "blocks from block"
                     << m_last_write.block << "refused: sent again in pieces of at most"
                     << verifyplan::kMaxPieceBlocks << "blocks";
    queuePieces(m_last_write);
    m_pieces_are_retry = true;
    hs().ack = 1; // the first piece goes out on the tick
    return true;
}

void WriteOperation::sendNextWritePiece()
{
    if (m_pieces.empty())
        return;
    const WritePiece piece = m_pieces.front();
    m_pieces.erase(m_pieces.begin());
    m_in_flight_blocks = piece.count;
    host().sendWrite(piece.id, piece.block, piece.data, piece.count);
}

void WriteOperation::noteAcknowledged()
{
    m_blocks_written += m_in_flight_blocks;
    m_in_flight_blocks = 0;
    host().outcome().blocksWritten = m_blocks_written;
}

// ------------------------------------------------------------------ changed blocks only

verifyplan::WrittenBlocks WriteOperation::plannedBlocks() const
{
    // The banks the step slot of the prepared sequence writes, cut as it cuts them.
    std::vector<int> banks;
    switch (cmd_type) {
    case SeqCode::WriteDrive:
        banks = {2, 3};
        break;
    case SeqCode::WriteProduct:
        banks = {0, 1};
        break;
    case SeqCode::WriteAll:
        banks = {0, 1, 2, 3};
        break;
    default:
        break;
    }
    verifyplan::WrittenBlocks planned;
    const writeplan::BlockRun counters = writeplan::counterBlocks(counterLayout());
    for (int bank : banks) {
        const auto first = static_cast<uint8_t>(writeplan::kBankBlocks * bank);
        const QByteArray data = bankBuffer(writeplan::kBankBytes * bank, writeplan::kBankBytes);
        for (const writeplan::Piece& p :
             writeplan::bankPieces(first, writeplan::kPieceBlocks, counters))
            planned.note(p.firstBlock,
                         data.mid(p.byteOffset, writeplan::kBlockBytes * p.count));
    }
    return planned;
}

bool WriteOperation::writeChangedOnly()
{
    const verifyplan::WrittenBlocks planned = plannedBlocks();
    if (planned.empty() || host().tagUid().size() != 8)
        return false;
    m_written = planned;
    m_held_reads = verifyplan::readPieces(planned);
    m_held_data.clear();
    m_reading_held = true;
    m_pieces.clear();
    cmd_type = SeqCode::WriteChanged;
    block_step = 1;
    reply_cnt = 0;
    readcnt = static_cast<uint8_t>(m_held_reads.size());
    send_cnt = 0;
    return true;
}

void WriteOperation::Write_Changed_Blocks()
{
    if (hs().send_enable == 1) {
        const int index = block_step - 1;
        if (m_reading_held && index < static_cast<int>(m_held_reads.size())) {
            host().sendRead(m_held_reads[index].first, m_held_reads[index].count);
            ++block_step;
        } else if (!m_reading_held && m_pieces.empty()) {
            // Every changed block has been acknowledged (or none needed writing).
            finishChangedWrite();
            return;
        }
    }
    hs().step(send_cnt);
}

void WriteOperation::takeHeldBlocks(const QByteArray& blocks)
{
    ++reply_cnt;
    hs().ack = 1;
    m_held_data.append(blocks);
    if (reply_cnt < m_held_reads.size())
        return;
    m_reading_held = false;
    const QByteArray id = host().tagUid();
    for (const verifyplan::ReadPiece& p :
         verifyplan::changedPieces(m_written, m_held_reads, m_held_data)) {
        QByteArray data;
        for (int i = 0; i < p.count; ++i)
            data.append(m_written.blocks().at(static_cast<uint8_t>(p.first + i)));
        m_pieces.push_back(WritePiece{id, p.first, data, p.count});
    }
    send_cnt = static_cast<uint8_t>(m_pieces.size());
    reply_cnt = 0;
    qCDebug(lcEngine) << "the tag lacks" << m_pieces.size() << "pieces of the"
                      << m_written.blocks().size() << "blocks to write";
}

void WriteOperation::finishChangedWrite()
{
    cmd_type = 0;
    host().outcome().blocksWritten = m_blocks_written;
    if (!startVerification()) {
        host().Succeed_End_State(QStringLiteral("<写入成功>"));
        host().endWith(ResultTip::WriteSucceed, record::Result::Written);
    }
}

// ------------------------------------------------------------------ read-back

bool WriteOperation::startVerification()
{
    if (!host().verifyAfterWrite()) {
        host().outcome().verification = record::Verification::Off;
        return false;
    }
    if (m_written.empty())
        return false;
    m_verify_reads = verifyplan::readPieces(m_written);
    m_last_write = WritePiece{}; // nothing of the write is sent again
    host().restartSequence();
    cmd_type = SeqCode::VerifyRead;
    readcnt = static_cast<uint8_t>(m_verify_reads.size());
    reply_cnt = 0;
    block_step = 1;
    read_data.clear();
    m_verifying = true;
    qCDebug(lcEngine) << "<写入校验> read-back of" << m_written.blocks().size() << "blocks in"
                      << m_verify_reads.size() << "reads";
    return true;
}

void WriteOperation::Verify_Read_Back()
{
    if (hs().send_enable == 1) {
        const int index = block_step - 1;
        const int count = static_cast<int>(m_verify_reads.size());
        if (index >= 0 && index < count) {
            const verifyplan::ReadPiece& piece = m_verify_reads[index];
            host().sendRead(piece.first, piece.count);
        }
        if (index + 1 >= count)
            cmd_type = 0;
        else
            ++block_step;
    }
    hs().step(readcnt);
}

void WriteOperation::takeReadBack(const QByteArray& blocks)
{
    ++reply_cnt;
    hs().ack = 1;
    read_data.append(blocks);
    if (cmd_type == 0 && m_verifying)
        finishVerification();
}

void WriteOperation::finishVerification()
{
    m_verifying = false;
    const verifyplan::Comparison c = verifyplan::compare(m_written, m_verify_reads, read_data);
    record::Outcome& outcome = host().outcome();
    if (c.complete)
        outcome.writtenCrc = c.crc;
    if (c.equal && reply_cnt == readcnt) {
        outcome.verification = record::Verification::Proven;
        host().Succeed_End_State(QStringLiteral("<写入校验成功>"));
        host().endWith(ResultTip::WriteSucceed, record::Result::Written);
        return;
    }
    const int block = c.firstDifferent >= 0 ? c.firstDifferent : m_written.blocks().begin()->first;
    outcome.verifyBlock = block;
    host().verifyFailedAt(block);
    qCWarning(lcEngine) << "<写入校验失败> block" << block << "is not as written";
    host().Failed_State(QStringLiteral("<写入校验失败>"));
    host().endWith(ResultTip::VerifyFailed, record::Result::VerifyFailed);
}

int WriteOperation::unprovenBlock()
{
    // The first written block of the read that got no good reply.
    const int count = static_cast<int>(m_verify_reads.size());
    const int index = std::clamp<int>(reply_cnt, 0, std::max(0, count - 1));
    const uint8_t from = count > 0 ? m_verify_reads[index].first : 0;
    const auto& blocks = m_written.blocks();
    const auto it = blocks.lower_bound(from);
    const int block = it != blocks.end() ? it->first : from;
    host().outcome().verifyBlock = block;
    host().verifyFailedAt(block);
    return block;
}

record::Result WriteOperation::recordResult(record::Result result, bool readerGone)
{
    const bool sequenceFailure = result == record::Result::WriteFailed ||
                                 result == record::Result::NoTagResponse ||
                                 result == record::Result::ReaderLost;
    if (!m_verifying || !sequenceFailure)
        return result;
    if (readerGone) {
        // The read-back is over: a reader that went away proves nothing wrong.
        m_verifying = false;
        return result;
    }
    // The read-back stopped: the written blocks are not proven.
    unprovenBlock();
    return record::Result::VerifyFailed;
}

bool WriteOperation::failed()
{
    if (!m_verifying)
        return false;
    // A read-back that failed: the write is reported as not proven, naming the block, and
    // the failure tip of the read that failed is not shown.
    const int block = unprovenBlock();
    m_verifying = false;
    qCWarning(lcEngine) << "<写入校验失败> no good reply to the read-back of block" << block;
    host().endWith(ResultTip::VerifyFailed, record::Result::VerifyFailed);
    return true;
}
