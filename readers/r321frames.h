#pragma once

#include <QByteArray>
#include <cstdint>

// R321 command frame, d = number of data bytes:
//   [0] 11 + d (bytes that follow)  [1..2] 7E 55  [3] LEN = 8 + d (bytes after it, CRC
//   included)  [4..7] 00 00 01 00  [8] command  [9] 00  [10..] data  [10 + d..] CRC-16/X-25
//   over LEN .. last data byte, low byte first. 12 + d bytes in all.
namespace r321
{

constexpr uint8_t CmdInit = 0xF4;
constexpr uint8_t CmdInventory = 0x11;
constexpr uint8_t CmdReadBlocks = 0x22;
constexpr uint8_t CmdWriteBlocks = 0x23;
constexpr uint8_t CmdRaw = 0xE9;
constexpr uint8_t CmdTransparent = 0x2F;
constexpr uint8_t CmdF5 = 0xF5;
constexpr uint8_t Cmd04 = 0x04;

/// Largest data part that still fits the one-byte length fields.
constexpr int MaxDataSize = 244;
/// Size of one HID piece.
constexpr int PieceSize = 64;

/// Builds a complete frame for `command` with `data`; empty when the data is too long.
QByteArray buildFrame(uint8_t command, const QByteArray& data);

/// Reader set-up sent once after connecting (F4 with 02 01 00 B7 01 01).
QByteArray Cmd_Init();
/// ISO15693 inventory (11 with 00).
QByteArray Cmd_Inventory();
/// Read `count` blocks from `block` of the tag `uid` (8 bytes as the reader reported them).
QByteArray Cmd_ReadBlocks(const QByteArray& uid, uint8_t block, uint8_t count);
/// Write `count` blocks from `block`; `data` holds 4 × count bytes (cut or zero-filled).
QByteArray Cmd_WriteBlocks(const QByteArray& uid, uint8_t block, const QByteArray& data,
                           uint8_t count);
/// Raw reader command E9 carrying the first `k` bytes of `data` (zero-filled).
QByteArray Cmd_Raw(const QByteArray& data, int k);
/// Transparent ISO15693 request: addressed custom command `isoCommand` to `uid` with
/// the first `k` parameter bytes of `data`, followed by the trailer 10 27 0C.
QByteArray Cmd_Transparent(const QByteArray& uid, uint8_t isoCommand, const QByteArray& data,
                           int k);
/// Command F5 with 00 (not used by the engine).
QByteArray Cmd_F5();
/// Command 04 without data (not used by the engine).
QByteArray Cmd_04();

/// `a` cut or zero-filled to exactly `size` bytes.
QByteArray fitted(const QByteArray& a, int size);

} // namespace r321
