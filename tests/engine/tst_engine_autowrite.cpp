// Auto write end to end through both simulated readers, on the engine's own 300 ms pass:
// the toggle, polling without a tag, the model check, one write per tag, refused models,
// tags laid again, batches of drivers, several tags in one R321 inventory, and the time
// from laying a driver to its beep. What the window shows of a batch is tested in
// tests/app/tst_window_autowrite.
#include "writebench.h"

#include "model/productionrecord.h"

using namespace enginetest;

namespace
{

// Reads a DT8 driver to load its configuration, sets channel 1 to `current` and takes the
// driver away again: the document now holds the configuration that auto write sends.
bool loadConfiguration(Bench& b, int reader, int current = 480)
{
    if (!b.connect(reader))
        return false;
    const auto source = demodrivers::makeTag(demodrivers::Kind::Dt8, 1);
    if (!readTag(b, source))
        return false;
    b.field.removeTag(source->uidMsbFirst());
    b.setCurrent(1, uint16_t(current));
    b.field.clearCommandLog();
    return true;
}

// Opens the demo DT8 driver's image as a configuration file, as Read File does.
bool openDemoConfiguration(Bench& b)
{
    return b.engine()
        .openConfiguration(demodrivers::memory(demodrivers::Kind::Dt8), QStringLiteral("dt8.bin"))
        .ok();
}

// The drive area the configuration puts on a tag, as the engine last prepared it.
QByteArray configuredDriveArea(Bench& b)
{
    return bytes(TestAccess::image(b.engine()).bank_buffer, 256, 256);
}

// Per tag (R321 UID as sent, least significant byte first), the tag commands addressed to it.
QHash<QByteArray, QStringList> commandsPerTag(const ReaderField& field)
{
    QHash<QByteArray, QStringList> out;
    for (const SimCommandRecord& r : field.commandLog()) {
        if (r.reader != SimReaderKind::R321 || (r.command != 0x22 && r.command != 0x23))
            continue;
        const QByteArray id = r.request.mid(10, 8);
        out[id] << QStringLiteral("%1 %2+%3")
                       .arg(r.command == 0x22 ? "read" : "write")
                       .arg(r.firstBlock)
                       .arg(r.blockCount);
    }
    return out;
}

QStringList modelCheckThenDriveWrites()
{
    return QStringList{QStringLiteral("read 48+9")} + driveAreaWrites();
}

} // namespace

class TstEngineAutoWrite : public QObject
{
    Q_OBJECT
  private slots:
    void droppedBlock_verifyFailed_nextDriverVerified_data() { addReadersAndKinds(); }
    void droppedBlock_verifyFailed_nextDriverVerified();
    void strictSt25dv_everyDriverVerified_switchOnce_data() { addReadersAndKinds(); }
    void strictSt25dv_everyDriverVerified_switchOnce();
    void toggle_stateAndSignalBothWays();
    void toggle_needsConnectedReader_bothWays();
    void noTag_eachPassShowsNoDeviceAndSendsInventory_data() { addReaders(); }
    void noTag_eachPassShowsNoDeviceAndSendsInventory();
    void driverOfLoadedModel_writtenOnceWithOneBeep_data() { addReaders(); }
    void driverOfLoadedModel_writtenOnceWithOneBeep();
    void otherModel_refusedOnceWithTwoBeeps_data() { addReaders(); }
    void otherModel_refusedOnceWithTwoBeeps();
    void fiveDrivers_swappedDuringBeep_eachWrittenOnce_data() { addReaders(); }
    void fiveDrivers_swappedDuringBeep_eachWrittenOnce();
    void threeTagsInOneInventory_eachWrittenOnce();
    void pwmTag_writesProductArea();
    void rejectedModelRead_notRetriedUntilRemoved();
    void onePass_data();
    void onePass();
    void failureClearsBeepSuppression();
    void lastBeeperCommandFails_nextDriverWritten_data();
    void lastBeeperCommandFails_nextDriverWritten();
    void timeFromLayingToBeep_withLatency_data() { addReaders(); }
    void timeFromLayingToBeep_withLatency();
};

