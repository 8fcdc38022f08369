#include "engine/crc32.h"

#include <array>

namespace crc32
{

namespace
{

std::array<uint32_t, 256> makeTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

} // namespace

uint32_t ieee(const QByteArray& data, uint32_t crc)
{
    static const std::array<uint32_t, 256> table = makeTable();
    uint32_t c = crc ^ 0xFFFFFFFFu;
    for (const char ch : data)
        c = table[(c ^ static_cast<uint8_t>(ch)) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

} // namespace crc32
