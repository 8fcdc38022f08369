#include "readers/crc16.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/virtualtag.h"

#include <QtTest>

namespace
{

const QByteArray kZeroPwd(8, '\0');
const QByteArray kFixedPwd = QByteArray::fromHex("7130458269154038");

QByteArray customRequest(const VirtualTag& tag, uint8_t cmd, const QByteArray& params,
                         uint8_t flags = 0x22)
{
    QByteArray r;
    r.append(static_cast<char>(flags));
    r.append(static_cast<char>(cmd));
    r.append(char(0x02));
    if (flags & 0x20)
        r += tag.uidLsbFirst();
    return r + params;
}

QByteArray pwdParams(int number, const QByteArray& pwd)
{
    return QByteArray(1, static_cast<char>(number)) + pwd;
}

QByteArray present(VirtualTag& tag, int number, const QByteArray& pwd)
{
    return tag.transceiveRaw(customRequest(tag, 0xB3, pwdParams(number, pwd)));
}

QByteArray pattern(int size, int seed)
{
    QByteArray a;
    for (int i = 0; i < size; ++i)
        a.append(static_cast<char>((i * 7 + seed) & 0xFF));
    return a;
}

} // namespace

class TstVirtualTag : public QObject
{
    Q_OBJECT
  private slots:
    void uid_data();
    void uid();
    void blockRanges_data();
    void blockRanges();
    void pwmBlock_isOutsideArea1();
    void presentPassword_successIs007800F0();
    void wrongPassword_closesEverySession();
    void writePassword_needsItsOwnSession();
    void writeConfiguration_onlyAfterPassword0();
    void readConfiguration_isOpen();
    void rfa1ss_protectsWrites_data();
    void rfa1ss_protectsWrites();
    void factorySequence_endsWithFixedPasswordsAndRfa1ss5();
    void leaveField_closesSessions();
    void raw_otherUidOrManufacturer_isSilent();
    void raw_readWriteMultiple();
    void raw_malformed_isGenericError();

    void field_layReplaceRemove();
    void field_transceiveRoutesByUid();
    void field_faults_skipCountAndFilter();
    void field_removeTagsAfter();
    void field_unplugCount();
    void airTime_matchesModel_data();
    void airTime_matchesModel();
};

void TstVirtualTag::uid_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("msb");
    QTest::newRow("P") << int(VirtualTag::Kind::P) << QByteArray::fromHex("E002500102030405");
    QTest::newRow("PWM") << int(VirtualTag::Kind::Pwm) << QByteArray::fromHex("E002380102030405");
}

void TstVirtualTag::uid()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, msb);
    VirtualTag tag{VirtualTag::Kind(kind), 0x0102030405ULL};
    QCOMPARE(tag.uidMsbFirst(), msb);
    QByteArray lsb = msb;
    std::reverse(lsb.begin(), lsb.end());
    QCOMPARE(tag.uidLsbFirst(), lsb);
    QCOMPARE(int(tag.productByte()), int(uint8_t(msb.at(2))));
    // The R321 engine takes the chip code from byte 5 of the LSB-first UID.
    QCOMPARE(tag.uidLsbFirst().at(5), msb.at(2));
}

void TstVirtualTag::blockRanges_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("error");
    const int p = int(VirtualTag::Kind::P), w = int(VirtualTag::Kind::Pwm);
    QTest::newRow("P whole") << p << 0 << 128 << 0;
    QTest::newRow("P last") << p << 127 << 1 << 0;
    QTest::newRow("P past end") << p << 120 << 12 << 0x10;
    QTest::newRow("P 248") << p << 248 << 1 << 0x10;
    QTest::newRow("P zero count") << p << 0 << 0 << 0x0F;
    QTest::newRow("P negative") << p << -1 << 2 << 0x10;
    QTest::newRow("PWM 0-63") << w << 0 << 64 << 0;
    QTest::newRow("PWM 64") << w << 64 << 1 << 0x10;
    QTest::newRow("PWM 248") << w << 248 << 1 << 0;
    QTest::newRow("PWM 247-248") << w << 247 << 2 << 0x10;
}

void TstVirtualTag::blockRanges()
{
    QFETCH(int, kind);
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(int, error);
    VirtualTag tag{VirtualTag::Kind(kind)};
    const QByteArray data = pattern(4 * std::max(count, 0), first);
    QCOMPARE(int(tag.writeBlocks(first, count, data)), error);
    QByteArray out("untouched");
    QCOMPARE(int(tag.readBlocks(first, count, &out)), error);
    if (error == 0)
        QCOMPARE(out, data);
    else
        QCOMPARE(out, QByteArray("untouched"));
}

