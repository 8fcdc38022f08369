#include "model/currents.h"
#include "model/tagfields.h"
#include "readers/sim/demodrivers.h"

#include <QtTest>

using demodrivers::Kind;

Q_DECLARE_METATYPE(demodrivers::Kind)

namespace
{

// The image the program holds after a complete read of the tag, loaded the way a read
// loads it: all 512 bytes of a 'P' tag, or the product area plus block 248 of an '8' tag.
TagImage readBack(const VirtualTag& tag)
{
    TagImage image;
    QByteArray data = tag.memory();
    const uint8_t chip = tag.productByte();
    if (chip != tagfields::ChipP)
        data += tag.block(VirtualTag::PwmControlBlock);
    const uint8_t readcnt = chip == tagfields::ChipP ? 12 : 7;
    if (!tagfields::loadReadData(image, data, readcnt, chip))
        qWarning("read data rejected");
    return image;
}

} // namespace

class TstDemoDrivers : public QObject
{
    Q_OBJECT

  private slots:
    void productInfo_decodes_data();
    void productInfo_decodes();
    void channels_decode_data();
    void channels_decode();
    void driveInfo_layout2_data();
    void driveInfo_layout2();
    void legacy_operatingTimesFromLegacyOffsets();
    void pwm_blockInTagOrderAndSwappedInImage();
    void models_differ();
    void menu_listsEveryKindOnce();
    void tagFromImage_sizes_data();
    void tagFromImage_sizes();
};

void TstDemoDrivers::productInfo_decodes_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("chip");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("gtin");
    QTest::addColumn<QString>("software");
    QTest::addColumn<QString>("hardware");
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<int>("layout");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("typeText");

    QTest::newRow("DT8") << Kind::Dt8 << 0x50 << "VDR-40-700 DALI-2 DT8 TW"
                         << "4260712340016"
                         << "2.3"
                         << "1.4"
                         << "1410010001-1" << 2 << 0x08 << "DT8";
    QTest::newRow("DT6") << Kind::Dt6 << 0x50 << "VDR-25-500 DALI-2 DT6"
                         << "4260712340023"
                         << "1.8"
                         << "1.2"
                         << "1410020007-2" << 2 << 0x06 << "DT6";
    QTest::newRow("legacy") << Kind::Legacy3Ch << 0x50 << "VDR-3x350 RGB"
                            << "4260712340030"
                            << "1.1"
                            << "1.0"
                            << "1310030012-1" << 3 << 0x38 << "DT8(TC+RGB)";
    QTest::newRow("PWM") << Kind::Pwm << 0x38 << "VPW-20-700 PWM"
                         << "4260712340047"
                         << "1.0"
                         << "2.1"
                         << "1510040003-1" << 2 << 0x00 << "ONOFF";
    QTest::newRow("other") << Kind::OtherModel << 0x50 << "VDR-60-1050 DALI-2 DT8 TW"
                           << "4260712340054"
                           << "3.1"
                           << "2.0"
                           << "1410050021-3" << 2 << 0x08 << "DT8";
}

void TstDemoDrivers::productInfo_decodes()
{
    QFETCH(Kind, kind);
    QFETCH(int, chip);
    QFETCH(QString, model);
    QFETCH(QString, gtin);
    QFETCH(QString, software);
    QFETCH(QString, hardware);
    QFETCH(QString, fixture);
    QFETCH(int, layout);
    QFETCH(int, type);
    QFETCH(QString, typeText);

    const auto tag = demodrivers::makeTag(kind, 7);
    QCOMPARE(int(tag->productByte()), chip);
    const TagImage image = readBack(*tag);
    const tagfields::ProductInfo info = tagfields::productInfo(image);
    QCOMPARE(info.model, model);
    QCOMPARE(demodrivers::info(kind).model, model);
    QCOMPARE(info.gtin, gtin);
    QCOMPARE(info.software, software);
    QCOMPARE(info.hardware, hardware);
    QCOMPARE(info.fixtureId, fixture);
    QCOMPARE(int(info.layoutCode), layout);
    QCOMPARE(int(info.driverType), type);
    QCOMPARE(currents::driverTypeText(info.driverType), typeText);
}

