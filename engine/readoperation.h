#pragma once

#include "engine/operation.h"

/// The read sequences: the Read action (0xFE: inventory, then the tag's banks), the drive
/// bank (0xF9), and the model-name read of auto write (0xF7). The data of every read reply
/// is collected; after the last one the read is judged.
class ReadOperation : public Operation
{
  public:
    /// Sequence `type` planning `readcnt` read replies; `manual` for the Read action, whose
    /// driver becomes the template of later writes.
    ReadOperation(EngineHost& host, uint8_t type, uint8_t readcnt, bool manual = false);

    // The described counters of a read sequence.
    uint8_t readcnt;
    uint8_t reply_cnt = 0;
    uint8_t read_bank_step = 1;
    uint8_t block_step = 1;
    QByteArray read_data;
    uint8_t manual_read;
    // The model-name read: blocks special_addr to special_addr + special_num - 1, the
    // name model_len bytes from model_offset.
    uint8_t special_addr = 48;
    uint8_t special_num = 9;
    uint8_t model_offset = 3;
    uint8_t model_len = 32;

    // The step slots.
    void Read_Tag_UID();
    void Read_BlOCK_NUM(uint8_t block, uint8_t num);
    void Continue_Read_OneBank(uint8_t bank_addr, uint8_t mode);
    void Auto_Continue_Read();
    void Auto_Continue_Read_DriverInfo();
    void Special_Read_Data(uint8_t addr, uint8_t num);
    void Continue_Read();

    // The replies.
    void Get_Recevie_UID(const replies::Reply& reply);
    void Get_BLOCK_Data(const replies::Reply& reply);

    void step() override;
    void reply(const replies::Reply& reply) override;
    bool reads() const override { return true; }
    uint8_t replyCount() const override { return reply_cnt; }
    uint8_t plannedCount() const override { return readcnt; }

  private:
    void takeReadData(const QByteArray& blocks);
    void endReadAsFailed(const QString& reason);
};
