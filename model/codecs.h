#pragma once

#include "model/tagimage.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

// Byte-order codecs of the tag image. The pointer forms keep the window's historical
// names and rules; a null pointer or a lenth of 0 writes nothing and reads 0 / "".
namespace codecs
{

/// Writes lenth bytes of data, most significant first; bytes above bit 15 are 0.
void U16ToHex(uint8_t* byte, uint16_t data, uint8_t lenth);
/// Writes lenth bytes of data, least significant first.
void U16ToHex_N(uint8_t* byte, uint16_t data, uint8_t lenth);
/// Writes lenth bytes of data, most significant first; bytes above bit 31 are 0.
void U32ToHex(uint8_t* byte, uint32_t data, uint8_t lenth);
/// Big-endian sum of lenth bytes, truncated to 16 bits.
uint16_t HexToU16(const uint8_t* byte, uint8_t lenth);
/// Big-endian sum of lenth bytes, truncated to 32 bits.
uint32_t HexToU32(const uint8_t* byte, uint8_t lenth);
/// Little-endian sum of lenth bytes, truncated to 32 bits.
uint32_t HexToU32_N(const uint8_t* byte, uint8_t lenth);
/// Big-endian value of lenth bytes as a signed 64-bit number (two's complement wrap).
int64_t HexToLONGLONG(const uint8_t* byte, uint8_t lenth);
/// Latin-1 text of up to lenth bytes, ending before the first zero byte.
QString HexToStr(const uint8_t* byte, uint8_t lenth);
/// Exchanges the two bytes of a 16-bit value.
uint16_t UINT16_MSB_LSB_SWAP(uint16_t data);

/// Byte at offset, or 0 when the offset lies outside the image.
uint8_t byteAt(const TagImage::Bytes& bytes, int offset);
/// Byte at offset, or 0 when the offset lies outside the array.
uint8_t byteAt(const QByteArray& bytes, int offset);
/// Big-endian u16 at offset; bytes outside the image read as 0.
uint16_t readU16(const TagImage::Bytes& bytes, int offset);
/// Big-endian u32 at offset; bytes outside the image read as 0.
uint32_t readU32(const TagImage::Bytes& bytes, int offset);
/// Big-endian 48-bit value at offset; bytes outside the image read as 0.
uint64_t readU48(const TagImage::Bytes& bytes, int offset);
/// Stores value big-endian at offset; bytes that would fall outside the image are dropped.
void writeU16(TagImage::Bytes& bytes, int offset, uint16_t value);
/// Stores value big-endian at offset; bytes that would fall outside the image are dropped.
void writeU32(TagImage::Bytes& bytes, int offset, uint32_t value);

} // namespace codecs
