#include "readers/sim/demodrivers.h"

#include <array>

namespace demodrivers
{
namespace
{

// Field offsets of the driver's tag memory, written out here rather than taken from the
// model so that the model's decoding is checked against an independent encoder.
constexpr int Gtin = 67;
constexpr int FirmwareMajor = 73;
constexpr int HardwareMajor = 83;
constexpr int LogicalUnits = 89; // number of output channels
constexpr int LegacyMax = 96;
constexpr int LegacyMin = 104;
constexpr int MaxCurrent = 112;
constexpr int MinCurrent = 114;
constexpr int FixtureNumber = 176;
constexpr int FixtureSuffix = 180;
constexpr int LayoutCode = 183;
constexpr int DriverType = 192;
constexpr int ModelName = 195;
constexpr int ModelNameSize = 32;
constexpr int Current1 = 264;
constexpr int CloEnable = 267;
constexpr int CloLevels = 268;
constexpr int CloTimes = 284;
constexpr int CctCoolest = 302;
constexpr int CctWarmest = 304;
constexpr int GearTimeV2 = 332;
constexpr int LoadTimeV2 = 336;
constexpr int GearTimeLegacy = 448;
constexpr int LoadTimeLegacy = 452;
constexpr int LastCurrent = 490;

// DALI memory bank 0 header: address of the last accessible byte, last accessible bank.
constexpr int Bank0 = 64;

class Writer
{
  public:
    explicit Writer(int size) : m_bytes(size, '\0') {}

    void u8(int offset, uint8_t v) { put(offset, v); }
    void u16(int offset, uint16_t v)
    {
        put(offset, uint8_t(v >> 8));
        put(offset + 1, uint8_t(v));
    }
    void u32(int offset, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            put(offset + i, uint8_t(v >> (8 * (3 - i))));
    }
    void u48(int offset, quint64 v)
    {
        for (int i = 0; i < 6; ++i)
            put(offset + i, uint8_t(v >> (8 * (5 - i))));
    }
    void text(int offset, const char* s, int width)
    {
        const QByteArray latin = QByteArray(s).left(width);
        for (int i = 0; i < latin.size(); ++i)
            put(offset + i, uint8_t(latin[i]));
    }
    QByteArray bytes() const { return m_bytes; }

