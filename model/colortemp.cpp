#include "model/colortemp.h"

#include "model/codecs.h"
#include "model/tagfields.h"

namespace colortemp
{

uint16_t coolest(const TagImage& image)
{
    return codecs::readU16(image.image_v2, tagoffset::CctCoolest);
}

uint16_t warmest(const TagImage& image)
{
    return codecs::readU16(image.image_v2, tagoffset::CctWarmest);
}

void storeCct(TagImage& image, uint16_t warmest, uint16_t coolest)
{
    codecs::writeU16(image.image_v2, tagoffset::CctWarmest, warmest);
    codecs::writeU16(image.image_v2, tagoffset::CctCoolest, coolest);
}

} // namespace colortemp
