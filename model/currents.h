#pragma once

#include "model/tagfields.h"
#include "model/tagimage.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

// Output-current channels: driver types, panel plan, channel settings, the PWM block of
// '8' tags and the way edited currents go back into the image.
namespace currents
{

/// Text of a driver type code ("ONOFF", "DT6", ...); a null QString for unknown codes,
/// meaning the label keeps its previous text.
QString driverTypeText(uint8_t code);

/// Channel count for the image: 1 in layout 2, otherwise byte 89 with 0 taken as 1.
uint8_t channelCount(const TagImage& image);

/// Which panels ChangeParamEnable shows for a driver type. Everything is hidden first
/// (Hide_Option_Panels); this lists what comes back.
struct PanelPlan {
    QString typeText; ///< null: leave labelDeviceType as it is
    uint8_t channelCount = 1;
    bool showClo = false;     ///< CLOBoxwidget
    bool showCct = false;     ///< CctBoxwidget
    bool expandSpacer = true; ///< Set_Panel_Spacer argument after the panels are shown
};

/// The panel plan for the image and a driver type code (normally byte 192).
PanelPlan changeParamEnable(const TagImage& image, uint8_t deviceType);

/// One channel widget: its range and the current it shows (clamped by the widget).
struct ChannelSetting {
    uint16_t minimum = 0;
    uint16_t maximum = 0;
    uint16_t current = 0;
    bool operator==(const ChannelSetting& o) const
    {
        return minimum == o.minimum && maximum == o.maximum && current == o.current;
    }
};

/// What Display_Current_Channel shows for a channel count.
struct ChannelDisplay {
    uint8_t widgets = 0;       ///< channel widgets shown (1..3); 0: nothing changes
    bool setRangeRows = false; ///< false: range lines keep their state
    uint8_t rangeRows = 0;     ///< Show_Current_Range_Rows argument when setRangeRows
    std::array<ChannelSetting, 3> channels{};
    std::array<QString, 3> rangeTexts; ///< "50-400mA" for the range lines that are set
    bool fromPwmBlock = false;         ///< '8' tag: current derived from block 248
    uint16_t pwmPeriod = 0;            ///< the period to keep as pwm_period (fromPwmBlock only)
};

/// Channel widgets, ranges and values for a channel count and chip code.
ChannelDisplay displayCurrentChannel(const TagImage& image, uint8_t nums, uint8_t chipCode);

/// Current shown for an '8' tag: 0 when period is 0, else max * duty / 10000 with
/// duty = (pulse & 0x7FFF) * 10000 / period, both truncated to 16 bits.
uint16_t pwmCurrent(uint16_t maximum, uint16_t period, uint16_t pulseWord);

/// Stores the widget currents (mA) by channel count: 1 -> 264..265 of both copies;
/// 2 or 3 -> 264.. of image_legacy only; other counts change nothing.
void changeCurrent(TagImage& image, uint8_t channel, const std::array<uint16_t, 3>& values);

/// Pulse word for a current: ratio = current*10000/max (max 0 taken as 1), pulse =
/// ratio*period/10000, each truncated to 16 bits, with bit 15 (output enable) set.
uint16_t pwmPulse(uint16_t current, uint16_t maximum, uint16_t period);

/// Composes the PWM block in image_v2 248..251 from pwm_period and the channel-1 current,
/// in the form a read leaves there and files keep (period, pulse with bit 15, each high
/// byte first), then runs updateBankBuff. Returns the maximum current used (after 0 -> 1).
uint16_t changeST25DV02KPwm1(TagImage& image, uint16_t pwmPeriod, uint16_t current1);

/// What block 248 of the tag receives for the image's bytes 248..251 (period, pulse, high
/// bytes first): both words low byte first, the pulse with its output-enable bit set.
QByteArray pwmBlockTagOrder(const QByteArray& imageBytes);

} // namespace currents
