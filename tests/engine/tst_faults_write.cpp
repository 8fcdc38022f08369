// The fault matrix of the Write action, through both simulated readers (faultbench.h),
// and the FEIG link's report that the library is done with a request.
#include "faultbench.h"

using namespace faulttest;

class TstFaultsWrite : public QObject
{
    Q_OBJECT
  private slots:
    void faultMidWrite_toldOnce_nextWriteWorks_data() { addMatrix(); }
    void faultMidWrite_toldOnce_nextWriteWorks();
    void longWriteRefused_sentOnceMoreInPieces_data();
    void longWriteRefused_sentOnceMoreInPieces();
    void readBackUnanswered_verifyFailed_data() { addReaders(); }
    void readBackUnanswered_verifyFailed();
    void feigWorker_reportsEveryRequestDone_afterItsReply();
    void autoWrite_modelReadUnanswered_toldOnce_batchGoesOn_data();
    void autoWrite_modelReadUnanswered_toldOnce_batchGoesOn();
    void linkDropsForASecond_failsAtOnce_nextDriverWritten_data();
    void linkDropsForASecond_failsAtOnce_nextDriverWritten();
    void autoWrite_lateModelReply_otherModelNotWritten_data();
    void autoWrite_lateModelReply_otherModelNotWritten();
    void duplicatedReply_dropped_everyBlockSent_data();
    void duplicatedReply_dropped_everyBlockSent();
    void lateReplyAfterTimeOut_dropped_everyBlockSent_data() { addReadersAndVerification(); }
    void lateReplyAfterTimeOut_dropped_everyBlockSent();
    void readerLostDuringReadBack_readerLost_data() { addReaders(); }
    void readerLostDuringReadBack_readerLost();
};

namespace
{

// A driver read, then its drive area blanked on the tag: only a write that sends every
// block brings it back.
void readAndBlank(FaultBench& b, const std::shared_ptr<VirtualTag>& tag, int reader)
{
    b.field.layTag(tag);
    QVERIFY(b.connect(reader));
    QVERIFY(b.readClean());
    tag->setMemory(tag->memory().left(256) + QByteArray(256, '\0'));
}

// The record results of every operation from now on.
QStringList* recordResults(FaultBench& b)
{
    auto* results = new QStringList;
    QObject::connect(&b.engine(), &TagEngine::operationFinished, &b.engine(),
                     [results](const record::Outcome& o) {
                         *results << record::resultText(o.result) +
                                         (o.verification == record::Verification::Proven
                                              ? QStringLiteral(" verified")
                                              : QString());
                     });
    QObject::connect(&b.engine(), &QObject::destroyed, [results] { delete results; });
    return results;
}

// The tag holds what the write sent: the bank buffer's drive area but for the driver's own
// counters (left blank).
QByteArray writtenDriveArea(FaultBench& b)
{
    return bytes(b.image().bank_buffer, 256, 256).replace(332 - 256, 8, QByteArray(8, '\0'));
}

} // namespace

