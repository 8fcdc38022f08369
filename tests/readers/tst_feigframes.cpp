#include "readers/crc16.h"
#include "readers/myfeigusb.h"

#include <QtTest>

namespace
{

const QByteArray kUid = QByteArray::fromHex("E002501122334455");
const QByteArray kPassword = QByteArray::fromHex("7130458269154038");

int u8(const QByteArray& a, int i)
{
    return static_cast<uint8_t>(a.at(i));
}

int declaredLength(const QByteArray& frame)
{
    return (u8(frame, 1) << 8) | u8(frame, 2);
}

// Data bytes between the command byte and the CRC.
QByteArray dataOf(const QByteArray& frame)
{
    return frame.mid(5, frame.size() - 7);
}

} // namespace

class TstFeigFrames : public QObject
{
    Q_OBJECT
  private slots:
    void inventory_isKnownFrame();
    void everyFrame_isWellFormed_data();
    void everyFrame_isWellFormed();
    void readBlocks_layout();
    void writeTenBlocks_lengths();
    void writeBlocks_neverReadsPastData();
    void setOutput_layout();
    void transparentHeaders_data();
    void transparentHeaders();
    void presentPassword_dataLength25();
    void shortUid_isPaddedNotOverread();
    void isValid_rejectsDamage();
};

void TstFeigFrames::inventory_isKnownFrame()
{
    MyFeigUsb feig;
    QCOMPARE(feig.Feig_Inventory(), QByteArray::fromHex("020009FFB0010018 43"));
}

void TstFeigFrames::everyFrame_isWellFormed_data()
{
    MyFeigUsb feig;
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("command");
    QTest::newRow("inventory") << feig.Feig_Inventory() << 0xB0;
    QTest::newRow("read") << feig.Feig_ReadBlocks(kUid, 32, 12) << 0xB0;
    QTest::newRow("write") << feig.Feig_WriteBlocks(kUid, 0, 2, QByteArray(8, 'x'), 8) << 0xB0;
    QTest::newRow("output") << feig.Feig_SetOutput(1) << 0x72;
    QTest::newRow("read config") << feig.Feig_ReadConfig(kUid) << 0xBF;
    QTest::newRow("write config") << feig.Feig_WriteConfig(kUid, 5) << 0xBF;
    QTest::newRow("present") << feig.Feig_PresentPassword(kUid, 1, kPassword) << 0xBF;
    QTest::newRow("write pwd") << feig.Feig_WritePassword(kUid, 0, kPassword) << 0xBF;
}

void TstFeigFrames::everyFrame_isWellFormed()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, command);
    QCOMPARE(u8(frame, 0), 0x02);
    QCOMPARE(declaredLength(frame), frame.size());
    QCOMPARE(u8(frame, 3), 0xFF);
    QCOMPARE(u8(frame, 4), command);
    const uint16_t crc = crc16::mcrf4xx(frame.left(frame.size() - 2));
    QCOMPARE(u8(frame, frame.size() - 2), crc & 0xFF);
    QCOMPARE(u8(frame, frame.size() - 1), crc >> 8);
    QCOMPARE(MyFeigUsb::crc16(frame.left(frame.size() - 2)), crc);
    QVERIFY(feigframe::isValid(frame));
}

void TstFeigFrames::readBlocks_layout()
{
    const QByteArray frame = MyFeigUsb().Feig_ReadBlocks(kUid, 248, 1);
    QCOMPARE(dataOf(frame), QByteArray::fromHex("2301") + kUid + QByteArray::fromHex("F801"));
}

void TstFeigFrames::writeTenBlocks_lengths()
{
    QByteArray data;
    for (int i = 0; i < 40; ++i)
        data.append(char(i));
    const QByteArray frame = MyFeigUsb().Feig_WriteBlocks(kUid, 64, 10, data, 40);
    QCOMPARE(dataOf(frame).size(), 53);
    QCOMPARE(frame.size(), 60);
    QCOMPARE(frame.mid(1, 2), QByteArray::fromHex("003C"));
    QCOMPARE(dataOf(frame),
             QByteArray::fromHex("2401") + kUid + QByteArray::fromHex("400A04") + data);
}

