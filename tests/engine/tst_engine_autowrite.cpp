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
    void modelReadRefused_nextSuccessBeeps();
    void lastBeeperCommandFails_nextDriverWritten_data();
    void lastBeeperCommandFails_nextDriverWritten();
    void fastBatch_writesWhatDiffersOnce_data();
    void fastBatch_writesWhatDiffersOnce();
    void timeFromLayingToBeep_withLatency_data() { addReaders(); }
    void timeFromLayingToBeep_withLatency();
};

// The switch's state both ways, and the host told of each switch so that it can show it
// (icon and actions: tests/app/tst_window_autowrite).
void TstEngineAutoWrite::fastBatch_writesWhatDiffersOnce_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<int>("from"); // the bytes of the driver that differ from the template
    QTest::addColumn<int>("size");
    QTest::addColumn<QStringList>("writes");
    for (int reader : {R321, Feig}) {
        const char* name = readerName(reader);
        QTest::addRow("%s holds the template", name) << reader << 0 << 0 << QStringList{};
        QTest::addRow("%s one current", name) << reader << 265 << 1 << QStringList{"write 66+1"};
        QTest::addRow("%s one lumen point", name)
            << reader << 273 << 1 << QStringList{"write 68+1"};
        QTest::addRow("%s six blocks", name)
            << reader << 280 << 24 << QStringList{"write 70+4", "write 74+2"};
        QTest::addRow("%s the counters' bank", name)
            << reader << 328 << 16 << QStringList{"write 82+1", "write 85+1"};
    }
}

// The fast batch: a driver is seen at once, only the blocks it lacks are sent (at most
// four a command, the driver's counters never), every block is read back; left on the
// reader it is not written again, laid again it is handled again; one request at a time.
void TstEngineAutoWrite::fastBatch_writesWhatDiffersOnce()
{
    QFETCH(int, reader);
    QFETCH(int, from);
    QFETCH(int, size);
    QFETCH(QStringList, writes);
    Bench b;
    QVERIFY(loadConfiguration(b, reader));
    b.field.setLatencyEnabled(true);
    b.field.setStrictSt25dv(true); // every piece is one the tag takes
    b.engine().setAutoWritePace(AutoWrite::Pace::Fast);
    b.toggleAutoWrite();
    // The template as the batch leaves it on a driver of the line.
    const auto first = demodrivers::makeTag(demodrivers::Kind::Dt8, 2);
    b.field.layTag(first);
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QVERIFY(waitBeeps(b, 2));
    const QByteArray held = first->memory();
    QCOMPARE(held.mid(264, 2), QByteArray::fromHex("01E0"));
    b.field.removeTag(first->uidMsbFirst());
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);

    QByteArray memory = held;
    for (int i = from; i < from + size; ++i)
        memory[i] = char(memory[i] ^ 0x5A);
    // The counters (blocks 83, 84) are the driver's own and stay as they are.
    const QByteArray counters = memory.mid(332, 8);
    QVERIFY(from != 328 || counters != held.mid(332, 8));
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 3);
    tag->setMemory(memory);
    b.field.clearCommandLog();
    QElapsedTimer clock;
    clock.start();
    b.field.layTag(tag);
    QTRY_VERIFY(beeperCommands(b.field) > 0);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(waitBeeps(b, 2));
    QByteArray expected = held;
    expected.replace(332, 8, counters);
    QCOMPARE(tag->memory(), expected);
    const QStringList once = QStringList{"read 48+9"} + readBack(false) + writes + readBack(false);
    QCOMPARE(describeCommands(b.field, false), once);
    QVERIFY(!b.outcomes.isEmpty());
    QCOMPARE(b.outcomes.last().result, record::Result::Written);
    QCOMPARE(b.outcomes.last().verification, record::Verification::Proven);
    int sent = 0; // the blocks of the write commands, "write 70+4" four of them
    for (const QString& write : writes)
        sent += write.section(QLatin1Char('+'), 1).toInt();
    QCOMPARE(b.outcomes.last().blocksWritten, sent);

    // Left on the reader: polled, not written again.
    QTest::qWait(600);
    QCOMPARE(describeCommands(b.field, false), once);
    QVERIFY(countOf(describeCommands(b.field), QStringLiteral("inv")) >= 3);
    // Lifted and laid again: a new driver, which holds the template now.
    b.field.removeTag(tag->uidMsbFirst());
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    b.field.layTag(tag);
    QTRY_COMPARE(beeperCommands(b.field), 4);
    QVERIFY(waitBeeps(b, 4));
    QCOMPARE(describeCommands(b.field, false),
             once + QStringList{"read 48+9"} + readBack(false) + readBack(false));
    QCOMPARE(b.outcomes.last().blocksWritten, 0);
    QCOMPARE(b.outcomes.last().verification, record::Verification::Proven);

    // Never a command before the answer to the one before (each answered after its air time).
    const QVector<SimCommandRecord> log = b.field.commandLog();
    for (int i = 1; i < log.size(); ++i)
        QVERIFY2(log.at(i).timestampUs >= log.at(i - 1).timestampUs + log.at(i - 1).airTimeUs,
                 qPrintable(QStringLiteral("command %1").arg(i)));
    QVERIFY(b.boxes.isEmpty());
    b.toggleAutoWrite();
}

