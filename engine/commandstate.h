#pragma once

#include <QByteArray>
#include <cstdint>

/// Engine state of the running command sequence; one instance lives in the window.
struct CommandState {
    uint8_t cmd_type = 0;
    uint8_t readcnt = 0;
    uint8_t send_cnt = 16;
    uint8_t send_enable = 0;
    uint8_t ack = 0;
    uint8_t read_bank_step = 0;
    uint8_t block_step = 0;
    uint8_t config_step_saved = 0;
    uint8_t write_bank_step = 0;
    uint8_t write_part_step = 0;
    uint8_t set_current_block = 0;
    uint8_t first_transparent_check = 0;
    uint8_t reply_cnt = 0;
    QByteArray read_data;
};

/// Sequence codes held in CommandState::cmd_type.
namespace SeqCode
{
constexpr uint8_t Read = 0xFE;
constexpr uint8_t WriteDrive = 0xFD;
constexpr uint8_t WriteAll = 0xFC;
constexpr uint8_t WriteProduct = 0xFB;
constexpr uint8_t SetCurrent = 0xFA;
constexpr uint8_t ReadDrive = 0xF9;
constexpr uint8_t WritePwmTag = 0xF8;
constexpr uint8_t ReadModel = 0xF7;
constexpr uint8_t VerifyRead = 0xF6; ///< the read-back after a write sequence
} // namespace SeqCode
