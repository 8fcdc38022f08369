// The reader's beeper on the 1 ms tick: timelines counted in ticks, the commands the
// simulated readers receive, the end of a beep, and a reader that refuses the output.
#include "enginebench.h"

#include "readers/sim/demodrivers.h"

using namespace enginetest;

namespace
{

void addReaders()
{
    QTest::addColumn<int>("reader");
    QTest::newRow("R321") << int(R321);
    QTest::newRow("FEIG") << int(Feig);
}

// One switch of the beeper: the tick it happened on and the state switched to.
struct Switch {
    int tick;
    int on;
    bool operator==(const Switch& o) const { return tick == o.tick && on == o.on; }
};

char* toString(const QVector<Switch>& switches)
{
    QString text;
    for (const Switch& s : switches)
        text += QStringLiteral("%1:%2 ").arg(s.tick).arg(s.on ? "on" : "off");
    return qstrdup(qPrintable(text));
}

// Drives the tick by hand and notes every tick on which a beeper command went out.
// Every command changes the step, the pattern or the beep counter of two beeps, so a
// change of those marks a command; the state sent is byte 1 of the beeper record.
QVector<Switch> runTicks(Bench& b, int from, int to, const std::function<void(int)>& atTick = {})
{
    QVector<Switch> out;
    const Beeper& w = b.engine().beeper();
    for (int t = from; t <= to; ++t) {
        const auto before = std::make_tuple(w.beep_step, w.beep_twice_step, w.beep_pattern);
        b.tick();
        const auto after = std::make_tuple(w.beep_step, w.beep_twice_step, w.beep_pattern);
        if (before != after)
            out << Switch{t, w.beep_cmd[1]};
        if (atTick)
            atTick(t);
    }
    return out;
}

bool beeperOn(Bench& b, int reader)
{
    return reader == R321 ? b.r321.beeperOn() : b.feig.outputOn();
}

} // namespace

class TstEngineBeeper : public QObject
{
    Q_OBJECT
  private slots:
    void oneBeep_onAtTick1_offAt101_data() { addReaders(); }
    void oneBeep_onAtTick1_offAt101();
    void twoBeeps_onOffOnOff_data() { addReaders(); }
    void twoBeeps_onOffOnOff();
    void failureDuringOneBeep_switchesToTwo_data() { addReaders(); }
    void failureDuringOneBeep_switchesToTwo();
    void lastSwitchOffReply_endsTheBeep_data() { addReaders(); }
    void lastSwitchOffReply_endsTheBeep();
    void modelReadSuccess_silent_writeBeepsOnce_data() { addReaders(); }
    void modelReadSuccess_silent_writeBeepsOnce();
    void feigRefusingOutput_reportsOnce_noEndlessBeeps();
    void r321RefusedBeeper_tracedOnce_patternEnds();
    void noReaderChosen_beepSendsNothing();
};

void TstEngineBeeper::oneBeep_onAtTick1_offAt101()
{
    QFETCH(int, reader);
    Bench b;
    QVERIFY(b.connect(reader));
    b.stopTimer();
    b.engine().Start_Beep(1);
    QCOMPARE(runTicks(b, 1, 400), (QVector<Switch>{{1, 1}, {101, 0}}));
    QCOMPARE(b.beepPattern(), uint8_t(0));
    QTRY_COMPARE(beeperCommands(b.field), 2);
    QCOMPARE(beeperOn(b, reader), false);
}

void TstEngineBeeper::twoBeeps_onOffOnOff()
{
    QFETCH(int, reader);
    Bench b;
    QVERIFY(b.connect(reader));
    b.stopTimer();
    b.engine().Start_Beep(2);
    bool onAt150 = false;
    const QVector<Switch> switches = runTicks(b, 1, 500, [&](int t) {
        if (t == 150)
            onAt150 = b.engine().beeper().beep_cmd[1] == 1;
    });
    QCOMPARE(switches, (QVector<Switch>{{1, 1}, {101, 0}, {201, 1}, {301, 0}}));
    QVERIFY(!onAt150);
    QTRY_COMPARE(beeperCommands(b.field), 4);
    QCOMPARE(beeperOn(b, reader), false);
}

