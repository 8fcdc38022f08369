#include "model/currents.h"

#include "model/codecs.h"
#include "model/modellog.h"

namespace currents
{

using codecs::readU16;
using codecs::writeU16;

QString driverTypeText(uint8_t code)
{
    switch (code) {
    case 0x00:
        return QStringLiteral("ONOFF");
    case 0x06:
        return QStringLiteral("DT6");
    case 0x08:
        return QStringLiteral("DT8");
    case 0x38:
        return QStringLiteral("DT8(TC+RGB)");
    case 0x48:
        return QStringLiteral("DT8(TC+RGBW)");
    case 0x68:
        return QStringLiteral("DT8(TC+RGBWAF)");
    default:
        return {};
    }
}

uint8_t channelCount(const TagImage& image)
{
    return image.isLayout2() ? 1 : tagfields::channelsFromTag(image);
}

PanelPlan changeParamEnable(const TagImage& image, uint8_t deviceType)
{
    PanelPlan plan;
    plan.typeText = driverTypeText(deviceType);
    plan.channelCount = channelCount(image);
    if (image.isLayout2()) {
        plan.showClo = deviceType == 0x06 || deviceType == 0x08;
        plan.showCct = deviceType == 0x08;
        plan.expandSpacer = !plan.showCct;
    }
    return plan;
}

uint16_t pwmCurrent(uint16_t maximum, uint16_t period, uint16_t pulseWord)
{
    if (period == 0)
        return 0;
    const uint32_t pulse = pulseWord & 0x7FFFu;
    const auto duty = static_cast<uint16_t>(pulse * 10000u / period);
    return static_cast<uint16_t>(uint64_t(maximum) * duty / 10000u);
}

ChannelDisplay displayCurrentChannel(const TagImage& image, uint8_t nums, uint8_t chipCode)
{
    ChannelDisplay out;
    if (nums == 1 && chipCode != tagfields::ChipP) {
        const auto& v2 = image.image_v2;
        out.widgets = 1;
        out.fromPwmBlock = true;
        out.pwmPeriod = readU16(v2, tagoffset::PwmBlock);
        qCDebug(lcModel) << "pwm period" << out.pwmPeriod;
        auto& ch = out.channels[0];
        ch.maximum = readU16(v2, tagoffset::MaxCurrent);
        ch.minimum = readU16(v2, tagoffset::MinCurrent);
        ch.current = pwmCurrent(ch.maximum, out.pwmPeriod, readU16(v2, tagoffset::PwmBlock + 2));
        return out;
    }
    if (nums == 1) {
        auto& ch = out.channels[0];
        if (image.isLayout2()) {
            ch.maximum = readU16(image.image_v2, tagoffset::MaxCurrent);
            ch.minimum = readU16(image.image_v2, tagoffset::MinCurrent);
            ch.current = readU16(image.image_v2, tagoffset::Current1);
        } else {
            ch.maximum = readU16(image.image_legacy, tagoffset::LegacyMaxCurrent);
            ch.minimum = readU16(image.image_legacy, tagoffset::LegacyMinCurrent);
            ch.current = readU16(image.image_legacy, tagoffset::Current1);
        }
    } else if (nums == 2 || nums == 3) {
        for (int i = 0; i < nums; ++i) {
            auto& ch = out.channels[size_t(i)];
            ch.maximum = readU16(image.image_legacy, tagoffset::LegacyMaxCurrent + 2 * i);
            ch.minimum = readU16(image.image_legacy, tagoffset::LegacyMinCurrent + 2 * i);
            ch.current = readU16(image.image_legacy, tagoffset::Current1 + 2 * i);
        }
    } else {
        return out;
    }
    out.widgets = nums;
    out.setRangeRows = true;
    out.rangeRows = nums;
    for (int i = 0; i < nums; ++i) {
        const auto& ch = out.channels[size_t(i)];
        out.rangeTexts[size_t(i)] = tagfields::rangeText({ch.minimum, ch.maximum});
    }
    return out;
}

void changeCurrent(TagImage& image, uint8_t channel, const std::array<uint16_t, 3>& values)
{
    if (channel == 1) {
        writeU16(image.image_v2, tagoffset::Current1, values[0]);
        writeU16(image.image_legacy, tagoffset::Current1, values[0]);
    } else if (channel == 2 || channel == 3) {
        for (int i = 0; i < channel; ++i)
            writeU16(image.image_legacy, tagoffset::Current1 + 2 * i, values[size_t(i)]);
    }
}

uint16_t pwmPulse(uint16_t current, uint16_t maximum, uint16_t period)
{
    const uint32_t max = maximum == 0 ? 1u : maximum;
    const auto ratio = static_cast<uint16_t>(uint32_t(current) * 10000u / max);
    const auto pulse = static_cast<uint16_t>(uint64_t(ratio) * period / 10000u);
    return static_cast<uint16_t>(pulse | 0x8000u);
}

uint16_t changeST25DV02KPwm1(TagImage& image, uint16_t pwmPeriod, uint16_t current1)
{
    auto& v2 = image.image_v2;
    uint16_t max = readU16(v2, tagoffset::MaxCurrent);
    if (max == 0)
        max = 1;
    qCDebug(lcModel) << "pwm maximum current" << max;
    const uint16_t pulse = pwmPulse(current1, max, pwmPeriod);
    // The image keeps the block as a read of the tag gives it, so that the display, a
    // saved file and the next write all read the same words; only the write swaps them.
    v2[tagoffset::PwmBlock + 0] = uint8_t(pwmPeriod >> 8);
    v2[tagoffset::PwmBlock + 1] = uint8_t(pwmPeriod & 0xFF);
    v2[tagoffset::PwmBlock + 2] = uint8_t(pulse >> 8);
    v2[tagoffset::PwmBlock + 3] = uint8_t(pulse & 0xFF);
    tagfields::updateBankBuff(image);
    return max;
}

QByteArray pwmBlockTagOrder(const QByteArray& imageBytes)
{
    if (imageBytes.size() < 4)
        return {};
    QByteArray block(4, '\0');
    block[0] = imageBytes.at(1);
    block[1] = imageBytes.at(0);
    block[2] = imageBytes.at(3);
    block[3] = static_cast<char>(uint8_t(imageBytes.at(2)) | 0x80); // output enable
    return block;
}

} // namespace currents