// The switch's state both ways, and the host told of each switch so that it can show it
// (icon and actions: tests/app/tst_window_autowrite).
void TstEngineAutoWrite::toggle_stateAndSignalBothWays()
{
    Bench b;
    QVERIFY(b.connect(R321));
    QVector<bool> switched;
    QObject::connect(&b.engine(), &TagEngine::autoWriteSwitched,
                     [&switched](bool on) { switched << on; });
    QVERIFY(openDemoConfiguration(b));
    TestAccess::Uid filled{};
    filled.fill(0x11);
    TestAccess::setUid(b.engine(), filled);

    b.toggleAutoWrite();
    QCOMPARE(TestAccess::autoMode(b.engine()), uint8_t(1));
    QCOMPARE(TestAccess::autoScan(b.engine()), uint8_t(1));
    QCOMPARE(TestAccess::scanRequest(b.engine()), uint8_t(1));
    QCOMPARE(switched, QVector<bool>{true});
    QVERIFY(b.engine().autoWriteOn());
    QCOMPARE(TestAccess::uid(b.engine()), (std::array<uint8_t, 8>{}));

    b.toggleAutoWrite();
    QCOMPARE(TestAccess::autoMode(b.engine()), uint8_t(0));
    QCOMPARE(TestAccess::autoScan(b.engine()), uint8_t(0));
    QCOMPARE(TestAccess::scanRequest(b.engine()), uint8_t(0));
    QCOMPARE(TestAccess::uid(b.engine()), (std::array<uint8_t, 8>{}));
    QCOMPARE(switched, (QVector<bool>{true, false}));
    QVERIFY(!b.engine().autoWriteOn());
    QVERIFY(b.boxes.isEmpty());
}

void TstEngineAutoWrite::toggle_needsConnectedReader_bothWays()
{
    Bench b;
    b.toggleAutoWrite();
    QCOMPARE(TestAccess::autoMode(b.engine()), uint8_t(0));
    QCOMPARE(b.boxes.size(), 1);

    QVERIFY(b.connect(Feig));
    QVERIFY(openDemoConfiguration(b));
    b.toggleAutoWrite();
    QCOMPARE(TestAccess::autoMode(b.engine()), uint8_t(1));
    // With the reader gone the switch cannot be turned off either.
    TestAccess::setReaderType(b.engine(), ReaderType(0));
    b.toggleAutoWrite();
    QCOMPARE(TestAccess::autoMode(b.engine()), uint8_t(1));
    QCOMPARE(TestAccess::autoScan(b.engine()), uint8_t(1));
    QCOMPARE(b.boxes.size(), 2);
    TestAccess::setAutoScan(b.engine(), 0); // let the engine go quietly
}

void TstEngineAutoWrite::noTag_eachPassShowsNoDeviceAndSendsInventory()
{
    QFETCH(int, reader);
    Bench b;
    QVERIFY(b.connect(reader));
    QVERIFY(openDemoConfiguration(b));
    b.toggleAutoWrite();
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    QTest::qWait(1300);
    const QVector<SimCommandRecord> log = b.field.commandLog();
    QVERIFY2(log.size() >= 4, qPrintable(QString::number(log.size())));
    for (int i = 0; i < log.size(); ++i) {
        QCOMPARE(log.at(i).isoCommand, 0x01); // inventories only, no beeps
        // One per pass of the 300 ms clock.
        if (i > 0)
            QVERIFY(log.at(i).timestampUs - log.at(i - 1).timestampUs > 200000);
    }
    // Each pass shows "No device detected", and nothing else.
    QCOMPARE(int(b.lastTip()), kTipNoDevice);
    QVERIFY2(b.tips.size() >= 4, qPrintable(QString::number(b.tips.size())));
    QCOMPARE(b.tips.count(ResultTip::NoDevice), b.tips.size());
    QVERIFY(b.boxes.isEmpty());
    b.toggleAutoWrite();
}

