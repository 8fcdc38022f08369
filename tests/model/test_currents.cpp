// Driver types, panel plan, channel settings, PWM arithmetic, current write-back and CCT.
#include "model/codecs.h"
#include "model/colortemp.h"
#include "model/currents.h"
#include "model/tagimage.h"

#include <QtTest>

using namespace currents;
using codecs::readU16;
using codecs::writeU16;

namespace
{

QByteArray slice(const TagImage::Bytes& b, int from, int count)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()) + from, count);
}

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (int b : list)
        out.append(char(b));
    return out;
}

// A legacy-style range table and currents in image_legacy, a layout-2 set in image_v2.
TagImage imageWithCurrents(uint8_t layout)
{
    TagImage img;
    img.image_v2[183] = layout;
    writeU16(img.image_v2, 112, 700);
    writeU16(img.image_v2, 114, 100);
    writeU16(img.image_v2, 264, 350);
    for (int i = 0; i < 3; ++i) {
        writeU16(img.image_legacy, 96 + 2 * i, uint16_t(400 + 100 * i));
        writeU16(img.image_legacy, 104 + 2 * i, uint16_t(50 + 10 * i));
        writeU16(img.image_legacy, 264 + 2 * i, uint16_t(200 + i));
    }
    return img;
}

} // namespace

class TestCurrents : public QObject
{
    Q_OBJECT

  private slots:
    void driverTypeText_data();
    void driverTypeText();
    void panelPlan_data();
    void panelPlan();
    void display_pTag_oneChannel_byLayout();
    void display_twoAndThreeChannels_fromLegacyCopy();
    void display_otherCounts_showNothing_data();
    void display_otherCounts_showNothing();
    void display_pwmTag_derivesCurrent();
    void pwmCurrent_data();
    void pwmCurrent();
    void changeCurrent_byChannelCount_data();
    void changeCurrent_byChannelCount();
    void pwmPulse_data();
    void pwmPulse();
    void changePwm_composesTagOrder();
    void changePwm_thenDisplay_roundTrips();

    void cct_storeAndRead();
};

void TestCurrents::driverTypeText_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0x00 << QStringLiteral("ONOFF");
    QTest::newRow("6") << 0x06 << QStringLiteral("DT6");
    QTest::newRow("8") << 0x08 << QStringLiteral("DT8");
    QTest::newRow("38") << 0x38 << QStringLiteral("DT8(TC+RGB)");
    QTest::newRow("48") << 0x48 << QStringLiteral("DT8(TC+RGBW)");
    QTest::newRow("68") << 0x68 << QStringLiteral("DT8(TC+RGBWAF)");
    QTest::newRow("20 unknown") << 0x20 << QString();
    QTest::newRow("ff unknown") << 0xFF << QString();
}

void TestCurrents::driverTypeText()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    const QString got = currents::driverTypeText(uint8_t(code));
    QCOMPARE(got, text);
    QCOMPARE(got.isNull(), text.isNull());
}

void TestCurrents::panelPlan_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("byte89");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("clo");
    QTest::addColumn<bool>("cct");
    QTest::addColumn<bool>("expand");

    QTest::newRow("v2 DT8 byte89 3") << 2 << 8 << 3 << 1 << true << true << false;
    QTest::newRow("v2 DT6") << 2 << 6 << 2 << 1 << true << false << true;
    QTest::newRow("v2 ONOFF") << 2 << 0 << 0 << 1 << false << false << true;
    QTest::newRow("v2 RGB") << 2 << 0x38 << 3 << 1 << false << false << true;
    QTest::newRow("v2 unknown") << 2 << 0x20 << 3 << 1 << false << false << true;
    QTest::newRow("legacy DT8 byte89 2") << 3 << 8 << 2 << 2 << false << false << true;
    QTest::newRow("legacy DT6 byte89 3") << 3 << 6 << 3 << 3 << false << false << true;
    QTest::newRow("legacy byte89 0") << 3 << 0 << 0 << 1 << false << false << true;
    QTest::newRow("layout 0 byte89 2") << 0 << 8 << 2 << 2 << false << false << true;
}

void TestCurrents::panelPlan()
{
    QFETCH(int, layout);
    QFETCH(int, type);
    QFETCH(int, byte89);
    QFETCH(int, count);
    QFETCH(bool, clo);
    QFETCH(bool, cct);
    QFETCH(bool, expand);
    TagImage img;
    img.image_v2[183] = uint8_t(layout);
    img.image_v2[89] = uint8_t(byte89);
    const PanelPlan plan = changeParamEnable(img, uint8_t(type));
    QCOMPARE(int(plan.channelCount), count);
    QCOMPARE(int(channelCount(img)), count);
    QCOMPARE(plan.showClo, clo);
    QCOMPARE(plan.showCct, cct);
    QCOMPARE(plan.expandSpacer, expand);
    QCOMPARE(plan.typeText, currents::driverTypeText(uint8_t(type)));
}

