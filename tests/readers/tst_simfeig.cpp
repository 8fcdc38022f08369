#include "readers/myfeigusb.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/virtualtag.h"

#include <QElapsedTimer>
#include <QtTest>
#include <algorithm>
#include <array>
#include <memory>

namespace
{

const QByteArray kFixedPassword = QByteArray::fromHex("7130458269154038");

int u8(const QByteArray& a, int i)
{
    return static_cast<uint8_t>(a.at(i));
}

QByteArray reversedBlocks(QByteArray data)
{
    for (int i = 0; i + 4 <= data.size(); i += 4)
        std::reverse(data.begin() + i, data.begin() + i + 4);
    return data;
}

QByteArray blockData(int first, int count)
{
    QByteArray data;
    for (int i = 0; i < count * 4; ++i)
        data.append(char(first * 4 + i + 1));
    return data;
}

} // namespace

class TstSimFeig : public QObject
{
    Q_OBJECT
  private slots:
    void init();

    void inventory_oneTag_knownFrame();
    void inventory_noTag_statusNoTransponder();
    void inventory_twoTags_recordsInOrder();
    void read_blocksReversedWithStatusByte_data();
    void read_blocksReversedWithStatusByte();
    void read_pwmControlBlock();
    void read_failures_data();
    void read_failures();
    void write_successIsExactFrame();
    void write_protectedTag_isoError();
    void write_absentTag_noTransponder();
    void transparent_presentPassword_data();
    void transparent_presentPassword();
    void transparent_configurationSequence();
    void setOutput_statusZero();
    void badRequestCrc_statusCrcError();
    void malformedFrame_noAnswer();
    void faults_data();
    void faults();
    void failingStatus_onWrite_isWriteError();
    void tagRemovedMidSequence();
    void unplug_killsHandleAndBlocksOpen();
    void handlesAndArguments_checked();
    void commandLog_recordsEveryRequest();
    void latency_takesAirTime();
    void hungReader_timesOut();

  private:
    QByteArray send(const QByteArray& frame);

    std::unique_ptr<ReaderField> m_field;
    std::unique_ptr<SimFeig> m_feig;
    std::shared_ptr<VirtualTag> m_tag;
    int m_handle = 0;
    MyFeigUsb m_frames;
};

void TstSimFeig::init()
{
    m_field = std::make_unique<ReaderField>();
    m_feig = std::make_unique<SimFeig>(m_field.get());
    m_tag = std::make_shared<VirtualTag>(VirtualTag::Kind::P, 1);
    m_field->layTag(m_tag);
    m_handle = m_feig->ScanAndOpen(1, nullptr);
    QVERIFY(m_handle > 0);
}

QByteArray TstSimFeig::send(const QByteArray& frame)
{
    QByteArray request = frame;
    std::array<unsigned char, 400> rx{};
    char iface[] = "OBID-RCI2";
    const int n =
        m_feig->Transceive(m_handle, iface, 0, reinterpret_cast<unsigned char*>(request.data()),
                           request.size(), rx.data(), int(rx.size()));
    if (n <= 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(rx.data()), n);
}

void TstSimFeig::inventory_oneTag_knownFrame()
{
    const QByteArray reply = send(m_frames.Feig_Inventory());
    QCOMPARE(reply, QByteArray::fromHex("02001300B000010300E002500000000001FD1B"));
    QCOMPARE(u8(reply, 5), 0);
    QCOMPARE(u8(reply, 7), 0x03);
    QCOMPARE(reply.mid(9, 8), m_tag->uidMsbFirst());
}

void TstSimFeig::inventory_noTag_statusNoTransponder()
{
    m_field->clear();
    const QByteArray reply = send(m_frames.Feig_Inventory());
    QCOMPARE(reply, QByteArray::fromHex("02000800B00119CE"));
}

