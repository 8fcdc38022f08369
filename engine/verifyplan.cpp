#include "engine/verifyplan.h"

#include "engine/crc32.h"

#include <algorithm>

namespace verifyplan
{

namespace
{

constexpr int kBlockBytes = 4;
constexpr int kBankBlocks = 32;
constexpr int kBankedBlocks = 128; // blocks 0-127: the four banks a Read reads
constexpr int kReadPiece = 12;
constexpr int kReadLastPiece = 8;

// Where each block read lies in `data`, the data of `pieces` one after another.
std::map<uint8_t, int> blockOffsets(const std::vector<ReadPiece>& pieces, const QByteArray& data)
{
    std::map<uint8_t, int> at;
    int offset = 0;
    for (const ReadPiece& p : pieces) {
        for (int i = 0; i < p.count; ++i, offset += kBlockBytes)
            if (offset + kBlockBytes <= data.size())
                at.emplace(static_cast<uint8_t>(p.first + i), offset);
    }
    return at;
}

} // namespace

void WrittenBlocks::note(uint8_t first, const QByteArray& data)
{
    for (int i = 0; (i + 1) * kBlockBytes <= data.size(); ++i)
        m_blocks[static_cast<uint8_t>(first + i)] = data.mid(i * kBlockBytes, kBlockBytes);
}

std::vector<ReadPiece> readPieces(const WrittenBlocks& written)
{
    std::vector<ReadPiece> pieces;
    const auto& blocks = written.blocks();
    const auto any = [&blocks](int from, int count) {
        const auto it = blocks.lower_bound(static_cast<uint8_t>(from));
        return it != blocks.end() && it->first < from + count;
    };
    for (int bank = 0; bank < kBankedBlocks; bank += kBankBlocks) {
        const ReadPiece bankPieces[] = {
            {static_cast<uint8_t>(bank), kReadPiece},
            {static_cast<uint8_t>(bank + kReadPiece), kReadPiece},
            {static_cast<uint8_t>(bank + 2 * kReadPiece), kReadLastPiece}};
        for (const ReadPiece& p : bankPieces)
            if (any(p.first, p.count))
                pieces.push_back(p);
    }
    // Above the banks (block 248 of the PWM tag): runs of written blocks.
    for (auto it = blocks.lower_bound(kBankedBlocks); it != blocks.end();) {
        ReadPiece p{it->first, 1};
        for (++it; it != blocks.end() && it->first == p.first + p.count && p.count < kReadPiece;
             ++it)
            ++p.count;
        pieces.push_back(p);
    }
    return pieces;
}

Comparison compare(const WrittenBlocks& written, const std::vector<ReadPiece>& pieces,
                   const QByteArray& data)
{
    const std::map<uint8_t, int> at = blockOffsets(pieces, data);
    Comparison c;
    c.complete = true;
    c.equal = true;
    for (const auto& [block, sent] : written.blocks()) {
        const auto found = at.find(block);
        if (found == at.end()) {
            c.complete = false;
            c.equal = false;
            if (c.firstDifferent < 0)
                c.firstDifferent = block;
            continue;
        }
        const QByteArray back = data.mid(found->second, kBlockBytes);
        c.readBack.append(back);
        if (back != sent && c.firstDifferent < 0) {
            c.firstDifferent = block;
            c.equal = false;
        }
    }
    if (c.complete)
        c.crc = crc32::ieee(c.readBack);
    return c;
}

std::vector<ReadPiece> changedPieces(const WrittenBlocks& planned,
                                     const std::vector<ReadPiece>& pieces, const QByteArray& data)
{
    const std::map<uint8_t, int> at = blockOffsets(pieces, data);
    std::vector<ReadPiece> changed;
    int previous = -2;
    for (const auto& [block, bytes] : planned.blocks()) {
        const auto found = at.find(block);
        if (found != at.end() && data.mid(found->second, kBlockBytes) == bytes)
            continue;
        // A block right after the last changed one joins its piece while the piece has room.
        if (block == previous + 1 && !changed.empty() && changed.back().count < kMaxPieceBlocks)
            ++changed.back().count;
        else
            changed.push_back({block, 1});
        previous = block;
    }
    return changed;
}

std::vector<ReadPiece> fourBlockPieces(uint8_t first, uint8_t count)
{
    std::vector<ReadPiece> pieces;
    for (int done = 0; done < count; done += kMaxPieceBlocks)
        pieces.push_back({static_cast<uint8_t>(first + done),
                          static_cast<uint8_t>(std::min<int>(kMaxPieceBlocks, count - done))});
    return pieces;
}

} // namespace verifyplan
