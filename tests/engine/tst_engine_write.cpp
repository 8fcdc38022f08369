// The write side end to end through both simulated readers: the Write action on both
// tag kinds, the model check, refused replies, the other write sequences, and the
// interplay of beeper and sequence commands on one reader link.
#include "writebench.h"

#include "engine/crc32.h"
#include "model/currents.h"
#include "model/tagfields.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

using namespace enginetest;

namespace
{

QByteArray u16(uint16_t v)
{
    QByteArray out(2, '\0');
    out[0] = char(v >> 8);
    out[1] = char(v & 0xFF);
    return out;
}

// What one tick sent: the sequence step, the beeper step, or both (sequence first).
struct TickSnapshot {
    uint8_t cmdType, partStep, bankStep, beepStep, beepTwice, beepPattern;
    static TickSnapshot of(Bench& b)
    {
        const CommandState& c = b.cmd();
        return {c.cmd_type,
                c.write_part_step,
                c.write_bank_step,
                TestAccess::beepStep(b.engine()),
                TestAccess::beepTwiceStep(b.engine()),
                TestAccess::beepPattern(b.engine())};
    }
    bool sequenceMoved(const TickSnapshot& o) const
    {
        return cmdType != o.cmdType || partStep != o.partStep || bankStep != o.bankStep;
    }
    bool beeperMoved(const TickSnapshot& o) const
    {
        return beepStep != o.beepStep || beepTwice != o.beepTwice || beepPattern != o.beepPattern;
    }
};

// Runs the tick by hand; between ticks the replies are let in. Returns what the ticks sent,
// in order, as "S" (sequence command) and "B" (beeper command).
QStringList runTicksNotingSends(Bench& b, int ticks, const std::function<bool()>& done)
{
    QStringList sent;
    for (int t = 0; t < ticks && !done(); ++t) {
        const TickSnapshot before = TickSnapshot::of(b);
        b.tick();
        const TickSnapshot after = TickSnapshot::of(b);
        if (after.sequenceMoved(before))
            sent << QStringLiteral("S");
        if (after.beeperMoved(before))
            sent << QStringLiteral("B");
        QTest::qWait(2);
    }
    return sent;
}

// The reader log as the same tokens.
QStringList readerTokens(const ReaderField& field)
{
    QStringList out;
    for (const SimCommandRecord& r : field.commandLog())
        out << (isBeeper(r) ? QStringLiteral("B") : QStringLiteral("S"));
    return out;
}

QVector<int> beeperStates(const ReaderField& field)
{
    QVector<int> out;
    for (const SimCommandRecord& r : field.commandLog()) {
        if (!isBeeper(r))
            continue;
        // R321: the record's byte 1 (frame data from 10); FEIG: the output state byte.
        out << (r.reader == SimReaderKind::R321 ? uint8_t(r.request.at(11))
                                                : uint8_t(r.request.at(8)));
    }
    return out;
}

} // namespace

class TstEngineWrite : public QObject
{
    Q_OBJECT
  private slots:
    void tagDropsOneBlock_verifyFailedNamesIt_data() { addReadersAndKinds(); }
    void tagDropsOneBlock_verifyFailedNamesIt();
    void strictSt25dv_longWritesInPieces_switchOncePerConnection_data() { addReadersAndKinds(); }
    void strictSt25dv_longWritesInPieces_switchOncePerConnection();
    void writePTag_eightCommands_tagHoldsDriveArea_data() { addReadersAndVerification(); }
    void writePTag_eightCommands_tagHoldsDriveArea();
    void driveWrites_driverKeepsItsCounters_data();
    void driveWrites_driverKeepsItsCounters();
    void writePwmTag_nineCommands_block248Composed_data() { addReadersAndVerification(); }
    void writePwmTag_nineCommands_block248Composed();
    void pwmTag_writeSaveOpenWriteAnother_sameBlock_data() { addReaders(); }
    void pwmTag_writeSaveOpenWriteAnother_sameBlock();
    void writeModelDiffers_refusedWithNotice_data();
    void writeModelDiffers_refusedWithNotice();
    void writeFileOfOtherLayout_refused_driverKeepsCounters_data();
    void writeFileOfOtherLayout_refused_driverKeepsCounters();
    void openOrDropDuringWrite_refused_writeSendsWhatItStartedWith_data();
    void openOrDropDuringWrite_refused_writeSendsWhatItStartedWith();
    void autoWrite_fileOpenedBetweenDrivers_isNextTemplate();
    void writeWithoutReader_warnsSendsNothing();
    void writeWithoutRead_saysReadFirst_recordsNothing();
    void writeOtherChip_sendsBufferAsItIs_endsFailed();
    void writeRejectedMidSequence_oneFailureNoMore_data() { addReaders(); }
    void writeRejectedMidSequence_oneFailureNoMore();
    void writeAllBanks_sixteenCommands_data() { addReaders(); }
    void writeAllBanks_sixteenCommands();
    void setCurrent_presentsPasswordThenWritesBlock66_data() { addReaders(); }
    void setCurrent_presentsPasswordThenWritesBlock66();
    void setCurrent_wrongPassword_tagRefusesWrite_data() { addReaders(); }
    void setCurrent_wrongPassword_tagRefusesWrite();
    void writeBlockNum_refusesBytesOutsideTheImage();
    void writeDuringFailedReadBeep_completesInTickOrder_r321Stays();
    void beeperAndSequenceInSameTick_bothReachReader_data() { addReaders(); }
    void beeperAndSequenceInSameTick_bothReachReader();
    void connectR321Again_linkStaysBlue();
    void closeDuringWrite_asksThenRecordsOnce_data();
    void closeDuringWrite_asksThenRecordsOnce();
    void lastRecordedWrite_shownAfterRead_data();
    void lastRecordedWrite_shownAfterRead();
    void recordServerAway_statusSaysHeldLocally();
};

