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

void TagDocument::loadRead(const QByteArray& data, uint8_t readcnt, uint8_t chipCode,
                           const QByteArray& uidMsbFirst)
{
    m_chip_code = chipCode;
    if (readcnt == 7 || readcnt == 12 || readcnt == 3)
        tagfields::loadReadData(m_image, data, readcnt, chipCode);
    // A drive-bank read leaves the product area, and with it the channel count, as it was.
    const bool driveBank = readcnt == 3;
    prepareBankBuffer();
    showPanels(!driveBank);
    if (!driveBank)
        setOrigin(From::Driver, QString::fromLatin1(uidMsbFirst.toHex().toUpper()),
                  KindFrom::Driver);
    emit loaded(driveBank ? Source::DriveBankRead : Source::Read);
}

configfile::LoadResult TagDocument::loadFile(const QByteArray& bytes, const QString& name,
                                             uint8_t lastDriverKind)
{
    TagImage image = m_image;
    const configfile::LoadResult result = configfile::loadConfig(bytes, image);
    if (!result.ok())
        return result;
    const uint8_t told = configfile::kindFromContent(bytes);
    const uint8_t kind = told ? told : lastDriverKind ? lastDriverKind : tagfields::ChipP;
    m_image = image;
    m_chip_code = kind;
    prepareBankBuffer();
    showPanels(true);
    setOrigin(From::File, name,
              told             ? KindFrom::FileContent
              : lastDriverKind ? KindFrom::LastDriver
                               : KindFrom::Assumed);
    emit loaded(Source::File);
    return result;
}

void TagDocument::loadImage(const TagImage& image, uint8_t kind, const QString& name)
{
    m_image = image;
    m_chip_code = kind;
    prepareBankBuffer();
    showPanels(true);
    setOrigin(From::File, name, KindFrom::FileContent);
    emit loaded(Source::File);
}

void TagDocument::savedAs(const QString& name)
{
    m_origin.from = From::File;
    m_origin.name = name;
    m_origin.edited = false;
    emit originChanged();
}

void TagDocument::setOrigin(From from, const QString& name, KindFrom kindFrom)
{
    m_origin = Origin{from, name, kindFrom, false};
    emit originChanged();
}

void TagDocument::markEdited()
{
    // Before anything is loaded the start image is nobody's configuration.
    if (m_origin.from == From::Nothing || m_origin.edited)
        return;
    m_origin.edited = true;
    emit originChanged();
}

void TagDocument::showPanels(bool fromProductArea)
{
    if (fromProductArea)
        showDriverType(tagfields::productInfo(m_image).driverType);
    else
        showChannels(m_channel_count);
    const tagfields::DriveInfo drive = tagfields::driveInfo(m_image);
    storeColourTemperature(drive.cctWarmest, drive.cctCoolest);
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
    const uint16_t value = ranged ? qBound(c.minimum, mA, c.maximum) : mA;
    if (value == m_currents[size_t(index)])
        return;
    m_currents[size_t(index)] = value;
    markEdited();
}

void TagDocument::setColourTemperature(uint16_t warmest, uint16_t coolest)
{
    const uint16_t before[] = {m_cct_warmest, m_cct_coolest};
    storeColourTemperature(warmest, coolest);
    if (before[0] != m_cct_warmest || before[1] != m_cct_coolest)
        markEdited();
}

void TagDocument::storeColourTemperature(uint16_t warmest, uint16_t coolest)
{
    m_cct_coolest = qBound(kCctLowest, coolest, kCctHighest);
    m_cct_warmest = std::min(qBound(kCctLowest, warmest, kCctHighest), m_cct_coolest);
}

void TagDocument::changeImage(const std::function<void(TagImage&)>& change)
{
    const TagImage::Bytes before = m_image.image_v2;
    change(m_image);
    emit imageChanged();
    if (m_image.image_v2 != before)
        markEdited();
}

void TagDocument::setLumenTable(const constlumen::Points& times, const constlumen::Points& levels)
{
    changeImage([&](TagImage& image) {
        constlumen::storeTimes(image, times);
        constlumen::storeLevels(image, levels);
    });
}

void TagDocument::setLumenTimes(const constlumen::Points& times)
{
    changeImage([&](TagImage& image) { constlumen::storeTimes(image, times); });
}

void TagDocument::setLumenEnabled(bool on)
{
    changeImage([on](TagImage& image) { constlumen::setEnabled(image, on); });
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