void TstEngineAutoWrite::driverOfLoadedModel_writtenOnceWithOneBeep()
{
    QFETCH(int, reader);
    Bench b;
    QVERIFY(loadConfiguration(b, reader));
    b.toggleAutoWrite();
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);

    int repeated = 0;
    QObject::connect(&b.engine(), &TagEngine::lastTipRepeated, [&repeated] { ++repeated; });
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 2);
    b.field.layTag(tag);
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QVERIFY(waitBeeps(b, 2));

    // Model check (no beep), then the drive area and its read-back, then one beep.
    const QStringList verified = modelCheckThenDriveWrites() + readBack(false);
    QCOMPARE(describeCommands(b.field, false), verified);
    QCOMPARE(beeperCommands(b.field), 2);
    const TagImage& image = TestAccess::image(b.engine());
    QCOMPARE(bytes(image.image_v2, 260, 4), QByteArray(4, '\0'));
    QCOMPARE(tag->memory().mid(256, 256), configuredDriveArea(b));
    QCOMPARE(tag->memory().mid(264, 2), QByteArray::fromHex("01E0"));
    QCOMPARE(tag->memory().mid(260, 4), QByteArray(4, '\0'));

    // Left on the reader: polled, not written again; the last result is shown again.
    const int repeatedBefore = repeated;
    QTRY_VERIFY(repeated > repeatedBefore);
    QCOMPARE(int(b.lastTip()), kTipWriteOk);
    QTest::qWait(1000);
    QCOMPARE(describeCommands(b.field, false), verified);
    QCOMPARE(beeperCommands(b.field), 2);
    QVERIFY(countOf(describeCommands(b.field), QStringLiteral("inv")) >= 4);

    // Taken away, changed, and laid again: it is a new tag and is written again.
    b.field.removeTag(tag->uidMsbFirst());
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    tag->setMemory(demodrivers::memory(demodrivers::Kind::Dt8));
    b.field.layTag(tag);
    QTRY_COMPARE(beeperCommands(b.field), 4);
    QVERIFY(waitBeeps(b, 4));
    QCOMPARE(describeCommands(b.field, false), verified + verified);
    QCOMPARE(tag->memory().mid(256, 256), configuredDriveArea(b));
    QVERIFY(b.boxes.isEmpty());
    b.toggleAutoWrite();
}

void TstEngineAutoWrite::otherModel_refusedOnceWithTwoBeeps()
{
    QFETCH(int, reader);
    Bench b;
    QVERIFY(loadConfiguration(b, reader));
    b.toggleAutoWrite();
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);

    const auto other = demodrivers::makeTag(demodrivers::Kind::OtherModel, 3);
    const QByteArray before = other->memory();
    b.field.layTag(other);
    QTRY_COMPARE(int(b.lastTip()), kTipDeviceDifferent);
    QVERIFY(waitBeeps(b, 4));
    QTest::qWait(1200);
    QCOMPARE(describeCommands(b.field, false), QStringList{QStringLiteral("read 48+9")});
    QCOMPARE(beeperCommands(b.field), 4);
    QCOMPARE(other->memory(), before);
    QCOMPARE(int(b.lastTip()), kTipDeviceDifferent);

    // A driver of the right model laid beside it later is still written.
    b.field.removeTag(other->uidMsbFirst());
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    const auto good = demodrivers::makeTag(demodrivers::Kind::Dt8, 4);
    b.field.layTag(good);
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QVERIFY(waitBeeps(b, 6));
    QCOMPARE(good->memory().mid(256, 256), configuredDriveArea(b));
    b.toggleAutoWrite();
}

