// The sequencer's own rules: sequence start, the tick handshake and the preparation of
// write sequences, stepped by hand without a reader.
#include "enginebench.h"

#include "engine/passwordoperation.h"
#include "model/tagfields.h"

using namespace enginetest;

namespace
{

// An engine without a reader and without a running tick: commands go nowhere.
struct Idle : Bench {
    Idle() { stopTimer(); }
    Handshake& hs() { return engine().sequencer().handshake(); }
};

} // namespace

class TstEngineSequencer : public QObject
{
    Q_OBJECT
  private slots:
    void controlRw_abandonsTheRunningSequence_startsAfresh();
    void handshake_sendOneThenWaitForAck();
    void lastCommandSent_nothingMoreUntilNextAction();
    void selectAutoWrite_data();
    void selectAutoWrite();
    void presentPasswordCheck_firstReplyOnly_data();
    void presentPasswordCheck_firstReplyOnly();
    void idleTick_parksAndWakesForSequenceOrBeep();
};

void TstEngineSequencer::controlRw_abandonsTheRunningSequence_startsAfresh()
{
    Idle b;
    b.engine().Control_RW(0xFE, 7);
    b.tick(3); // a step taken: the inventory, nothing answered
    QCOMPARE(b.readOp()->read_bank_step, uint8_t(2));
    QCOMPARE(b.hs().send_enable, uint8_t(0));

    b.engine().Control_RW(0xF9, 3);
    ReadOperation* op = b.readOp();
    QVERIFY(op);
    QCOMPARE(op->cmd_type, uint8_t(0xF9));
    QCOMPARE(op->readcnt, uint8_t(3));
    QCOMPARE(op->block_step, uint8_t(1));
    QCOMPARE(op->read_bank_step, uint8_t(1));
    QCOMPARE(op->reply_cnt, uint8_t(0));
    QVERIFY(op->read_data.isEmpty());
    QCOMPARE(b.hs().send_enable, uint8_t(1));
    QCOMPARE(b.hs().ack, uint8_t(0));
    // A write starts with its counters at their start values, send_cnt as no preparation
    // has set it yet.
    b.engine().Control_RW(0xFD, 0);
    QCOMPARE(b.writeOp()->write_bank_step, uint8_t(1));
    QCOMPARE(b.writeOp()->write_part_step, uint8_t(1));
    QCOMPARE(b.writeOp()->send_cnt, uint8_t(16));
    QCOMPARE(b.writeOp()->passwords.first_transparent_check, uint8_t(1));
}

void TstEngineSequencer::handshake_sendOneThenWaitForAck()
{
    Idle b;
    b.engine().Control_RW(0xFE, 7);
    ReadOperation& op = *b.readOp();
    b.tick(); // the inventory step (nothing goes out without a reader)
    QCOMPARE(op.read_bank_step, uint8_t(2));
    QCOMPARE(b.hs().send_enable, uint8_t(0));
    b.tick(5); // no reply: nothing more
    QCOMPARE(op.read_bank_step, uint8_t(2));
    QCOMPARE(op.block_step, uint8_t(1));

    b.hs().ack = 1; // a reply was accepted
    b.tick();
    QCOMPARE(b.hs().send_enable, uint8_t(1));
    QCOMPARE(b.hs().ack, uint8_t(0));
    QCOMPARE(op.block_step, uint8_t(1)); // re-arming tick sends nothing
    b.tick();
    QCOMPARE(op.block_step, uint8_t(2)); // blocks 0-11
    QCOMPARE(b.hs().send_enable, uint8_t(0));
}

void TstEngineSequencer::lastCommandSent_nothingMoreUntilNextAction()
{
    Idle b;
    b.engine().Control_RW(0xF7, 1);
    b.tick();
    QCOMPARE(b.readOp()->cmd_type, uint8_t(0));
    b.hs().ack = 1; // the last reply
    b.tick(10);
    QCOMPARE(b.hs().ack, uint8_t(1));
    QCOMPARE(b.hs().send_enable, uint8_t(0));
    QVERIFY(b.engine().idle());
}

