#include "model/tagfields.h"

#include "model/codecs.h"

#include <algorithm>

namespace tagfields
{

using namespace codecs;

namespace
{

QString dotted(uint8_t major, uint8_t minor)
{
    return QString::number(major) + QLatin1Char('.') + QString::number(minor);
}

void copyInto(TagImage::Bytes& to, int at, const QByteArray& from, int fromAt, int count)
{
    std::copy_n(reinterpret_cast<const uint8_t*>(from.constData()) + fromAt, count,
                to.begin() + at);
}

} // namespace

QString modelName(const TagImage& image)
{
    return HexToStr(image.image_v2.data() + tagoffset::ModelName, tagoffset::ModelNameSize);
}

QByteArray modelNameField(const TagImage& image)
{
    return QByteArray(reinterpret_cast<const char*>(image.image_v2.data()) + tagoffset::ModelName,
                      tagoffset::ModelNameSize);
}

uint8_t channelsFromTag(const TagImage& image)
{
    const uint8_t n = image.image_v2[tagoffset::ChannelCount];
    return n == 0 ? 1 : n;
}

QString rangeText(CurrentRange range)
{
    return QString::number(range.minimum) + QLatin1Char('-') + QString::number(range.maximum) +
           QStringLiteral("mA");
}

ProductInfo productInfo(const TagImage& image)
{
    const auto& v2 = image.image_v2;
    ProductInfo info;
    info.model = modelName(image);
    info.fixtureId = QString::number(readU32(v2, tagoffset::FixtureNumber)) + QLatin1Char('-') +
                     QString::number(v2[tagoffset::FixtureSuffix]);
    info.driverType = v2[tagoffset::DriverType];
    info.hardware = dotted(v2[tagoffset::HardwareMajor], v2[tagoffset::HardwareMinor]);
    info.software = dotted(v2[tagoffset::SoftwareMajor], v2[tagoffset::SoftwareMinor]);
    info.gtin = QStringLiteral("%1").arg(static_cast<qulonglong>(readU48(v2, tagoffset::Gtin)));
    info.layoutCode = image.layoutCode();
    info.channelCount = channelsFromTag(image);
    if (image.isLayout2()) {
        info.currentRanges[0] = {readU16(v2, tagoffset::MinCurrent),
                                 readU16(v2, tagoffset::MaxCurrent)};
    } else {
        for (int i = 0; i < 3; ++i)
            info.currentRanges[size_t(i)] = {
                readU16(image.image_legacy, tagoffset::LegacyMinCurrent + 2 * i),
                readU16(image.image_legacy, tagoffset::LegacyMaxCurrent + 2 * i)};
    }
    return info;
}

DriveInfo driveInfo(const TagImage& image)
{
    const auto& v2 = image.image_v2;
    DriveInfo info;
    info.cloEnabled = v2[tagoffset::CloEnable] != 0;
    std::copy_n(v2.begin() + tagoffset::CloLevels, tagoffset::CloPoints, info.cloLevels.begin());
    std::copy_n(v2.begin() + tagoffset::CloTimes, tagoffset::CloPoints, info.cloTimes.begin());
    info.cctCoolest = readU16(v2, tagoffset::CctCoolest);
    info.cctWarmest = readU16(v2, tagoffset::CctWarmest);
    if (image.isLayout2()) {
        info.gearTime = readU32(v2, tagoffset::GearTimeV2);
        info.loadTime = readU32(v2, tagoffset::LoadTimeV2);
    } else {
        info.gearTime = readU32(image.image_legacy, tagoffset::GearTimeLegacy);
        info.loadTime = readU32(image.image_legacy, tagoffset::LoadTimeLegacy);
    }
    info.gearTimeText = QString::number(info.gearTime) + QLatin1Char('h');
    info.loadTimeText = QString::number(info.loadTime) + QLatin1Char('h');
    return info;
}

void judgeLastCurrent(TagImage& image)
{
    const uint16_t value = static_cast<uint16_t>(readU16(image.image_v2, tagoffset::Current1) - 1);
    writeU16(image.image_v2, tagoffset::LastCurrent, value);
}

void updateBankBuff(TagImage& image)
{
    if (image.isLayout2()) {
        judgeLastCurrent(image);
        image.bank_buffer = image.image_v2;
    } else {
        image.bank_buffer = image.image_legacy;
    }
}

int requiredReadSize(uint8_t readcnt, uint8_t chipCode)
{
    if (readcnt == 7 || readcnt == 12)
        return chipCode == ChipP ? TagImage::Size : tagoffset::ProductAreaSize + 4;
    if (readcnt == 3)
        return 128;
    return 0;
}

bool loadReadData(TagImage& image, const QByteArray& readData, uint8_t readcnt, uint8_t chipCode)
{
    const int needed = requiredReadSize(readcnt, chipCode);
    if (needed == 0 || readData.size() < needed)
        return false;

    if (readcnt == 3) {
        copyInto(image.image_v2, tagoffset::DriveArea, readData, 0, 128);
        copyInto(image.image_legacy, tagoffset::DriveArea, readData, 0, 128);
        return true;
    }

    copyInto(image.image_v2, 0, readData, 0, tagoffset::ProductAreaSize);
    copyInto(image.image_legacy, 0, readData, 0, tagoffset::ProductAreaSize);
    if (chipCode == ChipP) {
        copyInto(image.image_v2, tagoffset::DriveArea, readData, tagoffset::DriveArea,
                 tagoffset::DriveAreaSize);
        copyInto(image.image_legacy, tagoffset::DriveArea, readData, tagoffset::DriveArea,
                 tagoffset::DriveAreaSize);
    } else {
        // The tag keeps both PWM words low byte first; the image keeps them big-endian.
        const int b = tagoffset::ProductAreaSize;
        auto& v2 = image.image_v2;
        v2[tagoffset::PwmBlock + 0] = byteAt(readData, b + 1);
        v2[tagoffset::PwmBlock + 1] = byteAt(readData, b + 0);
        v2[tagoffset::PwmBlock + 2] = byteAt(readData, b + 3);
        v2[tagoffset::PwmBlock + 3] = byteAt(readData, b + 2);
    }
    return true;
}

QByteArray modelFromRead(const QByteArray& readData)
{
    constexpr int offset = 3;
    if (readData.size() < offset + tagoffset::ModelNameSize)
        return {};
    return readData.mid(offset, tagoffset::ModelNameSize);
}

} // namespace tagfields