void TstEngineBeeper::failureDuringOneBeep_switchesToTwo()
{
    QFETCH(int, reader);
    Bench b;
    QVERIFY(b.connect(reader));
    b.stopTimer();
    b.engine().Start_Beep(1);
    QVector<Switch> switches = runTicks(b, 1, 50);
    b.engine().Start_Beep(2);
    switches += runTicks(b, 51, 600);
    // The two-beep pattern starts over with a switch-on on the next tick.
    QCOMPARE(switches, (QVector<Switch>{{1, 1}, {51, 1}, {151, 0}, {251, 1}, {351, 0}}));
    QTRY_COMPARE(beeperCommands(b.field), 5);
    QCOMPARE(beeperOn(b, reader), false);
}

void TstEngineBeeper::lastSwitchOffReply_endsTheBeep()
{
    QFETCH(int, reader);
    EngineLogCapture log;
    Bench b;
    QVERIFY(b.connect(reader));
    b.stopTimer();
    b.engine().Start_Beep(2);
    runTicks(b, 1, 300);
    // The replies to the first three commands come while the pattern runs: ignored.
    QTRY_COMPARE(beeperCommands(b.field), 3);
    QTest::qWait(50);
    QCOMPARE(log.count(QStringLiteral("Beep_Recevie")), 0);
    runTicks(b, 301, 301);
    QTRY_COMPARE(log.count(QStringLiteral("Beep_Recevie")), 1);
    QTest::qWait(50);
    QCOMPARE(log.count(QStringLiteral("Beep_Recevie")), 1);
    QCOMPARE(beeperCommands(b.field), 4);
}

void TstEngineBeeper::modelReadSuccess_silent_writeBeepsOnce()
{
    // Auto write reads a driver's model before it writes: that read's success is silent,
    // and the write's success beeps once.
    QFETCH(int, reader);
    EngineLogCapture log;
    Bench b;
    QVERIFY(b.connect(reader));
    const auto source = demodrivers::makeTag(demodrivers::Kind::Dt8, 5);
    b.field.layTag(source);
    b.read();
    QTRY_COMPARE(int(b.lastTip()), int(ResultTip::ReadSucceed));
    QTRY_COMPARE(log.count(QStringLiteral("Beep_Recevie")), 1);
    b.field.clear();
    b.field.clearCommandLog();
    b.toggleAutoWrite();
    b.field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 6));
    QTRY_COMPARE_WITH_TIMEOUT(int(b.lastTip()), int(ResultTip::WriteSucceed), 5000);
    QTRY_COMPARE(log.count(QStringLiteral("Beep_Recevie")), 2);
    QTest::qWait(250);
    QCOMPARE(beeperCommands(b.field), 2);
    b.toggleAutoWrite();
}

void TstEngineBeeper::feigRefusingOutput_reportsOnce_noEndlessBeeps()
{
    EngineLogCapture log;
    Bench b;
    QVERIFY(b.connect(Feig));
    b.field.armReplyFault(SimReplyFault::FailingStatus, -1, 0, 0x72);
    // A read with no tag on the reader fails and sounds two beeps, all of them refused.
    b.read();
    QTRY_COMPARE(beeperCommands(b.field), 4);
    QTRY_COMPARE(log.count(QStringLiteral("Beep_Recevie")), 1);
    QTest::qWait(500);
    QCOMPARE(beeperCommands(b.field), 4);
    QCOMPARE(b.beepPattern(), uint8_t(0));
    QCOMPARE(log.count(QStringLiteral("SET IO Failure")), 1);
    QCOMPARE(int(b.lastTip()), 9); // the read's own failure tip stays
}

void TstEngineBeeper::r321RefusedBeeper_tracedOnce_patternEnds()
{
    EngineLogCapture log;
    Bench b;
    QVERIFY(b.connect(R321));
    b.field.armReplyFault(SimReplyFault::FailingStatus, -1, 0, 0xE9);
    b.engine().Start_Beep(1);
    QTRY_COMPARE(beeperCommands(b.field), 2);
    QTest::qWait(300);
    QCOMPARE(beeperCommands(b.field), 2);
    QCOMPARE(b.beepPattern(), uint8_t(0));
    QCOMPARE(log.count(QStringLiteral("Beep_Recevie")), 1);
    QCOMPARE(log.count(QStringLiteral("SET IO Failure")), 1);
}

void TstEngineBeeper::noReaderChosen_beepSendsNothing()
{
    Bench b;
    b.stopTimer();
    b.engine().Start_Beep(2);
    QCOMPARE(runTicks(b, 1, 400).size(), 4);
    QTest::qWait(50);
    QVERIFY(b.field.commandLog().isEmpty());
}

QTEST_GUILESS_MAIN(TstEngineBeeper)
#include "tst_engine_beeper.moc"