void TstEngineWrite::writePTag_eightCommands_tagHoldsDriveArea()
{
    QFETCH(int, reader);
    QFETCH(bool, verify);
    Bench b;
    b.verify(verify);
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 11);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));

    currentWidget(b, 1)->setValue(420);
    QVector<record::Outcome> outcomes;
    QObject::connect(&b.engine(), &TagEngine::operationFinished,
                     [&outcomes](const record::Outcome& o) { outcomes << o; });
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    // One outcome for the record: the driver read is the template, the UID most
    // significant byte first whatever the reader's order.
    QCOMPARE(outcomes.size(), 1);
    const record::Entry line = record::entryFor(outcomes.first(), QStringLiteral("Vantory"));
    QCOMPARE(line.operation, QStringLiteral("Write"));
    QCOMPARE(line.result, QStringLiteral("Written"));
    QCOMPARE(line.uid, QString::fromLatin1(tag->uidMsbFirst().toHex().toUpper()));
    QCOMPARE(line.source, line.uid);
    QCOMPARE(line.currents, QStringLiteral("420"));
    QCOMPARE(line.tagKind, QStringLiteral("P"));
    // Proven by the read-back; the CRC-32 is that of the written blocks as the tag holds
    // them (the driver's own counters left out).
    const QByteArray held = tag->memory().mid(256, 256).remove(332 - 256, 8);
    QCOMPARE(line.verified, verify ? QStringLiteral("yes") : QStringLiteral("off"));
    QCOMPARE(line.writtenCrc,
             verify ? QStringLiteral("%1").arg(crc32::ieee(held), 8, 16, QLatin1Char('0')).toUpper()
                    : QString());

    QCOMPARE(describeCommands(b.field),
             driveAreaWrites() + (verify ? readBack(false) : QStringList()));
    const TagImage& image = TestAccess::image(b.engine());
    // Every block arrived in tag order (the FEIG frames carry each block reversed).
    QCOMPARE(tag->memory().mid(256, 256), bytes(image.bank_buffer, 256, 256));
    QCOMPARE(tag->memory().mid(264, 2), u16(420));
    QCOMPARE(tag->memory().mid(490, 2), u16(419)); // last-current word follows
    QCOMPARE(tag->memory().left(256), demodrivers::memory(demodrivers::Kind::Dt8).left(256));
    // The count of the last sequence: the read-back's, or the write's own.
    QCOMPARE(b.cmd().reply_cnt, uint8_t(verify ? readBack(false).size() : 8));
    QCOMPARE(b.cmd().send_cnt, uint8_t(8));
    QCOMPARE(resultText(b), QStringLiteral("Write successfully"));
    QVERIFY(waitBeeps(b, 2));
    QTest::qWait(150);
    QCOMPARE(beeperCommands(b.field), 2);
    QCOMPARE(beeperStates(b.field), (QVector<int>{1, 0}));
}

void TstEngineWrite::driveWrites_driverKeepsItsCounters_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("legacy");
    QTest::addColumn<bool>("autoWrite");
    QTest::addColumn<QStringList>("writes");
    for (int reader : {R321, Feig})
        for (bool legacy : {false, true})
            for (bool autoWrite : {false, true})
                QTest::addRow("%s %s %s", readerName(reader), legacy ? "legacy" : "layout 2",
                              autoWrite ? "auto write" : "Write")
                    << reader << legacy << autoWrite << driveAreaWrites(legacy);
}

void TstEngineWrite::driveWrites_driverKeepsItsCounters()
{
    QFETCH(int, reader);
    QFETCH(bool, legacy);
    QFETCH(bool, autoWrite);
    QFETCH(QStringList, writes);
    const auto kind = legacy ? demodrivers::Kind::Legacy3Ch : demodrivers::Kind::Dt8;
    const int counters = legacy ? 448 : 332; // gear and load operating time, 8 bytes
    Bench b;
    QVERIFY(b.connect(reader));
    const auto source = demodrivers::makeTag(kind, 30);
    source->setBlock(counters / 4, QByteArray::fromHex("00001111"));
    QVERIFY(readTag(b, source));
    currentWidget(b, 1)->setValue(320);
    auto target = source;
    if (autoWrite) {
        b.field.removeTag(source->uidMsbFirst());
        target = demodrivers::makeTag(kind, 31);
        b.toggleAutoWrite();
        QTRY_COMPARE(int(b.lastTip()), kTipNoDevice);
    }
    // The driver has counted on since it was read, or is another driver altogether.
    const QByteArray own = QByteArray::fromHex("0000222200003333");
    target->setBlock(counters / 4, own.left(4));
    target->setBlock(counters / 4 + 1, own.mid(4));
    if (autoWrite)
        b.field.layTag(target);
    else
        b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    if (autoWrite)
        b.toggleAutoWrite();

    QCOMPARE(describeCommands(b.field, false).filter(QStringLiteral("write")), writes);
    QCOMPARE(target->memory().mid(counters, 8), own);
    QByteArray expected = bytes(TestAccess::image(b.engine()).bank_buffer, 256, 256);
    expected.replace(counters - 256, 8, own);
    QCOMPARE(target->memory().mid(256, 256), expected);
    QCOMPARE(target->memory().mid(264, 2), u16(320));
}

