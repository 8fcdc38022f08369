#pragma once

#include "model/tagimage.h"

#include <cstdint>

// Colour-temperature range of tunable-white drivers, kept in image_v2 only.
namespace colortemp
{

constexpr int Minimum = 1000; ///< kelvin, range of the spin boxes and slider
constexpr int Maximum = 12000;

/// Coolest colour temperature, image_v2 302..303 BE.
uint16_t coolest(const TagImage& image);
/// Warmest colour temperature, image_v2 304..305 BE.
uint16_t warmest(const TagImage& image);
/// Get_CCT_Data: warmest into 304..305 and coolest into 302..303 of image_v2, BE.
void storeCct(TagImage& image, uint16_t warmest, uint16_t coolest);

} // namespace colortemp
