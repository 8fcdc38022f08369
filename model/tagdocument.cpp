#include "model/tagdocument.h"

#include "model/colortemp.h"

#include <QtGlobal>
#include <algorithm>

namespace
{

// The colour-temperature boxes' range.
constexpr uint16_t kCctLowest = 1000;
constexpr uint16_t kCctHighest = 12000;

} // namespace

TagDocument::TagDocument(QObject* parent) : QObject(parent) {}

void TagDocument::loadRead(const QByteArray& data, uint8_t readcnt, uint8_t chipCode)
{
    m_chip_code = chipCode;
    if (readcnt == 7 || readcnt == 12 || readcnt == 3)
        tagfields::loadReadData(m_image, data, readcnt, chipCode);
    // A drive-bank read leaves the product area, and with it the channel count, as it was.
    const bool driveBank = readcnt == 3;
    prepareBankBuffer();
    showPanels(!driveBank);
    emit loaded(driveBank ? Source::DriveBankRead : Source::Read);
}

configfile::LoadResult TagDocument::loadFile(const QByteArray& bytes)
{
    TagImage image = m_image;
    const configfile::LoadResult result = configfile::loadConfig(bytes, image);
    if (!result.ok())
        return result;
    loadImage(image);
    return result;
}

void TagDocument::loadImage(const TagImage& image)
{
    m_image = image;
    prepareBankBuffer();
    showPanels(true);
    emit loaded(Source::File);
}

void TagDocument::showPanels(bool fromProductArea)
{
    if (fromProductArea)
        showDriverType(tagfields::productInfo(m_image).driverType);
    else
        showChannels(m_channel_count);
    const tagfields::DriveInfo drive = tagfields::driveInfo(m_image);
    setColourTemperature(drive.cctWarmest, drive.cctCoolest);
}

void TagDocument::showDriverType(uint8_t deviceType)
{
    m_plan = currents::changeParamEnable(m_image, deviceType);
    m_cct_offered = m_plan.showCct;
    showChannels(m_plan.channelCount);
}

void TagDocument::showChannels(uint8_t count)
{
    m_channel_count = count;
    m_display = currents::displayCurrentChannel(m_image, count, m_chip_code);
    if (m_display.widgets == 0)
        return;
    if (m_display.fromPwmBlock)
        m_pwm_period = m_display.pwmPeriod;
    for (int i = 0; i < m_display.widgets && i < 3; ++i) {
        const currents::ChannelSetting& c = m_display.channels[size_t(i)];
        // The channel widget holds its value inside the channel's range.
        m_currents[size_t(i)] =
            c.maximum >= c.minimum ? qBound(c.minimum, c.current, c.maximum) : c.current;
    }
}

void TagDocument::setChannelCurrent(int index, uint16_t mA)
{
    if (index < 0 || index > 2)
        return;
    const currents::ChannelSetting& c = m_display.channels[size_t(index)];
    const bool ranged = index < m_display.widgets && c.maximum >= c.minimum;
    m_currents[size_t(index)] = ranged ? qBound(c.minimum, mA, c.maximum) : mA;
}

void TagDocument::setColourTemperature(uint16_t warmest, uint16_t coolest)
{
    m_cct_coolest = qBound(kCctLowest, coolest, kCctHighest);
    m_cct_warmest = std::min(qBound(kCctLowest, warmest, kCctHighest), m_cct_coolest);
}

void TagDocument::setLumenTable(const constlumen::Points& times, const constlumen::Points& levels)
{
    constlumen::storeTimes(m_image, times);
    constlumen::storeLevels(m_image, levels);
    emit imageChanged();
}

void TagDocument::setLumenTimes(const constlumen::Points& times)
{
    constlumen::storeTimes(m_image, times);
    emit imageChanged();
}

void TagDocument::setLumenEnabled(bool on)
{
    constlumen::setEnabled(m_image, on);
    emit imageChanged();
}

void TagDocument::applyCurrents(uint8_t channels)
{
    currents::changeCurrent(m_image, channels, m_currents);
    emit imageChanged();
}

void TagDocument::applyColourTemperature()
{
    // A driver without the colour-temperature panel keeps the bytes it was read or opened
    // with.
    if (!m_cct_offered)
        return;
    colortemp::storeCct(m_image, m_cct_warmest, m_cct_coolest);
    emit imageChanged();
}

void TagDocument::applyPanels()
{
    applyCurrents(m_channel_count);
    applyColourTemperature();
}

uint16_t TagDocument::composePwmBlock()
{
    const uint16_t maximum = currents::changeST25DV02KPwm1(m_image, m_pwm_period, m_currents[0]);
    emit imageChanged();
    return maximum;
}

void TagDocument::prepareBankBuffer()
{
    tagfields::updateBankBuff(m_image);
}

void TagDocument::clearAutoWriteWord()
{
    std::fill_n(m_image.image_v2.begin() + tagoffset::AutoWriteWord, 4, 0);
    emit imageChanged();
}
