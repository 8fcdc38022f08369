#include "readers/replies.h"
#include "readers/crc16.h"
#include "readers/r321frames.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simr321.h"

#include <QElapsedTimer>
#include <QtTest>

namespace
{

const QByteArray kFixedPwd = QByteArray::fromHex("7130458269154038");

// Sends a frame the way the link does: 64-byte pieces behind report ID 0.
void sendFrame(SimR321& sim, const QByteArray& frame)
{
    const int pieces = (frame.size() + 63) / 64;
    const QByteArray buffer = r321::fitted(frame, pieces * 64);
    for (int i = 0; i < pieces; ++i)
        QCOMPARE(sim.write(QByteArray(1, '\0') + buffer.mid(64 * i, 64)), 65);
}

// Reads one reply report (64 bytes) or an empty array on time-out.
QByteArray readReport(SimR321& sim, int timeoutMs = 200)
{
    QByteArray r;
    const int n = sim.read(&r, timeoutMs);
    return n > 0 ? r : QByteArray();
}

QByteArray exchange(SimR321& sim, const QByteArray& frame)
{
    sendFrame(sim, frame);
    return readReport(sim);
}

} // namespace

class TstSimR321 : public QObject
{
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void reply_layoutIsConsistent();
    void init_andBeeper();
    void inventory_severalTags();
    void inventory_noTag_failsStatus();
    void inventory_capsAtFiveRecords();
    void readBlocks_returnsTagOrder();
    void readBlocks_pwmBlock248();
    void readBlocks_unknownUid_noTag();
    void writeBlocks_reachTheTag();
    void writeBlocks_protected_failsWithIsoCode();
    void transparent_presentPassword();
    void transparent_wrongPassword_statusOkTagError();
    void badCrc_answersCrcError();
    void longFrame_isReassembled();
    void garbageReport_isIgnored();
    void unknownCommand_badCommandStatus();
    void otherVendorInterface_neverAnswers();
    void fault_noReply();
    void fault_badCrc();
    void fault_flippedPayload();
    void fault_failingStatus();
    void fault_tagRemovedMidSequence();
    void unplugged_killsHandleAndListing();
    void hung_writeBlocksUntilClosed();
    void openFails_andUnknownPath();
    void latency_delaysReply();
    void commandLog_recordsRequests();

  private:
    ReaderField* m_field = nullptr;
    SimR321* m_sim = nullptr;
    std::shared_ptr<VirtualTag> m_tag;
};

void TstSimR321::init()
{
    m_field = new ReaderField;
    m_sim = new SimR321(m_field);
    m_tag = std::make_shared<VirtualTag>(VirtualTag::Kind::P, 0x0A0B0C0D0EULL);
    QByteArray mem;
    for (int i = 0; i < 512; ++i)
        mem.append(char(i & 0xFF));
    m_tag->setMemory(mem);
    m_field->layTag(m_tag);
    QVERIFY(m_sim->open(SimR321::defaultInterface().path));
}

void TstSimR321::cleanup()
{
    delete m_sim;
    delete m_field;
    m_tag.reset();
}

void TstSimR321::reply_layoutIsConsistent()
{
    const QByteArray r = SimR321::buildReply(0x22, 0x00, QByteArray::fromHex("01020304"), 0);
    QCOMPARE(r.size(), 19);
    const int len = uint8_t(r.at(3));
    QCOMPARE(len + 4, r.size());
    QCOMPARE(uint8_t(r.at(0)), uint8_t(r.size() - 1)); // same length byte as the requests
    QCOMPARE(r.mid(1, 2), QByteArray::fromHex("7E55"));
    QCOMPARE(uint8_t(r.at(8)), uint8_t(0x1F));
    QCOMPARE(uint8_t(r.at(9)), uint8_t(0x22));
    QCOMPARE(r.mid(11, len - 11), QByteArray::fromHex("01020304"));
    QCOMPARE(int(r.at(len)), 0);
    QVERIFY(crc16::x25TrailerOk(r.mid(3)));
    // The engine's own decoder reads it the same way.
    const replies::R321Reply d = replies::decodeR321(r);
    QVERIFY(d.usable);
    QVERIFY(d.iso);
    QCOMPARE(d.kind, replies::Kind::ReadBlocks);
    QCOMPARE(d.payload, QByteArray::fromHex("01020304"));
    QVERIFY(d.ok());
    // Smallest reply: no payload, 15 bytes.
    QCOMPARE(SimR321::buildReply(0x23, 0x04, {}, 0x12).size(), 15);
    QCOMPARE(replies::decodeR321(SimR321::buildReply(0x23, 0x04, {}, 0x12)).status, uint8_t(0x04));
}