void TstEngineAutoWrite::fiveDrivers_swappedDuringBeep_eachWrittenOnce()
{
    QFETCH(int, reader);
    Bench b;
    b.verify(false); // the described command sequence, nothing read back
    QVERIFY(loadConfiguration(b, reader, 520));
    QVERIFY(!b.linkTips.isEmpty());
    const int linkTipsBefore = b.linkTips.size();
    int linkCleared = 0;
    QObject::connect(&b.engine(), &TagEngine::linkCleared, [&linkCleared] { ++linkCleared; });
    b.toggleAutoWrite();

    QVector<std::shared_ptr<VirtualTag>> tags;
    for (int i = 0; i < 5; ++i)
        tags << demodrivers::makeTag(demodrivers::Kind::Dt8, 40 + i);
    b.field.layTag(tags.at(0));
    for (int i = 0; i < 5; ++i) {
        // As soon as the driver's beep starts, the operator swaps in the next one.
        QTRY_VERIFY_WITH_TIMEOUT(beeperCommands(b.field) >= 2 * i + 1, 5000);
        b.field.removeTag(tags.at(i)->uidMsbFirst());
        if (i + 1 < tags.size())
            b.field.layTag(tags.at(i + 1));
    }
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    QTest::qWait(400);

    QStringList expected;
    for (int i = 0; i < 5; ++i)
        expected += modelCheckThenDriveWrites();
    QCOMPARE(describeCommands(b.field, false), expected);
    QCOMPARE(beeperCommands(b.field), 10);
    for (const auto& tag : tags)
        QCOMPARE(tag->memory().mid(256, 256), configuredDriveArea(b));
    // The reader was never reported lost.
    QVERIFY(b.boxes.isEmpty());
    QVERIFY(TestAccess::readerGuard(b.engine(), 0));
    QCOMPARE(b.linkTips.size(), linkTipsBefore);
    QCOMPARE(b.linkTips.last(), reader == R321 ? TagEngine::LinkTip::R321Connected
                                               : TagEngine::LinkTip::FeigConnected);
    QCOMPARE(linkCleared, 0);
    b.toggleAutoWrite();
}

void TstEngineAutoWrite::threeTagsInOneInventory_eachWrittenOnce()
{
    Bench b;
    b.verify(false); // the described command sequence, nothing read back
    QVERIFY(loadConfiguration(b, R321));
    QVector<std::shared_ptr<VirtualTag>> tags;
    for (int i = 0; i < 3; ++i) {
        tags << demodrivers::makeTag(demodrivers::Kind::Dt8, 60 + i);
        b.field.layTag(tags.last());
    }
    b.toggleAutoWrite();
    QTRY_VERIFY_WITH_TIMEOUT(
        beeperCommands(b.field) == 6 && TestAccess::beepPattern(b.engine()) == 0, 8000);
    QTest::qWait(1000);
    QCOMPARE(beeperCommands(b.field), 6);
    QCOMPARE(TestAccess::foundCount(b.engine()), uint8_t(3));

    const QHash<QByteArray, QStringList> perTag = commandsPerTag(b.field);
    QCOMPARE(perTag.size(), 3);
    for (const auto& tag : tags) {
        QCOMPARE(perTag.value(tag->uidLsbFirst()), modelCheckThenDriveWrites());
        QCOMPARE(tag->memory().mid(256, 256), configuredDriveArea(b));
    }
    QCOMPARE(int(b.lastTip()), kTipWriteOk);

    // A fourth one laid beside them: only it is written.
    b.field.clearCommandLog();
    const auto fourth = demodrivers::makeTag(demodrivers::Kind::Dt8, 63);
    b.field.layTag(fourth);
    QTRY_VERIFY_WITH_TIMEOUT(
        beeperCommands(b.field) == 2 && TestAccess::beepPattern(b.engine()) == 0, 5000);
    QTest::qWait(800);
    const QHash<QByteArray, QStringList> later = commandsPerTag(b.field);
    QCOMPARE(later.keys(), QList<QByteArray>{fourth->uidLsbFirst()});
    QCOMPARE(later.value(fourth->uidLsbFirst()), modelCheckThenDriveWrites());
    QCOMPARE(fourth->memory().mid(256, 256), configuredDriveArea(b));
    b.toggleAutoWrite();
}