void TstFaultsWrite::faultMidWrite_toldOnce_nextWriteWorks()
{
    QFETCH(int, reader);
    QFETCH(int, fault);
    const auto kind = static_cast<Fault>(fault);
    FaultBench b(kind, reader);
    b.engine().setReplyTimeout(kReplyTimeoutMs);

    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 21);
    b.field.layTag(tag);
    QVERIFY(b.connect(reader));
    QVERIFY(b.readClean());
    // Something to write: the drive area of the tag is blanked, so that only a complete
    // write brings it back.
    const QByteArray original = tag->memory();
    tag->setMemory(original.left(256) + QByteArray(256, '\0'));

    Watch watch(b.engine());
    QStringList recorded; // the production record's result of each operation
    QObject::connect(&b.engine(), &TagEngine::operationFinished,
                     [&](const record::Outcome& o) { recorded << record::resultText(o.result); });
    b.plan.arm(kWriteTarget);
    b.write();
    const QByteArray prepared = imageBytes(b.image());
    QTRY_VERIFY_WITH_TIMEOUT(b.plan.hit.load(), 5000);

    bool retry = true;
    if (kind == Fault::LateAfterNewAction) {
        // Write pressed again on the stalled write starts nothing until the stalled one has
        // been given up (told once); the next write works, and the late reply of the first
        // does not count.
        QTest::qWait(50);
        b.write();
        QCOMPARE(watch.failureTips(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(watch.failureTips(), 1, 10000);
        QVERIFY(b.writeClean());
        QVERIFY2(b.plan.held.isEmpty(), "the late reply was delivered");
        QCOMPARE(watch.failureTips(), 1);
        QCOMPARE(watch.failureBeeps(), 1);
        retry = false;
    } else if (kind == Fault::Duplicated) {
        // A write acknowledged twice still wrote every piece: it ends as done.
        QTRY_VERIFY_WITH_TIMEOUT(watch.contains(ResultTip::WriteSucceed), 5000);
        QTest::qWait(kReplyTimeoutMs * 2);
        QCOMPARE(watch.failureTips(), 0);
        QCOMPARE(watch.failureBeeps(), 0);
        retry = false;
    } else if (kind == Fault::Unplugged) {
        // Told at once; the failure beep waits for the reader to come back.
        VERIFY_TOLD_UNPLUGGED(watch);
        QCOMPARE(recorded, QStringList{QStringLiteral("Reader lost")});
        QCOMPARE(imageBytes(b.image()), prepared);
    } else {
        VERIFY_TOLD_ONCE(watch, failureTipsFor(kind, reader));
        // A reply never changes the image; only the write's own preparation did.
        QCOMPARE(imageBytes(b.image()), prepared);
    }
    VERIFY_RESPONSIVE(watch);

    if (retry) {
        QVERIFY(b.recover(reader, tag));
        if (kind == Fault::Unplugged)
            QTRY_COMPARE_WITH_TIMEOUT(watch.failureBeeps(), 1, 5000);
        QVERIFY(b.writeClean());
    }
    // Everything but the driver's own operating-time counters (left blank above).
    QCOMPARE(tag->memory().mid(256),
             bytes(b.image().bank_buffer, 256, 256).replace(332 - 256, 8, QByteArray(8, '\0')));
    QCOMPARE(tag->memory().left(256), original.left(256));
    // The record holds one line per write: the interrupted one with its cause, then the
    // one that went through.
    QString cause = QStringLiteral("Write failed"); // an unreadable reply
    if (kind == Fault::Unplugged || kind == Fault::NoReply || kind == Fault::Hung ||
        kind == Fault::LateAfterNewAction ||              // given up when its reply did not come
        (kind == Fault::WrongProtocol && reader == R321)) // an R321 frame it cannot take
        cause = QStringLiteral("Reader lost");
    else if (kind == Fault::TagRemoved || kind == Fault::FailingStatus)
        cause = QStringLiteral("No tag response");
    const QStringList expected = kind == Fault::Duplicated
                                     ? QStringList{QStringLiteral("Written")}
                                     : QStringList{cause, QStringLiteral("Written")};
    QCOMPARE(recorded, expected);
}

void TstFaultsWrite::longWriteRefused_sentOnceMoreInPieces_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("times"); // replies the fault hits: the whole command, then pieces
    for (int reader : {R321, Feig}) {
        for (const auto& [name, fault] : {std::pair{"refused", SimReplyFault::FailingStatus},
                                          std::pair{"no reply", SimReplyFault::NoReply}}) {
            for (int times : {1, 2})
                QTest::addRow("%s %s %s", readerName(reader), name,
                              times == 1 ? "once" : "piece too")
                    << reader << int(fault) << times;
        }
    }
}