void TstSimR321::init_andBeeper()
{
    QByteArray r = exchange(*m_sim, r321::Cmd_Init());
    QCOMPARE(r.size(), 64);
    QCOMPARE(uint8_t(r.at(9)), uint8_t(0xF4));
    QCOMPARE(int(r.at(11)), 0);
    r = exchange(*m_sim, r321::Cmd_Raw(QByteArray::fromHex("0001000000000000"), 8));
    QCOMPARE(replies::decodeR321(r).kind, replies::Kind::Beeper);
    QVERIFY(replies::decodeR321(r).ok());
    QVERIFY(m_sim->beeperOn());
    exchange(*m_sim, r321::Cmd_Raw(QByteArray(8, '\0'), 8));
    QVERIFY(!m_sim->beeperOn());
    QCOMPARE(m_sim->beeperCommands(), 2);
}

void TstSimR321::inventory_severalTags()
{
    auto pwm = std::make_shared<VirtualTag>(VirtualTag::Kind::Pwm, 2);
    auto third = std::make_shared<VirtualTag>(VirtualTag::Kind::P, 3);
    m_field->layTag(pwm);
    m_field->layTag(third);
    const QByteArray r = exchange(*m_sim, r321::Cmd_Inventory());
    const replies::R321Reply d = replies::decodeR321(r);
    QCOMPARE(d.kind, replies::Kind::Inventory);
    QVERIFY(d.ok());
    QCOMPARE(replies::r321InventoryCount(d), 3);
    const QByteArray whole = r.left(d.length + 4);
    QCOMPARE(replies::r321InventoryUid(whole, 0), m_tag->uidLsbFirst());
    QCOMPARE(replies::r321InventoryUid(whole, 1), pwm->uidLsbFirst());
    QCOMPARE(replies::r321InventoryUid(whole, 2), third->uidLsbFirst());
    // The chip code sits at byte 5 of the LSB-first UID.
    QCOMPARE(uint8_t(r.at(11 + 9 + 5)), VirtualTag::ProductPwm);
}

void TstSimR321::inventory_noTag_failsStatus()
{
    m_field->clear();
    const replies::R321Reply d = replies::decodeR321(exchange(*m_sim, r321::Cmd_Inventory()));
    QCOMPARE(d.kind, replies::Kind::Inventory);
    QCOMPARE(d.status, SimR321::StatusNoTag);
    QVERIFY(d.payload.isEmpty());
}

void TstSimR321::inventory_capsAtFiveRecords()
{
    for (int i = 0; i < 7; ++i)
        m_field->layTag(std::make_shared<VirtualTag>(VirtualTag::Kind::P, 100 + i));
    const QByteArray r = exchange(*m_sim, r321::Cmd_Inventory());
    const replies::R321Reply d = replies::decodeR321(r);
    QVERIFY(d.usable);
    QCOMPARE(replies::r321InventoryCount(d), 5);
    QCOMPARE(readReport(*m_sim, 30), QByteArray()); // nothing more
}

void TstSimR321::readBlocks_returnsTagOrder()
{
    const QByteArray r = exchange(*m_sim, r321::Cmd_ReadBlocks(m_tag->uidLsbFirst(), 32, 12));
    const replies::R321Reply d = replies::decodeR321(r);
    QCOMPARE(d.kind, replies::Kind::ReadBlocks);
    QVERIFY(d.ok());
    QCOMPARE(d.payload, m_tag->memory().mid(128, 48));
    QCOMPARE(uint8_t(r.at(0)), uint8_t(62)); // 63 bytes: fits one report
}