void TstEngineAutoWrite::pwmTag_writesProductArea()
{
    Bench b;
    QVERIFY(b.connect(R321));
    const auto source = demodrivers::makeTag(demodrivers::Kind::Pwm, 70);
    QVERIFY(readTag(b, source));
    b.field.removeTag(source->uidMsbFirst());
    // something of this configuration
    TestAccess::editImage(b.engine(), [](TagImage& image) { image.image_v2[100] = 0x77; });
    b.field.clearCommandLog();
    b.toggleAutoWrite();
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);

    const auto tag = demodrivers::makeTag(demodrivers::Kind::Pwm, 71);
    b.field.layTag(tag);
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QVERIFY(waitBeeps(b, 2));
    QCOMPARE(TestAccess::autoWriteIndex(b.engine()), uint8_t(2));
    // The product area only, read back like a Read reads it.
    QCOMPARE(describeCommands(b.field, false), QStringList{QStringLiteral("read 48+9")} +
                                                   bankWrites(0) + bankWrites(32) +
                                                   readBack(true).mid(0, 6));
    QCOMPARE(tag->memory(), bytes(TestAccess::image(b.engine()).bank_buffer, 0, 256));
    QCOMPARE(uint8_t(tag->memory().at(100)), uint8_t(0x77));
    b.toggleAutoWrite();
}

void TstEngineAutoWrite::rejectedModelRead_notRetriedUntilRemoved()
{
    Bench b;
    QVERIFY(loadConfiguration(b, R321));
    b.toggleAutoWrite();
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 0, 0x22);
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 80);
    b.field.layTag(tag);
    QTRY_COMPARE(int(b.lastTip()), kTipNoTag);
    QVERIFY(waitBeeps(b, 4));
    QTest::qWait(1000);
    QCOMPARE(describeCommands(b.field, false), QStringList{QStringLiteral("read 48+9")});
    // The failed model read left no suppression behind: the next success beeps.
    QCOMPARE(TestAccess::suppressSuccessBeep(b.engine()), uint8_t(0));

    b.field.removeTag(tag->uidMsbFirst());
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    b.field.layTag(tag);
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QVERIFY(waitBeeps(b, 6));
    QCOMPARE(tag->memory().mid(256, 256), configuredDriveArea(b));
    b.toggleAutoWrite();
}

void TstEngineAutoWrite::onePass_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("tip");       // the tip the pass gives, 0 for none
    QTest::addColumn<bool>("repeated"); // the host shows its last tip again
    QTest::addColumn<int>("cmdType");
    QTest::addColumn<int>("beeps");
    QTest::addColumn<bool>("inventory");
    QTest::newRow("no tag") << "none" << kTipNoDevice << false << 0 << 0 << true;
    // The last result was a write; the host shows it again ("Write successfully").
    QTest::newRow("batch done") << "done" << 0 << true << 0 << 0 << true;
    QTest::newRow("same tag") << "same" << 0 << false << 0 << 0 << false;
    QTest::newRow("new tag: model read") << "new" << 0 << false << 0xF7 << 0 << false;
    QTest::newRow("model read running") << "reading" << 0 << false << 0 << 0 << false;
    QTest::newRow("model matches, P") << "match P" << 10 << false << 0xFD << 0 << false;
    QTest::newRow("model matches, 8") << "match 8" << 10 << false << 0xFB << 0 << false;
    QTest::newRow("model differs") << "differs" << kTipDeviceDifferent << false << 0 << 2 << false;
    QTest::newRow("model of another tag") << "stale" << 0 << false << 0 << 0 << false;
}

