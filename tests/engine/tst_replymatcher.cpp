// Each reply is matched to the command it answers: only a reply of the right kind,
// received after its command went out, answers it; the late reply of an abandoned
// command is dropped exactly once; a command given up holds the next one back until its
// reply window has passed.
#include "engine/replymatcher.h"

#include <QtTest>

using replies::Kind;
using To = ReplyMatcher::To;

Q_DECLARE_METATYPE(replies::Kind)

namespace
{

// A reply of `kind` received `at` (by default: now).
replies::Reply reply(Kind kind, qint64 at = -1)
{
    replies::Reply r;
    r.kind = kind;
    r.ok = true;
    r.receivedAt = at >= 0 ? at : replies::clock();
    return r;
}

To to(ReplyMatcher& m, Kind kind, qint64 at = -1)
{
    return m.take(reply(kind, at)).to;
}

} // namespace

class TstReplyMatcher : public QObject
{
    Q_OBJECT
  private slots:
    void replyOfCommandInFlight_taken_once();
    void replyReceivedBeforeItsCommand_dropped();
    void restartWithNothingInFlight_nothingDropped();
    void lateReply_droppedOnce_data();
    void lateReply_droppedOnce();
    void lostLateReply_newReplyOfOtherKindAccepted();
    void lostLateReply_sameKind_secondRestartRecovers();
    void beeperAndIgnoredReplies_leaveMatcherArmed();
    void scanInventory_answeredByInventoryOrNoTag_data();
    void scanInventory_answeredByInventoryOrNoTag();
    void givenUp_holdsUntilItsWindowHasPassed();
    void reset_disarms();
};

void TstReplyMatcher::replyOfCommandInFlight_taken_once()
{
    ReplyMatcher m;
    m.commandSent(Kind::Inventory, replies::clock());
    QVERIFY(m.inFlight());
    const ReplyMatcher::Verdict v = m.take(reply(Kind::Inventory));
    QCOMPARE(v.to, To::Sequence);
    QCOMPARE(v.awaited, Kind::Inventory);
    QVERIFY(!m.inFlight());
    // The same reply once more (a duplicate) answers nothing.
    QCOMPARE(to(m, Kind::Inventory), To::Drop);
    m.commandSent(Kind::ReadBlocks, replies::clock());
    QCOMPARE(to(m, Kind::WriteBlocks), To::Drop); // of another command
    QCOMPARE(to(m, Kind::NoTag), To::Sequence);   // a FEIG reply without a tag answers it
}

void TstReplyMatcher::replyReceivedBeforeItsCommand_dropped()
{
    // A duplicate that arrived before the next command went out cannot be its reply,
    // however late it is looked at.
    ReplyMatcher m;
    const qint64 duplicateAt = replies::clock();
    m.commandSent(Kind::WriteBlocks, duplicateAt + 1);
    QCOMPARE(to(m, Kind::WriteBlocks, duplicateAt), To::Drop);
    QVERIFY(m.inFlight());
    QCOMPARE(to(m, Kind::WriteBlocks, duplicateAt + 2), To::Sequence);
}

void TstReplyMatcher::restartWithNothingInFlight_nothingDropped()
{
    ReplyMatcher m;
    m.commandSent(Kind::ReadBlocks, replies::clock());
    QCOMPARE(to(m, Kind::ReadBlocks), To::Sequence);
    m.restart();
    QVERIFY(!m.armed());
    m.commandSent(Kind::Inventory, replies::clock());
    QCOMPARE(to(m, Kind::Inventory), To::Sequence);
}

void TstReplyMatcher::lateReply_droppedOnce_data()
{
    QTest::addColumn<replies::Kind>("abandoned");
    QTest::addColumn<replies::Kind>("late");
    QTest::newRow("read, good reply") << Kind::ReadBlocks << Kind::ReadBlocks;
    QTest::newRow("read, FEIG no tag") << Kind::ReadBlocks << Kind::NoTag;
    QTest::newRow("inventory") << Kind::Inventory << Kind::Inventory;
    QTest::newRow("write") << Kind::WriteBlocks << Kind::WriteBlocks;
    QTest::newRow("write, FEIG no tag") << Kind::WriteBlocks << Kind::NoTag;
    QTest::newRow("transparent") << Kind::Transparent << Kind::Transparent;
}