void TstSimR321::readBlocks_pwmBlock248()
{
    auto pwm = std::make_shared<VirtualTag>(VirtualTag::Kind::Pwm, 9);
    pwm->setBlock(248, QByteArray::fromHex("10325476"));
    m_field->layTag(pwm);
    replies::R321Reply d =
        replies::decodeR321(exchange(*m_sim, r321::Cmd_ReadBlocks(pwm->uidLsbFirst(), 248, 1)));
    QVERIFY(d.ok());
    QCOMPARE(d.payload, QByteArray::fromHex("10325476"));
    // Block 64 does not exist on the PWM tag.
    const QByteArray r = exchange(*m_sim, r321::Cmd_ReadBlocks(pwm->uidLsbFirst(), 64, 1));
    d = replies::decodeR321(r);
    QCOMPARE(d.status, SimR321::StatusTagError);
    QCOMPARE(uint8_t(r.at(d.length + 1)), VirtualTag::ErrBlockUnavailable);
}

void TstSimR321::readBlocks_unknownUid_noTag()
{
    const replies::R321Reply d =
        replies::decodeR321(exchange(*m_sim, r321::Cmd_ReadBlocks(m_tag->uidMsbFirst(), 0, 12)));
    QCOMPARE(d.status, SimR321::StatusNoTag);
}

void TstSimR321::writeBlocks_reachTheTag()
{
    const QByteArray data = QByteArray::fromHex("11223344556677889900AABBCCDDEEFF01020304");
    const replies::R321Reply d = replies::decodeR321(
        exchange(*m_sim, r321::Cmd_WriteBlocks(m_tag->uidLsbFirst(), 125, data, 5)));
    QCOMPARE(d.kind, replies::Kind::WriteBlocks);
    QCOMPARE(d.status, SimR321::StatusTagError); // blocks 128 and above do not exist
    QCOMPARE(m_tag->memory().mid(500, 12), QByteArray::fromHex("F4F5F6F7F8F9FAFBFCFDFEFF"));
    const replies::R321Reply ok = replies::decodeR321(
        exchange(*m_sim, r321::Cmd_WriteBlocks(m_tag->uidLsbFirst(), 64, data, 5)));
    QVERIFY(ok.ok());
    QCOMPARE(m_tag->memory().mid(256, 20), data);
}

void TstSimR321::writeBlocks_protected_failsWithIsoCode()
{
    m_tag->setRfa1ss(0x05);
    const QByteArray r =
        exchange(*m_sim, r321::Cmd_WriteBlocks(m_tag->uidLsbFirst(), 66, QByteArray(4, 'x'), 1));
    const replies::R321Reply d = replies::decodeR321(r);
    QCOMPARE(d.status, SimR321::StatusTagError);
    QCOMPARE(uint8_t(r.at(d.length + 1)), VirtualTag::ErrBlockLocked);
    QVERIFY(m_tag->block(66) != QByteArray(4, 'x'));
}

void TstSimR321::transparent_presentPassword()
{
    const QByteArray frame = r321::Cmd_Transparent(m_tag->uidLsbFirst(), 0xB3,
                                                   QByteArray(1, '\0') + QByteArray(8, '\0'), 9);
    const replies::R321Reply d = replies::decodeR321(exchange(*m_sim, frame));
    QCOMPARE(d.kind, replies::Kind::Transparent);
    QVERIFY(d.ok());
    QCOMPARE(d.payload, QByteArray::fromHex("0078F0"));
    QCOMPARE(replies::transparentResponseByte1(d), int(replies::kPresentPasswordOkByte));
    QVERIFY(m_tag->sessionOpen(0));
}