void TstVirtualTag::pwmBlock_isOutsideArea1()
{
    VirtualTag tag(VirtualTag::Kind::Pwm);
    QCOMPARE(tag.memory().size(), 256);
    tag.setRfa1ss(0x05);
    QCOMPARE(int(tag.writeBlocks(0, 1, QByteArray(4, 'a'))), 0x12);
    QCOMPARE(int(tag.writeBlocks(248, 1, QByteArray::fromHex("10325476"))), 0);
    QCOMPARE(tag.block(248), QByteArray::fromHex("10325476"));
    // Block 248 is not mirrored into user memory.
    QVERIFY(!tag.memory().contains(QByteArray::fromHex("10325476")));
}

void TstVirtualTag::presentPassword_successIs007800F0()
{
    VirtualTag tag;
    QCOMPARE(present(tag, 0, kZeroPwd), QByteArray::fromHex("0078F0"));
    QVERIFY(tag.sessionOpen(0));
    QVERIFY(!tag.sessionOpen(1));
    QCOMPARE(present(tag, 1, kZeroPwd), QByteArray::fromHex("0078F0"));
    QVERIFY(tag.sessionOpen(1));
}

void TstVirtualTag::wrongPassword_closesEverySession()
{
    VirtualTag tag;
    present(tag, 0, kZeroPwd);
    present(tag, 1, kZeroPwd);
    const QByteArray r = present(tag, 1, kFixedPwd);
    QCOMPARE(r.left(2), QByteArray::fromHex("010F"));
    QVERIFY(crc16::x25TrailerOk(r));
    QVERIFY(!tag.sessionOpen(0));
    QVERIFY(!tag.sessionOpen(1));
}

void TstVirtualTag::writePassword_needsItsOwnSession()
{
    VirtualTag tag;
    // No session: refused, password unchanged.
    QCOMPARE(tag.transceiveRaw(customRequest(tag, 0xB1, pwdParams(1, kFixedPwd))).left(2),
             QByteArray::fromHex("010F"));
    QCOMPARE(tag.password(1), kZeroPwd);
    // Session 0 does not open password 1.
    present(tag, 0, kZeroPwd);
    QCOMPARE(tag.transceiveRaw(customRequest(tag, 0xB1, pwdParams(1, kFixedPwd))).left(2),
             QByteArray::fromHex("010F"));
    QCOMPARE(tag.transceiveRaw(customRequest(tag, 0xB1, pwdParams(0, kFixedPwd))),
             QByteArray::fromHex("0078F0"));
    QCOMPARE(tag.password(0), kFixedPwd);
    QCOMPARE(tag.password(1), kZeroPwd);
    // Only two passwords exist here.
    QCOMPARE(tag.transceiveRaw(customRequest(tag, 0xB1, pwdParams(2, kFixedPwd))).left(2),
             QByteArray::fromHex("010F"));
}

void TstVirtualTag::writeConfiguration_onlyAfterPassword0()
{
    VirtualTag tag;
    const uint8_t before = tag.rfa1ss();
    const QByteArray write = customRequest(tag, 0xA1, QByteArray::fromHex("0405"));
    QCOMPARE(tag.transceiveRaw(write).left(2), QByteArray::fromHex("010F"));
    QCOMPARE(tag.rfa1ss(), before);
    present(tag, 1, kZeroPwd);
    QCOMPARE(tag.transceiveRaw(write).left(2), QByteArray::fromHex("010F"));
    present(tag, 0, kZeroPwd);
    QCOMPARE(tag.transceiveRaw(write), QByteArray::fromHex("0078F0"));
    QCOMPARE(int(tag.rfa1ss()), 5);
    QCOMPARE(tag.transceiveRaw(customRequest(tag, 0xA1, QByteArray::fromHex("1005"))).left(2),
             QByteArray::fromHex("0110"));
}

void TstVirtualTag::readConfiguration_isOpen()
{
    VirtualTag tag;
    tag.setRfa1ss(0x05);
    const QByteArray r = tag.transceiveRaw(customRequest(tag, 0xA0, QByteArray::fromHex("04")));
    QCOMPARE(r.left(2), QByteArray::fromHex("0005"));
    QVERIFY(crc16::x25TrailerOk(r));
}

