#pragma once

#include <QByteArray>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

// Read-back verification of a write sequence, and the four-block pieces of a write that
// a tag refuses whole: which blocks were sent, how they are read back, and how the
// read-back compares.
namespace verifyplan
{

constexpr uint8_t kMaxPieceBlocks = 4; ///< the most blocks an ST25DV takes in one write

/// The blocks one write sequence sent, 4 bytes each, as the tag is to hold them.
class WrittenBlocks
{
  public:
    /// Notes `data` (4 bytes per block, a short tail ignored) sent from block `first`; block
    /// numbers wrap at 8 bits like the commands' own. A block sent twice keeps its last bytes.
    void note(uint8_t first, const QByteArray& data);
    void clear() { m_blocks.clear(); }
    bool empty() const { return m_blocks.empty(); }
    const std::map<uint8_t, QByteArray>& blocks() const { return m_blocks; }

  private:
    std::map<uint8_t, QByteArray> m_blocks;
};

/// One block-read command of the read-back.
struct ReadPiece {
    uint8_t first = 0;
    uint8_t count = 0;
    bool operator==(const ReadPiece& o) const { return first == o.first && count == o.count; }
};

/// The read commands of the read-back, in block order: a Read's own pieces (a bank as 12,
/// 12 and 8 blocks; block 248 alone) that hold at least one written block. Blocks above the
/// four banks are read in runs of consecutive written blocks, at most 12 at a time.
std::vector<ReadPiece> readPieces(const WrittenBlocks& written);

/// How the read-back compared.
struct Comparison {
    bool complete = false;   ///< every written block came back
    bool equal = false;      ///< complete and every written block as sent
    int firstDifferent = -1; ///< the lowest block that differs or did not come back
    QByteArray readBack;     ///< the written blocks as read back, in block order
    uint32_t crc = 0;        ///< CRC-32 of readBack (valid when complete)
};

/// Compares the data of `pieces`, read one after another into `data`, with `written`.
/// Blocks read but not written (the driver's own counters) are not compared.
Comparison compare(const WrittenBlocks& written, const std::vector<ReadPiece>& pieces,
                   const QByteArray& data);

/// The writes that bring a tag holding the data of `pieces` (read one after another into
/// `data`) to `planned`: the runs of consecutive planned blocks that differ or did not come
/// back, cut into pieces of at most kMaxPieceBlocks blocks. Nothing when the tag holds it all.
std::vector<ReadPiece> changedPieces(const WrittenBlocks& planned,
                                     const std::vector<ReadPiece>& pieces, const QByteArray& data);

/// The pieces of at most kMaxPieceBlocks blocks that a write of `count` blocks from
/// `first` is cut into: first block and count of each.
std::vector<ReadPiece> fourBlockPieces(uint8_t first, uint8_t count);

} // namespace verifyplan