void TstSimR321::transparent_wrongPassword_statusOkTagError()
{
    const QByteArray frame =
        r321::Cmd_Transparent(m_tag->uidLsbFirst(), 0xB3, QByteArray(1, '\0') + kFixedPwd, 9);
    const replies::R321Reply d = replies::decodeR321(exchange(*m_sim, frame));
    QVERIFY(d.ok()); // the reader passed the tag's answer on
    QCOMPARE(d.payload.left(2), QByteArray::fromHex("010F"));
    QVERIFY(replies::transparentResponseByte1(d) != int(replies::kPresentPasswordOkByte));
    // A transparent command to a UID that is not on the reader gets no tag answer.
    const QByteArray other =
        r321::Cmd_Transparent(QByteArray(8, '\x55'), 0xB3, QByteArray(9, '\0'), 9);
    QCOMPARE(replies::decodeR321(exchange(*m_sim, other)).status, SimR321::StatusNoTag);
}

void TstSimR321::badCrc_answersCrcError()
{
    QByteArray frame = r321::Cmd_ReadBlocks(m_tag->uidLsbFirst(), 0, 1);
    frame[frame.size() - 1] = char(frame.at(frame.size() - 1) ^ 0x01);
    const replies::R321Reply d = replies::decodeR321(exchange(*m_sim, frame));
    QCOMPARE(d.status, SimR321::StatusCrcError);
    QCOMPARE(d.command, uint8_t(0x22));
    QVERIFY(!m_field->commandLog().last().crcOk);
}

void TstSimR321::longFrame_isReassembled()
{
    // 14 blocks: 12 + 66 = 78 bytes, two reports.
    QByteArray data;
    for (int i = 0; i < 56; ++i)
        data.append(char(0xA0 + i));
    const QByteArray frame = r321::Cmd_WriteBlocks(m_tag->uidLsbFirst(), 10, data, 14);
    QCOMPARE(frame.size(), 78);
    sendFrame(*m_sim, frame);
    QCOMPARE(m_sim->reportsReceived(), 2);
    QVERIFY(replies::decodeR321(readReport(*m_sim)).ok());
    QCOMPARE(m_tag->memory().mid(40, 56), data);
    // A read of 14 blocks answers in two reports (11 + 56 + 4 = 71 bytes).
    sendFrame(*m_sim, r321::Cmd_ReadBlocks(m_tag->uidLsbFirst(), 10, 14));
    const QByteArray first = readReport(*m_sim);
    const QByteArray second = readReport(*m_sim);
    QCOMPARE(first.size(), 64);
    QCOMPARE(second.size(), 64);
    const QByteArray whole = first + second;
    QCOMPARE(whole.mid(11, 56), data);
    QVERIFY(crc16::x25TrailerOk(whole.mid(3, 68)));
}

void TstSimR321::garbageReport_isIgnored()
{
    QCOMPARE(m_sim->write(QByteArray(65, '\0')), 65);
    QCOMPARE(m_sim->write(QByteArray(1, '\0') + QByteArray(64, '\x33')), 65);
    QCOMPARE(readReport(*m_sim, 30), QByteArray());
    // The next real frame is still understood.
    QVERIFY(replies::decodeR321(exchange(*m_sim, r321::Cmd_Inventory())).ok());
    // A report without report ID 0 is refused.
    QCOMPARE(m_sim->write(QByteArray(65, '\x01')), -1);
}

void TstSimR321::unknownCommand_badCommandStatus()
{
    QCOMPARE(replies::decodeR321(exchange(*m_sim, r321::Cmd_F5())).status,
             SimR321::StatusBadCommand);
    QCOMPARE(
        replies::decodeR321(exchange(*m_sim, r321::buildFrame(0x22, QByteArray(3, '\0')))).status,
        SimR321::StatusBadCommand);
}

