#pragma once

#include <array>
#include <cstdint>

/// The in-memory image of tag bytes 0..511: the layout-2 copy, the legacy copy and
/// the buffer that writes are sent from.
struct TagImage {
    static constexpr int Size = 512;
    using Bytes = std::array<uint8_t, Size>;

    Bytes image_v2{};
    Bytes image_legacy{};
    Bytes bank_buffer{};

    /// Start content: all zero but layout code 2 and the last-current word 0x0001.
    TagImage()
    {
        image_v2[183] = 2;
        image_v2[490] = 0x00;
        image_v2[491] = 0x01;
    }

    /// Layout code, byte 183 of the layout-2 copy; 2 selects layout 2, anything else legacy.
    uint8_t layoutCode() const { return image_v2[183]; }
    bool isLayout2() const { return layoutCode() == 2; }
};
