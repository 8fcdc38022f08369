// What the engine needs to tell a damaged or missing reply: the CRC of both readers'
// reply frames, and the reply matcher's give-up of a command that is never answered.
#include "engine/replymatcher.h"
#include "readers/crc16.h"
#include "readers/myfeigusb.h"
#include "readers/r321frames.h"
#include "readers/replies.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"

#include <QtTest>

using namespace replies;

Q_DECLARE_METATYPE(replies::Kind)

namespace
{

QByteArray padded(QByteArray frame, int size = 64)
{
    frame.append(QByteArray(std::max(0, size - frame.size()), '\0'));
    return frame;
}

QByteArray flipped(QByteArray frame, int index)
{
    frame[index] = char(uint8_t(frame.at(index)) ^ 0xFF);
    return frame;
}

const QByteArray kBlocks = QByteArray::fromHex("00112233445566778899AABB");

} // namespace

class TstReplyIntegrity : public QObject
{
    Q_OBJECT
  private slots:
    void r321Crc_data();
    void r321Crc();
    void feigCrc_data();
    void feigCrc();
    void r321CrcCheck_data();
    void r321CrcCheck();
    void r321RandomTails_noReplyDropped();
    void giveUp_dropsLateReply_nextActionNotArmed();
    void giveUp_scanInventoryStillAnswered();
    void giveUp_nothingInFlight_changesNothing();
    void unreadableReply_answersCommandInFlight();
    void unreadableReply_takesDueLateReplyFirst();
    void waitingMs_countsFromSend();
    void replyOfOtherKind_whileCommandWaits_dropped_data();
    void replyOfOtherKind_whileCommandWaits_dropped();
    void droppedLateReply_commandStillWaits_notRearmed();
};

void TstReplyIntegrity::r321Crc_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<bool>("crcOk");
    const QByteArray read = SimR321::buildReply(0x22, 0x00, kBlocks);
    const int l = uint8_t(read.at(3));
    QTest::newRow("read, padded report") << padded(read) << true << true;
    QTest::newRow("read, frame alone") << read << true << true;
    QTest::newRow("write, no payload")
        << padded(SimR321::buildReply(0x23, 0x00, {})) << true << true;
    QTest::newRow("failure status")
        << padded(SimR321::buildReply(0x22, 0x01, {}, 0x0F)) << true << true;
    QTest::newRow("payload byte flipped") << padded(flipped(read, 11)) << true << false;
    QTest::newRow("status flipped") << padded(flipped(read, l)) << true << false;
    QTest::newRow("command echo flipped") << padded(flipped(read, 9)) << true << false;
    QTest::newRow("CRC low byte flipped") << padded(flipped(read, l + 2)) << true << false;
    QTest::newRow("CRC high byte flipped") << padded(flipped(read, l + 3)) << true << false;
    // Padding after the frame is not part of it.
    QTest::newRow("padding changed") << flipped(padded(read), l + 6) << true << true;
    QTest::newRow("zero report") << QByteArray(64, '\0') << false << false;
}

void TstReplyIntegrity::r321Crc()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, usable);
    QFETCH(bool, crcOk);
    const R321Reply r = decodeR321(reply);
    QCOMPARE(r.usable, usable);
    QCOMPARE(r.crcOk, crcOk);
}

void TstReplyIntegrity::feigCrc_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<bool>("crcOk");
    const QByteArray read = SimFeig::buildReply(
        0xB0, 0x00, QByteArray::fromHex("0104") + QByteArray(1, '\0') + kBlocks.left(4));
    QTest::newRow("read") << read << true << true;
    QTest::newRow("write success frame") << QByteArray::fromHex("02000800B00090DF") << true << true;
    QTest::newRow("other address, own CRC")
        << feigframe::build(0x01, 0xB0, QByteArray(1, '\0')) << true << true;
    QTest::newRow("transparent") << SimFeig::buildReply(0xBF, 0x00, QByteArray::fromHex("0078F0"))
                                 << true << true;
    QTest::newRow("data byte flipped") << flipped(read, 9) << true << false;
    QTest::newRow("status flipped") << flipped(read, 5) << true << false;
    QTest::newRow("CRC flipped") << flipped(read, read.size() - 2) << true << false;
    QTest::newRow("trailing byte") << read + QByteArray(1, '\0') << true << false;
    QTest::newRow("length field wrong") << flipped(read, 2) << true << false;
    QTest::newRow("write frame, CRC wrong")
        << QByteArray::fromHex("02000800B00090DE") << true << false;
    QTest::newRow("seven bytes") << QByteArray::fromHex("02000700B00000") << false << false;
}

void TstReplyIntegrity::feigCrc()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, usable);
    QFETCH(bool, crcOk);
    const FeigReply r = decodeFeig(reply);
    QCOMPARE(r.usable, usable);
    QCOMPARE(r.crcOk, crcOk);
}