void TstEngineWrite::writePwmTag_nineCommands_block248Composed()
{
    QFETCH(int, reader);
    QFETCH(bool, verify);
    Bench b;
    b.verify(verify);
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Pwm, 12);
    // Period 1000 and a pulse of 200 mA (2857 of 10000) before the write.
    tag->setBlock(248, QByteArray::fromHex("E8031D81"));
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    QCOMPARE(TestAccess::pwmPeriod(b.engine()), uint16_t(1000));
    QVERIFY(qAbs(currentWidget(b, 1)->value() - 200) <= 1);

    currentWidget(b, 1)->setValue(350);
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);

    QCOMPARE(describeCommands(b.field), bankWrites(0) + bankWrites(32) +
                                            QStringList{QStringLiteral("write 248+1")} +
                                            (verify ? readBack(true) : QStringList()));
    // 350 of 700 mA at period 1000: ratio 5000, pulse 500 | 0x8000, both words low byte first.
    QCOMPARE(tag->block(248), QByteArray::fromHex("E803F481"));
    const TagImage& image = TestAccess::image(b.engine());
    QCOMPARE(bytes(image.image_v2, 248, 4), QByteArray::fromHex("03E881F4")); // as read back
    QCOMPARE(tag->memory(), bytes(image.bank_buffer, 0, 256));
    QCOMPARE(b.cmd().reply_cnt, uint8_t(verify ? readBack(true).size() : 9));
    QVERIFY(waitBeeps(b, 2));
}

void TstEngineWrite::pwmTag_writeSaveOpenWriteAnother_sameBlock()
{
    QFETCH(int, reader);
    Bench b;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pwm.bin"));
    b.w->setFileDialogHook([&](Vantory::FileDialogMode, const QString&, const QString&,
                               const QString&) { return path; });
    const auto first = demodrivers::makeTag(demodrivers::Kind::Pwm, 23);
    first->setBlock(248, QByteArray::fromHex("E8031D81"));
    const auto second = demodrivers::makeTag(demodrivers::Kind::Pwm, 24);
    second->setBlock(248, QByteArray::fromHex("D0070000"));
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, first));
    currentWidget(b, 1)->setValue(350);
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QVERIFY(waitBeeps(b, 2));
    QCOMPARE(currentWidget(b, 1)->value(), 350);
    b.trigger("actionSave_BIN_configure");
    b.field.removeTag(first->uidMsbFirst());
    QVERIFY(readTag(b, second));
    QCOMPARE(TestAccess::pwmPeriod(b.engine()), uint16_t(2000));

    b.trigger("actionOpen_BIN_configure");
    QCOMPARE(TestAccess::pwmPeriod(b.engine()), uint16_t(1000));
    QCOMPARE(currentWidget(b, 1)->value(), 350);
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(currentWidget(b, 1)->value(), 350);
    QCOMPARE(first->block(248), QByteArray::fromHex("E803F481"));
    QCOMPARE(second->block(248), first->block(248));
}

void TstEngineWrite::writeModelDiffers_refusedWithNotice_data()
{
    QTest::addColumn<int>("chinese");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");
    QTest::newRow("en") << 0 << QStringLiteral("The models are inconsistent. Write failed")
                        << QStringLiteral("The model number is different");
    QTest::newRow("cn") << 1 << QStringLiteral("机型不一致，写入失败")
                        << QStringLiteral("机型号不一致");
}

void TstEngineWrite::writeModelDiffers_refusedWithNotice()
{
    QFETCH(int, chinese);
    QFETCH(QString, text);
    QFETCH(QString, status);
    Bench b;
    b.verify(false); // the described command sequence, nothing read back
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 13);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, tag));
    // A configuration of another model was loaded since the read (its last name byte).
    TestAccess::editImage(b.engine(), [](TagImage& image) { image.image_v2[226] = 'X'; });
    TestAccess::setLanguageFlag(b.engine(), chinese != 0);
    const QByteArray before = tag->memory();

    b.write();
    NoticeWidget* notice = TestAccess::notice(b.engine());
    QCOMPARE(notice->text(), text);
    QVERIFY(notice->isTicking());
    QCOMPARE(notice->ticks(), NoticeWidget::ticksFor(3000));
    // The status bar no longer says "Read successfully" but that the write failed.
    QCOMPARE(resultText(b), status);
    QCOMPARE(TestAccess::statusResult(b.engine())->palette().color(QPalette::WindowText),
             QColor(Qt::red));
    QTest::qWait(100);
    QVERIFY(b.field.commandLog().isEmpty());
    QCOMPARE(b.cmd().cmd_type, uint8_t(0));
    QCOMPARE(tag->memory(), before);

    // The same model again: the write goes out, and until its result the status is empty.
    TestAccess::editImage(b.engine(),
                          [&before](TagImage& image) { image.image_v2[226] = uint8_t(before.at(226)); });
    b.write();
    QCOMPARE(resultText(b), QString());
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(describeCommands(b.field), driveAreaWrites());
}

namespace
{

// Records the production-record result and template of each operation.
struct Records {
    QStringList results;
    QStringList sources;
    QStringList models;
    explicit Records(Bench& b)
    {
        QObject::connect(&b.engine(), &TagEngine::operationFinished,
                         [this](const record::Outcome& o) {
                             results << record::resultText(o.result);
                             sources << o.templateSource;
                             models << record::entryFor(o, QString()).model;
                         });
    }
};

// A configuration file of the image with `patch` applied, opened through Read File.
QString writeConfig(QTemporaryDir& dir, const QString& name, QByteArray bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void dropFile(Vantory& w, const QString& path)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &drop);
}

} // namespace

void TstEngineWrite::writeFileOfOtherLayout_refused_driverKeepsCounters_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("legacyDriver");
    QTest::addColumn<int>("chinese");
    QTest::addColumn<QString>("text");
    const QString toLegacy = QStringLiteral(
        "The configuration is for the legacy layout (code 3), but the driver uses layout 2. "
        "Nothing was written.");
    const QString toLayout2 = QStringLiteral(
        "The configuration is for layout 2, but the driver uses the legacy layout (code 3). "
        "Nothing was written.");
    for (int reader : {R321, Feig}) {
        QTest::addRow("%s layout 2 driver, legacy file", readerName(reader))
            << reader << false << 0 << toLegacy;
        QTest::addRow("%s legacy driver, layout 2 file", readerName(reader))
            << reader << true << 0 << toLayout2;
    }
    QTest::newRow("R321 cn") << int(R321) << false << 1
                             << QStringLiteral(
                                    "配置为旧布局（代码 3），驱动器为布局 2，未写入任何数据。");
}