void TstSimR321::otherVendorInterface_neverAnswers()
{
    HidInterfaceInfo keyboard = SimR321::defaultInterface();
    keyboard.path = "sim:keyboard";
    keyboard.vendorId = 0x046D;
    m_sim->setInterfaces({keyboard, SimR321::defaultInterface()});
    QCOMPARE(m_sim->enumerate().size(), 2);
    QVERIFY(m_sim->open("sim:keyboard"));
    sendFrame(*m_sim, r321::Cmd_Inventory());
    QCOMPARE(readReport(*m_sim, 50), QByteArray());
}

void TstSimR321::fault_noReply()
{
    m_field->armReplyFault(SimReplyFault::NoReply, 1);
    sendFrame(*m_sim, r321::Cmd_Inventory());
    QCOMPARE(readReport(*m_sim, 50), QByteArray());
    QVERIFY(replies::decodeR321(exchange(*m_sim, r321::Cmd_Inventory())).ok());
}

void TstSimR321::fault_badCrc()
{
    m_field->armReplyFault(SimReplyFault::BadCrc, 1);
    const QByteArray r = exchange(*m_sim, r321::Cmd_Inventory());
    const int len = uint8_t(r.at(3));
    QVERIFY(!crc16::x25TrailerOk(r.mid(3, len + 1)));
    QVERIFY(replies::decodeR321(r).ok()); // the rest is intact
}

void TstSimR321::fault_flippedPayload()
{
    m_field->armReplyFault(SimReplyFault::FlippedPayload, 1);
    QByteArray r = exchange(*m_sim, r321::Cmd_ReadBlocks(m_tag->uidLsbFirst(), 0, 2));
    QCOMPARE(replies::decodeR321(r).payload.at(0), char(~m_tag->memory().at(0)));
    QVERIFY(!crc16::x25TrailerOk(r.mid(3, uint8_t(r.at(3)) + 1)));
    // Without payload the status byte is hit, so a success turns into a failure.
    m_field->armReplyFault(SimReplyFault::FlippedPayload, 1);
    r = exchange(*m_sim, r321::Cmd_WriteBlocks(m_tag->uidLsbFirst(), 0, QByteArray(4, '\0'), 1));
    QVERIFY(!replies::decodeR321(r).ok());
}

void TstSimR321::fault_failingStatus()
{
    m_field->armReplyFault(SimReplyFault::FailingStatus, 1, 1, 0x22);
    QVERIFY(replies::decodeR321(exchange(*m_sim, r321::Cmd_Inventory())).ok());
    QVERIFY(replies::decodeR321(exchange(*m_sim, r321::Cmd_ReadBlocks(m_tag->uidLsbFirst(), 0, 1)))
                .ok());
    const replies::R321Reply d =
        replies::decodeR321(exchange(*m_sim, r321::Cmd_ReadBlocks(m_tag->uidLsbFirst(), 0, 1)));
    QCOMPARE(d.status, SimR321::StatusFailure);
    QVERIFY(d.payload.isEmpty());
    QVERIFY(replies::decodeR321(exchange(*m_sim, r321::Cmd_ReadBlocks(m_tag->uidLsbFirst(), 0, 1)))
                .ok());
}

void TstSimR321::fault_tagRemovedMidSequence()
{
    m_field->removeTagsAfter(2);
    QVERIFY(replies::decodeR321(exchange(*m_sim, r321::Cmd_Inventory())).ok());
    QVERIFY(replies::decodeR321(exchange(*m_sim, r321::Cmd_ReadBlocks(m_tag->uidLsbFirst(), 0, 12)))
                .ok());
    QCOMPARE(
        replies::decodeR321(exchange(*m_sim, r321::Cmd_ReadBlocks(m_tag->uidLsbFirst(), 12, 12)))
            .status,
        SimR321::StatusNoTag);
    QCOMPARE(m_field->tagCount(), 0);
}