void TstEngineAutoWrite::onePass()
{
    QFETCH(QString, state);
    QFETCH(int, tip);
    QFETCH(bool, repeated);
    QFETCH(int, cmdType);
    QFETCH(int, beeps);
    QFETCH(bool, inventory);
    const auto is = [&](const char* s) { return state == QLatin1String(s); };
    const bool decided = state.startsWith(QLatin1String("match")) || is("differs");
    Bench b;
    QVERIFY(b.connect(R321));
    b.stopTimer();
    TagEngine& w = b.engine();
    w.stopAutoWritePass(); // the one pass below is the test's own
    TestAccess::setAutoScan(w, 1);
    int repeats = 0;
    QObject::connect(&w, &TagEngine::lastTipRepeated, [&repeats] { ++repeats; });
    const std::array<uint8_t, 8> id = {1, 2, 3, 4, 5, 0x50, 2, 0xE0};
    TestAccess::setUid(w, is("none") ? std::array<uint8_t, 8>{} : id);
    TestAccess::setLastUid(w, is("same") ? id : std::array<uint8_t, 8>{});
    TestAccess::setBatch(w, 1, is("done") ? 1 : 0, is("match 8") ? 2 : 1);
    TestAccess::setScanRequest(w, is("none") || is("done") || is("new") ? 1 : 0);
    TestAccess::setModelReady(w, decided || is("stale") ? 1 : 0);
    TestAccess::setModelUid(w, is("stale") ? std::array<uint8_t, 8>{9} : id);
    TestAccess::editImage(w, [](TagImage& image) {
        std::fill_n(image.image_v2.begin() + 195, 32, 'M');
        std::fill_n(image.image_v2.begin() + 260, 4, 0xEE);
    });
    TestAccess::ModelName found{};
    found.fill(is("differs") ? 'N' : 'M');
    TestAccess::setTagModel(w, found);
    b.tips.clear();

    TestAccess::autoWriteProcess(w);
    QCOMPARE(b.tips, tip == 0 ? QVector<ResultTip>{} : QVector<ResultTip>{ResultTip(tip)});
    QCOMPARE(repeats, repeated ? 1 : 0);
    QCOMPARE(int(b.cmd().cmd_type), cmdType);
    QCOMPARE(int(TestAccess::beepPattern(w)), beeps);
    if (decided) {
        QCOMPARE(TestAccess::lastUid(w), id); // handled, written or refused
        QCOMPARE(TestAccess::modelReady(w), uint8_t(0));
    }
    if (cmdType == 0xFD || cmdType == 0xFB) {
        QCOMPARE(int(b.cmd().send_cnt), 8);
        QCOMPARE(bytes(TestAccess::image(w).image_v2, 260, 4), QByteArray(4, '\0'));
    }
    if (is("new")) {
        QCOMPARE(TestAccess::suppressSuccessBeep(w), uint8_t(1));
        QCOMPARE(TestAccess::scanRequest(w), uint8_t(0));
        QCOMPARE(TestAccess::specialNum(w), uint8_t(9));
        QCOMPARE(b.cmd().readcnt, uint8_t(1));
    }
    if (is("stale")) { // not handled: this tag's own model is read next
        QCOMPARE(TestAccess::modelReady(w), uint8_t(0));
        QCOMPARE(TestAccess::scanRequest(w), uint8_t(1));
        QCOMPARE(TestAccess::lastUid(w), (std::array<uint8_t, 8>{}));
    }
    if (is("done"))
        QCOMPARE(TestAccess::uid(w), (std::array<uint8_t, 8>{}));
    QTest::qWait(30);
    QCOMPARE(b.field.commandLog().size(), inventory ? 1 : 0);
    if (inventory)
        QCOMPARE(b.field.commandLog().at(0).isoCommand, 0x01);
    TestAccess::setAutoScan(w, 0);
}

void TstEngineAutoWrite::failureClearsBeepSuppression()
{
    Bench b;
    QVERIFY(b.connect(R321));
    b.stopTimer();
    TestAccess::setSuppressSuccessBeep(b.engine(), 1);
    TestAccess::succeeded(b.engine(), QStringLiteral("<读取成功>"));
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(0)); // suppressed, and used up
    QCOMPARE(TestAccess::suppressSuccessBeep(b.engine()), uint8_t(0));

    TestAccess::setSuppressSuccessBeep(b.engine(), 1);
    TestAccess::failed(b.engine(), QStringLiteral("<读取失败>"));
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(2));
    QCOMPARE(TestAccess::suppressSuccessBeep(b.engine()), uint8_t(0));
    TestAccess::succeeded(b.engine(), QStringLiteral("<写入成功>"));
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(1));
}

void TstEngineAutoWrite::lastBeeperCommandFails_nextDriverWritten_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<int>("fault");
    for (int reader : {R321, Feig})
        for (SimReplyFault fault : {SimReplyFault::FailingStatus, SimReplyFault::NoReply})
            QTest::addRow("%s %s", readerName(reader),
                          fault == SimReplyFault::NoReply ? "no reply" : "refused")
                << reader << int(fault);
}

