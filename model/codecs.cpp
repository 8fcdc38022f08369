#include "model/codecs.h"

namespace codecs
{

namespace
{

// Shifting by the width of the type or more is undefined; the bytes are 0 there.
uint8_t byteOf(uint64_t value, unsigned shift)
{
    return shift >= 64 ? 0 : static_cast<uint8_t>((value >> shift) & 0xFF);
}

uint64_t bigEndian(const uint8_t* byte, int lenth)
{
    uint64_t value = 0;
    if (!byte)
        return 0;
    for (int i = 0; i < lenth; ++i)
        value = (value << 8) | byte[i];
    return value;
}

uint64_t readBE(const TagImage::Bytes& bytes, int offset, int width)
{
    uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | byteAt(bytes, offset + i);
    return value;
}

void writeBE(TagImage::Bytes& bytes, int offset, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i) {
        const int at = offset + i;
        if (at >= 0 && at < TagImage::Size)
            bytes[static_cast<size_t>(at)] = byteOf(value, 8u * unsigned(width - 1 - i));
    }
}

} // namespace

void U16ToHex(uint8_t* byte, uint16_t data, uint8_t lenth)
{
    U32ToHex(byte, data, lenth);
}

void U16ToHex_N(uint8_t* byte, uint16_t data, uint8_t lenth)
{
    if (!byte)
        return;
    for (unsigned i = 0; i < lenth; ++i)
        byte[i] = byteOf(data, 8u * i);
}

void U32ToHex(uint8_t* byte, uint32_t data, uint8_t lenth)
{
    if (!byte)
        return;
    for (unsigned i = 0; i < lenth; ++i)
        byte[i] = byteOf(data, 8u * (lenth - 1u - i));
}

uint16_t HexToU16(const uint8_t* byte, uint8_t lenth)
{
    return static_cast<uint16_t>(bigEndian(byte, lenth));
}

uint32_t HexToU32(const uint8_t* byte, uint8_t lenth)
{
    return static_cast<uint32_t>(bigEndian(byte, lenth));
}

uint32_t HexToU32_N(const uint8_t* byte, uint8_t lenth)
{
    uint32_t value = 0;
    if (!byte)
        return 0;
    for (unsigned i = 0; i < lenth && i < 4; ++i)
        value |= uint32_t(byte[i]) << (8u * i);
    return value;
}

int64_t HexToLONGLONG(const uint8_t* byte, uint8_t lenth)
{
    // Accumulate unsigned so that eight bytes with the top bit set wrap instead of overflowing.
    return static_cast<int64_t>(bigEndian(byte, lenth));
}

QString HexToStr(const uint8_t* byte, uint8_t lenth)
{
    QString text;
    if (!byte)
        return text;
    for (int i = 0; i < lenth && byte[i] != 0; ++i)
        text.append(QChar(byte[i]));
    return text;
}

uint16_t UINT16_MSB_LSB_SWAP(uint16_t data)
{
    return static_cast<uint16_t>((data << 8) | (data >> 8));
}

uint8_t byteAt(const TagImage::Bytes& bytes, int offset)
{
    return offset >= 0 && offset < TagImage::Size ? bytes[static_cast<size_t>(offset)] : 0;
}

uint8_t byteAt(const QByteArray& bytes, int offset)
{
    return offset >= 0 && offset < bytes.size() ? static_cast<uint8_t>(bytes.at(offset)) : 0;
}

uint16_t readU16(const TagImage::Bytes& bytes, int offset)
{
    return static_cast<uint16_t>(readBE(bytes, offset, 2));
}

uint32_t readU32(const TagImage::Bytes& bytes, int offset)
{
    return static_cast<uint32_t>(readBE(bytes, offset, 4));
}

uint64_t readU48(const TagImage::Bytes& bytes, int offset)
{
    return readBE(bytes, offset, 6);
}

void writeU16(TagImage::Bytes& bytes, int offset, uint16_t value)
{
    writeBE(bytes, offset, value, 2);
}

void writeU32(TagImage::Bytes& bytes, int offset, uint32_t value)
{
    writeBE(bytes, offset, value, 4);
}

} // namespace codecs