void TstEngineWrite::writeFileOfOtherLayout_refused_driverKeepsCounters()
{
    // A file of the same model written by a driver of the other layout: its bytes at the
    // driver's counters are configuration, and the driver's counters sit where the file
    // has configuration. It is refused before anything is sent.
    QFETCH(int, reader);
    QFETCH(bool, legacyDriver);
    QFETCH(int, chinese);
    QFETCH(QString, text);
    Bench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(reader));
    const auto driver = demodrivers::makeTag(
        legacyDriver ? demodrivers::Kind::Legacy3Ch : demodrivers::Kind::Dt8, 32);
    const int counters = legacyDriver ? 448 : 332;
    driver->setBlock(counters / 4, QByteArray::fromHex("00004444"));
    QVERIFY(readTag(b, driver));
    Records records(b);
    QByteArray file = driver->memory();
    file[183] = char(legacyDriver ? 2 : 3);
    const QString path = writeConfig(dir, QStringLiteral("other.bin"), file);
    b.w->setFileDialogHook([&](Vantory::FileDialogMode, const QString&, const QString&,
                               const QString&) { return path; });
    b.trigger("actionOpen_BIN_configure");
    QCOMPARE(int(TestAccess::image(b.engine()).image_v2[183]), legacyDriver ? 2 : 3);
    TestAccess::setLanguageFlag(b.engine(), chinese != 0);
    const QByteArray before = driver->memory();

    b.write();
    NoticeWidget* notice = TestAccess::notice(b.engine());
    QCOMPARE(notice->text(), text);
    QTest::qWait(100);
    QVERIFY(b.field.commandLog().isEmpty());
    QCOMPARE(b.cmd().cmd_type, uint8_t(0));
    QCOMPARE(driver->memory(), before);
    QCOMPARE(records.results, QStringList{QStringLiteral("Other layout refused")});

    // A file of the driver's own layout goes out, around the driver's counters.
    file[183] = char(legacyDriver ? 3 : 2);
    QVERIFY(!writeConfig(dir, QStringLiteral("other.bin"), file).isEmpty());
    b.trigger("actionOpen_BIN_configure");
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(describeCommands(b.field, false).filter(QStringLiteral("write")),
             driveAreaWrites(legacyDriver));
    QCOMPARE(driver->memory().mid(counters, 4), QByteArray::fromHex("00004444"));
    QCOMPARE(records.results.last(), QStringLiteral("Written"));
}

void TstEngineWrite::openOrDropDuringWrite_refused_writeSendsWhatItStartedWith_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("drop");
    QTest::addColumn<int>("chinese");
    for (int reader : {R321, Feig})
        for (bool drop : {false, true})
            QTest::addRow("%s %s", readerName(reader), drop ? "drop" : "Read File")
                << reader << drop << 0;
    QTest::newRow("R321 drop cn") << int(R321) << true << 1;
}

void TstEngineWrite::openOrDropDuringWrite_refused_writeSendsWhatItStartedWith()
{
    QFETCH(int, reader);
    QFETCH(bool, drop);
    QFETCH(int, chinese);
    Bench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(reader));
    const auto driver = demodrivers::makeTag(demodrivers::Kind::Dt8, 33);
    QVERIFY(readTag(b, driver));
    const QByteArray started = bytes(TestAccess::image(b.engine()).bank_buffer, 0, 512);
    // Another model with other drive settings.
    const QString path =
        writeConfig(dir, QStringLiteral("other.bin"),
                    demodrivers::makeTag(demodrivers::Kind::OtherModel, 34)->memory());
    b.w->setFileDialogHook([&](Vantory::FileDialogMode, const QString&, const QString&,
                               const QString&) { return path; });
    TestAccess::setLanguageFlag(b.engine(), chinese != 0);
    Records records(b);
    driver->setMemory(driver->memory().left(256) + QByteArray(256, '\0'));
    b.field.setLatencyEnabled(true);

    b.write();
    QTest::qWait(60);
    QVERIFY(b.cmd().cmd_type != 0);
    if (drop)
        dropFile(b.engine(), path);
    else
        b.trigger("actionOpen_BIN_configure");
    QCOMPARE(TestAccess::notice(b.engine())->text(),
             chinese ? QStringLiteral("正在读写标签，配置文件未打开。请在操作结束后再打开。")
                     : QStringLiteral("A tag operation is running: the configuration file was "
                                      "not opened. Open it when the operation has ended."));
    QCOMPARE(bytes(TestAccess::image(b.engine()).bank_buffer, 0, 512), started);
    QTRY_COMPARE_WITH_TIMEOUT(int(b.lastTip()), kTipWriteOk, 10000);
    QCOMPARE(driver->memory().mid(256, 76), started.mid(256, 76));
    const QString uid = QString::fromLatin1(driver->uidMsbFirst().toHex().toUpper());
    QCOMPARE(records.results, QStringList{QStringLiteral("Written")});
    QCOMPARE(records.sources, QStringList{uid});
    QCOMPARE(records.models.first(), tagfields::productInfo(TestAccess::image(b.engine())).model);

    // Once the write is over, the file opens.
    QTRY_VERIFY_WITH_TIMEOUT(b.engine().idle(), 5000);
    if (drop)
        dropFile(b.engine(), path);
    else
        b.trigger("actionOpen_BIN_configure");
    QVERIFY(bytes(TestAccess::image(b.engine()).bank_buffer, 0, 512) != started);
}