void TstReplyMatcher::lateReply_droppedOnce()
{
    QFETCH(replies::Kind, abandoned);
    QFETCH(replies::Kind, late);
    ReplyMatcher m;
    m.commandSent(abandoned, replies::clock());
    m.restart();
    QVERIFY(m.armed());
    m.commandSent(Kind::Inventory, replies::clock()); // the new sequence's first command
    QCOMPARE(to(m, late), To::Drop);
    QVERIFY(!m.armed());
    QCOMPARE(to(m, Kind::Inventory), To::Sequence);
    QCOMPARE(to(m, late), To::Drop);
}

void TstReplyMatcher::lostLateReply_newReplyOfOtherKindAccepted()
{
    ReplyMatcher m;
    m.commandSent(Kind::ReadBlocks, replies::clock());
    m.restart();
    m.commandSent(Kind::Inventory, replies::clock());
    // The read's reply never comes; the inventory's reply is the next one and is ours.
    QCOMPARE(to(m, Kind::Inventory), To::Sequence);
    QVERIFY(!m.armed());
    m.commandSent(Kind::ReadBlocks, replies::clock());
    QCOMPARE(to(m, Kind::ReadBlocks), To::Sequence);
}

void TstReplyMatcher::lostLateReply_sameKind_secondRestartRecovers()
{
    ReplyMatcher m;
    m.commandSent(Kind::Inventory, replies::clock());
    m.restart();
    m.commandSent(Kind::Inventory, replies::clock());
    // Ambiguous: taken as the late reply. The new sequence then waits (the reply
    // time-out reports it if nothing more comes), and the next action must not be caught
    // again.
    QCOMPARE(to(m, Kind::Inventory), To::Drop);
    QVERIFY(m.inFlight());
    m.restart();
    QVERIFY(!m.armed());
    m.commandSent(Kind::Inventory, replies::clock());
    QCOMPARE(to(m, Kind::Inventory), To::Sequence);
}

void TstReplyMatcher::beeperAndIgnoredReplies_leaveMatcherArmed()
{
    ReplyMatcher m;
    m.commandSent(Kind::ReadBlocks, replies::clock());
    m.restart();
    QCOMPARE(to(m, Kind::Beeper), To::Beeper);
    for (Kind k : {Kind::Other, Kind::Unusable, Kind::Foreign})
        QCOMPARE(to(m, k), To::Drop);
    QVERIFY(m.armed());
    QCOMPARE(to(m, Kind::ReadBlocks), To::Drop);
    QVERIFY(!m.armed());
}

void TstReplyMatcher::scanInventory_answeredByInventoryOrNoTag_data()
{
    QTest::addColumn<replies::Kind>("kind");
    QTest::addColumn<int>("to");
    QTest::newRow("inventory") << Kind::Inventory << int(To::Scan);
    QTest::newRow("FEIG no tag") << Kind::NoTag << int(To::Scan);
    QTest::newRow("a read's reply") << Kind::ReadBlocks << int(To::Drop);
}

void TstReplyMatcher::scanInventory_answeredByInventoryOrNoTag()
{
    QFETCH(replies::Kind, kind);
    QFETCH(int, to);
    ReplyMatcher m;
    m.scanSent(replies::clock());
    QVERIFY(!m.inFlight()); // no sequence command waits
    QCOMPARE(int(::to(m, kind)), to);
    QCOMPARE(::to(m, Kind::Inventory), to == int(To::Scan) ? To::Drop : To::Scan);
}

void TstReplyMatcher::givenUp_holdsUntilItsWindowHasPassed()
{
    ReplyMatcher m;
    m.commandSent(Kind::WriteBlocks, replies::clock());
    m.giveUp(replies::clock() + 40 * 1000000LL);
    QVERIFY(!m.inFlight());
    QVERIFY(m.holding());
    // Its late reply meets nothing to answer.
    QCOMPARE(to(m, Kind::WriteBlocks), To::Drop);
    QTRY_VERIFY_WITH_TIMEOUT(!m.holding(), 1000);
    // A link that knows when its request is over holds nothing.
    m.commandSent(Kind::ReadBlocks, replies::clock());
    m.giveUp(0);
    QVERIFY(!m.holding());
}

void TstReplyMatcher::reset_disarms()
{
    ReplyMatcher m;
    m.commandSent(Kind::WriteBlocks, replies::clock());
    m.restart();
    m.giveUp(replies::clock() + 1000000000LL);
    m.reset();
    QVERIFY(!m.armed());
    QVERIFY(!m.holding());
    m.commandSent(Kind::WriteBlocks, replies::clock());
    QCOMPARE(to(m, Kind::WriteBlocks), To::Sequence);
}

QTEST_GUILESS_MAIN(TstReplyMatcher)
#include "tst_replymatcher.moc"
