#include "engine/writeplan.h"

#include <algorithm>

namespace writeplan
{

std::optional<Piece> bankPiece(uint8_t bankFirstBlock, uint8_t offset, uint8_t partStep)
{
    if (partStep < 1 || partStep > kPiecesPerBank)
        return std::nullopt;
    const int index = partStep - 1;
    Piece piece;
    piece.firstBlock = static_cast<uint8_t>(bankFirstBlock + index * offset);
    piece.byteOffset = index * offset * kBlockBytes;
    piece.count = partStep == kPiecesPerBank ? kLastPieceBlocks : offset;
    return piece;
}

int bankBytesUsed(uint8_t offset)
{
    return 3 * offset * kBlockBytes + kLastPieceBlocks * kBlockBytes;
}

BlockRun counterBlocks(uint8_t layoutCode)
{
    // Gear and load operating time, 4 bytes each: tag bytes 332-339 or 448-455.
    constexpr BlockRun kLayoutV2{83, 2};
    constexpr BlockRun kLegacy{112, 2};
    constexpr uint8_t kLayoutV2Code = 2;
    return layoutCode == kLayoutV2Code ? kLayoutV2 : kLegacy;
}

std::vector<Piece> bankPieces(uint8_t bankFirstBlock, uint8_t offset, BlockRun skip)
{
    std::vector<Piece> plain;
    std::vector<bool> send(kBankBlocks, false);
    for (uint8_t step = 1; step <= kPiecesPerBank; ++step) {
        const Piece piece = *bankPiece(bankFirstBlock, offset, step);
        plain.push_back(piece);
        for (int i = 0; i < piece.count; ++i) {
            const int index = piece.byteOffset / kBlockBytes + i;
            if (index < kBankBlocks)
                send[index] = true;
        }
    }
    bool skipped = false;
    for (int i = 0; i < kBankBlocks; ++i) {
        const auto block = static_cast<uint8_t>(bankFirstBlock + i);
        if (send[i] && static_cast<uint8_t>(block - skip.first) < skip.count) {
            send[i] = false;
            skipped = true;
        }
    }
    if (!skipped)
        return plain;

    std::vector<Piece> pieces;
    for (int i = 0; i < kBankBlocks;) {
        int n = 0;
        while (i + n < kBankBlocks && send[i + n] && n < offset)
            ++n;
        if (n == 0) {
            ++i;
            continue;
        }
        pieces.push_back(
            {static_cast<uint8_t>(bankFirstBlock + i), i * kBlockBytes, static_cast<uint8_t>(n)});
        i += n;
    }
    while (pieces.size() < kPiecesPerBank) {
        const auto largest =
            std::max_element(pieces.begin(), pieces.end(),
                             [](const Piece& a, const Piece& b) { return a.count < b.count; });
        if (largest == pieces.end() || largest->count < 2)
            break;
        const auto head = static_cast<uint8_t>((largest->count + 1) / 2);
        const Piece tail{static_cast<uint8_t>(largest->firstBlock + head),
                         largest->byteOffset + head * kBlockBytes,
                         static_cast<uint8_t>(largest->count - head)};
        largest->count = head;
        pieces.insert(largest + 1, tail);
    }
    return pieces;
}

int bytesUsed(const std::vector<Piece>& pieces)
{
    int used = 0;
    for (const Piece& p : pieces)
        used = std::max(used, p.byteOffset + p.count * kBlockBytes);
    return used;
}

QByteArray passwordBytes(const QString& hex)
{
    QByteArray bytes = QByteArray::fromHex(hex.toLatin1()).left(kPasswordBytes);
    bytes.append(QByteArray(kPasswordBytes - bytes.size(), '\0'));
    return bytes;
}

QByteArray passwordParameters(uint8_t number, const QByteArray& password)
{
    QByteArray out(1, static_cast<char>(number));
    out.append(password.left(kPasswordBytes));
    out.append(QByteArray(1 + kPasswordBytes - out.size(), '\0'));
    return out;
}

} // namespace writeplan
