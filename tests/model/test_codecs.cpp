// Byte-order codecs, field readers, the field map and loading reads into the image.
#include "model/codecs.h"
#include "model/tagfields.h"
#include "model/tagimage.h"

#include <QtTest>

using namespace codecs;

Q_DECLARE_METATYPE(QByteArray)

namespace
{

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (int b : list)
        out.append(char(b));
    return out;
}

const uint8_t* u8(const QByteArray& a)
{
    return reinterpret_cast<const uint8_t*>(a.constData());
}

// Distinct, position-dependent content so misplaced copies show up.
QByteArray pattern(int size, int seed)
{
    QByteArray out(size, 0);
    for (int i = 0; i < size; ++i)
        out[i] = char((i * 7 + seed) & 0xFF);
    return out;
}

QByteArray slice(const TagImage::Bytes& b, int from, int count)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()) + from, count);
}

} // namespace

class TestCodecs : public QObject
{
    Q_OBJECT

  private slots:
    void writers_data();
    void writers();
    void writers_lenthZero_writeNothing();
    void readers_data();
    void readers();
    void hexToLonglong_eightHighBytes_wraps();
    void hexToStr_data();
    void hexToStr();
    void swap();
    void fieldReaders_outsideImage_readZero();
    void fieldWriters_outsideImage_areDropped();

    void initialImage();
    void productInfo_fields();
    void productInfo_modelName_data();
    void productInfo_modelName();
    void productInfo_gtin_data();
    void productInfo_gtin();
    void productInfo_channelZero_isOne();
    void productInfo_rangesByLayout();
    void driveInfo_operatingTimesByLayout_data();
    void driveInfo_operatingTimesByLayout();
    void driveInfo_cloAndCct();
    void judgeLastCurrent_data();
    void judgeLastCurrent();
    void updateBankBuff_byLayout_data();
    void updateBankBuff_byLayout();

    void loadRead_pTag_fillsBothCopies();
    void loadRead_pwmTag_swapsBlock248_keepsDriveArea();
    void loadRead_driveBank();
    void loadRead_short_isRefused_data();
    void loadRead_short_isRefused();
    void modelFromRead();
};

void TestCodecs::writers_data()
{
    QTest::addColumn<int>("kind"); // 0 U16ToHex, 1 U16ToHex_N, 2 U32ToHex
    QTest::addColumn<quint32>("value");
    QTest::addColumn<int>("lenth");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("u16 BE 2") << 0 << 0x1234u << 2 << bytes({0x12, 0x34});
    QTest::newRow("u16 BE 1 keeps low byte") << 0 << 0x1234u << 1 << bytes({0x34});
    QTest::newRow("u16 BE 4 zero fill") << 0 << 0xABCDu << 4 << bytes({0, 0, 0xAB, 0xCD});
    QTest::newRow("u16 LE 2") << 1 << 0x1234u << 2 << bytes({0x34, 0x12});
    QTest::newRow("u16 LE 3") << 1 << 0x1234u << 3 << bytes({0x34, 0x12, 0});
    QTest::newRow("u32 BE 4") << 2 << 0x01020304u << 4 << bytes({1, 2, 3, 4});
    QTest::newRow("u32 BE 3 drops top") << 2 << 0x01020304u << 3 << bytes({2, 3, 4});
    QTest::newRow("u32 BE 6 zero fill")
        << 2 << 0xFFFFFFFFu << 6 << bytes({0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
}

void TestCodecs::writers()
{
    QFETCH(int, kind);
    QFETCH(quint32, value);
    QFETCH(int, lenth);
    QFETCH(QByteArray, expected);
    std::array<uint8_t, 10> out;
    out.fill(0xEE);
    if (kind == 0)
        U16ToHex(out.data(), uint16_t(value), uint8_t(lenth));
    else if (kind == 1)
        U16ToHex_N(out.data(), uint16_t(value), uint8_t(lenth));
    else
        U32ToHex(out.data(), value, uint8_t(lenth));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(out.data()), lenth), expected);
    // Nothing beyond lenth is touched.
    QCOMPARE(out[size_t(lenth)], uint8_t(0xEE));
}

void TestCodecs::writers_lenthZero_writeNothing()
{
    std::array<uint8_t, 4> out{0xEE, 0xEE, 0xEE, 0xEE};
    U16ToHex(out.data(), 0x1234, 0);
    U16ToHex_N(out.data(), 0x1234, 0);
    U32ToHex(out.data(), 0x12345678, 0);
    QCOMPARE(out, (std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEE}));
    U32ToHex(nullptr, 1, 4); // must not crash
}