void TstReplyIntegrity::r321CrcCheck_data()
{
    // One character per reply: + its CRC matched, - it did not. The expected column says
    // which replies are taken (t) and which are dropped as damaged (d).
    QTest::addColumn<QString>("crcs");
    QTest::addColumn<QString>("taken");
    QTest::newRow("chance match then misses") << "-+----+--"
                                              << "ttttttttt";
    QTest::newRow("two matches are not enough") << "++-++-"
                                                << "tttttt";
    QTest::newRow("confirmed, one damaged") << "+++-++"
                                            << "tttdtt";
    // The miss that ends the check is dropped as well; only later replies go unchecked.
    QTest::newRow("confirmed, then matches stop") << "+++------"
                                                  << "tttdddttt";
    QTest::newRow("confirmed, three misses") << "+++---"
                                             << "tttddd";
    QTest::newRow("confirmed, three misses, then a match") << "+++---+"
                                                           << "tttdddt";
    QTest::newRow("forgotten, confirmed again") << "+++---+++-"
                                                << "tttdddtttd";
}

void TstReplyIntegrity::r321CrcCheck()
{
    QFETCH(QString, crcs);
    QFETCH(QString, taken);
    R321CrcCheck check;
    QString got;
    for (const QChar c : crcs)
        got += check.accept(c == '+') ? 't' : 'd';
    QCOMPARE(got, taken);
}

void TstReplyIntegrity::r321RandomTails_noReplyDropped()
{
    ReaderField field;
    auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 7);
    field.layTag(tag);
    SimR321 reader(&field);
    reader.setRandomReplyTails(22);
    QVERIFY(reader.open(SimR321::defaultInterface().path));
    const QByteArray uid = tag->uidLsbFirst();
    const QByteArray requests[] = {r321::Cmd_Inventory(), r321::Cmd_ReadBlocks(uid, 0, 12),
                                   r321::Cmd_WriteBlocks(uid, 40, QByteArray(8, 'x'), 2)};
    R321CrcCheck check;
    int matches = 0;
    for (int i = 0; i < 3000; ++i) {
        QVERIFY(reader.write(QByteArray(1, '\0') + r321::fitted(requests[i % 3], 64)) > 0);
        QByteArray rx;
        QVERIFY(reader.read(&rx, 1000) > 0);
        const R321Reply reply = decodeR321(rx);
        QVERIFY(reply.usable && reply.ok());
        matches += reply.crcOk;
        QVERIFY2(check.accept(reply.crcOk), qPrintable(QString("reply %1 dropped").arg(i)));
    }
    QVERIFY(matches < 3); // the tails really are random
    // The same reader with its CRC right, then one reply damaged: that one is caught.
    reader.setRandomReplyTails(0);
    field.armReplyFault(SimReplyFault::BadCrc, 1, 4);
    QString taken;
    for (int i = 0; i < 6; ++i) {
        reader.write(QByteArray(1, '\0') + r321::fitted(r321::Cmd_Inventory(), 64));
        QByteArray rx;
        QVERIFY(reader.read(&rx, 1000) > 0);
        taken += check.accept(decodeR321(rx).crcOk) ? 't' : 'd';
    }
    QCOMPARE(taken, QString("ttttdt"));
}

namespace
{

ReplyMatcher::To to(ReplyMatcher& m, Kind kind)
{
    replies::Reply r;
    r.kind = kind;
    r.receivedAt = replies::clock();
    return m.take(r).to;
}

} // namespace

void TstReplyIntegrity::giveUp_dropsLateReply_nextActionNotArmed()
{
    ReplyMatcher m;
    m.commandSent(Kind::ReadBlocks, replies::clock());
    m.giveUp(0);
    QVERIFY(!m.inFlight());
    // The late answer, in any sequence form, answers nothing.
    QCOMPARE(to(m, Kind::ReadBlocks), ReplyMatcher::To::Drop);
    QCOMPARE(to(m, Kind::NoTag), ReplyMatcher::To::Drop);
    QCOMPARE(to(m, Kind::Beeper), ReplyMatcher::To::Beeper);
    // A new action does not arm the matcher for the given-up command: its first reply counts.
    m.restart();
    QVERIFY(!m.armed());
    m.commandSent(Kind::ReadBlocks, replies::clock());
    QCOMPARE(to(m, Kind::ReadBlocks), ReplyMatcher::To::Sequence);
}

void TstReplyIntegrity::giveUp_scanInventoryStillAnswered()
{
    ReplyMatcher m;
    m.commandSent(Kind::ReadBlocks, replies::clock());
    m.giveUp(0);
    // The auto-write loop's inventory after a model-name read that got no answer.
    m.scanSent(replies::clock());
    QCOMPARE(to(m, Kind::ReadBlocks), ReplyMatcher::To::Drop);
    QCOMPARE(to(m, Kind::Inventory), ReplyMatcher::To::Scan);
}