void TstEngineAutoWrite::toggle_stateAndSignalBothWays()
{
    Bench b;
    QVERIFY(b.connect(R321));
    QVector<bool> switched;
    QObject::connect(&b.engine(), &TagEngine::autoWriteSwitched,
                     [&switched](bool on) { switched << on; });
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 1);
    QVERIFY(readTag(b, tag)); // a driver read: its UID is known
    b.field.clear();
    QVERIFY(openDemoConfiguration(b));
    const AutoWrite& loop = b.engine().autoWrite();

    b.toggleAutoWrite();
    QCOMPARE(loop.auto_mode, uint8_t(1));
    QCOMPARE(loop.auto_scan, uint8_t(1));
    QCOMPARE(loop.scan_request, uint8_t(1));
    QCOMPARE(switched, QVector<bool>{true});
    QVERIFY(b.engine().autoWriteOn());
    // The driver read earlier may have been taken away: its UID is forgotten.
    QCOMPARE(b.engine().uidMsbFirst(), QByteArray(8, '\0'));

    b.toggleAutoWrite();
    QCOMPARE(loop.auto_mode, uint8_t(0));
    QCOMPARE(loop.auto_scan, uint8_t(0));
    QCOMPARE(loop.scan_request, uint8_t(0));
    QCOMPARE(b.engine().uidMsbFirst(), QByteArray(8, '\0'));
    QCOMPARE(switched, (QVector<bool>{true, false}));
    QVERIFY(!b.engine().autoWriteOn());
    QVERIFY(b.boxes.isEmpty());
}

void TstEngineAutoWrite::toggle_needsConnectedReader_bothWays()
{
    Bench b;
    const AutoWrite& loop = b.engine().autoWrite();
    b.toggleAutoWrite();
    QCOMPARE(loop.auto_mode, uint8_t(0));
    QCOMPARE(b.boxes.size(), 1);

    QVERIFY(b.connect(Feig));
    QVERIFY(openDemoConfiguration(b));
    b.toggleAutoWrite();
    QCOMPARE(loop.auto_mode, uint8_t(1));
    // With no reader chosen the switch cannot be turned off either.
    b.engine().Set_Reader_Type(ReaderType::None);
    b.toggleAutoWrite();
    QCOMPARE(loop.auto_mode, uint8_t(1));
    QCOMPARE(loop.auto_scan, uint8_t(1));
    QCOMPARE(b.boxes.size(), 2);
    b.engine().autoWrite().auto_scan = 0; // let the engine go quietly
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
    QVERIFY(b.engine().Detection_Usb_Statue(0));
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
    QTRY_VERIFY_WITH_TIMEOUT(beeperCommands(b.field) == 6 && b.beepPattern() == 0, 8000);
    QTest::qWait(1000);
    QCOMPARE(beeperCommands(b.field), 6);
    QCOMPARE(b.engine().autoWrite().found_count, uint8_t(3));

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
    QTRY_VERIFY_WITH_TIMEOUT(beeperCommands(b.field) == 2 && b.beepPattern() == 0, 5000);
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
    QCOMPARE(b.engine().autoWrite().auto_write_index, uint8_t(2));
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

    b.field.removeTag(tag->uidMsbFirst());
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    b.field.layTag(tag);
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QVERIFY(waitBeeps(b, 6));
    QCOMPARE(tag->memory().mid(256, 256), configuredDriveArea(b));
    b.toggleAutoWrite();
}