void TstFeigFrames::writeBlocks_neverReadsPastData()
{
    MyFeigUsb feig;
    // A size beyond the data carries only the bytes that exist.
    const QByteArray shortData = QByteArray::fromHex("01020304");
    const QByteArray frame = feig.Feig_WriteBlocks(kUid, 0, 2, shortData, 8);
    QCOMPARE(dataOf(frame).size(), 13 + 4);
    QVERIFY(dataOf(frame).endsWith(shortData));
    QCOMPARE(declaredLength(frame), frame.size());
    // Only the first `size` bytes are taken.
    QCOMPARE(dataOf(feig.Feig_WriteBlocks(kUid, 0, 1, QByteArray(12, 'a'), 4)).size(), 17);
    QCOMPARE(dataOf(feig.Feig_WriteBlocks(kUid, 0, 1, QByteArray(12, 'a'), -5)).size(), 13);
}

void TstFeigFrames::setOutput_layout()
{
    MyFeigUsb feig;
    QCOMPARE(dataOf(feig.Feig_SetOutput(1)), QByteArray::fromHex("010141 01 001E"));
    QCOMPARE(dataOf(feig.Feig_SetOutput(0)), QByteArray::fromHex("010141 00 001E"));
}

void TstFeigFrames::transparentHeaders_data()
{
    const QByteArray rev = QByteArray::fromHex("55443322115002E0");
    MyFeigUsb feig;
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expectedData");
    QTest::newRow("read config") << feig.Feig_ReadConfig(rev)
                                 << QByteArray::fromHex("0100200000 22A002") + rev +
                                        QByteArray::fromHex("04");
    QTest::newRow("write config") << feig.Feig_WriteConfig(rev, 5)
                                  << QByteArray::fromHex("0200180000 22A102") + rev +
                                         QByteArray::fromHex("0405");
    QTest::newRow("present") << feig.Feig_PresentPassword(rev, 1, kPassword)
                             << QByteArray::fromHex("0100180000 22B302") + rev +
                                    QByteArray::fromHex("01") + kPassword;
    QTest::newRow("write pwd") << feig.Feig_WritePassword(rev, 0, kPassword)
                               << QByteArray::fromHex("0100180000 22B102") + rev +
                                      QByteArray::fromHex("00") + kPassword;
}

void TstFeigFrames::transparentHeaders()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expectedData);
    QCOMPARE(dataOf(frame), expectedData);
}

void TstFeigFrames::presentPassword_dataLength25()
{
    const QByteArray frame = MyFeigUsb().Feig_PresentPassword(kUid, 0, QByteArray(8, '\0'));
    QCOMPARE(dataOf(frame).size(), 25);
    QCOMPARE(frame.size(), 32);
}

void TstFeigFrames::shortUid_isPaddedNotOverread()
{
    MyFeigUsb feig;
    const QByteArray frame = feig.Feig_ReadBlocks(QByteArray::fromHex("E002"), 0, 12);
    QCOMPARE(dataOf(frame), QByteArray::fromHex("2301E00200000000000000 0C"));
    const QByteArray pwd = feig.Feig_PresentPassword(QByteArray(), 0, QByteArray::fromHex("01"));
    QCOMPARE(dataOf(pwd).size(), 25);
    QCOMPARE(dataOf(pwd).right(8), QByteArray::fromHex("0100000000000000"));
    // A longer value is cut to its first 8 bytes.
    QCOMPARE(dataOf(feig.Feig_ReadBlocks(kUid + "XYZ", 0, 1)).mid(2, 8), kUid);
}

void TstFeigFrames::isValid_rejectsDamage()
{
    const QByteArray good = MyFeigUsb().Feig_Inventory();
    QVERIFY(feigframe::isValid(good));
    for (int i = 0; i < good.size(); ++i) {
        QByteArray bad = good;
        bad[i] = char(bad.at(i) ^ 0x01);
        QVERIFY2(!feigframe::isValid(bad), qPrintable(QString::number(i)));
    }
    QVERIFY(!feigframe::isValid(good.left(6)));
    QVERIFY(!feigframe::isValid(good + char(0)));
    QVERIFY(!feigframe::isValid(QByteArray()));
}

QTEST_APPLESS_MAIN(TstFeigFrames)
#include "tst_feigframes.moc"