void TestCodecs::readers_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<quint32>("u16");
    QTest::addColumn<quint32>("u32");
    QTest::addColumn<quint32>("u32le");
    QTest::addColumn<qint64>("ll");

    QTest::newRow("empty") << QByteArray() << 0u << 0u << 0u << qint64(0);
    QTest::newRow("one") << bytes({0xAB}) << 0xABu << 0xABu << 0xABu << qint64(0xAB);
    QTest::newRow("two") << bytes({0x01, 0x5E}) << 0x015Eu << 0x015Eu << 0x5E01u << qint64(0x015E);
    QTest::newRow("three truncates u16")
        << bytes({0x12, 0x34, 0x56}) << 0x3456u << 0x123456u << 0x563412u << qint64(0x123456);
    QTest::newRow("four") << bytes({0xDE, 0xAD, 0xBE, 0xEF}) << 0xBEEFu << 0xDEADBEEFu
                          << 0xEFBEADDEu << qint64(0xDEADBEEF);
    QTest::newRow("six gtin") << bytes({0, 0, 0, 0, 0, 0x2A}) << 0x2Au << 0x2Au << 0u << qint64(42);
    QTest::newRow("six all ff") << bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}) << 0xFFFFu
                                << 0xFFFFFFFFu << 0xFFFFFFFFu << qint64(281474976710655LL);
}

void TestCodecs::readers()
{
    QFETCH(QByteArray, in);
    QFETCH(quint32, u16);
    QFETCH(quint32, u32);
    QFETCH(quint32, u32le);
    QFETCH(qint64, ll);
    const auto n = uint8_t(in.size());
    QCOMPARE(quint32(HexToU16(u8(in), n)), u16);
    QCOMPARE(quint32(HexToU32(u8(in), n)), u32);
    QCOMPARE(quint32(HexToU32_N(u8(in), n)), u32le);
    QCOMPARE(qint64(HexToLONGLONG(u8(in), n)), ll);
}

void TestCodecs::hexToLonglong_eightHighBytes_wraps()
{
    const QByteArray in = bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE});
    QCOMPARE(qint64(HexToLONGLONG(u8(in), 8)), qint64(-2));
}

void TestCodecs::hexToStr_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("plain") << QByteArray("ABC") << QStringLiteral("ABC");
    QTest::newRow("stops at zero") << bytes({'Q', 'R', 'T', 0, 'X'}) << QStringLiteral("QRT");
    QTest::newRow("latin1") << bytes({0xC4, 0xE9}) << QString::fromLatin1("\xC4\xE9");
    QTest::newRow("leading zero") << bytes({0, 'A'}) << QString();
}

void TestCodecs::hexToStr()
{
    QFETCH(QByteArray, in);
    QFETCH(QString, expected);
    QCOMPARE(HexToStr(u8(in), uint8_t(in.size())), expected);
    QCOMPARE(HexToStr(nullptr, 5), QString());
}

void TestCodecs::swap()
{
    QCOMPARE(UINT16_MSB_LSB_SWAP(0x1234), uint16_t(0x3412));
    QCOMPARE(UINT16_MSB_LSB_SWAP(0x00FF), uint16_t(0xFF00));
}

void TestCodecs::fieldReaders_outsideImage_readZero()
{
    TagImage::Bytes b{};
    b[0] = 0x11;
    b[510] = 0xAB;
    b[511] = 0xCD;
    QCOMPARE(readU16(b, 510), uint16_t(0xABCD));
    QCOMPARE(readU16(b, 511), uint16_t(0xCD00));
    QCOMPARE(readU32(b, 510), uint32_t(0xABCD0000));
    QCOMPARE(readU16(b, -1), uint16_t(0x0011));
    QCOMPARE(readU48(b, 512), uint64_t(0));
    QCOMPARE(byteAt(b, 512), uint8_t(0));
    QCOMPARE(byteAt(QByteArray("ab"), 2), uint8_t(0));
    QCOMPARE(byteAt(QByteArray("ab"), -1), uint8_t(0));
    QCOMPARE(byteAt(QByteArray("ab"), 1), uint8_t('b'));
}

void TestCodecs::fieldWriters_outsideImage_areDropped()
{
    TagImage::Bytes b{};
    writeU16(b, 511, 0x1234);
    QCOMPARE(b[511], uint8_t(0x12));
    writeU32(b, -2, 0xAABBCCDD);
    QCOMPARE(b[0], uint8_t(0xCC));
    QCOMPARE(b[1], uint8_t(0xDD));
    writeU32(b, 300, 0x01020304);
    QCOMPARE(slice(b, 300, 4), bytes({1, 2, 3, 4}));
}