  private:
    void put(int offset, uint8_t v)
    {
        // Offsets past the memory (the drive area of a PWM tag) are simply not stored.
        if (offset >= 0 && offset < m_bytes.size())
            m_bytes[offset] = char(v);
    }
    QByteArray m_bytes;
};

struct Identity {
    const char* model;
    quint64 gtin;
    uint8_t fwMajor, fwMinor, hwMajor, hwMinor;
    uint32_t fixture;
    uint8_t fixtureSuffix;
    uint8_t driverType;
};

void writeIdentity(Writer& w, const Identity& id, uint8_t channels, uint8_t layout)
{
    w.u8(Bank0, 0x7F);
    w.u8(Bank0 + 2, 0x03);
    w.u48(Gtin, id.gtin);
    w.u8(FirmwareMajor, id.fwMajor);
    w.u8(FirmwareMajor + 1, id.fwMinor);
    w.u8(HardwareMajor, id.hwMajor);
    w.u8(HardwareMajor + 1, id.hwMinor);
    w.u8(LogicalUnits, channels);
    w.u32(FixtureNumber, id.fixture);
    w.u8(FixtureSuffix, id.fixtureSuffix);
    w.u8(LayoutCode, layout);
    w.u8(DriverType, id.driverType);
    w.text(ModelName, id.model, ModelNameSize);
}

// A CLO curve that starts at 80 % and reaches full output late in life.
constexpr std::array<uint8_t, 16> kCloTimes = {0,  6,  12, 18, 24, 30, 36, 42,
                                               48, 54, 60, 66, 72, 78, 84, 90};
constexpr std::array<uint8_t, 16> kCloLevels = {80, 82, 83, 85, 86, 88, 89, 90,
                                                92, 93, 94, 96, 97, 98, 99, 100};

void writeClo(Writer& w)
{
    w.u8(CloEnable, 0xAA);
    for (int i = 0; i < 16; ++i) {
        w.u8(CloLevels + i, kCloLevels[size_t(i)]);
        w.u8(CloTimes + i, kCloTimes[size_t(i)]);
    }
}

void writeLayout2Currents(Writer& w, uint16_t min, uint16_t max, uint16_t current)
{
    w.u16(MaxCurrent, max);
    w.u16(MinCurrent, min);
    w.u16(Current1, current);
    w.u16(LastCurrent, uint16_t(current - 1));
}

QByteArray dt8(const Identity& id, uint16_t min, uint16_t max, uint16_t current, uint32_t gearHours,
               uint32_t loadHours)
{
    Writer w(512);
    writeIdentity(w, id, 1, 2);
    writeLayout2Currents(w, min, max, current);
    writeClo(w);
    w.u16(CctCoolest, 6500);
    w.u16(CctWarmest, 2700);
    w.u32(GearTimeV2, gearHours);
    w.u32(LoadTimeV2, loadHours);
    return w.bytes();
}

const Identity kDt8{"VDR-40-700 DALI-2 DT8 TW", 4260712340016ULL, 2, 3, 1, 4, 1410010001, 1, 0x08};
const Identity kDt6{"VDR-25-500 DALI-2 DT6", 4260712340023ULL, 1, 8, 1, 2, 1410020007, 2, 0x06};
const Identity kLegacy{"VDR-3x350 RGB", 4260712340030ULL, 1, 1, 1, 0, 1310030012, 1, 0x38};
const Identity kPwm{"VPW-20-700 PWM", 4260712340047ULL, 1, 0, 2, 1, 1510040003, 1, 0x00};
const Identity kOther{
    "VDR-60-1050 DALI-2 DT8 TW", 4260712340054ULL, 3, 1, 2, 0, 1410050021, 3, 0x08};

// PWM block: period 1000, pulse 500 with the output-enable bit; 350 mA at 700 mA maximum.
constexpr uint16_t kPwmPeriod = 1000;
constexpr uint16_t kPwmPulse = 0x8000 | 500;

} // namespace

QVector<Info> all()
{
    return {info(Kind::Dt8), info(Kind::Dt6), info(Kind::Legacy3Ch), info(Kind::Pwm),
            info(Kind::OtherModel)};
}

Info info(Kind kind)
{
    switch (kind) {
    case Kind::Dt8:
        return {kind, QStringLiteral("DT8 tunable white (layout 2)"), kDt8.model};
    case Kind::Dt6:
        return {kind, QStringLiteral("DT6 single colour (layout 2)"), kDt6.model};
    case Kind::Legacy3Ch:
        return {kind, QStringLiteral("Three channels (legacy layout)"), kLegacy.model};
    case Kind::Pwm:
        return {kind, QStringLiteral("PWM tag '8' (block 248)"), kPwm.model};
    case Kind::OtherModel:
        return {kind, QStringLiteral("DT8 of another model"), kOther.model};
    }
    return {kind, QString(), QString()};
}

QByteArray memory(Kind kind)
{
    switch (kind) {
    case Kind::Dt8:
        return dt8(kDt8, 50, 700, 350, 12345, 11890);
    case Kind::OtherModel:
        return dt8(kOther, 150, 1050, 900, 420, 398);
    case Kind::Dt6: {
        Writer w(512);
        writeIdentity(w, kDt6, 1, 2);
        writeLayout2Currents(w, 100, 500, 250);
        writeClo(w);
        w.u32(GearTimeV2, 8760);
        w.u32(LoadTimeV2, 8100);
        return w.bytes();
    }
    case Kind::Legacy3Ch: {
        Writer w(512);
        writeIdentity(w, kLegacy, 3, 3);
        const std::array<uint16_t, 3> max = {350, 350, 500};
        const std::array<uint16_t, 3> min = {100, 100, 150};
        const std::array<uint16_t, 3> current = {300, 250, 450};
        for (int ch = 0; ch < 3; ++ch) {
            w.u16(LegacyMax + 2 * ch, max[size_t(ch)]);
            w.u16(LegacyMin + 2 * ch, min[size_t(ch)]);
            w.u16(Current1 + 2 * ch, current[size_t(ch)]);
        }
        w.u32(GearTimeLegacy, 30210);
        w.u32(LoadTimeLegacy, 29876);
        return w.bytes();
    }
    case Kind::Pwm: {
        // The PWM tag has only the product area (64 blocks).
        Writer w(256);
        writeIdentity(w, kPwm, 1, 2);
        w.u16(MaxCurrent, 700);
        w.u16(MinCurrent, 100);
        return w.bytes();
    }
    }
    return QByteArray();
}

QByteArray pwmBlock(Kind kind)
{
    if (kind != Kind::Pwm)
        return QByteArray();
    QByteArray block(4, '\0');
    block[0] = char(kPwmPeriod & 0xFF);
    block[1] = char(kPwmPeriod >> 8);
    block[2] = char(kPwmPulse & 0xFF);
    block[3] = char(kPwmPulse >> 8);
    return block;
}

QByteArray configurationFile(Kind kind)
{
    QByteArray bytes = memory(kind).leftJustified(FileSize, '\0');
    const QByteArray block = pwmBlock(kind);
    if (block.size() == 4) {
        // Each word of the tag's block, low byte first, is kept high byte first.
        bytes[248] = block[1];
        bytes[249] = block[0];
        bytes[250] = block[3];
        bytes[251] = block[2];
    }
    return bytes;
}

std::shared_ptr<VirtualTag> makeTag(Kind kind, quint64 serial)
{
    const bool pwm = kind == Kind::Pwm;
    auto tag =
        std::make_shared<VirtualTag>(pwm ? VirtualTag::Kind::Pwm : VirtualTag::Kind::P, serial);
    tag->setMemory(memory(kind));
    if (pwm)
        tag->setBlock(VirtualTag::PwmControlBlock, pwmBlock(kind));
    return tag;
}

std::shared_ptr<VirtualTag> tagFromImage(const QByteArray& bytes, quint64 serial, QString* error)
{
    if (bytes.size() < FileSize) {
        if (error)
            *error = QStringLiteral("A driver image must have %1 bytes; this one has %2.")
                         .arg(FileSize)
                         .arg(bytes.size());
        return nullptr;
    }
    auto tag = std::make_shared<VirtualTag>(VirtualTag::Kind::P, serial);
    tag->setMemory(bytes.left(FileSize));
    return tag;
}

} // namespace demodrivers