void TstEngineSequencer::selectAutoWrite_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("sendCnt");
    QTest::addColumn<int>("cmdType");
    QTest::addColumn<int>("setCurrentBlock");
    QTest::newRow("0") << 0 << 16 << 0xFC << 0;
    QTest::newRow("1") << 1 << 8 << 0xFD << 0;
    QTest::newRow("2") << 2 << 8 << 0xFB << 0;
    QTest::newRow("3") << 3 << 1 << 0xFA << 64;
    QTest::newRow("4") << 4 << 9 << 0xF8 << 0;
    QTest::newRow("5: nothing but the bank buffer") << 5 << 16 << 0xFC << 0;
}

void TstEngineSequencer::selectAutoWrite()
{
    QFETCH(int, index);
    QFETCH(int, sendCnt);
    QFETCH(int, cmdType);
    QFETCH(int, setCurrentBlock);
    Idle b;
    b.engine().Control_RW(0xFC, 0);
    TestAccess::editImage(b.engine(), [](TagImage& image) { image.bank_buffer.fill(0xEE); });
    const TagImage& image = TestAccess::image(b.engine());

    b.engine().Select_Auto_Write(uint8_t(index));
    QCOMPARE(int(b.writeOp()->send_cnt), sendCnt);
    QCOMPARE(int(b.writeOp()->cmd_type), cmdType);
    QCOMPARE(int(b.writeOp()->set_current_block), setCurrentBlock);
    // Every preparation ends by rebuilding the bank buffer from the layout's copy.
    QVERIFY(image.isLayout2());
    QVERIFY(image.bank_buffer == image.image_v2);
}

void TstEngineSequencer::presentPasswordCheck_firstReplyOnly_data()
{
    QTest::addColumn<int>("byte1");
    QTest::addColumn<int>("pwdFirstFailed");
    QTest::addColumn<int>("blockStep");
    QTest::newRow("the tag's success response 00 78 F0") << 0x78 << 0 << 5;
    QTest::newRow("an error response") << 0x0F << 1 << 2;
    QTest::newRow("no response carried") << -1 << 1 << 2;
}

void TstEngineSequencer::presentPasswordCheck_firstReplyOnly()
{
    QFETCH(int, byte1);
    QFETCH(int, pwdFirstFailed);
    QFETCH(int, blockStep);
    Idle b;
    b.engine().Control_RW(0xFA, 0);
    PasswordOperation& p = b.writeOp()->passwords;
    p.block_step = 5;
    p.pwd_first_failed = 7;
    replies::Reply reply;
    reply.kind = replies::Kind::Transparent;
    reply.responseByte1 = byte1;
    p.Serianet_Recevie(reply);
    QCOMPARE(int(p.pwd_first_failed), pwdFirstFailed);
    QCOMPARE(int(p.block_step), blockStep);
    QCOMPARE(p.first_transparent_check, uint8_t(0));
    // Only the first custom reply of a sequence is examined.
    p.pwd_first_failed = 7;
    p.Serianet_Recevie(reply);
    QCOMPARE(p.pwd_first_failed, uint8_t(7));
}

void TstEngineSequencer::idleTick_parksAndWakesForSequenceOrBeep()
{
    Bench b;
    QTimer* timer = TestAccess::cmdTimer(b.engine());
    // Nothing runs: the tick parks instead of waking the process every millisecond.
    QTRY_VERIFY(!timer->isActive());
    QVERIFY(TestAccess::tickParked(b.engine()));

    b.engine().Control_RW(0xFE, 7);
    QVERIFY(timer->isActive());
    // No reader: the read sends nothing, but the sequence stays open and keeps the tick.
    QTest::qWait(20);
    QVERIFY(timer->isActive());

    b.engine().Control_RW(0x01, 0); // a code no step slot belongs to: nothing runs
    QTRY_VERIFY(!timer->isActive());
    // A beep wakes it; it parks again when the beep is over (on at 1, off at 101).
    b.engine().Start_Beep(1);
    QVERIFY(timer->isActive());
    QTRY_COMPARE(b.beepPattern(), uint8_t(0));
    QTRY_VERIFY(!timer->isActive());

    // A tick stopped on purpose (tests stepping by hand) is never restarted.
    b.stopTimer();
    b.engine().Control_RW(0xFE, 7);
    QVERIFY(!timer->isActive());
}

QTEST_GUILESS_MAIN(TstEngineSequencer)
#include "tst_engine_sequencer.moc"