void TstVirtualTag::rfa1ss_protectsWrites_data()
{
    QTest::addColumn<int>("rfa1ss");
    QTest::addColumn<int>("presented"); // -1 none
    QTest::addColumn<int>("error");
    QTest::newRow("open") << 0x00 << -1 << 0;
    QTest::newRow("factory 03") << 0x03 << -1 << 0;
    QTest::newRow("5 no session") << 0x05 << -1 << 0x12;
    QTest::newRow("5 session 1") << 0x05 << 1 << 0;
    QTest::newRow("5 session 0 only") << 0x05 << 0 << 0x12;
    QTest::newRow("9 session 1") << 0x09 << 1 << 0;
    QTest::newRow("d forbidden") << 0x0D << 1 << 0x12;
    QTest::newRow("4 no password") << 0x04 << 1 << 0x12;
}

void TstVirtualTag::rfa1ss_protectsWrites()
{
    QFETCH(int, rfa1ss);
    QFETCH(int, presented);
    QFETCH(int, error);
    VirtualTag tag;
    tag.setRfa1ss(uint8_t(rfa1ss));
    if (presented >= 0)
        QCOMPARE(present(tag, presented, kZeroPwd), QByteArray::fromHex("0078F0"));
    const QByteArray data = pattern(40, 3);
    QCOMPARE(int(tag.writeBlocks(64, 10, data)), error);
    QCOMPARE(tag.memory().mid(256, 40) == data, error == 0);
    // Reads of area 1 stay open whatever RFA1SS says.
    QByteArray out;
    QCOMPARE(int(tag.readBlocks(64, 10, &out)), 0);
}

void TstVirtualTag::factorySequence_endsWithFixedPasswordsAndRfa1ss5()
{
    // The order the configuration sequence sends on a factory-fresh tag.
    VirtualTag tag;
    const QByteArray ok = QByteArray::fromHex("0078F0");
    QCOMPARE(present(tag, 0, kZeroPwd), ok);
    QCOMPARE(tag.transceiveRaw(customRequest(tag, 0xA1, QByteArray::fromHex("0405"))), ok);
    QCOMPARE(tag.transceiveRaw(customRequest(tag, 0xB1, pwdParams(0, kFixedPwd))), ok);
    QCOMPARE(present(tag, 1, kZeroPwd), ok);
    QCOMPARE(tag.transceiveRaw(customRequest(tag, 0xB1, pwdParams(1, kFixedPwd))), ok);
    QCOMPARE(int(tag.rfa1ss()), 5);
    QCOMPARE(tag.password(0), kFixedPwd);
    QCOMPARE(tag.password(1), kFixedPwd);
    // Session still open: writes go through; after leaving the field they are refused.
    QCOMPARE(int(tag.writeBlocks(66, 1, QByteArray::fromHex("01020304"))), 0);
    tag.leaveField();
    QCOMPARE(int(tag.writeBlocks(66, 1, QByteArray::fromHex("05060708"))), 0x12);
    // The configured tag refuses the zero password and accepts the fixed one.
    QCOMPARE(present(tag, 0, kZeroPwd).left(2), QByteArray::fromHex("010F"));
    QCOMPARE(present(tag, 1, kFixedPwd), ok);
    QCOMPARE(int(tag.writeBlocks(66, 1, QByteArray::fromHex("05060708"))), 0);
    QCOMPARE(tag.block(66), QByteArray::fromHex("05060708"));
}

void TstVirtualTag::leaveField_closesSessions()
{
    VirtualTag tag;
    present(tag, 0, kZeroPwd);
    present(tag, 1, kZeroPwd);
    tag.leaveField();
    QVERIFY(!tag.sessionOpen(0));
    QVERIFY(!tag.sessionOpen(1));
}

void TstVirtualTag::raw_otherUidOrManufacturer_isSilent()
{
    VirtualTag tag(VirtualTag::Kind::P, 7);
    VirtualTag other(VirtualTag::Kind::P, 8);
    QVERIFY(tag.transceiveRaw(customRequest(other, 0xB3, pwdParams(0, kZeroPwd))).isEmpty());
    QByteArray wrongMfg = customRequest(tag, 0xB3, pwdParams(0, kZeroPwd));
    wrongMfg[2] = 0x04;
    QVERIFY(tag.transceiveRaw(wrongMfg).isEmpty());
    QVERIFY(tag.transceiveRaw(QByteArray::fromHex("22")).isEmpty());
    QVERIFY(tag.transceiveRaw(QByteArray::fromHex("22B302")).isEmpty()); // UID cut short
    QVERIFY(!tag.sessionOpen(0));
    // Non-addressed requests reach the tag.
    QCOMPARE(tag.transceiveRaw(customRequest(tag, 0xB3, pwdParams(0, kZeroPwd), 0x02)),
             QByteArray::fromHex("0078F0"));
}

