#include "readers/crc16.h"

#include <algorithm>

namespace
{

uint16_t reflectedCcitt(const QByteArray& data, int from, int len)
{
    uint16_t crc = 0xFFFF;
    const int begin = std::max(0, from);
    const int end = std::min(data.size(), from + std::max(0, len));
    for (int i = begin; i < end; ++i) {
        crc ^= static_cast<uint8_t>(data.at(i));
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

} // namespace

namespace crc16
{

uint16_t x25(const QByteArray& data)
{
    return x25(data, 0, data.size());
}

uint16_t x25(const QByteArray& data, int from, int len)
{
    return static_cast<uint16_t>(reflectedCcitt(data, from, len) ^ 0xFFFF);
}

uint16_t mcrf4xx(const QByteArray& data)
{
    return mcrf4xx(data, 0, data.size());
}

uint16_t mcrf4xx(const QByteArray& data, int from, int len)
{
    return reflectedCcitt(data, from, len);
}

void appendLsbFirst(QByteArray& frame, uint16_t crc)
{
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
}

bool x25TrailerOk(const QByteArray& frame)
{
    if (frame.size() < 3)
        return false;
    const uint16_t crc = x25(frame, 0, frame.size() - 2);
    return static_cast<uint8_t>(frame.at(frame.size() - 2)) == (crc & 0xFF) &&
           static_cast<uint8_t>(frame.at(frame.size() - 1)) == (crc >> 8);
}

} // namespace crc16
