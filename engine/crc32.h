#pragma once

#include <QByteArray>
#include <cstdint>

namespace crc32
{

/// CRC-32 (IEEE 802.3, reflected, as zlib's crc32() computes it) of `data`, continuing
/// from `crc` (0 for a fresh start).
uint32_t ieee(const QByteArray& data, uint32_t crc = 0);

} // namespace crc32