void TstSimFeig::inventory_twoTags_recordsInOrder()
{
    auto pwm = std::make_shared<VirtualTag>(VirtualTag::Kind::Pwm, 0x0102030405);
    m_field->layTag(pwm);
    const QByteArray reply = send(m_frames.Feig_Inventory());
    QVERIFY(feigframe::isValid(reply));
    QCOMPARE(u8(reply, 6), 2);
    QCOMPARE(reply.mid(7, 10), QByteArray::fromHex("0300") + m_tag->uidMsbFirst());
    QCOMPARE(reply.mid(17, 10), QByteArray::fromHex("0300") + pwm->uidMsbFirst());
    QCOMPARE(reply.mid(19, 8), QByteArray::fromHex("E002380102030405"));
}

void TstSimFeig::read_blocksReversedWithStatusByte_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::newRow("bank 0") << 0 << 12;
    QTest::newRow("bank 96") << 96 << 8;
    QTest::newRow("last block") << 127 << 1;
    QTest::newRow("largest reply") << 0 << 78;
}

void TstSimFeig::read_blocksReversedWithStatusByte()
{
    QFETCH(int, first);
    QFETCH(int, count);
    QVERIFY(m_tag->writeBlocks(0, 128, blockData(0, 128)) == 0);
    const QByteArray reply =
        send(m_frames.Feig_ReadBlocks(m_tag->uidMsbFirst(), uint8_t(first), uint8_t(count)));
    QVERIFY(feigframe::isValid(reply));
    QCOMPARE(reply.size(), 10 + 5 * count);
    QCOMPARE(u8(reply, 4), 0xB0);
    QCOMPARE(u8(reply, 5), 0);
    QCOMPARE(u8(reply, 6), count);
    QCOMPARE(u8(reply, 7), 4);
    const QByteArray expected = blockData(first, count);
    for (int b = 0; b < count; ++b) {
        const QByteArray record = reply.mid(8 + 5 * b, 5);
        QCOMPARE(u8(record, 0), 0);
        QByteArray data = record.mid(1);
        std::reverse(data.begin(), data.end());
        QCOMPARE(data, expected.mid(4 * b, 4));
    }
}

void TstSimFeig::read_pwmControlBlock()
{
    m_field->clear();
    auto pwm = std::make_shared<VirtualTag>(VirtualTag::Kind::Pwm, 9);
    QVERIFY(pwm->setBlock(248, QByteArray::fromHex("10325476")));
    m_field->layTag(pwm);
    const QByteArray reply = send(m_frames.Feig_ReadBlocks(pwm->uidMsbFirst(), 248, 1));
    QCOMPARE(reply, QByteArray::fromHex("02000F00B000010400") + QByteArray::fromHex("76543210") +
                        reply.right(2));
    QVERIFY(feigframe::isValid(reply));
}

void TstSimFeig::read_failures_data()
{
    QTest::addColumn<QByteArray>("uid");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("statusAndData");
    const QByteArray uid = QByteArray::fromHex("E002500000000001");
    QTest::newRow("other tag") << QByteArray::fromHex("E002500000000002") << 0 << 12
                               << QByteArray::fromHex("01");
    QTest::newRow("beyond memory") << uid << 120 << 12 << QByteArray::fromHex("9510");
    QTest::newRow("zero blocks") << uid << 0 << 0 << QByteArray::fromHex("81");
    QTest::newRow("too many for one reply") << uid << 0 << 79 << QByteArray::fromHex("81");
}

void TstSimFeig::read_failures()
{
    QFETCH(QByteArray, uid);
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(QByteArray, statusAndData);
    const QByteArray reply = send(m_frames.Feig_ReadBlocks(uid, uint8_t(first), uint8_t(count)));
    QVERIFY(feigframe::isValid(reply));
    QCOMPARE(reply.mid(5, reply.size() - 7), statusAndData);
}

