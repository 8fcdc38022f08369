#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QVector>
#include <cstdint>

// Decoding of the replies of both readers. Every byte is read only after the offsets
// it sits at have been checked against the reply's size; a reply that is too short for
// its own layout comes back as `usable == false` and is never read further. Each link
// hands the engine its replies as one decoded Reply, the same for both readers.
namespace replies
{

/// What a reply answers, decided from its bytes alone.
enum class Kind : uint8_t {
    Unusable,    // too short or inconsistent: dropped without a word
    Foreign,     // not a reply of the expected protocol (R321: not ISO15693; FEIG: no 0x02)
    Inventory,   // inventory (UID) reply
    ReadBlocks,  // read-multiple-blocks reply
    WriteBlocks, // write-multiple-blocks reply
    Transparent, // raw ISO15693 command passed through the reader
    Beeper,      // reader output / beeper command
    NoTag,       // FEIG ISO host reply that is none of the above: no tag answered
    Other,       // any other command echo: ignored
};

/// How a reader words a failed reply. The R321 says the tag did not respond, whatever
/// the command; the FEIG reader names a failed read or write, and says nothing more of a
/// failed inventory.
enum class Failure : uint8_t {
    None,
    NotIso15693,   // R321: a reply to no ISO15693 command
    NotFeig,       // FEIG: not a FEIG frame
    TagNoResponse, // R321: any failing status
    ReadFailure,   // FEIG: a read refused
    WriteFailure,  // FEIG: a write refused
    NoTagAnswered, // FEIG: an ISO host reply of no known kind
    Unreported,    // FEIG: a failed inventory
};

/// How a custom (transparent) command came back, in terms both readers share.
enum class CustomAnswer : uint8_t {
    None,
    Answered,      // R321 status 0: the tag's response passed through, good or not
    Accepted,      // FEIG status 0: the tag took the command
    NoTransponder, // FEIG status 1: no answer in the reader's time (a password write)
    IsoError,      // FEIG status 0x95: the tag answered with an error
    ReaderError,   // FEIG, any other status
    NotAnswered,   // R321, any failing status
};

class R321CrcCheck;

/// One reply of either reader, decoded by its link.
struct Reply {
    Kind kind = Kind::Unusable;
    uint8_t status = 0;
    bool ok = false;      // the reader's status says success
    bool damaged = false; // its CRC is wrong: nothing in it can be trusted
    Failure failure = Failure::None;
    QVector<QByteArray> uids; // inventory: the UIDs in the reader's order (the first may be short)
    uint8_t chipCode = 0;     // inventory: the product byte of the first UID (0 if it is short)
    int tagCount = 0;         // inventory: tags reported
    QByteArray blocks;        // read: the blocks' data in tag order
    CustomAnswer custom = CustomAnswer::None;
    int responseByte1 = -1; // custom: byte 1 of the tag's response, -1 when not carried
    QByteArray raw;         // the bytes as received
    qint64 receivedAt = 0;  // when the transport received it (clock(), ns)
};

/// The monotonic clock replies are stamped with, in nanoseconds; the engine stamps the
/// commands it sends with it as well.
qint64 clock();

// R321 reply layout as read here: byte 3 L, byte 8 0x1F, byte 9 command echo,
// bytes 11..L-1 payload, byte L status.
constexpr int kR321LengthOffset = 3;
constexpr int kR321IsoOffset = 8;
constexpr int kR321CommandOffset = 9;
constexpr int kR321PayloadOffset = 11;
constexpr uint8_t kR321IsoMark = 0x1F;
constexpr int kR321InventoryRecordSize = 9;

constexpr uint8_t kR321CmdInventory = 0x11;
constexpr uint8_t kR321CmdReadBlocks = 0x22;
constexpr uint8_t kR321CmdWriteBlocks = 0x23;
constexpr uint8_t kR321CmdTransparent = 0x2F;
constexpr uint8_t kR321CmdBeeper = 0xE9;

/// One decoded R321 reply.
struct R321Reply {
    bool usable = false; // L >= 11 and L + 4 <= size (so at least 15 bytes)
    bool crcOk = false;  // bytes L+2, L+3 hold the CRC-16/X-25 of bytes 3 .. L+1
    bool iso = false;    // byte 8 is 0x1F
    uint8_t command = 0; // byte 9
    uint8_t status = 0;  // byte L
    uint8_t length = 0;  // L
    QByteArray payload;  // bytes 11 .. L-1
    Kind kind = Kind::Unusable;
    bool ok() const { return status == 0; }
};

/// Decodes an R321 reply; anything too short for the offsets above is unusable. The
/// reply's CRC is checked (crcOk) but not acted on here.
R321Reply decodeR321(const QByteArray& rx);

/// Number of inventory records of an R321 inventory payload ((L - 11) / 9).
int r321InventoryCount(const R321Reply& reply);

/// The UID of inventory record `index` of a whole R321 inventory reply, least significant
/// byte first; empty when the record does not lie completely inside the payload.
QByteArray r321InventoryUid(const QByteArray& inventoryReply, int index);

// FEIG reply layout as read here.
constexpr int kFeigMinSize = 8;
constexpr uint8_t kFeigStart = 0x02;
constexpr int kFeigCommandOffset = 4;
constexpr int kFeigStatusOffset = 5;
constexpr int kFeigBlockCountOffset = 6;
constexpr int kFeigKindOffset = 7;
constexpr int kFeigRecordsOffset = 8;
constexpr int kFeigRecordSize = 5;
constexpr int kFeigUidOffset = 9;
constexpr int kFeigTransparentOffset = 6;
constexpr int kFeigCrcSize = 2;

constexpr uint8_t kFeigCmdIsoHost = 0xB0;
constexpr uint8_t kFeigCmdTransparent = 0xBF;
constexpr uint8_t kFeigCmdSetOutput = 0x72;
constexpr uint8_t kFeigKindRead = 0x04;
constexpr uint8_t kFeigKindInventory = 0x03;
constexpr uint8_t kFeigKindWrite = 0xDF;

constexpr uint8_t kFeigStatusOk = 0x00;
constexpr uint8_t kFeigStatusNoTransponder = 0x01;
constexpr uint8_t kFeigStatusIsoError = 0x95;

/// One decoded FEIG reply.
struct FeigReply {
    bool usable = false;    // at least 8 bytes (and, for a good read reply, its records fit)
    bool crcOk = false;     // the length field is the size and the frame's CRC is right
    bool feig = false;      // byte 0 is 0x02
    uint8_t command = 0;    // byte 4
    uint8_t status = 0;     // byte 5
    uint8_t blockCount = 0; // byte 6 of a read reply
    uint8_t kindByte = 0;   // byte 7
    bool writeSuccessFrame = false; // exactly 02 00 08 00 B0 00 90 DF
    QByteArray blockData;           // read reply: the blocks' data, each block back in tag order
    QByteArray uid;         // inventory reply: bytes 9..16 before the CRC, most significant first
    QByteArray transparent; // transparent reply: bytes from 6 up to the frame CRC
    Kind kind = Kind::Unusable;
    bool ok() const { return status == kFeigStatusOk; }
};

/// Decodes a FEIG reply; a good read reply whose records run past the frame is unusable.
/// The frame's length field and CRC-16/MCRF4XX are checked (crcOk) but not acted on here.
FeigReply decodeFeig(const QByteArray& rx);

/// The only frame taken as a successful write reply: 02 00 08 00 B0 00 90 DF.
QByteArray feigWriteSuccessFrame();

/// `data` with its bytes in reverse order; the length is taken as an unsigned 16-bit count.
QByteArray feInverted(const QByteArray& data);

/// Byte 1 of the tag's own response to a transparent command: FEIG reply byte 7, R321
/// payload byte 1 (reply byte 12); -1 when the reply does not hold it.
int transparentResponseByte1(const FeigReply& reply);
int transparentResponseByte1(const R321Reply& reply);

/// First CRC byte of the tag's success response 00 78 F0 to PRESENT PASSWORD.
constexpr uint8_t kPresentPasswordOkByte = 0x78;

/// The R321 reply `rx` as the engine takes it; `crc` learns whether this reader's replies
/// are held to their CRC, and an ISO reply it refuses comes back damaged.
Reply fromR321(const QByteArray& rx, R321CrcCheck* crc);
/// The FEIG reply `rx` as the engine takes it.
Reply fromFeig(const QByteArray& rx);

/// Whether R321 replies are held to their CRC. Where the R321 puts a reply CRC is
/// inferred from its command frames, so a reader that puts something else there matches
/// now and then by chance: the check is enforced only after several consecutive matches
/// on one connection, and given up again when matches stop.
class R321CrcCheck
{
  public:
    static constexpr int kConfirmAfter = 3; ///< consecutive matches before it is enforced
    static constexpr int kForgetAfter = 3;  ///< consecutive misses that end enforcement

    /// Takes the CRC result of one reply; false when the reply is to be dropped as damaged.
    bool accept(bool crcOk);
    /// True while replies with a wrong CRC are dropped.
    bool enforced() const { return m_enforced; }
    /// Forgets everything, as for a newly connected reader.
    void reset() { *this = R321CrcCheck(); }

  private:
    int m_matches = 0;
    int m_misses = 0;
    bool m_enforced = false;
};

} // namespace replies

Q_DECLARE_METATYPE(replies::Reply)
