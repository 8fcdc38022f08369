// The tag document: loads, the panel settings it derives from them, and the edits that reach
// the image only through its operations.
#include "model/codecs.h"
#include "model/colortemp.h"
#include "model/currents.h"
#include "model/tagdocument.h"
#include "readers/sim/demodrivers.h"

#include <QSignalSpy>
#include <QtTest>

using codecs::readU16;
using codecs::writeU16;
using demodrivers::Kind;

Q_DECLARE_METATYPE(Kind)

namespace
{

QByteArray slice(const TagImage::Bytes& b, int from, int count)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()) + from, count);
}

} // namespace

class TestTagDocument : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase() { qRegisterMetaType<TagDocument::Source>(); }
    void loadFile_panelsFollowTheDriver_data();
    void loadFile_panelsFollowTheDriver();
    void loadFile_shortFileChangesNothing();
    void setChannelCurrent_heldInsideTheRange_data();
    void setChannelCurrent_heldInsideTheRange();
    void colourTemperature_boundedAndAppliedOnlyWhenShown_data();
    void colourTemperature_boundedAndAppliedOnlyWhenShown();
    void driveBankRead_keepsTheChannelCount();
    void pwmTag_periodFromBlockAndComposedBack();
    void lumenAndAutoWriteWord_changeTheImageAndSaySo();
};

void TestTagDocument::loadFile_panelsFollowTheDriver_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("cct");
    QTest::newRow("DT8") << Kind::Dt8 << 1 << true;
    QTest::newRow("DT6") << Kind::Dt6 << 1 << false;
    QTest::newRow("legacy, three channels") << Kind::Legacy3Ch << 3 << false;
}

void TestTagDocument::loadFile_panelsFollowTheDriver()
{
    QFETCH(Kind, kind);
    QFETCH(int, channels);
    QFETCH(bool, cct);
    TagDocument doc;
    QSignalSpy loaded(&doc, &TagDocument::loaded);
    const QByteArray file = demodrivers::memory(kind);
    QVERIFY(doc.loadFile(file).ok());

    QCOMPARE(loaded.count(), 1);
    QCOMPARE(loaded.at(0).at(0).value<TagDocument::Source>(), TagDocument::Source::File);
    QCOMPARE(int(doc.channelCount()), channels);
    QCOMPARE(doc.colourTemperatureShown(), cct);
    // The currents are the driver's own, as its channel widgets would show them.
    const currents::ChannelDisplay shown =
        currents::displayCurrentChannel(doc.image(), uint8_t(channels), tagfields::ChipP);
    for (int i = 0; i < channels; ++i) {
        const currents::ChannelSetting& c = shown.channels[size_t(i)];
        QCOMPARE(doc.channelCurrents()[size_t(i)], qBound(c.minimum, c.current, c.maximum));
    }
    // The bank buffer is ready to be sent: the layout's copy.
    const TagImage::Bytes& copy =
        doc.image().isLayout2() ? doc.image().image_v2 : doc.image().image_legacy;
    QCOMPARE(slice(doc.image().bank_buffer, 0, 256), slice(copy, 0, 256));
    QCOMPARE(doc.fileBytes(), file.left(512));
}

void TestTagDocument::loadFile_shortFileChangesNothing()
{
    TagDocument doc;
    QVERIFY(doc.loadFile(demodrivers::memory(Kind::Legacy3Ch)).ok());
    const QByteArray before = doc.fileBytes();
    QSignalSpy loaded(&doc, &TagDocument::loaded);
    QVERIFY(!doc.loadFile(demodrivers::memory(Kind::Dt8).left(511)).ok());
    QCOMPARE(loaded.count(), 0);
    QCOMPARE(doc.fileBytes(), before);
    QCOMPARE(int(doc.channelCount()), 3);
}

void TestTagDocument::setChannelCurrent_heldInsideTheRange_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("kept"); // -1: the channel's minimum, -2: its maximum
    QTest::newRow("inside") << 1 << 0 << 0;
    QTest::newRow("below the range") << 0 << 1 << -1;
    QTest::newRow("above the range") << 2 << 65000 << -2;
}

void TestTagDocument::setChannelCurrent_heldInsideTheRange()
{
    QFETCH(int, channel);
    QFETCH(int, set);
    QFETCH(int, kept);
    TagDocument doc;
    QVERIFY(doc.loadFile(demodrivers::memory(Kind::Legacy3Ch)).ok());
    const currents::ChannelSetting range = doc.channelDisplay().channels[size_t(channel)];
    QVERIFY(range.maximum > range.minimum);
    const int value = kept == 0 ? (range.minimum + range.maximum) / 2 : set;
    const int expected = kept == -1 ? range.minimum : kept == -2 ? range.maximum : value;
    const uint16_t before = readU16(doc.image().image_legacy, 264 + 2 * channel);
    doc.setChannelCurrent(channel, uint16_t(value));
    QCOMPARE(int(doc.channelCurrents()[size_t(channel)]), expected);

    // Only a write or a save puts it into the image (the legacy copy holds all three).
    QCOMPARE(readU16(doc.image().image_legacy, 264 + 2 * channel), before);
    doc.applyPanels();
    QCOMPARE(int(readU16(doc.image().image_legacy, 264 + 2 * channel)), expected);
}