void TstDemoDrivers::channels_decode_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("clo");
    QTest::addColumn<bool>("cct");
    QTest::addColumn<QVector<int>>("settings"); // min, max, current per channel

    QTest::newRow("DT8") << Kind::Dt8 << 1 << true << true << QVector<int>{50, 700, 350};
    QTest::newRow("DT6") << Kind::Dt6 << 1 << true << false << QVector<int>{100, 500, 250};
    QTest::newRow("legacy") << Kind::Legacy3Ch << 3 << false << false
                            << QVector<int>{100, 350, 300, 100, 350, 250, 150, 500, 450};
    QTest::newRow("PWM") << Kind::Pwm << 1 << false << false << QVector<int>{100, 700, 350};
    QTest::newRow("other") << Kind::OtherModel << 1 << true << true << QVector<int>{150, 1050, 900};
}

void TstDemoDrivers::channels_decode()
{
    QFETCH(Kind, kind);
    QFETCH(int, channels);
    QFETCH(bool, clo);
    QFETCH(bool, cct);
    QFETCH(QVector<int>, settings);

    const auto tag = demodrivers::makeTag(kind, 3);
    const TagImage image = readBack(*tag);
    const tagfields::ProductInfo info = tagfields::productInfo(image);
    const currents::PanelPlan plan = currents::changeParamEnable(image, info.driverType);
    QCOMPARE(int(plan.channelCount), channels);
    QCOMPARE(plan.showClo, clo);
    QCOMPARE(plan.showCct, cct);

    const currents::ChannelDisplay shown =
        currents::displayCurrentChannel(image, plan.channelCount, tag->productByte());
    QCOMPARE(int(shown.widgets), channels);
    for (int ch = 0; ch < channels; ++ch) {
        const currents::ChannelSetting s = shown.channels[size_t(ch)];
        QCOMPARE(int(s.minimum), settings[3 * ch]);
        QCOMPARE(int(s.maximum), settings[3 * ch + 1]);
        QCOMPARE(int(s.current), settings[3 * ch + 2]);
    }
}

void TstDemoDrivers::driveInfo_layout2_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<bool>("cctSet");
    QTest::addColumn<QString>("gear");
    QTest::addColumn<QString>("load");
    QTest::newRow("DT8") << Kind::Dt8 << true << "12345h"
                         << "11890h";
    QTest::newRow("DT6") << Kind::Dt6 << false << "8760h"
                         << "8100h";
    QTest::newRow("other") << Kind::OtherModel << true << "420h"
                           << "398h";
}

void TstDemoDrivers::driveInfo_layout2()
{
    QFETCH(Kind, kind);
    QFETCH(bool, cctSet);
    QFETCH(QString, gear);
    QFETCH(QString, load);

    const TagImage image = readBack(*demodrivers::makeTag(kind, 4));
    const tagfields::DriveInfo drive = tagfields::driveInfo(image);
    QVERIFY(drive.cloEnabled);
    QCOMPARE(int(drive.cloTimes[0]), 0);
    QCOMPARE(int(drive.cloLevels[15]), 100);
    for (int i = 1; i < 16; ++i) {
        // A curve the constant-lumen rules accept: rising times, levels 50..100, not falling.
        QVERIFY(drive.cloTimes[size_t(i)] > drive.cloTimes[size_t(i - 1)]);
        QVERIFY(drive.cloTimes[size_t(i)] <= 100);
        QVERIFY(drive.cloLevels[size_t(i)] >= drive.cloLevels[size_t(i - 1)]);
        QVERIFY(drive.cloLevels[size_t(i)] >= 50);
    }
    QCOMPARE(int(drive.cctCoolest), cctSet ? 6500 : 0);
    QCOMPARE(int(drive.cctWarmest), cctSet ? 2700 : 0);
    QCOMPARE(drive.gearTimeText, gear);
    QCOMPARE(drive.loadTimeText, load);

    // The last-current word matches the current, as the program itself would write it.
    TagImage copy = image;
    tagfields::judgeLastCurrent(copy);
    QCOMPARE(copy.image_v2[490], image.image_v2[490]);
    QCOMPARE(copy.image_v2[491], image.image_v2[491]);
}