namespace
{

// The auto-write loop on its own: what each pass asks of the engine, as a list of calls.
struct LoopHost : AutoWriteHost {
    QByteArray id = QByteArray(8, '\0');
    uint8_t chip = 0x50;
    QStringList calls;
    QByteArray tagUid() const override { return id; }
    void selectTag(const QByteArray& uid) override
    {
        id = uid.isEmpty() ? QByteArray(8, '\0') : uid;
        calls << QStringLiteral("select");
    }
    uint8_t chipCode() const override { return chip; }
    QByteArray templateModel() const override { return QByteArray(32, 'M'); }
    void Tip_No_Device() override { calls << QStringLiteral("no device"); }
    void repeatLastTip() override { calls << QStringLiteral("last tip"); }
    void startModelRead(uint8_t addr, uint8_t num, uint8_t offset, uint8_t len) override
    {
        calls << QStringLiteral("model read %1+%2 at %3, %4 bytes")
                     .arg(addr)
                     .arg(num)
                     .arg(offset)
                     .arg(len);
    }
    void refuseModel(const QByteArray& found) override
    {
        calls << QStringLiteral("refuse ") + QString::fromLatin1(found.left(1));
    }
    void startAutoWrite(uint8_t index) override { calls << QStringLiteral("write %1").arg(index); }
    bool sendScanInventory() override
    {
        calls << QStringLiteral("inventory");
        return true;
    }
    void forgetSilentSuccess() override {}
    bool readerBusy() const override { return false; }
};

} // namespace

void TstEngineAutoWrite::onePass_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QStringList>("calls");
    const QString read = QStringLiteral("model read 48+9 at 3, 32 bytes");
    QTest::newRow("no tag") << "none" << QStringList{"no device", "inventory"};
    // The last result was a write; the host shows it again ("Write successfully").
    QTest::newRow("batch done") << "done" << QStringList{"select", "last tip", "inventory"};
    QTest::newRow("same tag") << "same" << QStringList{};
    QTest::newRow("new tag: model read") << "new" << QStringList{read};
    QTest::newRow("model read running") << "reading" << QStringList{};
    QTest::newRow("model matches, P") << "match P" << QStringList{"write 1"};
    QTest::newRow("model matches, 8") << "match 8" << QStringList{"write 2"};
    QTest::newRow("model differs") << "differs" << QStringList{"refuse N"};
    // Not handled: this tag's own model is read on the next pass.
    QTest::newRow("model of another tag") << "stale" << QStringList{};
}

void TstEngineAutoWrite::onePass()
{
    QFETCH(QString, state);
    QFETCH(QStringList, calls);
    const auto is = [&](const char* s) { return state == QLatin1String(s); };
    const bool decided = state.startsWith(QLatin1String("match")) || is("differs");
    LoopHost host;
    AutoWrite loop(host);
    loop.stopPasses(); // the passes below are the test's own
    loop.toggle();
    const QByteArray tag = QByteArray::fromHex("01020304055002E0");
    host.id = is("none") ? QByteArray(8, '\0') : tag;
    loop.found_count = 1;
    loop.tag_index = is("done") ? 1 : 0;
    loop.noteChip(is("match 8") ? 0x38 : 0x50);
    if (is("same"))
        std::copy_n(tag.constBegin(), 8, loop.last_uid.begin());
    if (decided || is("reading") || is("stale")) {
        loop.AutoWriteProcess(); // the model-name read of this tag starts
        if (decided)
            loop.modelNameRead(QByteArray(32, is("differs") ? 'N' : 'M'));
        if (is("stale")) {
            loop.modelNameRead(QByteArray(32, 'M'));
            host.id[0] = char(9); // another tag lies on the reader now
        }
    } else if (!is("none") && !is("done") && !is("new")) {
        loop.scan_request = 0;
    }
    host.calls.clear();

    loop.AutoWriteProcess();
    QCOMPARE(host.calls, calls);
    if (decided) {
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(loop.last_uid.data()), 8), tag);
        QCOMPARE(loop.model_ready, uint8_t(0)); // handled, written or refused
    }
    if (is("new"))
        QCOMPARE(loop.scan_request, uint8_t(0));
    if (is("stale")) {
        QCOMPARE(loop.model_ready, uint8_t(0));
        QCOMPARE(loop.scan_request, uint8_t(1));
        QCOMPARE(loop.last_uid, (std::array<uint8_t, 8>{}));
    }
}

void TstEngineAutoWrite::modelReadRefused_nextSuccessBeeps()
{
    // The model-name read's success is to be silent; a refused one must not leave that
    // silence for the next success.
    Bench b;
    QVERIFY(loadConfiguration(b, R321));
    b.toggleAutoWrite();
    QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 0, 0x22);
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 81);
    b.field.layTag(tag);
    QTRY_COMPARE(int(b.lastTip()), kTipNoTag);
    QVERIFY(waitBeeps(b, 4));
    b.toggleAutoWrite();
    b.read();
    QTRY_COMPARE(int(b.lastTip()), kTipReadOk);
    QVERIFY(waitBeeps(b, 6));
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