void TestCurrents::display_pTag_oneChannel_byLayout()
{
    TagImage img = imageWithCurrents(2);
    ChannelDisplay d = displayCurrentChannel(img, 1, 0x50);
    QCOMPARE(int(d.widgets), 1);
    QVERIFY(d.setRangeRows);
    QCOMPARE(int(d.rangeRows), 1);
    QVERIFY(!d.fromPwmBlock);
    QCOMPARE(d.channels[0], (ChannelSetting{100, 700, 350}));
    QCOMPARE(d.rangeTexts[0], QStringLiteral("100-700mA"));

    img.image_v2[183] = 3;
    d = displayCurrentChannel(img, 1, 0x50);
    QCOMPARE(d.channels[0], (ChannelSetting{50, 400, 200}));
    QCOMPARE(d.rangeTexts[0], QStringLiteral("50-400mA"));
}

void TestCurrents::display_twoAndThreeChannels_fromLegacyCopy()
{
    // Even in layout 2 the multi-channel fields come from the legacy copy.
    for (uint8_t layout : {uint8_t(2), uint8_t(3)}) {
        const TagImage img = imageWithCurrents(layout);
        ChannelDisplay d = displayCurrentChannel(img, 2, 0x50);
        QCOMPARE(int(d.widgets), 2);
        QCOMPARE(int(d.rangeRows), 2);
        QCOMPARE(d.channels[0], (ChannelSetting{50, 400, 200}));
        QCOMPARE(d.channels[1], (ChannelSetting{60, 500, 201}));
        QCOMPARE(d.channels[2], ChannelSetting{});
        QCOMPARE(d.rangeTexts[1], QStringLiteral("60-500mA"));
        QVERIFY(d.rangeTexts[2].isEmpty());

        d = displayCurrentChannel(img, 3, 0x38); // chip code only matters for one channel
        QCOMPARE(int(d.widgets), 3);
        QCOMPARE(int(d.rangeRows), 3);
        QCOMPARE(d.channels[2], (ChannelSetting{70, 600, 202}));
        QCOMPARE(d.rangeTexts[2], QStringLiteral("70-600mA"));
    }
}

void TestCurrents::display_otherCounts_showNothing_data()
{
    QTest::addColumn<int>("nums");
    QTest::newRow("0") << 0;
    QTest::newRow("4") << 4;
    QTest::newRow("255") << 255;
}

void TestCurrents::display_otherCounts_showNothing()
{
    QFETCH(int, nums);
    const ChannelDisplay d = displayCurrentChannel(imageWithCurrents(3), uint8_t(nums), 0x50);
    QCOMPARE(int(d.widgets), 0);
    QVERIFY(!d.setRangeRows);
    QCOMPARE(d.channels[0], ChannelSetting{});
}

void TestCurrents::display_pwmTag_derivesCurrent()
{
    TagImage img = imageWithCurrents(3); // '8' tags read 112/114 of image_v2 in any layout
    // Period 1000 and pulse 500 with the enable bit, in the read (big-endian) form.
    img.image_v2[248] = 0x03;
    img.image_v2[249] = 0xE8;
    img.image_v2[250] = 0x81;
    img.image_v2[251] = 0xF4;
    const ChannelDisplay d = displayCurrentChannel(img, 1, 0x38);
    QCOMPARE(int(d.widgets), 1);
    QVERIFY(d.fromPwmBlock);
    QVERIFY(!d.setRangeRows); // the range line keeps its state
    QCOMPARE(int(d.pwmPeriod), 1000);
    QCOMPARE(d.channels[0], (ChannelSetting{100, 700, 350}));
}

void TestCurrents::pwmCurrent_data()
{
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("pulse");
    QTest::addColumn<int>("current");
    QTest::newRow("half with enable bit") << 700 << 1000 << 0x81F4 << 350;
    QTest::newRow("half without enable bit") << 700 << 1000 << 0x01F4 << 350;
    QTest::newRow("period 0") << 700 << 0 << 0x81F4 << 0;
    QTest::newRow("truncates") << 700 << 3 << 1 << 233; // duty 3333
    QTest::newRow("full") << 65535 << 100 << 100 << 65535;
    // duty 200000 does not fit 16 bits: 200000 & 0xFFFF = 3392
    QTest::newRow("duty wraps") << 1000 << 100 << 2000 << 339;
}

void TestCurrents::pwmCurrent()
{
    QFETCH(int, max);
    QFETCH(int, period);
    QFETCH(int, pulse);
    QFETCH(int, current);
    QCOMPARE(int(currents::pwmCurrent(uint16_t(max), uint16_t(period), uint16_t(pulse))), current);
}