void TstEngineAutoWrite::lastBeeperCommandFails_nextDriverWritten()
{
    QFETCH(int, reader);
    QFETCH(int, fault);
    Bench b;
    b.verify(false); // the described command sequence, nothing read back
    b.engine().setReplyTimeout(300);
    QVERIFY(loadConfiguration(b, reader));
    b.toggleAutoWrite();
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    // The switch-off that ends the first driver's beep.
    b.field.armReplyFault(SimReplyFault(fault), 1, 1, reader == R321 ? 0xE9 : 0x72);
    const auto first = demodrivers::makeTag(demodrivers::Kind::Dt8, 7);
    b.field.layTag(first);
    QTRY_COMPARE(beeperCommands(b.field), 2);
    b.field.removeTag(first->uidMsbFirst());
    const auto next = demodrivers::makeTag(demodrivers::Kind::Dt8, 8);
    next->setMemory(next->memory().left(256) + QByteArray(256, '\0'));
    b.field.layTag(next);
    QTRY_VERIFY_WITH_TIMEOUT(next->memory().mid(264, 2) == QByteArray::fromHex("01E0"), 5000);
    QVERIFY(waitBeeps(b, 4));
    QCOMPARE(describeCommands(b.field, false),
             modelCheckThenDriveWrites() + modelCheckThenDriveWrites());
    b.toggleAutoWrite();
}

void TstEngineAutoWrite::timeFromLayingToBeep_withLatency()
{
    QFETCH(int, reader);
    Bench b;
    QVERIFY(loadConfiguration(b, reader));
    b.field.setLatencyEnabled(true);
    b.toggleAutoWrite();

    // The least the air allows: inventory, model-name read, eight writes of the drive area
    // (the counter blocks left out), and the drive area's read-back.
    const qint64 airUs = ReaderField::inventoryAirTimeUs(1) + ReaderField::readAirTimeUs(9) +
                         5 * ReaderField::writeAirTimeUs(10) + ReaderField::writeAirTimeUs(9) +
                         ReaderField::writeAirTimeUs(2) + ReaderField::writeAirTimeUs(1) +
                         2 * (2 * ReaderField::readAirTimeUs(12) + ReaderField::readAirTimeUs(8));
    QVector<double> times;
    for (int i = 0; i < 4; ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(int(b.lastTip()), kTipNoDevice, 5000);
        // Laid at different moments of the 300 ms clock.
        QTest::qWait(i * 75);
        const int beepsBefore = beeperCommands(b.field);
        const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 90 + i);
        const qint64 laidUs = b.field.elapsedUs();
        b.field.layTag(tag);
        QTRY_VERIFY_WITH_TIMEOUT(beeperCommands(b.field) > beepsBefore, 5000);
        qint64 beepUs = -1;
        for (const SimCommandRecord& r : b.field.commandLog()) {
            if (isBeeper(r) && r.timestampUs > laidUs) {
                beepUs = r.timestampUs;
                break;
            }
        }
        QVERIFY(beepUs > laidUs);
        const double ms = (beepUs - laidUs) / 1000.0;
        times << ms;
        QVERIFY2(beepUs - laidUs >= airUs, qPrintable(QString::number(ms)));
        // Three passes of the 300 ms clock at most (inventory, model-name read, write) on
        // top of the air time, and some slack for a loaded machine.
        QVERIFY2(ms < 3 * 300.0 + airUs / 1000.0 + 400.0, qPrintable(QString::number(ms)));
        QVERIFY(waitBeeps(b, beepsBefore + 2));
        QCOMPARE(tag->memory().mid(256, 256), configuredDriveArea(b));
        b.field.removeTag(tag->uidMsbFirst());
    }
    std::sort(times.begin(), times.end());
    qInfo().noquote() << readerName(reader) << "laying a driver to its beep, ms:" << times
                      << "(air time alone" << airUs / 1000.0 << "ms)";
    b.toggleAutoWrite();
}

// Reads a driver of the kind to load its configuration and takes it away.
bool loadKind(Bench& b, int reader, bool pwm)
{
    if (!b.connect(reader))
        return false;
    const auto source =
        demodrivers::makeTag(pwm ? demodrivers::Kind::Pwm : demodrivers::Kind::Dt8, 90);
    if (!readTag(b, source))
        return false;
    b.field.removeTag(source->uidMsbFirst());
    return true;
}

