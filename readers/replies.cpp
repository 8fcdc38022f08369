#include "readers/replies.h"

#include "readers/crc16.h"

#include <algorithm>
#include <chrono>

namespace replies
{

namespace
{

uint8_t at(const QByteArray& bytes, int offset)
{
    return static_cast<uint8_t>(bytes.at(offset));
}

Kind r321Kind(uint8_t command)
{
    switch (command) {
    case kR321CmdInventory:
        return Kind::Inventory;
    case kR321CmdReadBlocks:
        return Kind::ReadBlocks;
    case kR321CmdWriteBlocks:
        return Kind::WriteBlocks;
    case kR321CmdTransparent:
        return Kind::Transparent;
    case kR321CmdBeeper:
        return Kind::Beeper;
    default:
        return Kind::Other;
    }
}

} // namespace

R321Reply decodeR321(const QByteArray& rx)
{
    R321Reply reply;
    if (rx.size() <= kR321LengthOffset)
        return reply;
    const int length = at(rx, kR321LengthOffset);
    // The status sits at offset L and the payload starts at 11, so L below 11 would make
    // the status overlap the header; such a reply cannot be read as laid out.
    if (length < kR321PayloadOffset || length + 4 > rx.size())
        return reply;

    reply.usable = true;
    // Like the command frames: the CRC covers LEN up to the byte before it, and the frame
    // ends with it (L + 4 bytes in all, the rest of the report is padding).
    reply.crcOk = crc16::x25(rx, kR321LengthOffset, length - 1) ==
                  (at(rx, length + 2) | (at(rx, length + 3) << 8));
    reply.length = static_cast<uint8_t>(length);
    reply.iso = at(rx, kR321IsoOffset) == kR321IsoMark;
    reply.command = at(rx, kR321CommandOffset);
    reply.status = at(rx, length);
    reply.payload = rx.mid(kR321PayloadOffset, length - kR321PayloadOffset);
    reply.kind = reply.iso ? r321Kind(reply.command) : Kind::Foreign;
    return reply;
}

int r321InventoryCount(const R321Reply& reply)
{
    if (!reply.usable)
        return 0;
    return reply.payload.size() / kR321InventoryRecordSize;
}

QByteArray r321InventoryUid(const QByteArray& inventoryReply, int index)
{
    const R321Reply reply = decodeR321(inventoryReply);
    if (!reply.usable || index < 0)
        return {};
    const int start = index * kR321InventoryRecordSize;
    if (start + 8 > reply.payload.size())
        return {};
    return reply.payload.mid(start, 8);
}

QByteArray feigWriteSuccessFrame()
{
    static const QByteArray frame = QByteArray::fromHex("02000800B00090DF");
    return frame;
}

FeigReply decodeFeig(const QByteArray& rx)
{
    FeigReply reply;
    if (rx.size() < kFeigMinSize)
        return reply;

    reply.usable = true;
    // The reader hands over exactly one frame: its length field names its size and its
    // last two bytes are the CRC of all before them.
    const int declared = (at(rx, 1) << 8) | at(rx, 2);
    reply.crcOk =
        declared == rx.size() && crc16::mcrf4xx(rx, 0, rx.size() - kFeigCrcSize) ==
                                     (at(rx, rx.size() - 2) | (at(rx, rx.size() - 1) << 8));
    reply.feig = at(rx, 0) == kFeigStart;
    reply.command = at(rx, kFeigCommandOffset);
    reply.status = at(rx, kFeigStatusOffset);
    reply.blockCount = at(rx, kFeigBlockCountOffset);
    reply.kindByte = at(rx, kFeigKindOffset);
    reply.writeSuccessFrame = rx == feigWriteSuccessFrame();
    if (!reply.feig) {
        reply.kind = Kind::Foreign;
        return reply;
    }

    const int dataEnd = rx.size() - kFeigCrcSize;
    switch (reply.command) {
    case kFeigCmdIsoHost:
        if (reply.kindByte == kFeigKindRead) {
            reply.kind = Kind::ReadBlocks;
            if (reply.ok()) {
                const int end = kFeigRecordsOffset + kFeigRecordSize * reply.blockCount;
                if (end > dataEnd) {
                    // The block count promises more records than the frame carries.
                    reply.usable = false;
                    reply.kind = Kind::Unusable;
                    return reply;
                }
                reply.blockData.reserve(4 * reply.blockCount);
                for (int r = 0; r < reply.blockCount; ++r) {
                    const int record = kFeigRecordsOffset + kFeigRecordSize * r;
                    // The reader sends each block's bytes in reverse order.
                    for (int b = 4; b >= 1; --b)
                        reply.blockData.append(rx.at(record + b));
                }
            }
        } else if (reply.kindByte == kFeigKindWrite) {
            // 0xDF is only the CRC of the one write success frame; a good status with
            // any other frame is not a write reply.
            reply.kind = (!reply.ok() || reply.writeSuccessFrame) ? Kind::WriteBlocks : Kind::NoTag;
        } else if (reply.kindByte == kFeigKindInventory) {
            reply.kind = Kind::Inventory;
            // Only bytes before the frame CRC belong to the UID.
            reply.uid = rx.mid(kFeigUidOffset, std::clamp(dataEnd - kFeigUidOffset, 0, 8));
        } else {
            reply.kind = Kind::NoTag;
        }
        break;
    case kFeigCmdTransparent:
        reply.kind = Kind::Transparent;
        reply.transparent =
            rx.mid(kFeigTransparentOffset, std::max(0, dataEnd - kFeigTransparentOffset));
        break;
    case kFeigCmdSetOutput:
        reply.kind = Kind::Beeper;
        break;
    default:
        reply.kind = Kind::Other;
        break;
    }
    return reply;
}

QByteArray feInverted(const QByteArray& data)
{
    const uint16_t count = static_cast<uint16_t>(data.size());
    QByteArray out = data.left(count);
    std::reverse(out.begin(), out.end());
    return out;
}

int transparentResponseByte1(const FeigReply& reply)
{
    if (!reply.usable)
        return -1;
    return reply.kindByte;
}

int transparentResponseByte1(const R321Reply& reply)
{
    if (!reply.usable || reply.payload.size() < 2)
        return -1;
    return static_cast<uint8_t>(reply.payload.at(1));
}

qint64 clock()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Reply fromR321(const QByteArray& rx, R321CrcCheck* crc)
{
    Reply out;
    out.raw = rx;
    const R321Reply r = decodeR321(rx);
    if (!r.usable)
        return out;
    out.status = r.status;
    out.ok = r.ok();
    if (!r.iso) {
        out.kind = Kind::Foreign;
        out.failure = Failure::NotIso15693;
        return out;
    }
    out.kind = r.kind;
    if (crc && !crc->accept(r.crcOk)) {
        out.damaged = true;
        return out;
    }
    if (!out.ok && out.kind != Kind::Beeper && out.kind != Kind::Other)
        out.failure = Failure::TagNoResponse;
    switch (out.kind) {
    case Kind::Inventory:
        if (out.ok) {
            // The reply as far as its length byte goes; only records that lie inside it count.
            const QByteArray inventory = rx.left(r.length + 4);
            out.tagCount = std::max(0, (inventory.size() - 15) / kR321InventoryRecordSize);
            for (int i = 0; i < out.tagCount; ++i) {
                const QByteArray id = r321InventoryUid(inventory, i);
                if (id.size() == 8)
                    out.uids << id;
            }
            // The product byte is the third in most-significant-first order.
            out.chipCode = out.uids.isEmpty() ? 0 : static_cast<uint8_t>(out.uids.first().at(5));
        }
        break;
    case Kind::ReadBlocks:
        if (out.ok)
            out.blocks = r.payload;
        break;
    case Kind::Transparent:
        out.custom = out.ok ? CustomAnswer::Answered : CustomAnswer::NotAnswered;
        if (out.ok)
            out.responseByte1 = transparentResponseByte1(r);
        break;
    default:
        break;
    }
    return out;
}

Reply fromFeig(const QByteArray& rx)
{
    Reply out;
    out.raw = rx;
    const FeigReply f = decodeFeig(rx);
    if (!f.usable)
        return out;
    out.status = f.status;
    out.ok = f.ok();
    if (!f.feig) {
        out.kind = Kind::Foreign;
        out.failure = Failure::NotFeig;
        return out;
    }
    out.kind = f.kind;
    if (!f.crcOk) {
        out.damaged = true;
        return out;
    }
    switch (out.kind) {
    case Kind::ReadBlocks:
        if (out.ok)
            out.blocks = f.blockData;
        else
            out.failure = Failure::ReadFailure;
        break;
    case Kind::WriteBlocks:
        if (!out.ok)
            out.failure = Failure::WriteFailure;
        break;
    case Kind::Inventory:
        if (out.ok) {
            out.tagCount = 1;
            out.uids << f.uid;
            out.chipCode = f.uid.size() >= 3 ? static_cast<uint8_t>(f.uid.at(2)) : 0;
        } else {
            out.failure = Failure::Unreported;
        }
        break;
    case Kind::NoTag:
        out.failure = Failure::NoTagAnswered;
        break;
    case Kind::Transparent:
        switch (f.status) {
        case kFeigStatusOk:
            out.custom = CustomAnswer::Accepted;
            break;
        case kFeigStatusNoTransponder:
            out.custom = CustomAnswer::NoTransponder;
            break;
        case kFeigStatusIsoError:
            out.custom = CustomAnswer::IsoError;
            out.responseByte1 = transparentResponseByte1(f);
            break;
        default:
            out.custom = CustomAnswer::ReaderError;
            break;
        }
        break;
    default:
        break;
    }
    return out;
}

bool R321CrcCheck::accept(bool crcOk)
{
    if (crcOk) {
        m_misses = 0;
        if (++m_matches >= kConfirmAfter)
            m_enforced = true;
        return true;
    }
    m_matches = 0;
    if (!m_enforced)
        return true;
    // A run of misses means this reader frames its replies otherwise: stop checking
    // rather than drop everything it says. The miss that ends the run is still dropped:
    // it may just as well be damaged, and giving up only concerns the replies after it.
    if (++m_misses >= kForgetAfter) {
        m_enforced = false;
        m_misses = 0;
    }
    return false;
}

} // namespace replies
