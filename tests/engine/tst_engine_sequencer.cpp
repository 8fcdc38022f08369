// The sequencer's own rules: sequence start, the tick handshake and the preparation of
// write sequences, stepped by hand without a reader.
#include "enginebench.h"

#include "model/tagfields.h"

using namespace enginetest;

namespace
{

// A window without a reader and without a running tick.
struct Idle : Bench {
    Idle() { stopTimer(); }
};

} // namespace

class TstEngineSequencer : public QObject
{
    Q_OBJECT
  private slots:
    void controlRw_setsStartState();
    void handshake_sendOneThenWaitForAck();
    void lastCommandSent_nothingMoreUntilNextAction();
    void selectAutoWrite_data();
    void selectAutoWrite();
    void namedReplySlots_decodeByReaderType();
    void presentPasswordCheck_withoutReader_takesOtherPassword();
    void idleTick_parksAndWakesForSequenceOrBeep();
};

void TstEngineSequencer::controlRw_setsStartState()
{
    Idle b;
    TestAccess::editCmd(b.engine(), [](CommandState& c) {
        c.send_cnt = 9;
        c.block_step = c.read_bank_step = c.write_part_step = c.write_bank_step = 7;
        c.reply_cnt = 5;
        c.ack = 1;
        c.first_transparent_check = 0;
        c.read_data = "old";
    });
    const CommandState& c = b.cmd();
    TestAccess::controlRw(b.engine(), 0xF9, 3);
    QCOMPARE(c.cmd_type, uint8_t(0xF9));
    QCOMPARE(c.readcnt, uint8_t(3));
    QCOMPARE(c.send_cnt, uint8_t(9)); // set by the write preparation, not here
    QCOMPARE(c.block_step, uint8_t(1));
    QCOMPARE(c.read_bank_step, uint8_t(1));
    QCOMPARE(c.write_part_step, uint8_t(1));
    QCOMPARE(c.write_bank_step, uint8_t(1));
    QCOMPARE(c.reply_cnt, uint8_t(0));
    QCOMPARE(c.send_enable, uint8_t(1));
    QCOMPARE(c.ack, uint8_t(0));
    QCOMPARE(c.first_transparent_check, uint8_t(1));
    QVERIFY(c.read_data.isEmpty());
}

void TstEngineSequencer::handshake_sendOneThenWaitForAck()
{
    Idle b;
    const CommandState& c = b.cmd();
    TestAccess::controlRw(b.engine(), 0xFE, 7);
    b.tick(); // the inventory step (nothing goes out without a reader)
    QCOMPARE(c.read_bank_step, uint8_t(2));
    QCOMPARE(c.send_enable, uint8_t(0));
    b.tick(5); // no reply: nothing more
    QCOMPARE(c.read_bank_step, uint8_t(2));
    QCOMPARE(c.block_step, uint8_t(1));

    TestAccess::editCmd(b.engine(), [](CommandState& s) { s.ack = 1; }); // a reply was accepted
    b.tick();
    QCOMPARE(c.send_enable, uint8_t(1));
    QCOMPARE(c.ack, uint8_t(0));
    QCOMPARE(c.block_step, uint8_t(1)); // re-arming tick sends nothing
    b.tick();
    QCOMPARE(c.block_step, uint8_t(2)); // blocks 0-11
    QCOMPARE(c.send_enable, uint8_t(0));
}

void TstEngineSequencer::lastCommandSent_nothingMoreUntilNextAction()
{
    Idle b;
    const CommandState& c = b.cmd();
    TestAccess::controlRw(b.engine(), 0xF7, 1);
    b.tick();
    QCOMPARE(c.cmd_type, uint8_t(0));
    TestAccess::editCmd(b.engine(), [](CommandState& s) { s.ack = 1; }); // the last reply
    b.tick(10);
    QCOMPARE(c.ack, uint8_t(1));
    QCOMPARE(c.send_enable, uint8_t(0));
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
    QTest::newRow("5") << 5 << 3 << 0xFC << 0;
}

void TstEngineSequencer::selectAutoWrite()
{
    QFETCH(int, index);
    QFETCH(int, sendCnt);
    QFETCH(int, cmdType);
    QFETCH(int, setCurrentBlock);
    Idle b;
    TestAccess::controlRw(b.engine(), 0xFC, 0);
    TestAccess::editCmd(b.engine(), [&](CommandState& c) { c.send_cnt = 3; });
    TestAccess::editImage(b.engine(), [](TagImage& image) { image.bank_buffer.fill(0xEE); });
    const TagImage& image = TestAccess::image(b.engine());

    QMetaObject::invokeMethod(&b.engine(), "Select_Auto_Write", Qt::DirectConnection,
                              Q_ARG(uint8_t, uint8_t(index)));
    QCOMPARE(int(b.cmd().send_cnt), sendCnt);
    QCOMPARE(int(b.cmd().cmd_type), cmdType);
    QCOMPARE(int(b.cmd().set_current_block), setCurrentBlock);
    // Every preparation ends by rebuilding the bank buffer from the layout's copy.
    QVERIFY(image.isLayout2());
    QVERIFY(image.bank_buffer == image.image_v2);
}