void TestCurrents::changeCurrent_byChannelCount_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<QByteArray>("v2");     // bytes 264..269 after
    QTest::addColumn<QByteArray>("legacy"); // bytes 264..269 after
    const QByteArray v2Before = bytes({0x01, 0x5E, 0, 0, 0, 0});
    const QByteArray legBefore = bytes({0, 200, 0, 201, 0, 202});
    QTest::newRow("1") << 1 << bytes({0x01, 0x2C, 0, 0, 0, 0})
                       << bytes({0x01, 0x2C, 0, 201, 0, 202});
    QTest::newRow("2") << 2 << v2Before << bytes({0x01, 0x2C, 0x01, 0x90, 0, 202});
    QTest::newRow("3") << 3 << v2Before << bytes({0x01, 0x2C, 0x01, 0x90, 0x01, 0xF4});
    QTest::newRow("0") << 0 << v2Before << legBefore;
    QTest::newRow("4") << 4 << v2Before << legBefore;
}

void TestCurrents::changeCurrent_byChannelCount()
{
    QFETCH(int, channels);
    QFETCH(QByteArray, v2);
    QFETCH(QByteArray, legacy);
    TagImage img = imageWithCurrents(2);
    changeCurrent(img, uint8_t(channels), {300, 400, 500});
    QCOMPARE(slice(img.image_v2, 264, 6), v2);
    QCOMPARE(slice(img.image_legacy, 264, 6), legacy);
}

void TestCurrents::pwmPulse_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("pulse");
    QTest::newRow("350 of 700") << 350 << 700 << 1000 << (0x8000 | 500);
    QTest::newRow("max 0 as 1") << 1 << 0 << 1000 << (0x8000 | 1000);
    QTest::newRow("zero current") << 0 << 700 << 1000 << 0x8000;
    // ratio 70000 truncates to 4464: pulse 446
    QTest::newRow("ratio wraps") << 7 << 1 << 1000 << (0x8000 | 446);
}

void TestCurrents::pwmPulse()
{
    QFETCH(int, current);
    QFETCH(int, max);
    QFETCH(int, period);
    QFETCH(int, pulse);
    QCOMPARE(int(currents::pwmPulse(uint16_t(current), uint16_t(max), uint16_t(period))), pulse);
}

void TestCurrents::changePwm_composesTagOrder()
{
    TagImage img = imageWithCurrents(2);
    const TagImage::Bytes legacyBefore = img.image_legacy;
    QCOMPARE(int(changeST25DV02KPwm1(img, 1000, 350)), 700);
    // The image keeps the read form; only what block 248 receives is in the tag's order.
    QCOMPARE(slice(img.image_v2, 248, 4), bytes({0x03, 0xE8, 0x81, 0xF4}));
    QCOMPARE(pwmBlockTagOrder(slice(img.image_v2, 248, 4)), bytes({0xE8, 0x03, 0xF4, 0x81}));
    QCOMPARE(pwmBlockTagOrder(bytes({0x03, 0xE8, 0x01, 0xF4})), bytes({0xE8, 0x03, 0xF4, 0x81}));
    QCOMPARE(img.image_legacy, legacyBefore);
    // The bank buffer was rebuilt from image_v2.
    QCOMPARE(img.bank_buffer, img.image_v2);

    writeU16(img.image_v2, 112, 0);
    QCOMPARE(int(changeST25DV02KPwm1(img, 1000, 1)), 1);
    QCOMPARE(slice(img.image_v2, 250, 2), bytes({0x83, 0xE8}));
}

void TestCurrents::changePwm_thenDisplay_roundTrips()
{
    // A composed block, read back from the tag (which swaps it), shows the same current.
    TagImage img = imageWithCurrents(2);
    changeST25DV02KPwm1(img, 2000, 420);
    const QByteArray read =
        slice(img.image_v2, 0, 256) + pwmBlockTagOrder(slice(img.image_v2, 248, 4));
    TagImage other;
    QVERIFY(tagfields::loadReadData(other, read, 7, 0x38));
    const ChannelDisplay d = displayCurrentChannel(other, 1, 0x38);
    QCOMPARE(int(d.pwmPeriod), 2000);
    QCOMPARE(int(d.channels[0].current), 420);
}

void TestCurrents::cct_storeAndRead()
{
    TagImage img;
    img.image_v2[183] = 3; // legacy layout still writes image_v2
    colortemp::storeCct(img, 2700, 6500);
    QCOMPARE(slice(img.image_v2, 302, 2), bytes({0x19, 0x64}));
    QCOMPARE(slice(img.image_v2, 304, 2), bytes({0x0A, 0x8C}));
    QCOMPARE(slice(img.image_legacy, 302, 4), bytes({0, 0, 0, 0}));
    QCOMPARE(int(colortemp::coolest(img)), 6500);
    QCOMPARE(int(colortemp::warmest(img)), 2700);
    QCOMPARE(img.image_v2[301], uint8_t(0));
    QCOMPARE(img.image_v2[306], uint8_t(0));
}

QTEST_APPLESS_MAIN(TestCurrents)
#include "test_currents.moc"
