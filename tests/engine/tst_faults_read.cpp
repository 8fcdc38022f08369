// The fault matrix of the Read action, through both simulated readers (faultbench.h).
#include "faultbench.h"

using namespace faulttest;

class TstFaultsRead : public QObject
{
    Q_OBJECT
  private slots:
    void faultMidRead_toldOnce_imageKept_nextReadWorks_data() { addMatrix(); }
    void faultMidRead_toldOnce_imageKept_nextReadWorks();
};

void TstFaultsRead::faultMidRead_toldOnce_imageKept_nextReadWorks()
{
    QFETCH(int, reader);
    QFETCH(int, fault);
    const auto kind = static_cast<Fault>(fault);
    FaultBench b(kind, reader);
    b.engine().setReplyTimeout(kReplyTimeoutMs);

    // The document holds one driver; another one lies on the reader now.
    const auto first = demodrivers::makeTag(demodrivers::Kind::Dt6, 11);
    b.field.layTag(first);
    QVERIFY(b.connect(reader));
    QVERIFY(b.readClean());
    const QByteArray kept = imageBytes(b.image());
    b.field.clear();
    const auto second = demodrivers::makeTag(demodrivers::Kind::Dt8, 12);
    b.field.layTag(second);

    Watch watch(b.engine());
    b.plan.arm(kReadTarget);
    b.read();
    QTRY_VERIFY_WITH_TIMEOUT(b.plan.hit.load(), 5000);

    if (kind == Fault::LateAfterNewAction) {
        // The user presses Read again on the stalled read: it is not cut short, and the new
        // read starts nothing until the stalled one has been given up (told once). The
        // withheld reply of the first read then arrives ahead of the next read's first
        // reply and must not count.
        QTest::qWait(50);
        b.read();
        QCOMPARE(watch.failureTips(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(watch.failureTips(), 1, 10000);
        QVERIFY(b.readClean());
        QCOMPARE(bytes(b.image().image_legacy, 0, 512), second->memory());
        QVERIFY2(b.plan.held.isEmpty(), "the late reply was delivered");
        QCOMPARE(watch.failureTips(), 1);
        QCOMPARE(watch.failureBeeps(), 1);
    } else if (kind == Fault::Duplicated) {
        // A reply that comes twice answers its command once: the read goes through.
        QTRY_VERIFY_WITH_TIMEOUT(watch.contains(ResultTip::ReadSucceed), 5000);
        QTest::qWait(kReplyTimeoutMs * 2);
        QCOMPARE(bytes(b.image().image_legacy, 0, 512), second->memory());
        QCOMPARE(watch.failureTips(), 0);
        QCOMPARE(watch.failureBeeps(), 0);
    } else if (kind == Fault::Unplugged) {
        // Told at once; the failure beep waits for the reader to come back.
        VERIFY_TOLD_UNPLUGGED(watch);
        QCOMPARE(imageBytes(b.image()), kept);
    } else {
        // Every other fault ends the read as failed, told once, the image as it was.
        VERIFY_TOLD_ONCE(watch, failureTipsFor(kind, reader));
        QCOMPARE(imageBytes(b.image()), kept);
        if (kind == Fault::Hung) {
            // The failure beep hangs on the reader too, until the link gives up on it: that
            // ends no read, so the user is not told again.
            QTest::qWait(1500);
            QCOMPARE(watch.failureTips(), failureTipsFor(kind, reader));
        }
    }
    VERIFY_RESPONSIVE(watch);

    // The fault is gone: the next read works.
    QVERIFY(b.recover(reader, second));
    if (kind == Fault::Unplugged)
        QTRY_COMPARE_WITH_TIMEOUT(watch.failureBeeps(), 1, 5000);
    QVERIFY(b.readClean());
    QCOMPARE(bytes(b.image().image_legacy, 0, 512), second->memory());
}

QTEST_GUILESS_MAIN(TstFaultsRead)
#include "tst_faults_read.moc"