void TstVirtualTag::raw_readWriteMultiple()
{
    VirtualTag tag;
    QByteArray req = QByteArray::fromHex("2224") + tag.uidLsbFirst() + QByteArray::fromHex("0401") +
                     QByteArray::fromHex("0102030405060708");
    QCOMPARE(tag.transceiveRaw(req), QByteArray::fromHex("0078F0"));
    req = QByteArray::fromHex("2223") + tag.uidLsbFirst() + QByteArray::fromHex("0401");
    const QByteArray r = tag.transceiveRaw(req);
    QCOMPARE(r.mid(0, 9), QByteArray::fromHex("000102030405060708"));
    QVERIFY(crc16::x25TrailerOk(r));
    req = QByteArray::fromHex("2220") + tag.uidLsbFirst() + QByteArray::fromHex("80");
    QCOMPARE(tag.transceiveRaw(req).left(2), QByteArray::fromHex("0110"));
    QCOMPARE(tag.transceiveRaw(QByteArray::fromHex("2299") + tag.uidLsbFirst()).left(2),
             QByteArray::fromHex("0101"));
}

void TstVirtualTag::raw_malformed_isGenericError()
{
    VirtualTag tag;
    QCOMPARE(tag.transceiveRaw(customRequest(tag, 0xB3, QByteArray(5, '\0'))).left(2),
             QByteArray::fromHex("010F"));
    QCOMPARE(tag.transceiveRaw(customRequest(tag, 0xA1, QByteArray::fromHex("04"))).left(2),
             QByteArray::fromHex("010F"));
    QVERIFY(!tag.sessionOpen(0));
}

void TstVirtualTag::field_layReplaceRemove()
{
    ReaderField field;
    QSignalSpy changed(&field, &ReaderField::tagsChanged);
    auto a = std::make_shared<VirtualTag>(VirtualTag::Kind::P, 1);
    auto b = std::make_shared<VirtualTag>(VirtualTag::Kind::Pwm, 2);
    auto a2 = std::make_shared<VirtualTag>(VirtualTag::Kind::P, 1);
    field.layTag(a);
    field.layTag(b);
    field.layTag(a2);
    QCOMPARE(field.tagCount(), 2);
    QCOMPARE(field.tags().first(), a2);
    QCOMPARE(field.findByUidLsbFirst(b->uidLsbFirst()), b);
    QCOMPARE(field.findByUidMsbFirst(b->uidMsbFirst()), b);
    QVERIFY(!field.findByUidMsbFirst(b->uidLsbFirst()));
    present(*b, 0, kZeroPwd);
    QVERIFY(field.removeTag(b->uidMsbFirst()));
    QVERIFY(!b->sessionOpen(0));
    QVERIFY(!field.removeTag(b->uidMsbFirst()));
    field.clear();
    QCOMPARE(field.tagCount(), 0);
    QCOMPARE(changed.count(), 5);
}

void TstVirtualTag::field_transceiveRoutesByUid()
{
    ReaderField field;
    auto a = std::make_shared<VirtualTag>(VirtualTag::Kind::P, 1);
    auto b = std::make_shared<VirtualTag>(VirtualTag::Kind::P, 2);
    b->setPassword(0, kFixedPwd);
    QVERIFY(field.transceiveRaw(customRequest(*a, 0xB3, pwdParams(0, kZeroPwd))).isEmpty());
    field.layTag(a);
    field.layTag(b);
    QCOMPARE(field.transceiveRaw(customRequest(*b, 0xB3, pwdParams(0, kFixedPwd))),
             QByteArray::fromHex("0078F0"));
    QVERIFY(b->sessionOpen(0));
    QVERIFY(!a->sessionOpen(0));
    // Non-addressed with two tags: collision, nothing heard.
    QVERIFY(field.transceiveRaw(customRequest(*a, 0xB3, pwdParams(0, kZeroPwd), 0x02)).isEmpty());
    field.removeTag(b->uidMsbFirst());
    QCOMPARE(field.transceiveRaw(customRequest(*a, 0xB3, pwdParams(0, kZeroPwd), 0x02)),
             QByteArray::fromHex("0078F0"));
}

