#pragma once

#include "model/tagimage.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

/// Tag byte offsets of the fields the program reads or edits (same in both copies).
namespace tagoffset
{
constexpr int ProductArea = 0;
constexpr int ProductAreaSize = 256;
constexpr int DriveArea = 256;
constexpr int DriveAreaSize = 256;
constexpr int Gtin = 67; // 6 bytes BE
constexpr int SoftwareMajor = 73;
constexpr int SoftwareMinor = 74;
constexpr int HardwareMajor = 83;
constexpr int HardwareMinor = 84;
constexpr int ChannelCount = 89;
constexpr int LegacyMaxCurrent = 96;  // 3 x u16 BE
constexpr int LegacyMinCurrent = 104; // 3 x u16 BE
constexpr int MaxCurrent = 112;       // layout 2 and '8' tags
constexpr int MinCurrent = 114;
constexpr int FixtureNumber = 176; // u32 BE
constexpr int FixtureSuffix = 180;
constexpr int LayoutCode = 183;
constexpr int DriverType = 192;
constexpr int ModelName = 195;
constexpr int ModelNameSize = 32;
constexpr int PwmBlock = 248; // '8' tags: period, pulse
constexpr int AutoWriteWord = 260;
constexpr int Current1 = 264;
constexpr int Current2 = 266; // legacy layout
constexpr int Current3 = 268; // legacy layout
constexpr int CloEnable = 267;
constexpr int CloLevels = 268;
constexpr int CloTimes = 284;
constexpr int CloPoints = 16;
constexpr int CctCoolest = 302;
constexpr int CctWarmest = 304;
constexpr int GearTimeV2 = 332;
constexpr int LoadTimeV2 = 336;
constexpr int GearTimeLegacy = 448;
constexpr int LoadTimeLegacy = 452;
constexpr int LastCurrent = 490;
} // namespace tagoffset

namespace tagfields
{

constexpr uint8_t ChipP = 0x50;   ///< 512-byte tag
constexpr uint8_t ChipPwm = 0x38; ///< product area plus PWM block 248
constexpr uint8_t LayoutV2 = 2;
constexpr uint8_t LayoutLegacy = 3; ///< the legacy value written by older tools

/// Output-current range of one channel, mA.
struct CurrentRange {
    uint16_t minimum = 0;
    uint16_t maximum = 0;
    bool operator==(const CurrentRange& o) const
    {
        return minimum == o.minimum && maximum == o.maximum;
    }
};

/// The texts and values of the product half of the device-data panel.
struct ProductInfo {
    QString model;     ///< Productlabel
    QString fixtureId; ///< labelDeviceCode, "number-suffix"
    uint8_t driverType = 0;
    QString hardware; ///< labelHardware, "a.b"
    QString software; ///< labelSoftware, "a.b"
    QString gtin;     ///< labelGTIN, decimal
    uint8_t layoutCode = 0;
    uint8_t channelCount = 1; ///< byte 89, 0 taken as 1 (before the layout-2 rule)
    /// Ranges per channel for the layout: layout 2 fills channel 1 only (112/114 of
    /// image_v2); the legacy layout fills all three from image_legacy.
    std::array<CurrentRange, 3> currentRanges{};
};

/// The values of the drive half of the panels.
struct DriveInfo {
    bool cloEnabled = false;             ///< byte 267 non-zero
    std::array<uint8_t, 16> cloLevels{}; ///< 268..283
    std::array<uint8_t, 16> cloTimes{};  ///< 284..299
    uint16_t cctCoolest = 0;             ///< 302..303
    uint16_t cctWarmest = 0;             ///< 304..305
    uint32_t gearTime = 0;               ///< hours, by layout
    uint32_t loadTime = 0;
    QString gearTimeText; ///< label_GearOperatingTime, "123h"
    QString loadTimeText; ///< label_LoadOperatingTime
};

/// Model name text: bytes 195..226 of image_v2 up to the first zero.
QString modelName(const TagImage& image);
/// The raw 32-byte model-name field of image_v2 (for model comparisons).
QByteArray modelNameField(const TagImage& image);
/// Channel count from byte 89 with 0 taken as 1.
uint8_t channelsFromTag(const TagImage& image);
/// Range text of the device-data panel, e.g. "50-400mA".
QString rangeText(CurrentRange range);
/// Reads everything Update_Product_Info shows.
ProductInfo productInfo(const TagImage& image);
/// Reads everything Update_Drive_Info shows; operating times from the layout's copy.
DriveInfo driveInfo(const TagImage& image);

/// Last-current word: image_v2[490..491] = channel-1 current minus 1 (mod 65536).
void judgeLastCurrent(TagImage& image);
/// Rebuilds bank_buffer: layout 2 runs judgeLastCurrent and copies image_v2, any other
/// layout code copies image_legacy.
void updateBankBuff(TagImage& image);

/// Bytes a completed read must hold: readcnt 7/12 -> 512 for a 'P' chip, 260 otherwise
/// (product area plus block 248); readcnt 3 -> 128; anything else 0 (not an image read).
int requiredReadSize(uint8_t readcnt, uint8_t chipCode);
/// Loads a completed read into the image. readcnt 7 or 12: bytes 0..255 into both
/// copies, then 256..511 into both for a 'P' chip, or block 248 (swapped per word) into
/// image_v2 248..251 for any other chip. readcnt 3: 128 bytes into 256..383 of both.
/// Returns false, leaving the image unchanged, when the data is too short or readcnt
/// names no image read.
bool loadReadData(TagImage& image, const QByteArray& readData, uint8_t readcnt, uint8_t chipCode);
/// The 32-byte model name of a model-name read (offset 3), or empty when too short.
QByteArray modelFromRead(const QByteArray& readData);

} // namespace tagfields