void TstFaultsWrite::longWriteRefused_sentOnceMoreInPieces()
{
    using namespace enginetest;
    QFETCH(int, reader);
    QFETCH(int, fault);
    QFETCH(int, times);
    Bench b;
    b.engine().setReplyTimeout(kReplyTimeoutMs);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, demodrivers::makeTag(demodrivers::Kind::Dt8, 41)));
    QStringList recorded;
    QObject::connect(&b.engine(), &TagEngine::operationFinished,
                     [&](const record::Outcome& o) { recorded << record::resultText(o.result); });
    // The first command of the Write: blocks 64-73.
    b.field.armReplyFault(SimReplyFault(fault), times, 0, reader == R321 ? 0x23 : 0xB0);
    b.write();
    QTRY_COMPARE_WITH_TIMEOUT(recorded.size(), 1, kFailureWithinMs);
    const QStringList writes = writeCommands(b.field);
    if (times == 1) {
        // Sent again once in pieces, then pieces of four for the rest of the connection.
        QCOMPARE(recorded, QStringList{QStringLiteral("Written")});
        QCOMPARE(writes,
                 QStringList{QStringLiteral("write 64+10")} + inFourBlockPieces(driveAreaWrites()));
        QVERIFY(b.engine().fourBlockLink());
    } else {
        // The pieces failing too is the write's failure; nothing more goes out.
        QVERIFY(recorded.first() != QLatin1String("Written"));
        QTest::qWait(kReplyTimeoutMs * 2);
        QCOMPARE(writeCommands(b.field),
                 (QStringList{QStringLiteral("write 64+10"), QStringLiteral("write 64+4")}));
        QVERIFY(!b.engine().fourBlockLink());
    }
}

void TstFaultsWrite::readBackUnanswered_verifyFailed()
{
    using namespace enginetest;
    QFETCH(int, reader);
    Bench b;
    b.engine().setReplyTimeout(kReplyTimeoutMs);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, demodrivers::makeTag(demodrivers::Kind::Dt8, 42)));
    QVector<record::Outcome> outcomes;
    QObject::connect(&b.engine(), &TagEngine::operationFinished,
                     [&](const record::Outcome& o) { outcomes << o; });
    // The first read of the read-back, after the eight writes, is never answered.
    if (reader == R321)
        b.field.armReplyFault(SimReplyFault::NoReply, 1, 0, 0x22);
    else
        b.field.armReplyFault(SimReplyFault::NoReply, 1, 8, 0xB0);
    const int beeps = beeperCommands(b.field);
    b.write();
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 1, kFailureWithinMs);
    QVERIFY(waitBeeps(b, beeps + 4));
    // Never a success: the blocks are not proven, the first of them is named.
    QCOMPARE(b.lastTip(), uint8_t(ResultTip::VerifyFailed));
    QCOMPARE(b.engine().verifyFailedBlock(), 64);
    const record::Entry line = record::entryFor(outcomes.first(), QStringLiteral("Vantory"));
    QCOMPARE(line.result, QStringLiteral("Verify failed (block 64)"));
    QCOMPARE(line.verified, QStringLiteral("no"));
    QCOMPARE(line.writtenCrc, QString());
    QCOMPARE(tagCommands(b.field).filter(QStringLiteral("read")),
             QStringList{QStringLiteral("read 64+12")});
}

void TstFaultsWrite::feigWorker_reportsEveryRequestDone_afterItsReply()
{
    // The reply time-out waits for the FEIG library to finish a request; that needs one
    // done signal per request, answered or not, and after its reply.
    ReaderField field;
    field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 31));
    SimFeig feig(&field);
    writeThreadFEIG1 worker(&feig);
    QStringList events;
    QObject::connect(
        &worker, &writeThreadFEIG1::FeigDevReceive, &worker, [&](const QByteArray& rx) {
            events << (rx.isEmpty() ? QStringLiteral("empty") : QStringLiteral("reply"));
        });
    QObject::connect(&worker, &writeThreadFEIG1::transceiveDone, &worker,
                     [&] { events << QStringLiteral("done"); });
    QVERIFY(worker.Feig_Open() != 0);
    const QByteArray inventory = QByteArray::fromHex("020009FFB001001843");

    worker.Feig_Send(inventory, inventory.size()); // answered
    QTRY_COMPARE(events.size(), 2);
    field.armReplyFault(SimReplyFault::NoReply); // the library returns 0: no signal
    worker.Feig_Send(inventory, inventory.size());
    QTRY_COMPARE(events.size(), 3);
    field.setUnplugged(SimReaderKind::Feig, true); // a negative result: an empty reply
    worker.Feig_Send(inventory, inventory.size());
    QTRY_COMPARE(events.size(), 5);
    worker.Feig_Send(inventory, inventory.size()); // cannot even open: no signal
    QTRY_COMPARE(events.size(), 6);
    QCOMPARE(events, (QStringList{QStringLiteral("reply"), QStringLiteral("done"),
                                  QStringLiteral("done"), QStringLiteral("empty"),
                                  QStringLiteral("done"), QStringLiteral("done")}));
}

