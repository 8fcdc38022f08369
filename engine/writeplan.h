#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

// What the write and password operations send: how a bank is cut into write commands,
// and the tag passwords.
namespace writeplan
{

constexpr uint8_t kBankBlocks = 32;
constexpr int kBankBytes = 128;
constexpr int kBlockBytes = 4;
constexpr uint8_t kPieceBlocks = 10;    // blocks per piece in every bank write
constexpr uint8_t kLastPieceBlocks = 2; // the fourth piece of a bank
constexpr uint8_t kPiecesPerBank = 4;

/// One write command of a bank write: first block, byte offset into the bank data, blocks.
struct Piece {
    uint8_t firstBlock = 0;
    int byteOffset = 0;
    uint8_t count = 0;
    bool operator==(const Piece& o) const
    {
        return firstBlock == o.firstBlock && byteOffset == o.byteOffset && count == o.count;
    }
};

/// Piece `partStep` (1..4) of the bank at `bankFirstBlock` cut into `offset` blocks per piece
/// (the fourth piece always 2 blocks); nothing for any other step. Block numbers wrap at 8 bits.
std::optional<Piece> bankPiece(uint8_t bankFirstBlock, uint8_t offset, uint8_t partStep);

/// Bytes of bank data that the four pieces of a bank write read: 12 x offset + 8.
int bankBytesUsed(uint8_t offset);

/// A run of consecutive blocks.
struct BlockRun {
    uint8_t first = 0;
    uint8_t count = 0;
};

/// The blocks of the driver's own operating-time counters for a layout code: 83-84 in
/// layout 2, 112-113 in any other. The driver counts them itself; no write may send them.
BlockRun counterBlocks(uint8_t layoutCode);

/// The pieces of a bank write at `bankFirstBlock`, `offset` blocks per piece, that leave
/// out the blocks of `skip`. A bank that `skip` misses gets the four pieces of bankPiece;
/// otherwise the blocks on either side are cut into pieces of at most `offset` blocks, and
/// a piece is halved while there are fewer than four, so the number of commands (and of
/// replies) stays that of a whole bank wherever the blocks allow it.
std::vector<Piece> bankPieces(uint8_t bankFirstBlock, uint8_t offset, BlockRun skip);

/// Bytes of bank data that `pieces` read.
int bytesUsed(const std::vector<Piece>& pieces);

/// The program's fixed password, 16 hexadecimal digits.
inline const QString& fixedPasswordHex()
{
    static const QString hex = QStringLiteral("7130458269154038");
    return hex;
}
/// The chip's factory password: eight zero bytes, as 16 hexadecimal digits.
inline const QString& factoryPasswordHex()
{
    static const QString hex = QStringLiteral("0000000000000000");
    return hex;
}

constexpr int kPasswordBytes = 8;
constexpr uint8_t kPasswordConfig = 0; ///< password 0: the configuration password
constexpr uint8_t kPasswordArea1 = 1;  ///< password 1: RF area 1
constexpr uint8_t kRegRfa1ss = 0x04;
/// RFA1SS value the configuration writes: area 1 under password 1, writes protected.
constexpr uint8_t kRfa1ssProtected = 0x05;

constexpr uint8_t kIsoPresentPassword = 0xB3;
constexpr uint8_t kIsoWritePassword = 0xB1;
constexpr uint8_t kIsoWriteConfiguration = 0xA1;

/// Hex decoding of a password text (Latin-1, as QByteArray::fromHex reads it), cut or
/// zero-filled to 8 bytes so that a malformed text never makes a short command.
QByteArray passwordBytes(const QString& hex);

/// The 9 parameter bytes of PRESENT PASSWORD and WRITE PASSWORD: number, then 8 bytes.
QByteArray passwordParameters(uint8_t number, const QByteArray& password);

} // namespace writeplan
