#pragma once

#include <QByteArray>
#include <cstdint>

// Both CRCs are the reflected 0x1021 polynomial (0x8408 processed LSB first)
// started at 0xFFFF; they differ only in the final complement.
namespace crc16
{

/// CRC-16/X-25 (ISO/IEC 13239, ISO15693 and R321 frames); check value 0x906E for "123456789".
uint16_t x25(const QByteArray& data);

/// CRC-16/X-25 over `len` bytes of `data` from `from`; out-of-range parts are ignored.
uint16_t x25(const QByteArray& data, int from, int len);

/// CRC-16/MCRF4XX (FEIG OBID frames); check value 0x6F91 for "123456789".
uint16_t mcrf4xx(const QByteArray& data);

/// CRC-16/MCRF4XX over `len` bytes of `data` from `from`; out-of-range parts are ignored.
uint16_t mcrf4xx(const QByteArray& data, int from, int len);

/// Appends `crc` low byte first, the order used by ISO15693, R321 and FEIG frames.
void appendLsbFirst(QByteArray& frame, uint16_t crc);

/// True when the last two bytes of `frame` are the X-25 CRC (low byte first) of the bytes before.
bool x25TrailerOk(const QByteArray& frame);

} // namespace crc16