void TstSimFeig::write_successIsExactFrame()
{
    const QByteArray data = blockData(64, 10);
    const QByteArray reply = send(
        m_frames.Feig_WriteBlocks(m_tag->uidMsbFirst(), 64, 10, reversedBlocks(data), data.size()));
    QCOMPARE(reply, QByteArray::fromHex("02000800B00090DF"));
    // The frame carries each block most significant byte first, as a read returns it.
    QCOMPARE(m_tag->memory().mid(256, 40), data);
    QCOMPARE(m_tag->memory().left(256), QByteArray(256, '\0'));
    const QByteArray back = send(m_frames.Feig_ReadBlocks(m_tag->uidMsbFirst(), 64, 1));
    QCOMPARE(back.mid(9, 4), reversedBlocks(data.left(4)));
}

void TstSimFeig::write_protectedTag_isoError()
{
    m_tag->setRfa1ss(0x05); // area 1 under password 1, writes protected
    const QByteArray data = blockData(0, 2);
    const QByteArray reply = send(m_frames.Feig_WriteBlocks(m_tag->uidMsbFirst(), 0, 2, data, 8));
    QVERIFY(feigframe::isValid(reply));
    QCOMPARE(reply.mid(4, 3), QByteArray::fromHex("B09512"));
    QCOMPARE(m_tag->memory().left(8), QByteArray(8, '\0'));

    // With password 1 presented the same write goes through.
    const QByteArray open =
        send(m_frames.Feig_PresentPassword(m_tag->uidLsbFirst(), 1, QByteArray(8, '\0')));
    QCOMPARE(u8(open, 5), 0);
    QCOMPARE(send(m_frames.Feig_WriteBlocks(m_tag->uidMsbFirst(), 0, 2, data, 8)),
             QByteArray::fromHex("02000800B00090DF"));
    QCOMPARE(m_tag->memory().left(8), reversedBlocks(data));
}

void TstSimFeig::write_absentTag_noTransponder()
{
    const QByteArray reply =
        send(m_frames.Feig_WriteBlocks(QByteArray::fromHex("E0025000000000FF"), 0, 1, "abcd", 4));
    QCOMPARE(reply.mid(4, 2), QByteArray::fromHex("B001"));
    // A write whose data does not match the block count is refused, nothing written.
    const QByteArray shortWrite =
        send(m_frames.Feig_WriteBlocks(m_tag->uidMsbFirst(), 0, 2, "abcd", 8));
    QCOMPARE(u8(shortWrite, 5), 0x81);
    QCOMPARE(m_tag->memory().left(4), QByteArray(4, '\0'));
}

void TstSimFeig::transparent_presentPassword_data()
{
    QTest::addColumn<QByteArray>("tagPassword");
    QTest::addColumn<QByteArray>("presented");
    QTest::addColumn<bool>("opens");
    QTest::newRow("factory, zero") << QByteArray(8, '\0') << QByteArray(8, '\0') << true;
    QTest::newRow("factory, fixed") << QByteArray(8, '\0') << kFixedPassword << false;
    QTest::newRow("configured, fixed") << kFixedPassword << kFixedPassword << true;
    QTest::newRow("configured, zero") << kFixedPassword << QByteArray(8, '\0') << false;
}

void TstSimFeig::transparent_presentPassword()
{
    QFETCH(QByteArray, tagPassword);
    QFETCH(QByteArray, presented);
    QFETCH(bool, opens);
    QVERIFY(m_tag->setPassword(0, tagPassword));
    const QByteArray reply =
        send(m_frames.Feig_PresentPassword(m_tag->uidLsbFirst(), 0, presented));
    QVERIFY(feigframe::isValid(reply));
    QCOMPARE(u8(reply, 4), 0xBF);
    if (opens) {
        QCOMPARE(reply, QByteArray::fromHex("02000B00BF000078F0935E"));
    } else {
        QCOMPARE(u8(reply, 5), 0x95);
        QCOMPARE(reply.size(), 9);
        // The engine takes byte 7 == 0x78 as the tag's success response.
        QVERIFY(u8(reply, 7) != 0x78);
    }
    QCOMPARE(m_tag->sessionOpen(0), opens);
}