void TstEngineWrite::autoWrite_fileOpenedBetweenDrivers_isNextTemplate()
{
    // Between the drivers of a batch a file opened is the next driver's template, and
    // the record names it for that driver only.
    Bench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(R321));
    const auto source = demodrivers::makeTag(demodrivers::Kind::Dt8, 35);
    QVERIFY(readTag(b, source));
    b.field.removeTag(source->uidMsbFirst());
    QByteArray file = source->memory();
    // A byte of the drive area no panel touches, carried to the driver as it is.
    file[400] = char(source->memory().at(400) ^ 0x5A);
    const QString path = writeConfig(dir, QStringLiteral("batch.bin"), file);
    b.w->setFileDialogHook([&](Vantory::FileDialogMode, const QString&, const QString&,
                               const QString&) { return path; });
    Records records(b);
    b.toggleAutoWrite();
    const auto first = demodrivers::makeTag(demodrivers::Kind::Dt8, 36);
    b.field.layTag(first);
    QTRY_COMPARE_WITH_TIMEOUT(records.results.size(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!b.engine().sequenceRunning() &&
                                 b.engine().idle(),
                             5000);
    b.trigger("actionOpen_BIN_configure");
    b.field.removeTag(first->uidMsbFirst());
    const auto second = demodrivers::makeTag(demodrivers::Kind::Dt8, 37);
    b.field.layTag(second);
    QTRY_COMPARE_WITH_TIMEOUT(records.results.size(), 2, 5000);
    b.toggleAutoWrite();
    const QString read = QString::fromLatin1(source->uidMsbFirst().toHex().toUpper());
    QCOMPARE(records.results, (QStringList{QStringLiteral("Written"), QStringLiteral("Written")}));
    QCOMPARE(records.sources, (QStringList{read, QStringLiteral("batch.bin")}));
    QCOMPARE(first->memory().at(400), source->memory().at(400));
    QCOMPARE(second->memory().at(400), file.at(400));
}

void TstEngineWrite::writeWithoutReader_warnsSendsNothing()
{
    Bench b;
    b.field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 14));
    b.write();
    QCOMPARE(b.boxes, QStringList{QStringLiteral(
                          "Warning！|The reader is not connected, please connect the reader!")});
    QCOMPARE(TestAccess::statusLink(b.engine())->text(), QStringLiteral("Please selcet usb device"));
    QTest::qWait(50);
    QVERIFY(b.field.commandLog().isEmpty());
    QCOMPARE(b.cmd().cmd_type, uint8_t(0));
}

// Write with a driver on the reader but none read: the window says to read it first, sends
// nothing and records nothing.
void TstEngineWrite::writeWithoutRead_saysReadFirst_recordsNothing()
{
    Bench b;
    QVERIFY(b.connect(R321));
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 15);
    b.field.layTag(tag);
    const QByteArray before = tag->memory();
    int outcomes = 0;
    QObject::connect(&b.engine(), &TagEngine::operationFinished,
                     [&outcomes] { ++outcomes; });
    b.write();
    const QString text = QStringLiteral("Read the driver first, then write");
    QCOMPARE(resultText(b), text);
    QCOMPARE(TestAccess::notice(b.engine())->text(), text);
    QTest::qWait(300);
    QVERIFY(b.field.commandLog().isEmpty());
    QCOMPARE(outcomes, 0);
    QCOMPARE(tag->memory(), before);
    QVERIFY(b.boxes.isEmpty());
    TestAccess::setLanguageFlag(b.engine(), true);
    b.write();
    QCOMPARE(resultText(b), QStringLiteral("请先读取驱动，再写入"));
    TestAccess::setLanguageFlag(b.engine(), false);

    // Read, then Write: written.
    QVERIFY(readTag(b, nullptr));
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(outcomes, 1);
}

void TstEngineWrite::writeOtherChip_sendsBufferAsItIs_endsFailed()
{
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 15);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, tag));
    // A chip code that is neither 'P' nor '8': no preparation, send_cnt stays as it was.
    TestAccess::setChipCode(b.engine(), 0x45);
    TestAccess::editCmd(b.engine(), [&](CommandState& c) { c.send_cnt = 16; });
    TestAccess::editImage(b.engine(), [](TagImage& image) { image.bank_buffer.fill(0x5A); });
    currentWidget(b, 1)->setValue(400);

    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteFailed);
    QCOMPARE(describeCommands(b.field), driveAreaWrites());
    QByteArray expected(256, '\x5A'); // not refreshed; the counters are never written
    expected.replace(332 - 256, 8, demodrivers::memory(demodrivers::Kind::Dt8).mid(332, 8));
    QCOMPARE(tag->memory().mid(256, 256), expected);
    QVERIFY(waitBeeps(b, 4));
}

void TstEngineWrite::writeRejectedMidSequence_oneFailureNoMore()
{
    QFETCH(int, reader);
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 16);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    // The fourth command, one block: a long one would first be tried again in pieces.
    b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 3, reader == R321 ? 0x23 : 0xB0);

    b.write();
    // The read's tip went when the write started; wait for the write's own.
    QTRY_VERIFY(b.lastTip() != 0);
    // Both report it as no tag response: the FEIG reply is taken as a write reply only in
    // its exact success form, so a refusal reads as a reply without a tag.
    QCOMPARE(int(b.lastTip()), kTipNoTag);
    QVERIFY(waitBeeps(b, 4));
    QTest::qWait(100);
    QCOMPARE(describeCommands(b.field), driveAreaWrites().mid(0, 4));
    QCOMPARE(beeperCommands(b.field), 4);
    QCOMPARE(b.cmd().reply_cnt, uint8_t(3));
}