void TestTagDocument::colourTemperature_boundedAndAppliedOnlyWhenShown_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("warmest");
    QTest::addColumn<int>("coolest");
    QTest::addColumn<int>("storedWarmest"); // 0: the bytes stay as loaded
    QTest::addColumn<int>("storedCoolest");
    QTest::newRow("DT8, as set") << Kind::Dt8 << 3000 << 5000 << 3000 << 5000;
    QTest::newRow("DT8, outside the boxes") << Kind::Dt8 << 500 << 20000 << 1000 << 12000;
    QTest::newRow("DT8, warmest above coolest") << Kind::Dt8 << 6000 << 4000 << 4000 << 4000;
    QTest::newRow("DT6 has no such panel") << Kind::Dt6 << 3000 << 5000 << 0 << 0;
}

void TestTagDocument::colourTemperature_boundedAndAppliedOnlyWhenShown()
{
    QFETCH(Kind, kind);
    QFETCH(int, warmest);
    QFETCH(int, coolest);
    QFETCH(int, storedWarmest);
    QFETCH(int, storedCoolest);
    TagDocument doc;
    QVERIFY(doc.loadFile(demodrivers::memory(kind)).ok());
    const QByteArray before = slice(doc.image().image_v2, 302, 4);
    doc.setColourTemperature(uint16_t(warmest), uint16_t(coolest));
    QCOMPARE(slice(doc.image().image_v2, 302, 4), before); // a setting, not yet the image
    doc.applyPanels();
    if (storedWarmest == 0) {
        QCOMPARE(slice(doc.image().image_v2, 302, 4), before);
        return;
    }
    QCOMPARE(int(colortemp::warmest(doc.image())), storedWarmest);
    QCOMPARE(int(colortemp::coolest(doc.image())), storedCoolest);
}

void TestTagDocument::driveBankRead_keepsTheChannelCount()
{
    TagDocument doc;
    const QByteArray memory = demodrivers::memory(Kind::Legacy3Ch);
    QSignalSpy loaded(&doc, &TagDocument::loaded);
    doc.loadRead(memory, 12, tagfields::ChipP);
    QCOMPARE(int(doc.channelCount()), 3);
    QCOMPARE(slice(doc.image().image_legacy, 0, 512), memory);
    doc.showChannels(2); // the count shown, whatever the product area says

    // The drive bank alone (blocks 64..95): new currents, the product area as it was.
    QByteArray bank = memory.mid(256, 128);
    bank[264 - 256] = char(0x01);
    bank[265 - 256] = char(0x2C); // 300 mA on channel 1
    doc.loadRead(bank, 3, tagfields::ChipP);
    QCOMPARE(loaded.count(), 2);
    QCOMPARE(loaded.at(1).at(0).value<TagDocument::Source>(), TagDocument::Source::DriveBankRead);
    QCOMPARE(int(doc.channelCount()), 2);
    const currents::ChannelSetting ch1 = doc.channelDisplay().channels[0];
    QCOMPARE(doc.channelCurrents()[0], qBound(ch1.minimum, uint16_t(300), ch1.maximum));
}

void TestTagDocument::pwmTag_periodFromBlockAndComposedBack()
{
    TagImage image;
    QVERIFY(configfile::loadConfig(demodrivers::memory(Kind::Dt8), image).ok());
    writeU16(image.image_v2, tagoffset::PwmBlock, 1000); // period
    writeU16(image.image_v2, tagoffset::PwmBlock + 2, 0x8000 | 500);
    TagDocument doc;
    doc.loadImage(image, 0x38);
    QCOMPARE(int(doc.pwmPeriod()), 1000);

    const uint16_t maximum = readU16(image.image_v2, tagoffset::MaxCurrent);
    doc.setChannelCurrent(0, uint16_t(maximum / 4));
    TagImage expected = doc.image();
    currents::changeST25DV02KPwm1(expected, 1000, doc.channelCurrents()[0]);
    doc.composePwmBlock();
    QCOMPARE(slice(doc.image().image_v2, tagoffset::PwmBlock, 4),
             slice(expected.image_v2, tagoffset::PwmBlock, 4));
    QCOMPARE(slice(doc.image().bank_buffer, 0, 512), slice(expected.bank_buffer, 0, 512));
}

void TestTagDocument::lumenAndAutoWriteWord_changeTheImageAndSaySo()
{
    TagDocument doc;
    QVERIFY(doc.loadFile(demodrivers::memory(Kind::Dt8)).ok());
    QSignalSpy changed(&doc, &TagDocument::imageChanged);
    constlumen::Points times{};
    constlumen::Points levels{};
    for (int i = 0; i < tagoffset::CloPoints; ++i) {
        times[size_t(i)] = uint8_t(10 + 5 * i);
        levels[size_t(i)] = uint8_t(100 - i);
    }
    doc.setLumenTable(times, levels);
    QCOMPARE(constlumen::times(doc.image()), times);
    QCOMPARE(constlumen::levels(doc.image()), levels);
    doc.setLumenEnabled(false);
    QVERIFY(!tagfields::driveInfo(doc.image()).cloEnabled);
    doc.clearAutoWriteWord();
    QCOMPARE(slice(doc.image().image_v2, tagoffset::AutoWriteWord, 4), QByteArray(4, '\0'));
    QCOMPARE(changed.count(), 3);
}

QTEST_APPLESS_MAIN(TestTagDocument)
#include "test_tagdocument.moc"