void TstSimFeig::transparent_configurationSequence()
{
    const QByteArray uid = m_tag->uidLsbFirst();
    // Writing RFA1SS before password 0 has been presented is refused by the tag.
    QCOMPARE(u8(send(m_frames.Feig_WriteConfig(uid, 5)), 5), 0x95);
    QCOMPARE(int(m_tag->rfa1ss()), 0x03);

    QCOMPARE(u8(send(m_frames.Feig_PresentPassword(uid, 0, QByteArray(8, '\0'))), 5), 0);
    const QByteArray config = send(m_frames.Feig_WriteConfig(uid, 5));
    QCOMPARE(config.mid(4, 5), QByteArray::fromHex("BF000078F0"));
    QCOMPARE(int(m_tag->rfa1ss()), 5);
    QCOMPARE(u8(send(m_frames.Feig_WritePassword(uid, 0, kFixedPassword)), 5), 0);
    QCOMPARE(m_tag->password(0), kFixedPassword);

    const QByteArray read = send(m_frames.Feig_ReadConfig(uid));
    QCOMPARE(u8(read, 5), 0);
    QCOMPARE(u8(read, 6), 0x00); // tag flags
    QCOMPARE(u8(read, 7), 0x05); // RFA1SS
    // A transparent command for a tag that is not there: no transponder.
    QCOMPARE(u8(send(m_frames.Feig_ReadConfig(QByteArray(8, '\x11'))), 5), 0x01);
}

void TstSimFeig::setOutput_statusZero()
{
    QCOMPARE(send(m_frames.Feig_SetOutput(1)), QByteArray::fromHex("0200080072008A26"));
    QVERIFY(m_feig->outputOn());
    QCOMPARE(send(m_frames.Feig_SetOutput(0)), QByteArray::fromHex("0200080072008A26"));
    QVERIFY(!m_feig->outputOn());
    QCOMPARE(m_feig->outputCommands(), 2);
}

void TstSimFeig::badRequestCrc_statusCrcError()
{
    QByteArray frame = m_frames.Feig_WriteBlocks(m_tag->uidMsbFirst(), 0, 1, "abcd", 4);
    frame[frame.size() - 1] = char(frame.at(frame.size() - 1) ^ 0x40);
    QCOMPARE(send(frame), QByteArray::fromHex("02000800B00282FC"));
    QCOMPARE(m_tag->memory().left(4), QByteArray(4, '\0'));
    QVERIFY(!m_field->commandLog().last().crcOk);
}

void TstSimFeig::malformedFrame_noAnswer()
{
    const QByteArray inventory = m_frames.Feig_Inventory();
    QVERIFY(send(inventory.left(6)).isEmpty());
    QVERIFY(send(QByteArray::fromHex("03") + inventory.mid(1)).isEmpty());
    QVERIFY(send(inventory + char(0)).isEmpty());
    QCOMPARE(m_field->commandLog().size(), 3);
}

void TstSimFeig::faults_data()
{
    QTest::addColumn<int>("fault");
    QTest::newRow("no reply") << int(SimReplyFault::NoReply);
    QTest::newRow("bad crc") << int(SimReplyFault::BadCrc);
    QTest::newRow("flipped payload") << int(SimReplyFault::FlippedPayload);
    QTest::newRow("failing status") << int(SimReplyFault::FailingStatus);
}

void TstSimFeig::faults()
{
    QFETCH(int, fault);
    const QByteArray good = send(m_frames.Feig_Inventory());
    m_field->armReplyFault(SimReplyFault(fault), 1, 1); // skip one command, hit the next
    QCOMPARE(send(m_frames.Feig_Inventory()), good);
    const QByteArray hit = send(m_frames.Feig_Inventory());
    switch (SimReplyFault(fault)) {
    case SimReplyFault::NoReply:
        QVERIFY(hit.isEmpty());
        break;
    case SimReplyFault::BadCrc:
        QCOMPARE(hit.left(hit.size() - 2), good.left(good.size() - 2));
        QVERIFY(!feigframe::isValid(hit));
        break;
    case SimReplyFault::FlippedPayload:
        QCOMPARE(u8(hit, 6), u8(good, 6) ^ 0xFF);
        QVERIFY(!feigframe::isValid(hit));
        break;
    default:
        QVERIFY(feigframe::isValid(hit));
        QCOMPARE(hit.mid(4, 2), QByteArray::fromHex("B083"));
        QCOMPARE(hit.size(), 8);
        break;
    }
    QCOMPARE(send(m_frames.Feig_Inventory()), good); // the fault was for one reply only
    QCOMPARE(m_field->commandLog().size(), 4);
}