void TestCodecs::initialImage()
{
    const TagImage img;
    for (int i = 0; i < TagImage::Size; ++i) {
        const uint8_t expected = i == 183 ? 2 : i == 491 ? 1 : 0;
        QCOMPARE(img.image_v2[size_t(i)], expected);
        QCOMPARE(img.image_legacy[size_t(i)], uint8_t(0));
        QCOMPARE(img.bank_buffer[size_t(i)], uint8_t(0));
    }
    QVERIFY(img.isLayout2());
}

void TestCodecs::productInfo_fields()
{
    TagImage img;
    auto& v2 = img.image_v2;
    writeU32(v2, 176, 1410010001u);
    v2[180] = 1;
    v2[83] = 2;
    v2[84] = 13;
    v2[73] = 1;
    v2[74] = 0;
    v2[192] = 8;
    v2[89] = 3;
    const auto info = tagfields::productInfo(img);
    QCOMPARE(info.fixtureId, QStringLiteral("1410010001-1"));
    QCOMPARE(info.hardware, QStringLiteral("2.13"));
    QCOMPARE(info.software, QStringLiteral("1.0"));
    QCOMPARE(info.driverType, uint8_t(8));
    QCOMPARE(info.channelCount, uint8_t(3));
    QCOMPARE(info.layoutCode, uint8_t(2));
    QCOMPARE(info.gtin, QStringLiteral("0"));

    // The fixture number is unsigned: the top bit must not turn it negative.
    writeU32(v2, 176, 0xFFFFFFFFu);
    v2[180] = 255;
    QCOMPARE(tagfields::productInfo(img).fixtureId, QStringLiteral("4294967295-255"));
}

void TestCodecs::productInfo_modelName_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("expected");
    QTest::newRow("32 full") << QByteArray(32, 'M') << QString(32, QLatin1Char('M'));
    QByteArray five = QByteArray("ABCDEFGHIJ");
    five[5] = 0;
    QTest::newRow("zero at 5") << five << QStringLiteral("ABCDE");
    QTest::newRow("blank") << QByteArray(32, 0) << QString();
}

void TestCodecs::productInfo_modelName()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, expected);
    TagImage img;
    std::copy(field.begin(), field.end(), img.image_v2.begin() + 195);
    img.image_v2[227] = 'Z'; // the byte after the field must not leak in
    QCOMPARE(tagfields::productInfo(img).model, expected);
    QCOMPARE(tagfields::modelName(img), expected);
    QCOMPARE(tagfields::modelNameField(img).size(), 32);
    QCOMPARE(tagfields::modelNameField(img).left(field.size()), field);
}

void TestCodecs::productInfo_gtin_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("expected");
    QTest::newRow("42") << bytes({0, 0, 0, 0, 0, 0x2A}) << QStringLiteral("42");
    QTest::newRow("max") << QByteArray(6, char(0xFF)) << QStringLiteral("281474976710655");
    QTest::newRow("typical") << bytes({0x03, 0xE8, 0x1E, 0x5B, 0x1C, 0x75})
                             << QString::number(0x03E81E5B1C75LL);
}

void TestCodecs::productInfo_gtin()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, expected);
    TagImage img;
    std::copy(field.begin(), field.end(), img.image_v2.begin() + 67);
    img.image_v2[66] = 0xFF; // neighbours must not be read
    img.image_v2[73] = 0xFF;
    QCOMPARE(tagfields::productInfo(img).gtin, expected);
}

void TestCodecs::productInfo_channelZero_isOne()
{
    TagImage img;
    img.image_v2[89] = 0;
    QCOMPARE(tagfields::productInfo(img).channelCount, uint8_t(1));
    QCOMPARE(tagfields::channelsFromTag(img), uint8_t(1));
}

void TestCodecs::productInfo_rangesByLayout()
{
    TagImage img;
    writeU16(img.image_v2, 112, 700);
    writeU16(img.image_v2, 114, 100);
    for (int i = 0; i < 3; ++i) {
        writeU16(img.image_legacy, 96 + 2 * i, uint16_t(400 + i));
        writeU16(img.image_legacy, 104 + 2 * i, uint16_t(50 + i));
    }
    auto info = tagfields::productInfo(img);
    QCOMPARE(info.currentRanges[0], (tagfields::CurrentRange{100, 700}));
    QCOMPARE(info.currentRanges[1], (tagfields::CurrentRange{0, 0}));
    QCOMPARE(tagfields::rangeText(info.currentRanges[0]), QStringLiteral("100-700mA"));

    img.image_v2[183] = 3;
    info = tagfields::productInfo(img);
    QCOMPARE(info.currentRanges[0], (tagfields::CurrentRange{50, 400}));
    QCOMPARE(info.currentRanges[2], (tagfields::CurrentRange{52, 402}));
}