void TstDemoDrivers::legacy_operatingTimesFromLegacyOffsets()
{
    const auto tag = demodrivers::makeTag(Kind::Legacy3Ch, 5);
    const QByteArray mem = tag->memory();
    QCOMPARE(mem.size(), 512);
    QCOMPARE(int(uint8_t(mem[89])), 3);
    QCOMPARE(int(uint8_t(mem[183])), 3);
    const tagfields::DriveInfo drive = tagfields::driveInfo(readBack(*tag));
    QCOMPARE(drive.gearTimeText, QStringLiteral("30210h"));
    QCOMPARE(drive.loadTimeText, QStringLiteral("29876h"));
    // Nothing in the layout-2 time fields, so a wrong layout choice would show 0h.
    QCOMPARE(mem.mid(332, 8), QByteArray(8, '\0'));
}

void TstDemoDrivers::pwm_blockInTagOrderAndSwappedInImage()
{
    const auto tag = demodrivers::makeTag(Kind::Pwm, 6);
    QCOMPARE(tag->kind(), VirtualTag::Kind::Pwm);
    QCOMPARE(tag->memory().size(), 256);
    // Period 1000 and pulse 500 with the enable bit, low bytes first on the tag.
    QCOMPARE(tag->block(VirtualTag::PwmControlBlock), QByteArray::fromHex("e803f481"));
    QCOMPARE(demodrivers::pwmBlock(Kind::Pwm), tag->block(VirtualTag::PwmControlBlock));
    QVERIFY(demodrivers::pwmBlock(Kind::Dt8).isEmpty());

    const TagImage image = readBack(*tag);
    QCOMPARE(int(image.image_v2[248]), 0x03);
    QCOMPARE(int(image.image_v2[249]), 0xE8);
    QCOMPARE(int(image.image_v2[250]), 0x81);
    QCOMPARE(int(image.image_v2[251]), 0xF4);
    const currents::ChannelDisplay shown = currents::displayCurrentChannel(image, 1, 0x38);
    QVERIFY(shown.fromPwmBlock);
    QCOMPARE(int(shown.pwmPeriod), 1000);
}

void TstDemoDrivers::models_differ()
{
    const QByteArray dt8 = tagfields::modelNameField(readBack(*demodrivers::makeTag(Kind::Dt8, 1)));
    const QByteArray other =
        tagfields::modelNameField(readBack(*demodrivers::makeTag(Kind::OtherModel, 2)));
    QCOMPARE(dt8.size(), 32);
    QVERIFY(dt8 != other);
    // Two drivers of one model carry the same model field but different UIDs.
    const auto a = demodrivers::makeTag(Kind::Dt8, 10);
    const auto b = demodrivers::makeTag(Kind::Dt8, 11);
    QCOMPARE(a->memory(), b->memory());
    QVERIFY(a->uidMsbFirst() != b->uidMsbFirst());
}

void TstDemoDrivers::menu_listsEveryKindOnce()
{
    const QVector<demodrivers::Info> all = demodrivers::all();
    QCOMPARE(all.size(), 5);
    QSet<int> kinds;
    QSet<QString> names;
    for (const auto& d : all) {
        kinds.insert(int(d.kind));
        names.insert(d.name);
        QVERIFY(!d.model.isEmpty());
    }
    QCOMPARE(kinds.size(), 5);
    QCOMPARE(names.size(), 5);
}

void TstDemoDrivers::tagFromImage_sizes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("511") << 511 << false;
    QTest::newRow("512") << 512 << true;
    QTest::newRow("600") << 600 << true;
}

void TstDemoDrivers::tagFromImage_sizes()
{
    QFETCH(int, size);
    QFETCH(bool, accepted);
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + 1);
    QString error;
    const auto tag = demodrivers::tagFromImage(bytes, 9, &error);
    QCOMPARE(bool(tag), accepted);
    if (accepted) {
        QVERIFY(error.isEmpty());
        QCOMPARE(tag->productByte(), uint8_t(0x50));
        QCOMPARE(tag->memory(), bytes.left(512));
    } else {
        QVERIFY(error.contains(QStringLiteral("512")));
    }
}

QTEST_APPLESS_MAIN(TstDemoDrivers)
#include "tst_demodrivers.moc"
