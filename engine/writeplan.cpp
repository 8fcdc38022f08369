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

QByteArray reverseEachBlock(const QByteArray& data)
{
    QByteArray out = data;
    for (int i = 0; i < out.size(); i += kBlockBytes) {
        const int n = std::min(kBlockBytes, out.size() - i);
        std::reverse(out.begin() + i, out.begin() + i + n);
    }
    return out;
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