void TstEngineWrite::writeAllBanks_sixteenCommands()
{
    QFETCH(int, reader);
    Bench b;
    b.verify(false); // the described command sequence, nothing read back
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 17);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    // something to see in the product area
    TestAccess::editImage(b.engine(), [](TagImage& image) { image.image_v2[200] = 'Q'; });
    const TagImage& image = TestAccess::image(b.engine());
    currentWidget(b, 1)->setValue(600);

    // Sequence 0xFC runs as it is with preparation 0: its first step sends nothing.
    TestAccess::controlRw(b.engine(), 0xFC, 0);
    TestAccess::selectAutoWrite(b.engine(), 0);
    QCOMPARE(b.cmd().cmd_type, uint8_t(0xFC));
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(describeCommands(b.field), bankWrites(0) + bankWrites(32) + driveAreaWrites());
    QCOMPARE(tag->memory(), bytes(image.bank_buffer, 0, 512));
    QCOMPARE(tag->memory().at(200), 'Q');
    QCOMPARE(tag->memory().mid(264, 2), u16(600));
    QCOMPARE(b.cmd().reply_cnt, uint8_t(16));
}

void TstEngineWrite::setCurrent_presentsPasswordThenWritesBlock66()
{
    QFETCH(int, reader);
    Bench b;
    b.verify(false); // the described command sequence, nothing read back
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 18);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    // A configured tag: area 1 writable only in the session of password 1.
    tag->setPassword(1, QByteArray::fromHex("7130458269154038"));
    tag->setRfa1ss(0x05);
    tag->leaveField();

    currentWidget(b, 1)->setValue(480);
    TestAccess::controlRw(b.engine(), 0xFD, 0);
    TestAccess::selectAutoWrite(b.engine(), 3);
    QCOMPARE(b.cmd().cmd_type, uint8_t(0xFA));
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(describeCommands(b.field), (QStringList{QStringLiteral("present 1 7130458269154038"),
                                                     QStringLiteral("write 66+1")}));
    QCOMPARE(tag->memory().mid(264, 2), u16(480));
    QCOMPARE(tag->memory().mid(268, 4),
             demodrivers::memory(demodrivers::Kind::Dt8).mid(268, 4)); // one block only
    QCOMPARE(b.cmd().reply_cnt, uint8_t(1));
    QVERIFY(waitBeeps(b, 2));
}

void TstEngineWrite::setCurrent_wrongPassword_tagRefusesWrite()
{
    QFETCH(int, reader);
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 19);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    tag->setPassword(1, QByteArray::fromHex("0102030405060708"));
    tag->setRfa1ss(0x05);
    tag->leaveField();
    const QByteArray before = tag->memory();

    currentWidget(b, 1)->setValue(480);
    TestAccess::controlRw(b.engine(), 0xFD, 0);
    TestAccess::selectAutoWrite(b.engine(), 3);
    QTRY_COMPARE(int(b.lastTip()), kTipNoTag);
    QCOMPARE(describeCommands(b.field), (QStringList{QStringLiteral("present 1 7130458269154038"),
                                                     QStringLiteral("write 66+1")}));
    QCOMPARE(tag->memory(), before);
    QVERIFY(waitBeeps(b, 4));
}

void TstEngineWrite::writeBlockNum_refusesBytesOutsideTheImage()
{
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 20);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, tag));
    uint8_t* image = TestAccess::ownImageBytes(b.engine());
    uint8_t* id = TestAccess::ownUidBytes(b.engine());
    std::array<uint8_t, 16> foreign{};
    // Data running past the end of the image, and a UID that is not one of the window's.
    TestAccess::writeBlockNum(b.engine(), id, 127, image + 508, 2);
    TestAccess::writeBlockNum(b.engine(), foreign.data(), 64, image, 1);
    TestAccess::writeBlockNum(b.engine(), id, 64, foreign.data(), 1);
    QTest::qWait(50);
    QVERIFY(b.field.commandLog().isEmpty());
    // The last block of the image is fine.
    TestAccess::writeBlockNum(b.engine(), id, 127, image + 508, 1);
    QTRY_COMPARE(describeCommands(b.field), QStringList{QStringLiteral("write 127+1")});
}

void TstEngineWrite::writeDuringFailedReadBeep_completesInTickOrder_r321Stays()
{
    Bench b;
    b.verify(false); // the described command sequence, nothing read back
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 21);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, tag));
    currentWidget(b, 1)->setValue(450);

    // A read that fails on its third block read: a double beep starts.
    b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 2, 0x22);
    b.read();
    QTRY_COMPARE(int(b.lastTip()), kTipNoTag);
    b.stopTimer();
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(2));
    // The model is that of the successful read before.
    b.field.clearCommandLog();
    QTest::qWait(5);
    b.field.clearCommandLog();

    b.write();
    const QStringList sent = runTicksNotingSends(b, 3000, [&] {
        return b.lastTip() == kTipWriteOk &&
               TestAccess::beepPattern(b.engine()) == 0 && b.cmd().cmd_type == 0;
    });
    QTest::qWait(50);
    QCOMPARE(int(b.lastTip()), kTipWriteOk);

    // Everything issued reached the reader, in the order of the ticks.
    QCOMPARE(readerTokens(b.field), sent);
    QCOMPARE(describeCommands(b.field), driveAreaWrites());
    QCOMPARE(tag->memory().mid(264, 2), u16(450));
    // The rest of the double beep, then the write's single beep: on, off at the end.
    const QVector<int> states = beeperStates(b.field);
    QVERIFY(states.size() >= 2);
    QCOMPARE(states.mid(states.size() - 2), (QVector<int>{1, 0}));
    QVERIFY(!b.r321.beeperOn());

    // The reader stays connected; nobody was told otherwise.
    QVERIFY(TestAccess::readerGuard(b.engine(), 0));
    QVERIFY(b.boxes.isEmpty());
    QCOMPARE(TestAccess::statusLink(b.engine())->text(), QStringLiteral("Connected: R321"));
}

