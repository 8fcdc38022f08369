#include "readers/crc16.h"
#include "readers/hidpath.h"
#include "readers/r321frames.h"

#include <QtTest>

namespace
{
const QByteArray kUid = QByteArray::fromHex("08070605045002E0");

// Checks the frame convention and returns the data part.
QByteArray checkedData(const QByteArray& f, uint8_t command)
{
    if (f.size() < 12)
        return "short";
    const int d = f.size() - 12;
    if (uint8_t(f.at(0)) != 11 + d || f.mid(1, 2) != QByteArray::fromHex("7E55") ||
        uint8_t(f.at(3)) != 8 + d || f.mid(4, 4) != QByteArray::fromHex("00000100") ||
        uint8_t(f.at(8)) != command || f.at(9) != 0)
        return "header";
    if (!crc16::x25TrailerOk(f.mid(3)))
        return "crc";
    return f.mid(10, d);
}
} // namespace

class TstR321Frames : public QObject
{
    Q_OBJECT
  private slots:
    void inventory_matchesKnownBytes();
    void commands_data();
    void commands();
    void writeTenBlocks_is62Bytes();
    void transparentPresentPassword_layout();
    void shortInputs_areZeroFilled();
    void tooLong_givesEmptyFrame();
    void interfaceNumber_data();
    void interfaceNumber();
};

void TstR321Frames::inventory_matchesKnownBytes()
{
    QCOMPARE(r321::Cmd_Inventory(), QByteArray::fromHex("0C7E5509000001001100007DFB"));
}

void TstR321Frames::commands_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("init") << r321::Cmd_Init() << 0xF4 << QByteArray::fromHex("020100B70101");
    QTest::newRow("inventory") << r321::Cmd_Inventory() << 0x11 << QByteArray::fromHex("00");
    QTest::newRow("read") << r321::Cmd_ReadBlocks(kUid, 248, 1) << 0x22
                          << kUid + QByteArray::fromHex("F801");
    QTest::newRow("write 2") << r321::Cmd_WriteBlocks(kUid, 126,
                                                      QByteArray::fromHex("0102030405060708"), 2)
                             << 0x23 << kUid + QByteArray::fromHex("7E020102030405060708");
    QTest::newRow("beeper on") << r321::Cmd_Raw(QByteArray::fromHex("0001000000000000"), 8) << 0xE9
                               << QByteArray::fromHex("0001000000000000");
    QTest::newRow("config") << r321::Cmd_Transparent(kUid, 0xA1, QByteArray::fromHex("0405"), 2)
                            << 0x2F
                            << QByteArray::fromHex("0D22A102") + kUid +
                                   QByteArray::fromHex("040510270C");
    QTest::newRow("F5") << r321::Cmd_F5() << 0xF5 << QByteArray::fromHex("00");
    QTest::newRow("04") << r321::Cmd_04() << 0x04 << QByteArray();
}

void TstR321Frames::commands()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, command);
    QFETCH(QByteArray, data);
    QCOMPARE(checkedData(frame, uint8_t(command)), data);
    QCOMPARE(frame.size(), 12 + data.size());
}

void TstR321Frames::writeTenBlocks_is62Bytes()
{
    QByteArray blocks;
    for (int i = 0; i < 40; ++i)
        blocks.append(char(i + 1));
    const QByteArray f = r321::Cmd_WriteBlocks(kUid, 64, blocks, 10);
    QCOMPARE(f.size(), 62);
    QCOMPARE(uint8_t(f.at(0)), uint8_t(0x3D));
    QCOMPARE(uint8_t(f.at(3)), uint8_t(0x3A));
    QCOMPARE(checkedData(f, 0x23), kUid + QByteArray::fromHex("400A") + blocks);
}

void TstR321Frames::transparentPresentPassword_layout()
{
    const QByteArray params = QByteArray::fromHex("00") + QByteArray::fromHex("7130458269154038");
    const QByteArray f = r321::Cmd_Transparent(kUid, 0xB3, params, 9);
    const QByteArray data = checkedData(f, 0x2F);
    QCOMPARE(data.size(), 24);
    QCOMPARE(uint8_t(f.at(0)), uint8_t(0x23));
    QCOMPARE(uint8_t(data.at(0)), uint8_t(11 + 9)); // length of the ISO request
    QCOMPARE(uint8_t(f.at(3)), uint8_t(0x20));
    QCOMPARE(data.mid(1, 3), QByteArray::fromHex("22B302"));
    QCOMPARE(data.mid(4, 8), kUid);
    QCOMPARE(data.mid(12, 9), params);
    QCOMPARE(data.right(3), QByteArray::fromHex("10270C"));
}

void TstR321Frames::shortInputs_areZeroFilled()
{
    // A short UID or data array must not make the builder read past its end.
    const QByteArray f =
        r321::Cmd_WriteBlocks(QByteArray::fromHex("0102"), 0, QByteArray::fromHex("AA"), 2);
    QCOMPARE(checkedData(f, 0x23), QByteArray::fromHex("0102000000000000"
                                                       "0002"
                                                       "AA00000000000000"));
    QCOMPARE(checkedData(r321::Cmd_Raw(QByteArray::fromHex("0001"), 8), 0xE9),
             QByteArray::fromHex("0001000000000000"));
    QCOMPARE(checkedData(r321::Cmd_Raw(QByteArray::fromHex("00010203040506070809"), 8), 0xE9),
             QByteArray::fromHex("0001020304050607"));
}

void TstR321Frames::tooLong_givesEmptyFrame()
{
    QCOMPARE(r321::buildFrame(0x23, QByteArray(244, 'x')).size(), 256);
    QVERIFY(r321::buildFrame(0x23, QByteArray(245, 'x')).isEmpty());
    QVERIFY(r321::Cmd_WriteBlocks(kUid, 0, QByteArray(1020, 'x'), 255).isEmpty());
    QCOMPARE(r321::Cmd_WriteBlocks(kUid, 0, QByteArray(232, 'x'), 58).size(), 254);
}

void TstR321Frames::interfaceNumber_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("number");
    QTest::newRow("mi_01 then #") << R"(\\?\hid#vid_0505&pid_5050&mi_01#7&2a&0&0000#{4d1e55b2})"
                                  << 1;
    QTest::newRow("mi_00") << R"(\\?\hid#vid_0505&pid_5050&mi_00#7)" << 0;
    QTest::newRow("upper case hex") << "x&MI_0A&col01" << 10;
    QTest::newRow("hex digits run") << "x&mi_1f" << 0x1F;
    QTest::newRow("no mi") << R"(\\?\hid#vid_0505&pid_5050#7&2a)" << -1;
    QTest::newRow("mi without digits") << "x&mi_#y" << -1;
    QTest::newRow("mi at end") << "x&mi_" << -1;
    QTest::newRow("hidraw") << "/dev/hidraw3" << -1;
    QTest::newRow("long run stays bounded") << "x&mi_fffffffffffff" << 0xFFFFFFF;
}

void TstR321Frames::interfaceNumber()
{
    QFETCH(QString, path);
    QFETCH(int, number);
    QCOMPARE(hidpath::interfaceNumber(path), number);
}

QTEST_APPLESS_MAIN(TstR321Frames)
#include "tst_r321frames.moc"
