// The late reply of an abandoned sequence's command is dropped exactly once.
#include "engine/stalereplyguard.h"

#include <QtTest>

using replies::Kind;

Q_DECLARE_METATYPE(replies::Kind)

class TstStaleReplyGuard : public QObject
{
    Q_OBJECT
  private slots:
    void noRestart_nothingDropped();
    void restartWithNothingInFlight_nothingDropped();
    void lateReply_droppedOnce_data();
    void lateReply_droppedOnce();
    void lostLateReply_newReplyOfOtherKindAccepted();
    void lostLateReply_sameKind_secondRestartRecovers();
    void beeperAndIgnoredReplies_leaveGuardArmed();
    void beeperCommand_isNotTracked();
    void reset_disarms();
};

void TstStaleReplyGuard::noRestart_nothingDropped()
{
    StaleReplyGuard guard;
    guard.commandSent(Kind::Inventory);
    QVERIFY(guard.inFlight());
    QVERIFY(!guard.dropReply(Kind::Inventory));
    QVERIFY(!guard.inFlight());
    guard.commandSent(Kind::ReadBlocks);
    QVERIFY(!guard.dropReply(Kind::NoTag));
}

void TstStaleReplyGuard::restartWithNothingInFlight_nothingDropped()
{
    StaleReplyGuard guard;
    guard.commandSent(Kind::ReadBlocks);
    QVERIFY(!guard.dropReply(Kind::ReadBlocks));
    guard.restart();
    QVERIFY(!guard.armed());
    guard.commandSent(Kind::Inventory);
    QVERIFY(!guard.dropReply(Kind::Inventory));
}

void TstStaleReplyGuard::lateReply_droppedOnce_data()
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

void TstStaleReplyGuard::lateReply_droppedOnce()
{
    QFETCH(replies::Kind, abandoned);
    QFETCH(replies::Kind, late);
    StaleReplyGuard guard;
    guard.commandSent(abandoned);
    guard.restart();
    QVERIFY(guard.armed());
    guard.commandSent(Kind::Inventory); // the new sequence's first command
    QVERIFY(guard.dropReply(late));
    QVERIFY(!guard.armed());
    QVERIFY(!guard.dropReply(Kind::Inventory));
    QVERIFY(!guard.dropReply(late));
}

void TstStaleReplyGuard::lostLateReply_newReplyOfOtherKindAccepted()
{
    StaleReplyGuard guard;
    guard.commandSent(Kind::ReadBlocks);
    guard.restart();
    guard.commandSent(Kind::Inventory);
    // The read's reply never comes; the inventory's reply is the next one and is ours.
    QVERIFY(!guard.dropReply(Kind::Inventory));
    QVERIFY(!guard.armed());
    guard.commandSent(Kind::ReadBlocks);
    QVERIFY(!guard.dropReply(Kind::ReadBlocks));
}

void TstStaleReplyGuard::lostLateReply_sameKind_secondRestartRecovers()
{
    StaleReplyGuard guard;
    guard.commandSent(Kind::Inventory);
    guard.restart();
    guard.commandSent(Kind::Inventory);
    // Ambiguous: taken as the late reply. The new sequence then waits (the reply
    // time-out reports it if nothing more comes), and the next action must not be caught
    // by the guard again.
    QVERIFY(guard.dropReply(Kind::Inventory));
    QVERIFY(guard.inFlight());
    guard.restart();
    QVERIFY(!guard.armed());
    guard.commandSent(Kind::Inventory);
    QVERIFY(!guard.dropReply(Kind::Inventory));
}

void TstStaleReplyGuard::beeperAndIgnoredReplies_leaveGuardArmed()
{
    StaleReplyGuard guard;
    guard.commandSent(Kind::ReadBlocks);
    guard.restart();
    for (Kind k : {Kind::Beeper, Kind::Other, Kind::Unusable, Kind::Foreign})
        QVERIFY(!guard.dropReply(k));
    QVERIFY(guard.armed());
    QVERIFY(guard.dropReply(Kind::ReadBlocks));
}

void TstStaleReplyGuard::beeperCommand_isNotTracked()
{
    StaleReplyGuard guard;
    guard.commandSent(Kind::Beeper);
    QVERIFY(!guard.inFlight());
    guard.restart();
    QVERIFY(!guard.armed());
}

void TstStaleReplyGuard::reset_disarms()
{
    StaleReplyGuard guard;
    guard.commandSent(Kind::WriteBlocks);
    guard.restart();
    guard.reset();
    QVERIFY(!guard.armed());
    QVERIFY(!guard.dropReply(Kind::WriteBlocks));
}

QTEST_APPLESS_MAIN(TstStaleReplyGuard)
#include "tst_stalereplyguard.moc"