void TstSimR321::unplugged_killsHandleAndListing()
{
    sendFrame(*m_sim, r321::Cmd_Inventory());
    m_field->setUnplugged(SimReaderKind::R321, true);
    QByteArray r;
    QCOMPARE(m_sim->read(&r, 50), -1);
    QCOMPARE(m_sim->write(QByteArray(65, '\0')), -1);
    QVERIFY(!m_sim->isOpen());
    QVERIFY(m_sim->enumerate().isEmpty());
    QVERIFY(!m_sim->open(SimR321::defaultInterface().path));
    // Plugged back: the old handle stays dead, a new open works.
    m_field->setUnplugged(SimReaderKind::R321, false);
    QVERIFY(!m_sim->isOpen());
    QCOMPARE(m_sim->enumerate().size(), 1);
    QVERIFY(m_sim->open(SimR321::defaultInterface().path));
    QVERIFY(replies::decodeR321(exchange(*m_sim, r321::Cmd_Inventory())).ok());
}

void TstSimR321::hung_writeBlocksUntilClosed()
{
    m_field->setHung(SimReaderKind::R321, true);
    std::atomic<int> result{1000};
    QThread* writer = QThread::create([this, &result]() {
        result = m_sim->write(QByteArray(1, '\0') + r321::fitted(r321::Cmd_Inventory(), 64));
    });
    writer->start();
    QTest::qWait(150);
    QCOMPARE(result.load(), 1000);
    m_sim->close();
    QVERIFY(writer->wait(2000));
    QCOMPARE(result.load(), -1);
    delete writer;
}

void TstSimR321::openFails_andUnknownPath()
{
    QVERIFY(!m_sim->open("sim:nothing"));
    QVERIFY(!m_sim->isOpen());
    m_sim->setOpenFails(true);
    QVERIFY(!m_sim->open(SimR321::defaultInterface().path));
    m_sim->setOpenFails(false);
    QVERIFY(m_sim->open(SimR321::defaultInterface().path));
    QCOMPARE(m_sim->openCount(), 2);
}

void TstSimR321::latency_delaysReply()
{
    m_field->setLatencyEnabled(true);
    QElapsedTimer t;
    t.start();
    sendFrame(*m_sim, r321::Cmd_WriteBlocks(m_tag->uidLsbFirst(), 0, QByteArray(40, '\0'), 10));
    QByteArray r;
    QCOMPARE(m_sim->read(&r, 20), 0); // 67 ms of air time are not over yet
    const QByteArray reply = readReport(*m_sim, 500);
    QVERIFY(replies::decodeR321(reply).ok());
    QVERIFY2(t.elapsed() >= ReaderField::writeAirTimeUs(10) / 1000,
             qPrintable(QString::number(t.elapsed())));
}

void TstSimR321::commandLog_recordsRequests()
{
    m_field->clearCommandLog();
    exchange(*m_sim, r321::Cmd_Inventory());
    exchange(*m_sim, r321::Cmd_ReadBlocks(m_tag->uidLsbFirst(), 32, 12));
    exchange(*m_sim,
             r321::Cmd_Transparent(m_tag->uidLsbFirst(), 0xA1, QByteArray::fromHex("0405"), 2));
    const QVector<SimCommandRecord> log = m_field->commandLog();
    QCOMPARE(log.size(), 3);
    QCOMPARE(log[0].command, 0x11);
    QCOMPARE(log[0].airTimeUs, ReaderField::inventoryAirTimeUs(1));
    QCOMPARE(log[1].command, 0x22);
    QCOMPARE(log[1].firstBlock, 32);
    QCOMPARE(log[1].blockCount, 12);
    QCOMPARE(log[1].airTimeUs, ReaderField::readAirTimeUs(12));
    QCOMPARE(log[1].request, r321::Cmd_ReadBlocks(m_tag->uidLsbFirst(), 32, 12));
    QCOMPARE(log[2].command, 0x2F);
    QCOMPARE(log[2].isoCommand, 0xA1);
    QVERIFY(log[0].timestampUs <= log[1].timestampUs && log[1].timestampUs <= log[2].timestampUs);
    for (const auto& rec : log) {
        QCOMPARE(rec.reader, SimReaderKind::R321);
        QVERIFY(rec.crcOk);
    }
}

QTEST_GUILESS_MAIN(TstSimR321)
#include "tst_simr321.moc"
