// What the window shows of a reader fault: the engine's own reports are tested without a
// window (tests/engine/tst_faults_*); here the status bar's text for them.
#include "app/windowbench.h"

#include "readers/sim/demodrivers.h"

using namespace enginetest;

class TstWindowFaults : public QObject
{
    Q_OBJECT
  private slots:
    void readBackUnanswered_statusNamesBlock_data();
    void readBackUnanswered_statusNamesBlock();
};

void TstWindowFaults::readBackUnanswered_statusNamesBlock_data()
{
    QTest::addColumn<int>("reader");
    QTest::newRow("R321") << int(R321);
    QTest::newRow("FEIG") << int(Feig);
}

void TstWindowFaults::readBackUnanswered_statusNamesBlock()
{
    // A write whose read-back gets no answer is not proven: the result part of the status
    // bar says so and names the first block it could not check.
    QFETCH(int, reader);
    WindowBench b;
    b.win().setReplyTimeout(300);
    QVERIFY(b.connect(reader));
    b.field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 42));
    b.trigger("actionRead");
    QTRY_COMPARE_WITH_TIMEOUT(int(TestAccess::lastTip(b.win())), int(ResultTip::ReadSucceed), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(int(TestAccess::engine(b.win()).beeper().beep_pattern), 0, 5000);

    // The first read of the read-back, after the eight writes, is never answered.
    if (reader == R321)
        b.field.armReplyFault(SimReplyFault::NoReply, 1, 0, 0x22);
    else
        b.field.armReplyFault(SimReplyFault::NoReply, 1, 8, 0xB0);
    b.trigger("actionWrite");
    QLabel* result = TestAccess::statusResult(b.win());
    QTRY_COMPARE_WITH_TIMEOUT(result->text(), QStringLiteral("Verify failed at block 64"), 8000);
    QCOMPARE(int(TestAccess::lastTip(b.win())), int(ResultTip::VerifyFailed));
}

QTEST_MAIN(TstWindowFaults)
#include "tst_window_faults.moc"