void TstReplyIntegrity::giveUp_nothingInFlight_changesNothing()
{
    ReplyMatcher m;
    m.giveUp(replies::clock() + 1000000000LL);
    QVERIFY(!m.holding());
    QCOMPARE(to(m, Kind::Inventory), ReplyMatcher::To::Drop);
}

void TstReplyIntegrity::unreadableReply_answersCommandInFlight()
{
    ReplyMatcher m;
    QCOMPARE(m.unreadableReply(replies::clock()), Kind::Unusable);
    m.commandSent(Kind::WriteBlocks, replies::clock());
    QCOMPARE(m.inFlightKind(), Kind::WriteBlocks);
    QCOMPARE(m.unreadableReply(replies::clock()), Kind::WriteBlocks);
    QVERIFY(!m.inFlight());
    QCOMPARE(m.unreadableReply(replies::clock()), Kind::Unusable);
}

void TstReplyIntegrity::unreadableReply_takesDueLateReplyFirst()
{
    ReplyMatcher m;
    m.commandSent(Kind::ReadBlocks, replies::clock());
    m.restart(); // a new action abandons the read
    m.commandSent(Kind::Inventory, replies::clock());
    // The abandoned read's late answer.
    QCOMPARE(m.unreadableReply(replies::clock()), Kind::Unusable);
    QVERIFY(!m.armed());
    QVERIFY(m.inFlight());
    QCOMPARE(m.unreadableReply(replies::clock()), Kind::Inventory);
}

void TstReplyIntegrity::waitingMs_countsFromSend()
{
    ReplyMatcher m;
    QCOMPARE(m.waitingMs(), qint64(-1));
    m.commandSent(Kind::Inventory, replies::clock());
    QTest::qWait(30);
    const qint64 first = m.waitingMs();
    QVERIFY2(first >= 25, qPrintable(QString::number(first)));
    m.commandSent(Kind::ReadBlocks, replies::clock()); // the next command starts its own wait
    QVERIFY(m.waitingMs() < first);
    QCOMPARE(to(m, Kind::ReadBlocks), ReplyMatcher::To::Sequence);
    QCOMPARE(m.waitingMs(), qint64(-1));
}

void TstReplyIntegrity::replyOfOtherKind_whileCommandWaits_dropped_data()
{
    QTest::addColumn<replies::Kind>("waiting");
    QTest::addColumn<replies::Kind>("reply");
    QTest::addColumn<bool>("dropped");
    QTest::newRow("read while inventory waits") << Kind::Inventory << Kind::ReadBlocks << true;
    QTest::newRow("write while read waits") << Kind::ReadBlocks << Kind::WriteBlocks << true;
    QTest::newRow("read while transparent waits") << Kind::Transparent << Kind::ReadBlocks << true;
    QTest::newRow("FEIG no tag while read waits") << Kind::ReadBlocks << Kind::NoTag << false;
    QTest::newRow("FEIG no tag while write waits") << Kind::WriteBlocks << Kind::NoTag << false;
    QTest::newRow("same kind") << Kind::WriteBlocks << Kind::WriteBlocks << false;
}

void TstReplyIntegrity::replyOfOtherKind_whileCommandWaits_dropped()
{
    QFETCH(replies::Kind, waiting);
    QFETCH(replies::Kind, reply);
    QFETCH(bool, dropped);
    ReplyMatcher m;
    m.commandSent(waiting, replies::clock());
    QCOMPARE(to(m, reply) == ReplyMatcher::To::Drop, dropped);
    // A dropped reply leaves the command waiting for its own.
    QCOMPARE(m.inFlight(), dropped);
    // With nothing waiting, no reply is taken: it answers no command.
    ReplyMatcher idle;
    QCOMPARE(to(idle, reply), ReplyMatcher::To::Drop);
}

void TstReplyIntegrity::droppedLateReply_commandStillWaits_notRearmed()
{
    ReplyMatcher m;
    m.commandSent(Kind::WriteBlocks, replies::clock());
    m.restart();
    m.commandSent(Kind::WriteBlocks, replies::clock());
    // Taken for the abandoned write's reply.
    QCOMPARE(to(m, Kind::WriteBlocks), ReplyMatcher::To::Drop);
    QVERIFY(m.inFlight());
    QVERIFY(m.waitingMs() >= 0); // so the reply time-out still covers it
    m.restart();
    QVERIFY(!m.armed());
    m.commandSent(Kind::WriteBlocks, replies::clock());
    QCOMPARE(to(m, Kind::WriteBlocks), ReplyMatcher::To::Sequence);
}

QTEST_GUILESS_MAIN(TstReplyIntegrity)
#include "tst_replyintegrity.moc"