// Lays `tag`, waits for its outcome and beep, and takes it away again.
bool programOne(Bench& b, const std::shared_ptr<VirtualTag>& tag,
                const QVector<record::Outcome>& outcomes, int beeps)
{
    const int before = outcomes.size();
    b.field.layTag(tag);
    if (!QTest::qWaitFor([&] { return outcomes.size() == before + 1; }, 8000))
        return false;
    if (!waitBeeps(b, beeps))
        return false;
    b.field.removeTag(tag->uidMsbFirst());
    return QTest::qWaitFor([&] { return b.lastTip() == kTipNoDevice; }, 5000);
}

void TstEngineAutoWrite::droppedBlock_verifyFailed_nextDriverVerified()
{
    QFETCH(int, reader);
    QFETCH(bool, pwm);
    const auto kind = pwm ? demodrivers::Kind::Pwm : demodrivers::Kind::Dt8;
    Bench b;
    QVERIFY(loadKind(b, reader, pwm));
    const int dropped = changeBlockToDrop(b, pwm);
    b.outcomes.clear();
    const QVector<record::Outcome>& outcomes = b.outcomes;
    b.toggleAutoWrite();
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    const int beeps = beeperCommands(b.field);

    const auto faulty = demodrivers::makeTag(kind, 91);
    faulty->dropNextWriteOf(dropped);
    QVERIFY(programOne(b, faulty, outcomes, beeps + 4)); // the failure's double beep
    QCOMPARE(int(outcomes.last().result), int(record::Result::VerifyFailed));
    const record::Entry bad = record::entryFor(outcomes.last(), QStringLiteral("Vantory"));
    QCOMPARE(bad.result, QStringLiteral("Verify failed (block %1)").arg(dropped));
    QCOMPARE(bad.verified, QStringLiteral("no"));

    // The batch goes on: the next driver is written and proven.
    const auto good = demodrivers::makeTag(kind, 92);
    QVERIFY(programOne(b, good, outcomes, beeps + 6));
    const record::Entry ok = record::entryFor(outcomes.last(), QStringLiteral("Vantory"));
    QCOMPARE(ok.result, QStringLiteral("Written"));
    QCOMPARE(ok.verified, QStringLiteral("yes"));
    QVERIFY(ok.writtenCrc != bad.writtenCrc);
    QCOMPARE(outcomes.size(), 2);
    b.toggleAutoWrite();
}

void TstEngineAutoWrite::strictSt25dv_everyDriverVerified_switchOnce()
{
    QFETCH(int, reader);
    QFETCH(bool, pwm);
    EngineLogCapture log;
    Bench b;
    b.field.setStrictSt25dv(true);
    QVERIFY(loadKind(b, reader, pwm));
    b.outcomes.clear();
    const QVector<record::Outcome>& outcomes = b.outcomes;
    b.toggleAutoWrite();
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    const int beeps = beeperCommands(b.field);
    for (int i = 0; i < 3; ++i) {
        const auto tag =
            demodrivers::makeTag(pwm ? demodrivers::Kind::Pwm : demodrivers::Kind::Dt8, 93 + i);
        QVERIFY(programOne(b, tag, outcomes, beeps + 2 * (i + 1)));
        const record::Entry line = record::entryFor(outcomes.last(), QStringLiteral("Vantory"));
        QCOMPARE(line.result, QStringLiteral("Written"));
        QCOMPARE(line.verified, QStringLiteral("yes"));
        // One configuration, one value on every driver of the batch.
        QCOMPARE(line.writtenCrc,
                 record::entryFor(outcomes.first(), QStringLiteral("Vantory")).writtenCrc);
    }
    // Only the first long write of the connection was refused.
    int longWrites = 0;
    for (const SimCommandRecord& r : b.field.commandLog())
        longWrites += r.isoCommand == 0x24 && r.blockCount > 4 ? 1 : 0;
    QCOMPARE(longWrites, 1);
    QCOMPARE(log.count(QStringLiteral("pieces of four from now on")), 1);
    b.toggleAutoWrite();
}

QTEST_GUILESS_MAIN(TstEngineAutoWrite)
#include "tst_engine_autowrite.moc"