void TestCodecs::driveInfo_operatingTimesByLayout_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<QString>("gear");
    QTest::addColumn<QString>("load");
    QTest::newRow("layout 2") << 2 << QStringLiteral("123h") << QStringLiteral("4294967295h");
    QTest::newRow("legacy 3") << 3 << QStringLiteral("7h") << QStringLiteral("65536h");
    QTest::newRow("legacy 0") << 0 << QStringLiteral("7h") << QStringLiteral("65536h");
    QTest::newRow("legacy ff") << 0xFF << QStringLiteral("7h") << QStringLiteral("65536h");
}

void TestCodecs::driveInfo_operatingTimesByLayout()
{
    QFETCH(int, layout);
    QFETCH(QString, gear);
    QFETCH(QString, load);
    TagImage img;
    img.image_v2[183] = uint8_t(layout);
    writeU32(img.image_v2, 332, 123);
    writeU32(img.image_v2, 336, 0xFFFFFFFFu);
    writeU32(img.image_legacy, 448, 7);
    writeU32(img.image_legacy, 452, 65536);
    // The other layout's fields in the other copy must be ignored.
    writeU32(img.image_v2, 448, 999);
    writeU32(img.image_legacy, 332, 999);
    const auto info = tagfields::driveInfo(img);
    QCOMPARE(info.gearTimeText, gear);
    QCOMPARE(info.loadTimeText, load);
}

void TestCodecs::driveInfo_cloAndCct()
{
    TagImage img;
    img.image_v2[267] = 0x01; // any non-zero reads as on
    for (int i = 0; i < 16; ++i) {
        img.image_v2[size_t(268 + i)] = uint8_t(50 + i);
        img.image_v2[size_t(284 + i)] = uint8_t(i * 5);
    }
    writeU16(img.image_v2, 302, 6500);
    writeU16(img.image_v2, 304, 2700);
    auto info = tagfields::driveInfo(img);
    QVERIFY(info.cloEnabled);
    QCOMPARE(info.cloLevels[0], uint8_t(50));
    QCOMPARE(info.cloLevels[15], uint8_t(65));
    QCOMPARE(info.cloTimes[15], uint8_t(75));
    QCOMPARE(info.cctCoolest, uint16_t(6500));
    QCOMPARE(info.cctWarmest, uint16_t(2700));
    QCOMPARE(img.image_v2[267], uint8_t(0x01)); // reading does not rewrite the byte
    img.image_v2[267] = 0;
    QVERIFY(!tagfields::driveInfo(img).cloEnabled);
}

void TestCodecs::judgeLastCurrent_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("0") << 0 << bytes({0xFF, 0xFF});
    QTest::newRow("350") << 350 << bytes({0x01, 0x5D});
    QTest::newRow("256") << 256 << bytes({0x00, 0xFF});
    QTest::newRow("1") << 1 << bytes({0x00, 0x00});
}

void TestCodecs::judgeLastCurrent()
{
    QFETCH(int, current);
    QFETCH(QByteArray, expected);
    TagImage img;
    writeU16(img.image_v2, 264, uint16_t(current));
    writeU16(img.image_legacy, 264, 9999);
    tagfields::judgeLastCurrent(img);
    QCOMPARE(slice(img.image_v2, 490, 2), expected);
    QCOMPARE(slice(img.image_legacy, 490, 2), bytes({0, 0}));
}

void TestCodecs::updateBankBuff_byLayout_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<bool>("fromV2");
    QTest::newRow("2") << 2 << true;
    QTest::newRow("3") << 3 << false;
    QTest::newRow("0") << 0 << false;
    QTest::newRow("1") << 1 << false;
    QTest::newRow("255") << 255 << false;
}

void TestCodecs::updateBankBuff_byLayout()
{
    QFETCH(int, layout);
    QFETCH(bool, fromV2);
    TagImage img;
    const QByteArray a = pattern(512, 1), b = pattern(512, 99);
    std::copy(a.begin(), a.end(), img.image_v2.begin());
    std::copy(b.begin(), b.end(), img.image_legacy.begin());
    img.image_v2[183] = uint8_t(layout);
    writeU16(img.image_v2, 264, 350);
    tagfields::updateBankBuff(img);
    if (fromV2) {
        QCOMPARE(slice(img.bank_buffer, 490, 2), bytes({0x01, 0x5D}));
        QCOMPARE(img.bank_buffer, img.image_v2);
    } else {
        QCOMPARE(img.bank_buffer, img.image_legacy);
        // The legacy path leaves the last-current word of image_v2 alone.
        QCOMPARE(img.image_v2[490], uint8_t(a[490]));
    }
}

