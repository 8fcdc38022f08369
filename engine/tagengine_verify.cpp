// Read-back verification of the write sequences, and the four-block pieces of a long write
// that the tag refuses whole. The hooks in the sequence code stay one line each; the
// planning and comparing is pure logic in verifyplan.
#include "engine/tagengine.h"

#include "engine/enginelog.h"

#include <algorithm>

void TagEngine::noteSequenceStart(uint8_t type)
{
    if (type == SeqCode::VerifyRead)
        return;
    // Any other sequence starts afresh: nothing of the last write is read back any more.
    m_verifying = false;
    m_verify_tip_shown = false;
    m_written.clear();
    m_verify_reads.clear();
    m_pieces.clear();
    m_pieces_are_retry = false;
    m_last_write = WritePiece{};
}

bool TagEngine::startVerification()
{
    if (!m_verify_on) {
        m_op.verification = record::Verification::Off;
        return false;
    }
    if (m_written.empty())
        return false;
    m_verify_reads = verifyplan::readPieces(m_written);
    m_last_write = WritePiece{}; // nothing of the write is sent again
    Control_RW(SeqCode::VerifyRead, static_cast<uint8_t>(m_verify_reads.size()));
    m_verifying = true;
    qCDebug(lcEngine) << "<写入校验> read-back of" << m_written.blocks().size() << "blocks in"
                      << m_verify_reads.size() << "reads";
    return true;
}

void TagEngine::Verify_Read_Back()
{
    if (m_cmd.send_enable == 1) {
        const int index = m_cmd.block_step - 1;
        const int count = static_cast<int>(m_verify_reads.size());
        if (index >= 0 && index < count) {
            const verifyplan::ReadPiece& piece = m_verify_reads[index];
            Read_BlOCK_NUM(piece.first, piece.count);
        }
        if (index + 1 >= count)
            m_cmd.cmd_type = 0;
        else
            ++m_cmd.block_step;
    }
    stepHandshake(m_cmd.readcnt);
}

void TagEngine::finishVerification()
{
    m_verifying = false;
    const verifyplan::Comparison c =
        verifyplan::compare(m_written, m_verify_reads, m_cmd.read_data);
    if (c.complete)
        m_op.writtenCrc = c.crc;
    if (c.equal && m_cmd.reply_cnt == m_cmd.readcnt) {
        m_op.verification = record::Verification::Proven;
        Succeed_End_State(QStringLiteral("<写入校验成功>"));
        endWith(ResultTip::WriteSucceed, record::Result::Written);
        return;
    }
    m_verify_failed_block =
        c.firstDifferent >= 0 ? c.firstDifferent : m_written.blocks().begin()->first;
    m_op.verifyBlock = m_verify_failed_block;
    qCWarning(lcEngine) << "<写入校验失败> block" << m_verify_failed_block << "is not as written";
    Failed_State(QStringLiteral("<写入校验失败>"));
    endWith(ResultTip::VerifyFailed, record::Result::VerifyFailed);
}

record::Result TagEngine::verifiedResult(record::Result result)
{
    if (!m_verify_on)
        m_op.verification = record::Verification::Off;
    const bool sequenceFailure = result == record::Result::WriteFailed ||
                                 result == record::Result::NoTagResponse ||
                                 result == record::Result::ReaderLost;
    if (!m_verifying || !sequenceFailure)
        return result;
    // The read-back stopped: the written blocks are not proven. The block named is the
    // first written one of the read that got no good reply.
    const int count = static_cast<int>(m_verify_reads.size());
    const int index = std::clamp<int>(m_cmd.reply_cnt, 0, std::max(0, count - 1));
    const uint8_t from = count > 0 ? m_verify_reads[index].first : 0;
    const auto& blocks = m_written.blocks();
    const auto it = blocks.lower_bound(from);
    m_verify_failed_block = it != blocks.end() ? it->first : from;
    m_op.verifyBlock = m_verify_failed_block;
    return record::Result::VerifyFailed;
}

void TagEngine::verificationInterrupted()
{
    if (!m_verifying)
        return;
    finishOperation(verifiedResult(record::Result::WriteFailed));
    m_verifying = false;
    qCWarning(lcEngine) << "<写入校验失败> no good reply to the read-back of block"
                        << m_verify_failed_block;
    endWith(ResultTip::VerifyFailed, record::Result::VerifyFailed);
    // The failure tip of the read that failed would hide which block was not proven.
    m_verify_tip_shown = true;
}

bool TagEngine::verifyTipSwallowed(ResultTip tip)
{
    if (!m_verify_tip_shown)
        return false;
    if (tip != ResultTip::ReadFailed && tip != ResultTip::WriteFailed &&
        tip != ResultTip::NoIso15693 && tip != ResultTip::NoLabel)
        return false;
    m_verify_tip_shown = false;
    return true;
}

// ------------------------------------------------------------------ four-block pieces

bool TagEngine::writeInPieces(const QByteArray& id, uint8_t block, const QByteArray& data,
                              uint8_t count)
{
    m_last_write = WritePiece{id, block, data, count};
    m_pieces.clear();
    m_pieces_are_retry = false;
    if (!m_four_block_link || count <= verifyplan::kMaxPieceBlocks)
        return false;
    queuePieces(m_last_write);
    return sendNextWritePiece();
}

void TagEngine::queuePieces(const WritePiece& write)
{
    m_pieces.clear();
    for (const verifyplan::ReadPiece& p : verifyplan::fourBlockPieces(write.block, write.count)) {
        const int from = static_cast<uint8_t>(p.first - write.block) * 4;
        m_pieces.push_back(
            WritePiece{write.id, p.first, write.data.mid(from, p.count * 4), p.count});
    }
}

bool TagEngine::retryWriteInPieces()
{
    // Once per command: a failed piece, or a short command, is the write's failure.
    const bool whole = !m_last_write.id.isEmpty() && m_pieces.empty() && !m_pieces_are_retry;
    if (!whole || m_four_block_link || m_last_write.count <= verifyplan::kMaxPieceBlocks) {
        m_pieces.clear();
        return false;
    }
    qCInfo(lcEngine) << "write of" << m_last_write.count << "blocks from block"
                     << m_last_write.block << "refused: sent again in pieces of at most"
                     << verifyplan::kMaxPieceBlocks << "blocks";
    queuePieces(m_last_write);
    m_pieces_are_retry = true;
    return sendNextWritePiece();
}

bool TagEngine::sendNextWritePiece()
{
    if (m_pieces.empty()) {
        if (m_pieces_are_retry && !m_four_block_link) {
            m_four_block_link = true;
            qCInfo(lcEngine) << "the tag takes at most" << verifyplan::kMaxPieceBlocks
                             << "blocks per write: every write of this connection is sent in "
                                "pieces of four from now on";
        }
        m_pieces_are_retry = false;
        return false;
    }
    const WritePiece piece = m_pieces.front();
    m_pieces.erase(m_pieces.begin());
    sendWriteCommand(piece.id, piece.block, piece.data, piece.count);
    return true;
}

void TagEngine::forgetFourBlockLink()
{
    m_four_block_link = false;
    m_pieces.clear();
    m_pieces_are_retry = false;
}