void TstSimFeig::failingStatus_onWrite_isWriteError()
{
    m_field->armReplyFault(SimReplyFault::FailingStatus, 1, 0, 0xB0);
    const QByteArray reply = send(m_frames.Feig_WriteBlocks(m_tag->uidMsbFirst(), 0, 1, "abcd", 4));
    QVERIFY(feigframe::isValid(reply));
    QCOMPARE(reply.mid(4, 2), QByteArray::fromHex("B003"));
    // The beeper command is not affected by a fault armed for 0xB0.
    m_field->armReplyFault(SimReplyFault::FailingStatus, 1, 0, 0xB0);
    QCOMPARE(u8(send(m_frames.Feig_SetOutput(1)), 5), 0);
}

void TstSimFeig::tagRemovedMidSequence()
{
    m_field->removeTagsAfter(1);
    QCOMPARE(u8(send(m_frames.Feig_ReadBlocks(m_tag->uidMsbFirst(), 0, 12)), 5), 0);
    QCOMPARE(u8(send(m_frames.Feig_ReadBlocks(m_tag->uidMsbFirst(), 12, 12)), 5), 0x01);
    QCOMPARE(m_field->tagCount(), 0);
}

void TstSimFeig::unplug_killsHandleAndBlocksOpen()
{
    QCOMPARE(m_feig->openCount(), 1);
    m_field->setUnplugged(SimReaderKind::Feig, true);
    QVERIFY(send(m_frames.Feig_Inventory()).isEmpty());
    unsigned char rx[16];
    char iface[] = "OBID-RCI2";
    QByteArray req = m_frames.Feig_Inventory();
    QCOMPARE(m_feig->Transceive(m_handle, iface, 0, reinterpret_cast<unsigned char*>(req.data()),
                                req.size(), rx, 16),
             SimFeig::ErrBadHandle);
    QVERIFY(m_feig->ScanAndOpen(1, nullptr) < 0);
    QCOMPARE(m_feig->openCount(), 1);
    m_field->setUnplugged(SimReaderKind::Feig, false);
    // The old handle stays dead; a fresh open works.
    QVERIFY(send(m_frames.Feig_Inventory()).isEmpty());
    m_handle = m_feig->ScanAndOpen(1, nullptr);
    QVERIFY(m_handle > 0);
    QVERIFY(m_handle & SimFeig::HandleBase);
    QCOMPARE(m_feig->openCount(), 2);
    QCOMPARE(u8(send(m_frames.Feig_Inventory()), 5), 0);
}

void TstSimFeig::handlesAndArguments_checked()
{
    char timeout[] = "TIMEOUT";
    char value[] = "250";
    char bad[] = "x";
    QCOMPARE(m_feig->SetDevicePara(m_handle, timeout, value), 0);
    QCOMPARE(m_feig->timeoutMs(), 250);
    QVERIFY(m_feig->SetDevicePara(m_handle, timeout, bad) < 0);
    QVERIFY(m_feig->SetDevicePara(m_handle + 7, timeout, value) < 0);

    QByteArray req = m_frames.Feig_Inventory();
    unsigned char rx[400];
    char other[] = "OTHER";
    QVERIFY(m_feig->Transceive(m_handle, other, 0, reinterpret_cast<unsigned char*>(req.data()),
                               req.size(), rx, 400) < 0);
    // A receive buffer that is too small gets only what fits.
    char iface[] = "OBID-RCI2";
    QCOMPARE(m_feig->Transceive(m_handle, iface, 0, reinterpret_cast<unsigned char*>(req.data()),
                                req.size(), rx, 5),
             5);

    QCOMPARE(m_feig->CloseDevice(m_handle), 0);
    QVERIFY(m_feig->CloseDevice(m_handle) < 0);
    QCOMPARE(m_feig->closeCount(), 1);
    QCOMPARE(m_feig->openHandles(), 0);
    QVERIFY(send(req).isEmpty());
}