void TestCodecs::loadRead_pTag_fillsBothCopies()
{
    TagImage img;
    const QByteArray data = pattern(512, 5);
    QVERIFY(tagfields::loadReadData(img, data, 12, tagfields::ChipP));
    QCOMPARE(slice(img.image_v2, 0, 512), data);
    QCOMPARE(slice(img.image_legacy, 0, 512), data);
}

void TestCodecs::loadRead_pwmTag_swapsBlock248_keepsDriveArea()
{
    TagImage img;
    const QByteArray oldDrive = pattern(256, 77);
    std::copy(oldDrive.begin(), oldDrive.end(), img.image_v2.begin() + 256);
    std::copy(oldDrive.begin(), oldDrive.end(), img.image_legacy.begin() + 256);

    QByteArray data = pattern(256, 3);
    data.append(bytes({0x10, 0x32, 0x54, 0x76}));
    QVERIFY(tagfields::loadReadData(img, data, 7, tagfields::ChipPwm));
    QCOMPARE(slice(img.image_v2, 248, 4), bytes({0x32, 0x10, 0x76, 0x54}));
    QCOMPARE(slice(img.image_v2, 0, 248), data.left(248));
    // The legacy copy keeps the block as read from the product area.
    QCOMPARE(slice(img.image_legacy, 0, 256), data.left(256));
    QCOMPARE(slice(img.image_v2, 256, 256), oldDrive);
    QCOMPARE(slice(img.image_legacy, 256, 256), oldDrive);
}

void TestCodecs::loadRead_driveBank()
{
    TagImage img;
    const QByteArray before = slice(img.image_v2, 0, 512);
    const QByteArray data = pattern(128, 11);
    QVERIFY(tagfields::loadReadData(img, data, 3, tagfields::ChipP));
    QCOMPARE(slice(img.image_v2, 256, 128), data);
    QCOMPARE(slice(img.image_legacy, 256, 128), data);
    QCOMPARE(slice(img.image_v2, 0, 256), before.left(256));
    QCOMPARE(slice(img.image_v2, 384, 128), before.mid(384));
}

void TestCodecs::loadRead_short_isRefused_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("readcnt");
    QTest::addColumn<int>("chip");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("P empty") << 0 << 12 << 0x50 << false;
    QTest::newRow("P 511") << 511 << 12 << 0x50 << false;
    QTest::newRow("P 512") << 512 << 12 << 0x50 << true;
    QTest::newRow("P 256 only") << 256 << 12 << 0x50 << false;
    QTest::newRow("8 255") << 255 << 7 << 0x38 << false;
    QTest::newRow("8 without block 248") << 256 << 7 << 0x38 << false;
    QTest::newRow("8 259") << 259 << 7 << 0x38 << false;
    QTest::newRow("8 260") << 260 << 7 << 0x38 << true;
    QTest::newRow("unknown chip 260") << 260 << 12 << 0x41 << true;
    QTest::newRow("drive 127") << 127 << 3 << 0x50 << false;
    QTest::newRow("drive 128") << 128 << 3 << 0x50 << true;
    QTest::newRow("model read") << 36 << 1 << 0x50 << false;
    QTest::newRow("readcnt 0") << 512 << 0 << 0x50 << false;
}

void TestCodecs::loadRead_short_isRefused()
{
    QFETCH(int, size);
    QFETCH(int, readcnt);
    QFETCH(int, chip);
    QFETCH(bool, accepted);
    TagImage img;
    const TagImage before = img;
    QCOMPARE(tagfields::loadReadData(img, pattern(size, 9), uint8_t(readcnt), uint8_t(chip)),
             accepted);
    if (!accepted) {
        QCOMPARE(img.image_v2, before.image_v2);
        QCOMPARE(img.image_legacy, before.image_legacy);
        QCOMPARE(img.bank_buffer, before.bank_buffer);
    }
}

void TestCodecs::modelFromRead()
{
    QByteArray data =
        QByteArray("xyz") + QByteArray("MODEL-NAME").leftJustified(32, '\0') + QByteArray("t");
    QCOMPARE(tagfields::modelFromRead(data), data.mid(3, 32));
    QVERIFY(tagfields::modelFromRead(data.left(34)).isEmpty());
}

QTEST_APPLESS_MAIN(TestCodecs)
#include "test_codecs.moc"
