#pragma once
// The layout of a reply fuzz input, shared by the harness and the corpus generator.
//
//   byte 0   bits 0-3 engine state (modulo State::Count), bit 4 Chinese texts,
//            bits 5-7 all set: no reader chosen
//   byte 1   bits 0-1 chip of the tag (0 'P', 1 '8', 2-3 another), bits 2-7 a variant
//            of the state
//   then     frames: a header byte (bits 0-6 length, bit 7: the beeper runs out and one
//            clock pass follows) and that many reply bytes

#include <cstdint>

namespace fuzzharness
{

enum class State : uint8_t {
    Idle,
    ReadInventoryOut, // Read started, inventory sent
    ReadMid,          // a block read of the Read sequence in flight
    ReadLastOut,      // the last block read in flight
    ModelReadOut,     // auto write's model-name read in flight
    WriteMid,         // a bank write in flight
    WriteLastOut,     // the last write in flight
    AutoScanPolling,  // auto write on, inventory sent
    AutoScanBatch,    // auto write inside a batch of three tags
    Password,         // the present-password step of Set_Current in flight
    Beeping,          // a beep pattern running
    ReadDriveInfo,    // sequence 0xF9 in flight
    Count
};

constexpr uint8_t kChipP = 0;
constexpr uint8_t kChipPwm = 1;
constexpr uint8_t kChipOther = 2;
constexpr uint8_t kPauseFlag = 0x80;

/// Byte 1 of an input: the chip and the state's own variant bits.
constexpr uint8_t variantByte(uint8_t chip, uint8_t rest)
{
    return static_cast<uint8_t>((chip & 0x03) | (rest << 2));
}

} // namespace fuzzharness