void TstSimFeig::commandLog_recordsEveryRequest()
{
    const QByteArray uid = m_tag->uidMsbFirst();
    send(m_frames.Feig_Inventory());
    send(m_frames.Feig_ReadBlocks(uid, 32, 12));
    send(m_frames.Feig_WriteBlocks(uid, 64, 10, blockData(64, 10), 40));
    send(m_frames.Feig_PresentPassword(m_tag->uidLsbFirst(), 0, QByteArray(8, '\0')));
    send(m_frames.Feig_SetOutput(1));
    const QVector<SimCommandRecord> log = m_field->commandLog();
    QCOMPARE(log.size(), 5);
    for (const SimCommandRecord& r : log) {
        QVERIFY(r.reader == SimReaderKind::Feig);
        QVERIFY(r.crcOk);
    }
    QCOMPARE(log[0].command, 0xB0);
    QCOMPARE(log[0].isoCommand, 0x01);
    QCOMPARE(log[0].airTimeUs, ReaderField::inventoryAirTimeUs(1));
    QCOMPARE(log[1].isoCommand, 0x23);
    QCOMPARE(log[1].firstBlock, 32);
    QCOMPARE(log[1].blockCount, 12);
    QCOMPARE(log[1].airTimeUs, ReaderField::readAirTimeUs(12));
    QCOMPARE(log[2].isoCommand, 0x24);
    QCOMPARE(log[2].firstBlock, 64);
    QCOMPARE(log[2].blockCount, 10);
    QCOMPARE(log[2].airTimeUs, ReaderField::writeAirTimeUs(10));
    QCOMPARE(log[3].command, 0xBF);
    QCOMPARE(log[3].isoCommand, 0xB3);
    QVERIFY(log[3].airTimeUs > 0);
    QCOMPARE(log[4].command, 0x72);
    QCOMPARE(log[4].request, m_frames.Feig_SetOutput(1));
    QVERIFY(log[0].timestampUs <= log[4].timestampUs);
}

void TstSimFeig::latency_takesAirTime()
{
    m_field->setLatencyEnabled(true);
    const QByteArray data = blockData(0, 10);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(send(m_frames.Feig_WriteBlocks(m_tag->uidMsbFirst(), 0, 10, data, 40)),
             QByteArray::fromHex("02000800B00090DF"));
    QVERIFY(timer.nsecsElapsed() / 1000 >= ReaderField::writeAirTimeUs(10));
    m_field->setLatencyEnabled(false);
    timer.restart();
    send(m_frames.Feig_WriteBlocks(m_tag->uidMsbFirst(), 0, 10, data, 40));
    QVERIFY(timer.nsecsElapsed() / 1000 < ReaderField::writeAirTimeUs(10));
}

void TstSimFeig::hungReader_timesOut()
{
    char timeout[] = "TIMEOUT";
    char value[] = "60";
    QCOMPARE(m_feig->SetDevicePara(m_handle, timeout, value), 0);
    m_field->setHung(SimReaderKind::Feig, true);
    QByteArray req = m_frames.Feig_Inventory();
    unsigned char rx[400];
    char iface[] = "OBID-RCI2";
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_feig->Transceive(m_handle, iface, 0, reinterpret_cast<unsigned char*>(req.data()),
                                req.size(), rx, 400),
             SimFeig::ErrTimeout);
    QVERIFY(timer.elapsed() >= 60);
    QVERIFY(m_field->commandLog().isEmpty());
    m_field->setHung(SimReaderKind::Feig, false);
    QCOMPARE(u8(send(req), 5), 0);
}

QTEST_GUILESS_MAIN(TstSimFeig)
#include "tst_simfeig.moc"
