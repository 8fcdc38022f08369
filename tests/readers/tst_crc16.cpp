#include "readers/crc16.h"

#include <QtTest>

class TstCrc16 : public QObject
{
    Q_OBJECT
  private slots:
    void checkValues_data();
    void checkValues();
    void rangeOutsideData_isClipped();
    void trailer_detectsEveryFlippedBit();
    void appendLsbFirst_lowByteFirst();
};

void TstCrc16::checkValues_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("x25");
    QTest::addColumn<int>("mcrf");
    QTest::newRow("check string") << QByteArray("123456789") << 0x906E << 0x6F91;
    QTest::newRow("empty") << QByteArray() << 0x0000 << 0xFFFF;
    // The CRC bytes of the R321 inventory frame 0C 7E 55 09 00 00 01 00 11 00 00 7D FB.
    QTest::newRow("inventory") << QByteArray::fromHex("0900000100110000") << 0xFB7D << -1;
    // ST25DV success response 00 78 F0: the CRC of the flags byte 0x00.
    QTest::newRow("tag success") << QByteArray(1, '\0') << 0xF078 << -1;
}

void TstCrc16::checkValues()
{
    QFETCH(QByteArray, data);
    QFETCH(int, x25);
    QFETCH(int, mcrf);
    QCOMPARE(int(crc16::x25(data)), x25);
    if (mcrf >= 0)
        QCOMPARE(int(crc16::mcrf4xx(data)), mcrf);
    // The two variants differ only by the final complement.
    QCOMPARE(int(crc16::x25(data) ^ crc16::mcrf4xx(data)), 0xFFFF);
}

void TstCrc16::rangeOutsideData_isClipped()
{
    const QByteArray data("xx123456789yy");
    QCOMPARE(int(crc16::x25(data, 2, 9)), 0x906E);
    QCOMPARE(int(crc16::mcrf4xx(data, 2, 9)), 0x6F91);
    QCOMPARE(crc16::x25(data, 2, 1000), crc16::x25(data.mid(2)));
    QCOMPARE(crc16::x25(data, -5, 7), crc16::x25(data.left(2)));
    QCOMPARE(crc16::x25(data, 40, 3), crc16::x25(QByteArray()));
}

void TstCrc16::trailer_detectsEveryFlippedBit()
{
    QByteArray frame = QByteArray::fromHex("0900000100110000");
    crc16::appendLsbFirst(frame, crc16::x25(frame));
    QVERIFY(crc16::x25TrailerOk(frame));
    for (int i = 0; i < frame.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            QByteArray bad = frame;
            bad[i] = static_cast<char>(bad.at(i) ^ (1 << bit));
            QVERIFY2(!crc16::x25TrailerOk(bad),
                     qPrintable(QString("byte %1 bit %2").arg(i).arg(bit)));
        }
    }
    QVERIFY(!crc16::x25TrailerOk(QByteArray::fromHex("7DFB")));
}

void TstCrc16::appendLsbFirst_lowByteFirst()
{
    QByteArray f;
    crc16::appendLsbFirst(f, 0xFB7D);
    QCOMPARE(f, QByteArray::fromHex("7DFB"));
}

QTEST_APPLESS_MAIN(TstCrc16)
#include "tst_crc16.moc"