void TstFaultsWrite::autoWrite_modelReadUnanswered_toldOnce_batchGoesOn_data()
{
    QTest::addColumn<int>("reader");
    QTest::newRow("R321") << int(R321);
    QTest::newRow("FEIG") << int(Feig);
}

void TstFaultsWrite::autoWrite_modelReadUnanswered_toldOnce_batchGoesOn()
{
    // Auto write on, the model-name read of a driver gets no answer: the batch must not
    // wait for it for good. The operator is told once, the driver counts as handled, and
    // the next driver laid on the reader is written.
    QFETCH(int, reader);
    FaultBench b(Fault::NoReply, reader);
    b.engine().setReplyTimeout(kReplyTimeoutMs);
    const auto source = demodrivers::makeTag(demodrivers::Kind::Dt8, 41);
    b.field.layTag(source);
    QVERIFY(b.connect(reader));
    QVERIFY(b.readClean());
    b.field.clear();
    const QByteArray configured = bytes(b.image().bank_buffer, 256, 256);

    const auto silent = demodrivers::makeTag(demodrivers::Kind::Dt8, 42);
    b.field.layTag(silent);
    Watch watch(b.engine());
    b.plan.arm(2); // the auto scan's inventory, then the model-name read
    b.toggleAutoWrite();
    QTRY_VERIFY_WITH_TIMEOUT(b.plan.hit.load(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(watch.failureBeeps() >= 1, kFailureWithinMs);
    QTest::qWait(kReplyTimeoutMs * 2);
    QCOMPARE(watch.count(ResultTip::ReadFailed), 1);
    QCOMPARE(watch.failureBeeps(), 1);

    // The silent driver is taken away and the next one is laid: it is written.
    b.field.clear();
    const auto next = demodrivers::makeTag(demodrivers::Kind::Dt8, 43);
    next->setMemory(next->memory().left(256) + QByteArray(256, '\0'));
    b.field.layTag(next);
    QTRY_VERIFY_WITH_TIMEOUT(watch.contains(ResultTip::WriteSucceed), 10000);
    QCOMPARE(next->memory().mid(256, 4), configured.left(4));
    QCOMPARE(watch.failureBeeps(), 1);
    VERIFY_RESPONSIVE(watch);
    b.toggleAutoWrite();
}

void TstFaultsWrite::linkDropsForASecond_failsAtOnce_nextDriverWritten_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("autoWrite");
    for (int reader : {R321, Feig})
        for (bool autoWrite : {false, true})
            QTest::addRow("%s %s", readerName(reader), autoWrite ? "auto write" : "Write")
                << reader << autoWrite;
}

void TstFaultsWrite::linkDropsForASecond_failsAtOnce_nextDriverWritten()
{
    // The cable drops 120 ms into a write and is back after a second; the reader watch
    // connects it again by itself. The write ends as failed at once (one tip, one record
    // line), the double beep sounds once the reader is back, and the next driver is
    // written on the reconnected reader.
    QFETCH(int, reader);
    QFETCH(bool, autoWrite);
    FaultBench b(Fault::Unplugged, reader);
    b.engine().setReplyTimeout(3000); // the usual time-out: the loss must not wait for it
    const auto source = demodrivers::makeTag(demodrivers::Kind::Dt8, 51);
    b.field.layTag(source);
    QVERIFY(b.connect(reader));
    QVERIFY(b.readClean());
    const QByteArray configured = bytes(b.image().bank_buffer, 256, 256);
    b.field.setLatencyEnabled(true); // a write of some 100 ms per command, as on the air
    const auto blank = [](int serial) {
        auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, serial);
        tag->setMemory(tag->memory().left(256) + QByteArray(256, '\0'));
        return tag;
    };
    const SimReaderKind kind = b.plan.reader;

    Watch watch(b.engine());
    QStringList recorded;
    QObject::connect(&b.engine(), &TagEngine::operationFinished,
                     [&](const record::Outcome& o) { recorded << record::resultText(o.result); });
    if (autoWrite) {
        b.field.clear();
        b.field.layTag(blank(52));
        b.toggleAutoWrite();
        QTRY_VERIFY_WITH_TIMEOUT(b.engine().operation() &&
                                     b.engine().operation()->cmd_type == SeqCode::WriteDrive,
                                 5000);
    } else {
        source->setMemory(source->memory().left(256) + QByteArray(256, '\0'));
        b.write();
    }
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(120);
    b.field.setUnplugged(kind, true);
    const ResultTip failure = ResultTip::WriteFailed;
    QTRY_VERIFY_WITH_TIMEOUT(watch.contains(failure), 1000 - int(clock.elapsed()));
    QCOMPARE(recorded, QStringList{QStringLiteral("Reader lost")});
    QTest::qWait(std::max<int>(0, 1000 - int(clock.elapsed())));
    b.field.setUnplugged(kind, false);
    // The watch connects it again within its second; then the beep.
    QTRY_COMPARE_WITH_TIMEOUT(watch.failureBeeps(), 1, 4000);
    QTRY_VERIFY_WITH_TIMEOUT(b.engine().readerConnected(), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(b.engine().beeper().idle(), 6000);

    // The next driver laid in auto write; the same driver written again with Write.
    const auto next = autoWrite ? blank(53) : source;
    if (autoWrite) {
        b.field.clear();
        b.field.layTag(next);
        QTRY_VERIFY_WITH_TIMEOUT(watch.contains(ResultTip::WriteSucceed), 15000);
        b.toggleAutoWrite();
    } else {
        QVERIFY(b.writeClean());
    }
    QCOMPARE(next->memory().mid(256, 76), configured.left(76));
    QCOMPARE(watch.count(failure), 1);
    QCOMPARE(watch.failureBeeps(), 1);
    QCOMPARE(recorded, (QStringList{QStringLiteral("Reader lost"), QStringLiteral("Written")}));
}

void TstFaultsWrite::autoWrite_lateModelReply_otherModelNotWritten_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("toggled");
    for (int reader : {R321, Feig})
        for (bool toggled : {true, false})
            QTest::addRow("%s %s", readerName(reader),
                          toggled ? "auto write off and on" : "after the time-out")
                << reader << toggled;
}