void TstEngineSequencer::namedReplySlots_decodeByReaderType()
{
    Idle b;
    TestAccess::setReaderType(b.engine(), ReaderType(Feig));
    TestAccess::controlRw(b.engine(), 0xFE, 7);
    // A FEIG read reply of one block: the block comes back in tag order.
    const QByteArray read = SimFeig::buildReply(0xB0, 0x00, QByteArray::fromHex("010400DDCCBBAA"));
    QVERIFY(QMetaObject::invokeMethod(&b.engine(), "Get_BLOCK_Data", Qt::DirectConnection,
                                      Q_ARG(QByteArray, read)));
    QCOMPARE(b.cmd().reply_cnt, uint8_t(1));
    QCOMPARE(b.cmd().read_data, QByteArray::fromHex("AABBCCDD"));

    // The same bytes read as an R321 reply are no read reply at all.
    TestAccess::setReaderType(b.engine(), ReaderType(R321));
    QVERIFY(QMetaObject::invokeMethod(&b.engine(), "Get_BLOCK_Data", Qt::DirectConnection,
                                      Q_ARG(QByteArray, read)));
    QCOMPARE(b.cmd().reply_cnt, uint8_t(1));

    QByteArray inventory =
        SimR321::buildReply(0x11, 0x00, QByteArray::fromHex("08070605043802E000"));
    QVERIFY(QMetaObject::invokeMethod(&b.engine(), "Get_Recevie_UID", Qt::DirectConnection,
                                      Q_ARG(QByteArray, inventory)));
    QCOMPARE(TestAccess::chipCode(b.engine()), uint8_t(0x38));
    QCOMPARE(b.cmd().readcnt, uint8_t(7));
    QCOMPARE(TestAccess::uid(b.engine()),
             (std::array<uint8_t, 8>{0x08, 0x07, 0x06, 0x05, 0x04, 0x38, 0x02, 0xE0}));
}

void TstEngineSequencer::presentPasswordCheck_withoutReader_takesOtherPassword()
{
    Idle b;
    TestAccess::controlRw(b.engine(), 0xFA, 0);
    TestAccess::editCmd(b.engine(), [&](CommandState& c) { c.block_step = 5; });
    TestAccess::setPwdFirstFailed(b.engine(), 0);
    const QByteArray ok = SimFeig::buildReply(0xBF, 0x00, QByteArray::fromHex("0078F0"));
    QVERIFY(QMetaObject::invokeMethod(&b.engine(), "Serianet_Recevie", Qt::DirectConnection,
                                      Q_ARG(QByteArray, ok)));
    QCOMPARE(TestAccess::pwdFirstFailed(b.engine()), uint8_t(1));
    QCOMPARE(b.cmd().block_step, uint8_t(2));
    QCOMPARE(b.cmd().first_transparent_check, uint8_t(0));
    // Only the first transparent reply of a sequence is examined.
    TestAccess::setPwdFirstFailed(b.engine(), 7);
    QVERIFY(QMetaObject::invokeMethod(&b.engine(), "Serianet_Recevie", Qt::DirectConnection,
                                      Q_ARG(QByteArray, ok)));
    QCOMPARE(TestAccess::pwdFirstFailed(b.engine()), uint8_t(7));
}


void TstEngineSequencer::idleTick_parksAndWakesForSequenceOrBeep()
{
    Bench b;
    QTimer* timer = TestAccess::cmdTimer(b.engine());
    // Nothing runs: the tick parks instead of waking the process every millisecond.
    QTRY_VERIFY(!timer->isActive());
    QVERIFY(TestAccess::tickParked(b.engine()));

    TestAccess::controlRw(b.engine(), 0xFE, 7);
    QVERIFY(timer->isActive());
    // No reader: the read sends nothing, but the sequence stays open and keeps the tick.
    QTest::qWait(20);
    QVERIFY(timer->isActive());

    TestAccess::editCmd(b.engine(), [&](CommandState& c) { c.cmd_type = 0; });
    QTRY_VERIFY(!timer->isActive());
    TestAccess::startBeep(b.engine(), 1);
    QVERIFY(timer->isActive());
    QTRY_COMPARE(TestAccess::beepPattern(b.engine()), uint8_t(0)); // on at 1, off at 101
    QTRY_VERIFY(!timer->isActive());

    // A tick stopped on purpose (tests stepping by hand) is never restarted.
    b.stopTimer();
    TestAccess::controlRw(b.engine(), 0xFE, 7);
    QVERIFY(!timer->isActive());
}

QTEST_GUILESS_MAIN(TstEngineSequencer)
#include "tst_engine_sequencer.moc"
