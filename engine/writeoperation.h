#pragma once

#include "engine/operation.h"
#include "engine/passwordoperation.h"
#include "engine/verifyplan.h"

#include <vector>

/// The write sequences (0xFD drive area, 0xFC all banks, 0xFB product area, 0xF8 the PWM
/// tag, 0xFA one current block behind a password, and the configure-then-write sequence),
/// each a described step slot over the bank buffer. Replies are counted and judged after
/// the last command; then the blocks sent are read back and compared (0xF6).
///
/// A write of more than four blocks that the tag refuses (or that gets no answer) is sent
/// again once in pieces of at most four, each on its own tick; when that works, every later
/// long write of the connection is cut so from the start. Only the last piece's reply
/// counts as the command's reply.
class WriteOperation : public Operation
{
  public:
    /// `layout`: the layout code the driver's counters are kept by (-1: the image's).
    WriteOperation(EngineHost& host, uint8_t type, int layout = -1);

    // The described counters of a write sequence.
    uint8_t send_cnt = 16; ///< set by Select_Auto_Write
    uint8_t reply_cnt = 0;
    uint8_t write_bank_step = 1;
    uint8_t write_part_step = 1;
    uint8_t set_current_block = 0;
    PasswordOperation passwords;
    // The read-back.
    uint8_t readcnt = 0;
    uint8_t block_step = 1;
    QByteArray read_data;

    /// Prepares the sequence: its count, its code, and the document's bank buffer.
    void Select_Auto_Write(uint8_t index);
    void Change_Current(uint8_t channel);
    void Change_ST25DV02K_PWM1();
    /// The document's bank buffer, from which the banks are written.
    void Update_Bank_Buff();
    /// Turns the prepared drive-area, product-area or all-banks write into one that sends
    /// only what the tag lacks: the blocks it would write are read first, those the tag
    /// holds already are left alone, the others go out as runs of consecutive blocks in
    /// pieces of at most four, and then every block it would have written is read back and
    /// compared. False (the whole write stays) for the other sequences. After
    /// Select_Auto_Write.
    bool writeChangedOnly();

    // The step slots; `bankdata` holds the bytes from the bank's first block on.
    void Write_BlOCK_NUM(const QByteArray& uid, uint8_t block_addr, const QByteArray& data,
                         uint8_t datalenth);
    void Write_Once_BANK(uint8_t banknum, const QByteArray& bankdata, uint8_t offset, uint8_t mode);
    void Write_Product_Info();
    void Write_Drive_Info();
    void Auto_Write_Password_And_Bank();
    void Write_ST25DV02K_Info(uint8_t banknum, const QByteArray& bankdata);
    void Set_Current(uint8_t banknum, const QByteArray& bankdata);
    void Write_Once_BANK_Pswd1();
    void Verify_Read_Back();
    void Write_Changed_Blocks();

    /// A write reply: counted, and after the last command judged.
    void Display_Recevie(const replies::Reply& reply);

    /// True while the written blocks are being read back.
    bool verifying() const { return m_verifying; }
    /// The blocks this write has sent (with writeChangedOnly, the blocks it would have sent).
    const verifyplan::WrittenBlocks& written() const { return m_written; }
    /// Blocks of write commands the tag has acknowledged so far.
    int blocksWritten() const { return m_blocks_written; }

    bool running() const override { return cmd_type != 0 || !m_pieces.empty(); }
    void step() override;
    void reply(const replies::Reply& reply) override;
    bool overdue(replies::Kind awaited) override;
    bool failed() override;
    record::Result recordResult(record::Result result, bool readerGone) override;
    bool reads() const override { return false; }
    uint8_t replyCount() const override { return reply_cnt; }
    uint8_t plannedCount() const override { return m_verifying ? readcnt : send_cnt; }

  private:
    struct WritePiece {
        QByteArray id;
        uint8_t block = 0;
        QByteArray data;
        uint8_t count = 0;
    };
    QByteArray bankBuffer(int from, int size) const;
    uint8_t counterLayout() const;
    verifyplan::WrittenBlocks plannedBlocks() const;
    void takeHeldBlocks(const QByteArray& blocks);
    void finishChangedWrite();
    void noteAcknowledged();
    void writeBlocks(const QByteArray& id, uint8_t block, const QByteArray& data, uint8_t count);
    void queuePieces(const WritePiece& write);
    bool retryWriteInPieces();
    void sendNextWritePiece();
    bool startVerification();
    void takeReadBack(const QByteArray& blocks);
    void finishVerification();
    int unprovenBlock();

    int m_layout;
    bool m_verifying = false;
    verifyplan::WrittenBlocks m_written;
    std::vector<verifyplan::ReadPiece> m_verify_reads;
    WritePiece m_last_write;          // the whole write command sent last
    std::vector<WritePiece> m_pieces; // pieces still to send, in order
    bool m_pieces_are_retry = false;
    uint8_t m_in_flight_blocks = 0; // blocks of the write command in flight
    int m_blocks_written = 0;
    // writeChangedOnly: the reads of what the tag holds, and their data.
    std::vector<verifyplan::ReadPiece> m_held_reads;
    QByteArray m_held_data;
    bool m_reading_held = false;
};