void TstFaultsWrite::autoWrite_lateModelReply_otherModelNotWritten()
{
    // The model-name reply of a driver of the loaded model is held back and arrives with
    // the reply of the next inventory, which finds a driver of another model.
    QFETCH(int, reader);
    QFETCH(bool, toggled);
    FaultBench b(Fault::LateAfterNewAction, reader);
    b.engine().setReplyTimeout(kReplyTimeoutMs);
    b.field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 44));
    QVERIFY(b.connect(reader));
    QVERIFY(b.readClean());
    b.plan.arm(2); // the auto scan's inventory, then the model-name read
    b.toggleAutoWrite();
    QTRY_VERIFY_WITH_TIMEOUT(b.plan.hit.load(), 5000);
    b.field.clear();
    const auto other = demodrivers::makeTag(demodrivers::Kind::OtherModel, 45);
    const QByteArray before = other->memory();
    b.field.layTag(other);
    Watch watch(b.engine());
    if (toggled) {
        b.toggleAutoWrite();
        b.toggleAutoWrite();
    }
    QTRY_VERIFY_WITH_TIMEOUT(b.plan.held.isEmpty(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(watch.contains(ResultTip::DeviceDifferent), 5000);
    QTest::qWait(600);
    QVERIFY(!watch.contains(ResultTip::WriteSucceed));
    QCOMPARE(other->memory(), before);
    b.toggleAutoWrite();
}

void TstFaultsWrite::duplicatedReply_dropped_everyBlockSent_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("strict"); // a tag that takes four blocks per write at most
    QTest::addColumn<bool>("verify");
    QTest::addColumn<int>("target");
    for (int reader : {R321, Feig}) {
        for (bool verify : {true, false})
            QTest::addRow("%s four-block piece %s", readerName(reader),
                          verify ? "verified" : "unverified")
                << reader << true << verify << 2;
        QTest::addRow("%s last command", readerName(reader)) << reader << false << true << 8;
    }
}