void TstVirtualTag::field_faults_skipCountAndFilter()
{
    ReaderField field;
    field.armReplyFault(SimReplyFault::BadCrc, 2, 1, 0x22);
    QCOMPARE(field.beginCommand(0x11), SimReplyFault::None); // filtered out, skip kept
    QCOMPARE(field.beginCommand(0x22), SimReplyFault::None); // skipped
    QCOMPARE(field.beginCommand(0x22), SimReplyFault::BadCrc);
    QCOMPARE(field.beginCommand(0x11), SimReplyFault::None);
    QCOMPARE(field.beginCommand(0x22), SimReplyFault::BadCrc);
    QCOMPARE(field.beginCommand(0x22), SimReplyFault::None);
    field.armReplyFault(SimReplyFault::NoReply, -1);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(field.beginCommand(i), SimReplyFault::NoReply);
    field.clearFaults();
    QCOMPARE(field.beginCommand(0x22), SimReplyFault::None);
}

void TstVirtualTag::field_removeTagsAfter()
{
    ReaderField field;
    auto a = std::make_shared<VirtualTag>();
    field.layTag(a);
    field.removeTagsAfter(2);
    field.beginCommand(0x11);
    field.beginCommand(0x22);
    QCOMPARE(field.tagCount(), 1);
    field.beginCommand(0x22);
    QCOMPARE(field.tagCount(), 0);
    field.layTag(a);
    field.beginCommand(0x22);
    QCOMPARE(field.tagCount(), 1);
}

void TstVirtualTag::field_unplugCount()
{
    ReaderField field;
    QCOMPARE(field.unplugCount(SimReaderKind::R321), quint64(0));
    field.setUnplugged(SimReaderKind::R321, true);
    field.setUnplugged(SimReaderKind::R321, true);
    QVERIFY(field.isUnplugged(SimReaderKind::R321));
    QVERIFY(!field.isUnplugged(SimReaderKind::Feig));
    QCOMPARE(field.unplugCount(SimReaderKind::R321), quint64(1));
    field.setUnplugged(SimReaderKind::R321, false);
    field.setUnplugged(SimReaderKind::R321, true);
    QCOMPARE(field.unplugCount(SimReaderKind::R321), quint64(2));
    field.clearFaults();
    QVERIFY(!field.isUnplugged(SimReaderKind::R321));
}

void TstVirtualTag::airTime_matchesModel_data()
{
    QTest::addColumn<qint64>("us");
    QTest::addColumn<double>("expectedMs");
    QTest::newRow("inventory") << ReaderField::inventoryAirTimeUs(1) << 5.9;
    QTest::newRow("read 12") << ReaderField::readAirTimeUs(12) << 20.4;
    QTest::newRow("read 8") << ReaderField::readAirTimeUs(8) << 15.5;
    QTest::newRow("write 10") << ReaderField::writeAirTimeUs(10) << 67.6;
    // Lower bounds of whole operations: inventory and twelve bank pieces; eight writes.
    QTest::newRow("read 512 bytes")
        << ReaderField::inventoryAirTimeUs(1) + 8 * ReaderField::readAirTimeUs(12) +
               4 * ReaderField::readAirTimeUs(8)
        << 234.0;
    QTest::newRow("write drive area")
        << 6 * ReaderField::writeAirTimeUs(10) + 2 * ReaderField::writeAirTimeUs(2) << 444.0;
}

void TstVirtualTag::airTime_matchesModel()
{
    QFETCH(qint64, us);
    QFETCH(double, expectedMs);
    // "About" in the model's figures: within half a millisecond or 1.5 %.
    const double tolerance = qMax(0.5, expectedMs * 0.015);
    QVERIFY2(qAbs(us / 1000.0 - expectedMs) < tolerance, qPrintable(QString::number(us)));
    QVERIFY(ReaderField::inventoryAirTimeUs(3) > ReaderField::inventoryAirTimeUs(1));
    QVERIFY(ReaderField::inventoryAirTimeUs(0) < ReaderField::inventoryAirTimeUs(1));
    // A present password is a custom request of 21 bytes and a 3-byte answer.
    VirtualTag tag;
    const QByteArray req = customRequest(tag, 0xB3, pwdParams(0, kZeroPwd));
    QCOMPARE(ReaderField::rawAirTimeUs(req, QByteArray::fromHex("0078F0")),
             ReaderField::airTimeUs(req.size() + 2, 3));
}

QTEST_GUILESS_MAIN(TstVirtualTag)
#include "tst_virtualtag.moc"