void TstEngineWrite::beeperAndSequenceInSameTick_bothReachReader()
{
    QFETCH(int, reader);
    Bench b;
    b.verify(false); // the described command sequence, nothing read back
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 22);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    b.stopTimer();
    QTest::qWait(5);
    b.field.clearCommandLog();

    TestAccess::controlRw(b.engine(), 0xFD, 0);
    TestAccess::selectAutoWrite(b.engine(), 1);
    TestAccess::startBeep(b.engine(), 1); // the beeper switches on in the next tick
    b.tick();
    QTRY_COMPARE(b.field.commandLog().size(), 2);
    QCOMPARE(readerTokens(b.field), (QStringList{QStringLiteral("S"), QStringLiteral("B")}));
    QCOMPARE(describeCommands(b.field), QStringList{QStringLiteral("write 64+10")});

    const QStringList sent = runTicksNotingSends(b, 3000, [&] {
        return b.lastTip() == kTipWriteOk &&
               TestAccess::beepPattern(b.engine()) == 0;
    });
    QTest::qWait(50);
    QCOMPARE(readerTokens(b.field), QStringList({QStringLiteral("S"), QStringLiteral("B")}) + sent);
    QCOMPARE(describeCommands(b.field), driveAreaWrites());
    QCOMPARE(tag->memory().mid(256, 256),
             bytes(TestAccess::image(b.engine()).bank_buffer, 256, 256));
}

void TstEngineWrite::connectR321Again_linkStaysBlue()
{
    Bench b;
    QVERIFY(b.connect(R321));
    // OK pressed again while connected: the dialog paints the label red first.
    auto* dialog = b.w->findChild<QDialog*>(QStringLiteral("ConnectionConfig"));
    dialog->findChild<QComboBox*>(QStringLiteral("comboBox_Reader"))->setCurrentIndex(1);
    dialog->findChild<QPushButton*>(QStringLiteral("pushButton_Connect"))->click();
    QVERIFY(TestAccess::readerGuard(b.engine(), 0));
    QCOMPARE(TestAccess::statusLink(b.engine())->text(), QStringLiteral("Connected: R321"));
    QCOMPARE(TestAccess::statusLink(b.engine())->palette().color(QPalette::WindowText),
             QColor(Qt::blue));
    QCOMPARE(b.r321.openCount(), 1);
    TestAccess::setLanguageFlag(b.engine(), true);
    b.engine().connectR321();
    QCOMPARE(TestAccess::statusLink(b.engine())->text(), QStringLiteral("连接成功: R321 阅读器"));
    QCOMPARE(b.r321.openCount(), 1);
}

void TstEngineWrite::closeDuringWrite_asksThenRecordsOnce_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("quit");
    QTest::addColumn<bool>("hung");
    QTest::addColumn<QString>("result");
    QTest::newRow("R321, stay: the write ends") << int(R321) << false << false << "Written";
    QTest::newRow("R321, quit: the write ends first") << int(R321) << true << false << "Written";
    QTest::newRow("R321, quit, no replies")
        << int(R321) << true << true << "Interrupted (window closed)";
    QTest::newRow("FEIG, quit, no replies")
        << int(Feig) << true << true << "Interrupted (window closed)";
}

// Closing the window while a driver is programmed asks first; whatever the answer, the
// write ends within about a second and has exactly one line in the record.
void TstEngineWrite::closeDuringWrite_asksThenRecordsOnce()
{
    QFETCH(int, reader);
    QFETCH(bool, quit);
    QFETCH(bool, hung);
    QFETCH(QString, result);
    Bench b;
    QTemporaryDir dir;
    b.engine().setRecordFolder(dir.path());
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 31);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    b.field.setLatencyEnabled(true);
    b.write();
    QTRY_VERIFY(b.field.commandLog().size() > 2);
    // The reader takes every command and answers none (a reader that hangs outright is
    // reported lost by its own watchdog before the second is up).
    if (hung)
        b.field.armReplyFault(SimReplyFault::NoReply, 1000);
    QString asked;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        asked = box->objectName();
        box->button(quit ? QMessageBox::Yes : QMessageBox::No)->click();
    });
    QElapsedTimer clock;
    clock.start();
    QCloseEvent close;
    QApplication::sendEvent(&b.engine(), &close);
    QCOMPARE(asked, QStringLiteral("quitDuringOperation"));
    QCOMPARE(close.isAccepted(), quit);
    if (quit)
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    else
        QTRY_VERIFY(!b.engine().operationPending());
    b.field.clearFaults();
    b.w.reset(); // the program leaves: nothing more may be added to the record
    QFile file(QDir(dir.path()).filePath(record::fileName(QDate::currentDate())));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(QString::fromUtf8(lines.at(1)).trimmed().split(',').at(14), result);
}

void TstEngineWrite::lastRecordedWrite_shownAfterRead_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("expected");
    QTest::newRow("English") << false
                             << "Last recorded write: %1, station line-7, file %2, "
                                "result Written, verified yes";
    QTest::newRow("Chinese") << true
                             << "上次记录的写入：%1，工位 line-7，文件 %2，结果 Written，校验 通过";
}