void TstFaultsWrite::duplicatedReply_dropped_everyBlockSent()
{
    // A reply that comes twice answers one command only: every block still goes out once,
    // in order, and the write ends as it would without the duplicate.
    QFETCH(int, reader);
    QFETCH(bool, strict);
    QFETCH(bool, verify);
    QFETCH(int, target);
    FaultBench b(Fault::Duplicated, reader);
    b.engine().setReplyTimeout(kReplyTimeoutMs);
    b.engine().setVerifyAfterWrite(verify);
    b.field.setStrictSt25dv(strict);
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 61);
    readAndBlank(b, tag, reader);
    if (strict)
        QVERIFY(b.writeClean()); // the connection learns to write in pieces of four
    const QStringList* results = recordResults(b);
    b.field.clearCommandLog();
    tag->setMemory(tag->memory().left(256) + QByteArray(256, '\0'));

    b.plan.arm(target);
    b.write();
    QTRY_COMPARE_WITH_TIMEOUT(results->size(), 1, kFailureWithinMs);
    QVERIFY(b.plan.hit.load());
    QTest::qWait(kReplyTimeoutMs);
    QCOMPARE(*results,
             QStringList{verify ? QStringLiteral("Written verified") : QStringLiteral("Written")});
    QCOMPARE(writeCommands(b.field),
             strict ? inFourBlockPieces(driveAreaWrites()) : driveAreaWrites());
    QCOMPARE(tag->memory().mid(256), writtenDriveArea(b));
}

void TstFaultsWrite::lateReplyAfterTimeOut_dropped_everyBlockSent()
{
    // A tag that takes four blocks per write refuses the first write command, and the
    // reader's refusal comes after the reply time-out. The R321 has by then sent the command
    // again in pieces; the late refusal must not answer one of them. A FEIG request stays
    // with the library until its reply comes, and that reply is taken.
    QFETCH(int, reader);
    QFETCH(bool, verify);
    FaultBench b(Fault::LateReply, reader);
    b.engine().setReplyTimeout(kReplyTimeoutMs);
    b.engine().setVerifyAfterWrite(verify);
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 62);
    readAndBlank(b, tag, reader);
    b.field.setStrictSt25dv(true);
    b.field.setLatencyEnabled(true); // the commands take their air time
    const QStringList* results = recordResults(b);
    b.field.clearCommandLog();

    b.plan.lateMs = kReplyTimeoutMs + 60;
    b.plan.arm(1);
    b.write();
    QTRY_COMPARE_WITH_TIMEOUT(results->size(), 1, kFailureWithinMs);
    QTest::qWait(kReplyTimeoutMs * 2);
    QVERIFY(b.plan.held.isEmpty());
    QCOMPARE(*results,
             QStringList{verify ? QStringLiteral("Written verified") : QStringLiteral("Written")});
    QCOMPARE(writeCommands(b.field),
             QStringList{QStringLiteral("write 64+10")} + inFourBlockPieces(driveAreaWrites()));
    QCOMPARE(tag->memory().mid(256), writtenDriveArea(b));
}

void TstFaultsWrite::readerLostDuringReadBack_readerLost()
{
    // The reader goes away while the written blocks are read back: the write is not proven
    // wrong, the reader is gone ("Reader lost", the command line's exit 3).
    QFETCH(int, reader);
    FaultBench b(Fault::Unplugged, reader);
    b.engine().setReplyTimeout(kReplyTimeoutMs);
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 63);
    readAndBlank(b, tag, reader);
    const QStringList* results = recordResults(b);
    Watch watch(b.engine());

    b.plan.arm(9); // eight writes, then the first read of the read-back
    b.write();
    QTRY_VERIFY_WITH_TIMEOUT(b.plan.hit.load(), 5000);
    VERIFY_TOLD_UNPLUGGED(watch);
    QCOMPARE(*results, QStringList{QStringLiteral("Reader lost")});
    QCOMPARE(watch.count(ResultTip::WriteFailed), 1);
    QVERIFY(!watch.contains(ResultTip::VerifyFailed));
    QVERIFY(b.recover(reader, tag));
    QVERIFY(b.writeClean());
    QCOMPARE(results->last(), QStringLiteral("Written verified"));
}

QTEST_GUILESS_MAIN(TstFaultsWrite)
#include "tst_faults_write.moc"