// After a Read, Device Data shows the driver's last recorded write; a driver the record
// does not know shows nothing.
void TstEngineWrite::lastRecordedWrite_shownAfterRead()
{
    QFETCH(bool, chinese);
    QFETCH(QString, expected);
    qputenv("VANTORY_STATION", "line-7");
    Bench b;
    QTemporaryDir dir;
    b.engine().setRecordFolder(dir.path());
    qunsetenv("VANTORY_STATION");
    if (chinese)
        b.trigger("actionLanguage");
    const auto first = demodrivers::makeTag(demodrivers::Kind::Dt8, 41);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, first));
    const auto label = [&] {
        return b.engine().findChild<QLabel*>(QStringLiteral("label_LastWrite"));
    };
    QTest::qWait(100);
    QVERIFY(!label() || label()->isHidden());
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QVERIFY(waitBeeps(b, 2));

    QVERIFY(readTag(b, nullptr));
    QTRY_VERIFY(label() && !label()->isHidden());
    const QString uid = QString::fromLatin1(first->uidMsbFirst().toHex().toUpper());
    const QStringList around = expected.arg(QStringLiteral("@"), uid).split(QLatin1Char('@'));
    QVERIFY2(
        label()->text().startsWith(around.first() + QDate::currentDate().toString(Qt::ISODate)),
        qPrintable(label()->text()));
    QVERIFY2(label()->text().endsWith(around.last()), qPrintable(label()->text()));
    const QString shots = qEnvironmentVariable("VANTORY_SHOTS_DIR");
    if (!shots.isEmpty()) {
        b.engine().show();
        QTest::qWait(200);
        b.engine().grab().save(QDir(shots).filePath(chinese ? QStringLiteral("last-write-zh.png")
                                                         : QStringLiteral("last-write-en.png")));
    }

    // Another driver: its own (empty) history, not the last one's.
    b.field.clear();
    QVERIFY(readTag(b, demodrivers::makeTag(demodrivers::Kind::Dt8, 42)));
    QTRY_VERIFY(label()->isHidden());
}

// A record server that cannot be reached: the write goes on, the status bar says that the
// record is held locally, and the line waits in the journal.
void TstEngineWrite::recordServerAway_statusSaysHeldLocally()
{
    qputenv("VANTORY_RECORD_DB", "postgresql://127.0.0.1:1/record?connect_timeout=1");
    Bench b;
    QTemporaryDir dir;
    b.engine().setRecordFolder(dir.path());
    qunsetenv("VANTORY_RECORD_DB");
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, demodrivers::makeTag(demodrivers::Kind::Dt8, 43)));
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    auto* status = b.engine().findChild<QLabel*>(QStringLiteral("status_record"));
    QTRY_VERIFY(!status->isHidden());
    QCOMPARE(status->text(), QStringLiteral("Record server not reachable: the production record is "
                                            "held locally and sent when it is back"));
    record::Store journal;
    QVERIFY(journal.openLocal(record::localDatabasePath(dir.path())));
    QTRY_COMPARE(journal.unsentCount(), 1);
}

void TstEngineWrite::tagDropsOneBlock_verifyFailedNamesIt()
{
    QFETCH(int, reader);
    QFETCH(bool, pwm);
    Bench b;
    const auto tag =
        demodrivers::makeTag(pwm ? demodrivers::Kind::Pwm : demodrivers::Kind::Dt8, 13);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    // Something that differs from what the tag holds, in the block it will drop.
    const int dropped = pwm ? 40 : 101;
    const int beeps = beeperCommands(b.field);
    TestAccess::editImage(b.engine(), [dropped](TagImage& image) {
        image.image_v2[dropped * 4] ^= 0x5A;
        image.image_legacy[dropped * 4] ^= 0x5A;
    });
    const QByteArray before = tag->block(dropped);
    tag->dropNextWriteOf(dropped);
    QVector<record::Outcome> outcomes;
    QObject::connect(&b.engine(), &TagEngine::operationFinished,
                     [&outcomes](const record::Outcome& o) { outcomes << o; });
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipVerifyFailed);
    QCOMPARE(resultText(b), QStringLiteral("Verify failed at block %1").arg(dropped));
    QCOMPARE(tag->block(dropped), before); // the reader said yes all the same
    QVERIFY(waitBeeps(b, beeps + 4));      // the failure's double beep
    QTest::qWait(100);
    QCOMPARE(beeperCommands(b.field), beeps + 4);
    // Every written block was read back once: the comparison is complete.
    QCOMPARE(describeCommands(b.field).filter(QStringLiteral("read")), readBack(pwm));
    QCOMPARE(outcomes.size(), 1);
    const record::Entry line = record::entryFor(outcomes.first(), QStringLiteral("Vantory"));
    QCOMPARE(line.result, QStringLiteral("Verify failed (block %1)").arg(dropped));
    QCOMPARE(line.verified, QStringLiteral("no"));
    QCOMPARE(line.writtenCrc.size(), 8);
    // The other language names the block as well.
    b.trigger("actionLanguage");
    QCOMPARE(resultText(b), QStringLiteral("写入校验失败：块 %1").arg(dropped));
}

void TstEngineWrite::strictSt25dv_longWritesInPieces_switchOncePerConnection()
{
    QFETCH(int, reader);
    QFETCH(bool, pwm);
    EngineLogCapture log;
    Bench b;
    b.field.setStrictSt25dv(true);
    const auto tag =
        demodrivers::makeTag(pwm ? demodrivers::Kind::Pwm : demodrivers::Kind::Dt8, 14);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    const QStringList described =
        pwm ? bankWrites(0) + bankWrites(32) + QStringList{QStringLiteral("write 248+1")}
            : driveAreaWrites();
    for (int current : {300, 310}) {
        currentWidget(b, 1)->setValue(current);
        b.field.clearCommandLog();
        b.write();
        QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
        QVERIFY(waitBeeps(b, 2));
        // The first write of the connection is refused whole and sent again in pieces;
        // from then on every long write goes out in pieces from the start.
        QStringList expected = inFourBlockPieces(described);
        if (current == 300)
            expected.prepend(described.first());
        QCOMPARE(describeCommands(b.field).filter(QStringLiteral("write")), expected);
        QCOMPARE(describeCommands(b.field).filter(QStringLiteral("read")), readBack(pwm));
        if (pwm)
            QCOMPARE(tag->memory(), bytes(TestAccess::image(b.engine()).bank_buffer, 0, 256));
        else
            QCOMPARE(tag->memory().mid(264, 2), u16(current));
    }
    QVERIFY(b.engine().fourBlockLink());
    QCOMPARE(log.count(QStringLiteral("pieces of four from now on")), 1);
}

QTEST_GUILESS_MAIN(TstEngineWrite)
#include "tst_engine_write.moc"
