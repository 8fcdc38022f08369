// The write side end to end through both simulated readers, on the engine alone: the
// Write action on both tag kinds, the model check, refused replies, the other write
// sequences, and the interplay of beeper and sequence commands on one reader link.
// What the window shows of it is tested in tests/app/tst_window_write.
#include "writebench.h"

#include "engine/crc32.h"

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
        const WriteOperation* w = b.writeOp();
        const Beeper& beeper = b.engine().beeper();
        return {w ? w->cmd_type : uint8_t(0),
                w ? w->write_part_step : uint8_t(0),
                w ? w->write_bank_step : uint8_t(0),
                beeper.beep_step,
                beeper.beep_twice_step,
                beeper.beep_pattern};
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
    void autoWrite_fileOpenedBetweenDrivers_isNextTemplate();
    void writeWithoutReader_warnsSendsNothing();
    void writeOtherChip_sendsBufferAsItIs_endsFailed();
    void writeRejectedMidSequence_oneFailureNoMore_data() { addReaders(); }
    void writeRejectedMidSequence_oneFailureNoMore();
    void writeAllBanks_sixteenCommands_data() { addReaders(); }
    void writeAllBanks_sixteenCommands();
    void setCurrent_presentsPasswordThenWritesBlock66_data() { addReaders(); }
    void setCurrent_presentsPasswordThenWritesBlock66();
    void setCurrent_wrongPassword_tagRefusesWrite_data() { addReaders(); }
    void setCurrent_wrongPassword_tagRefusesWrite();
    void writeBlockNum_refusesShortData();
    void writeDuringFailedReadBeep_completesInTickOrder_r321Stays();
    void beeperAndSequenceInSameTick_bothReachReader_data() { addReaders(); }
    void beeperAndSequenceInSameTick_bothReachReader();
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

    b.setCurrent(1, 420);
    b.outcomes.clear();
    const QVector<record::Outcome>& outcomes = b.outcomes;
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    // One outcome for the record: the driver read and then edited is the template, the
    // UID most significant byte first whatever the reader's order.
    QCOMPARE(outcomes.size(), 1);
    const record::Entry line = record::entryFor(outcomes.first(), QStringLiteral("Vantory"));
    QCOMPARE(line.operation, QStringLiteral("Write"));
    QCOMPARE(line.result, QStringLiteral("Written"));
    QCOMPARE(line.uid, QString::fromLatin1(tag->uidMsbFirst().toHex().toUpper()));
    QCOMPARE(line.source, line.uid + QStringLiteral(" (edited)"));
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
    QCOMPARE(b.writeOp()->reply_cnt, uint8_t(verify ? readBack(false).size() : 8));
    QCOMPARE(b.writeOp()->send_cnt, uint8_t(8));
    QCOMPARE(b.tips.last(), ResultTip::WriteSucceed); // still the write's tip
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
    b.setCurrent(1, 320);
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
    QCOMPARE(b.document().pwmPeriod(), uint16_t(1000));
    QVERIFY(qAbs(int(b.document().channelCurrents()[0]) - 200) <= 1);

    b.setCurrent(1, 350);
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
    QCOMPARE(b.writeOp()->reply_cnt, uint8_t(verify ? readBack(true).size() : 9));
    QVERIFY(waitBeeps(b, 2));
}

void TstEngineWrite::pwmTag_writeSaveOpenWriteAnother_sameBlock()
{
    QFETCH(int, reader);
    Bench b;
    const auto first = demodrivers::makeTag(demodrivers::Kind::Pwm, 23);
    first->setBlock(248, QByteArray::fromHex("E8031D81"));
    const auto second = demodrivers::makeTag(demodrivers::Kind::Pwm, 24);
    second->setBlock(248, QByteArray::fromHex("D0070000"));
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, first));
    b.setCurrent(1, 350);
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QVERIFY(waitBeeps(b, 2));
    QCOMPARE(b.document().channelCurrents()[0], uint16_t(350));
    // Saved, then opened again as a file once another driver has been read.
    const QByteArray saved = b.engine().configurationToSave();
    b.field.removeTag(first->uidMsbFirst());
    QVERIFY(readTag(b, second));
    QCOMPARE(b.document().pwmPeriod(), uint16_t(2000));

    QVERIFY(b.engine().openConfiguration(saved, QStringLiteral("pwm.bin")).ok());
    QCOMPARE(b.document().pwmPeriod(), uint16_t(1000));
    QCOMPARE(b.document().channelCurrents()[0], uint16_t(350));
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(b.document().channelCurrents()[0], uint16_t(350));
    QCOMPARE(first->block(248), QByteArray::fromHex("E803F481"));
    QCOMPARE(second->block(248), first->block(248));
}

void TstEngineWrite::writeModelDiffers_refusedWithNotice_data()
{
    QTest::addColumn<int>("chinese");
    QTest::addColumn<QString>("text");
    QTest::newRow("en") << 0 << QStringLiteral("The models are inconsistent. Write failed");
    QTest::newRow("cn") << 1 << QStringLiteral("机型不一致，写入失败");
}

void TstEngineWrite::writeModelDiffers_refusedWithNotice()
{
    QFETCH(int, chinese);
    QFETCH(QString, text);
    Bench b;
    b.verify(false); // the described command sequence, nothing read back
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 13);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, tag));
    // A configuration of another model was loaded since the read (its last name byte).
    TestAccess::editImage(b.engine(), [](TagImage& image) { image.image_v2[226] = 'X'; });
    b.engine().setChinese(chinese != 0);
    const QByteArray before = tag->memory();
    QVector<int> noticeMs;
    QObject::connect(&b.engine(), &TagEngine::notice,
                     [&noticeMs](const QString&, int ms) { noticeMs << ms; });
    b.notices.clear();
    b.outcomes.clear();

    b.write();
    // A notice for three seconds, and the write ends as refused for the other model (the
    // window shows that as a failure where the results are read).
    QCOMPARE(b.notices, QStringList{text});
    QCOMPARE(noticeMs, QVector<int>{3000});
    QCOMPARE(b.outcomes.size(), 1);
    QCOMPARE(b.outcomes.first().operation, record::Operation::Write);
    QCOMPARE(b.outcomes.first().result, record::Result::OtherModel);
    QTest::qWait(100);
    QVERIFY(b.field.commandLog().isEmpty());
    QVERIFY(!b.writeOp());
    QCOMPARE(tag->memory(), before);

    // The same model again: the write goes out, and no tip until its result.
    TestAccess::editImage(
        b.engine(), [&before](TagImage& image) { image.image_v2[226] = uint8_t(before.at(226)); });
    b.write();
    QCOMPARE(int(b.lastTip()), 0);
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
    QVERIFY(b.connect(reader));
    const auto driver = demodrivers::makeTag(
        legacyDriver ? demodrivers::Kind::Legacy3Ch : demodrivers::Kind::Dt8, 32);
    const int counters = legacyDriver ? 448 : 332;
    driver->setBlock(counters / 4, QByteArray::fromHex("00004444"));
    QVERIFY(readTag(b, driver));
    Records records(b);
    QByteArray file = driver->memory();
    file[183] = char(legacyDriver ? 2 : 3);
    QVERIFY(b.engine().openConfiguration(file, QStringLiteral("other.bin")).ok());
    QCOMPARE(int(TestAccess::image(b.engine()).image_v2[183]), legacyDriver ? 2 : 3);
    b.engine().setChinese(chinese != 0);
    const QByteArray before = driver->memory();
    b.notices.clear();

    b.write();
    QCOMPARE(b.notices, QStringList{text});
    QTest::qWait(100);
    QVERIFY(b.field.commandLog().isEmpty());
    QVERIFY(!b.writeOp());
    QCOMPARE(driver->memory(), before);
    QCOMPARE(records.results, QStringList{QStringLiteral("Other layout refused")});

    // A file of the driver's own layout goes out, around the driver's counters.
    file[183] = char(legacyDriver ? 3 : 2);
    QVERIFY(b.engine().openConfiguration(file, QStringLiteral("other.bin")).ok());
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(describeCommands(b.field, false).filter(QStringLiteral("write")),
             driveAreaWrites(legacyDriver));
    QCOMPARE(driver->memory().mid(counters, 4), QByteArray::fromHex("00004444"));
    QCOMPARE(records.results.last(), QStringLiteral("Written"));
}

void TstEngineWrite::autoWrite_fileOpenedBetweenDrivers_isNextTemplate()
{
    // Between the drivers of a batch a file opened is the next driver's template, and
    // the record names it for that driver only.
    Bench b;
    QVERIFY(b.connect(R321));
    const auto source = demodrivers::makeTag(demodrivers::Kind::Dt8, 35);
    QVERIFY(readTag(b, source));
    b.field.removeTag(source->uidMsbFirst());
    QByteArray file = source->memory();
    // A byte of the drive area no panel touches, carried to the driver as it is.
    file[400] = char(source->memory().at(400) ^ 0x5A);
    Records records(b);
    b.toggleAutoWrite();
    const auto first = demodrivers::makeTag(demodrivers::Kind::Dt8, 36);
    b.field.layTag(first);
    QTRY_COMPARE_WITH_TIMEOUT(records.results.size(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!b.engine().sequenceRunning() && b.engine().idle(), 5000);
    QVERIFY(b.engine().openConfiguration(file, QStringLiteral("batch.bin")).ok());
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
    // The link label is told to ask for a reader.
    QCOMPARE(b.linkTips, QVector<TagEngine::LinkTip>{TagEngine::LinkTip::SelectDevice});
    QTest::qWait(50);
    QVERIFY(b.field.commandLog().isEmpty());
    QCOMPARE(b.engine().operation(), nullptr);
}

void TstEngineWrite::writeOtherChip_sendsBufferAsItIs_endsFailed()
{
    Bench b(true);
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 15);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, tag));
    // The tag answers the next inventory with a chip code that is neither 'P' nor '8':
    // the Read fails, and the Write after it has no preparation and no count of its own.
    disguiseChip(b, 0x45);
    b.read();
    QTRY_COMPARE(int(b.lastTip()), int(ResultTip::ReadFailed));
    QVERIFY(waitBeeps(b, 4));
    QCOMPARE(b.engine().chipCode(), uint8_t(0x45));
    b.field.clearCommandLog();
    TestAccess::editImage(b.engine(), [](TagImage& image) { image.bank_buffer.fill(0x5A); });
    b.setCurrent(1, 400);

    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteFailed);
    QCOMPARE(b.writeOp()->send_cnt, uint8_t(16));
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
    QCOMPARE(b.writeOp()->reply_cnt, uint8_t(3));
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
    b.setCurrent(1, 600);

    // Sequence 0xFC runs as it is with preparation 0: its first step sends nothing.
    b.engine().Control_RW(0xFC, 0);
    b.engine().Select_Auto_Write(0);
    QCOMPARE(b.writeOp()->cmd_type, uint8_t(0xFC));
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(describeCommands(b.field), bankWrites(0) + bankWrites(32) + driveAreaWrites());
    QCOMPARE(tag->memory(), bytes(image.bank_buffer, 0, 512));
    QCOMPARE(tag->memory().at(200), 'Q');
    QCOMPARE(tag->memory().mid(264, 2), u16(600));
    QCOMPARE(b.writeOp()->reply_cnt, uint8_t(16));
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

    b.setCurrent(1, 480);
    b.engine().Control_RW(0xFD, 0);
    b.engine().Select_Auto_Write(3);
    QCOMPARE(b.writeOp()->cmd_type, uint8_t(0xFA));
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(describeCommands(b.field), (QStringList{QStringLiteral("present 1 7130458269154038"),
                                                     QStringLiteral("write 66+1")}));
    QCOMPARE(tag->memory().mid(264, 2), u16(480));
    QCOMPARE(tag->memory().mid(268, 4),
             demodrivers::memory(demodrivers::Kind::Dt8).mid(268, 4)); // one block only
    QCOMPARE(b.writeOp()->reply_cnt, uint8_t(1));
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

    b.setCurrent(1, 480);
    b.engine().Control_RW(0xFD, 0);
    b.engine().Select_Auto_Write(3);
    QTRY_COMPARE(int(b.lastTip()), kTipNoTag);
    QCOMPARE(describeCommands(b.field), (QStringList{QStringLiteral("present 1 7130458269154038"),
                                                     QStringLiteral("write 66+1")}));
    QCOMPARE(tag->memory(), before);
    QVERIFY(waitBeeps(b, 4));
}

void TstEngineWrite::writeBlockNum_refusesShortData()
{
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 20);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, tag));
    b.stopTimer(); // the sequence's own steps do not run
    b.engine().Control_RW(0xFD, 0);
    WriteOperation& op = *b.writeOp();
    const QByteArray id = tag->uidLsbFirst();
    const QByteArray block = QByteArray::fromHex("01020304");
    // Data for fewer blocks than named, a UID that is no UID, no blocks at all.
    op.Write_BlOCK_NUM(id, 127, block, 2);
    op.Write_BlOCK_NUM(id.left(7), 64, block, 1);
    op.Write_BlOCK_NUM(id, 64, QByteArray(), 0);
    QTest::qWait(50);
    QVERIFY(b.field.commandLog().isEmpty());
    // One block of four bytes is fine.
    op.Write_BlOCK_NUM(id, 127, block, 1);
    QTRY_COMPARE(describeCommands(b.field), QStringList{QStringLiteral("write 127+1")});
    QTRY_COMPARE(tag->block(127), block);
}

void TstEngineWrite::writeDuringFailedReadBeep_completesInTickOrder_r321Stays()
{
    Bench b;
    b.verify(false); // the described command sequence, nothing read back
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 21);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, tag));
    b.setCurrent(1, 450);
    int linkCleared = 0;
    QObject::connect(&b.engine(), &TagEngine::linkCleared, [&linkCleared] { ++linkCleared; });
    const QVector<TagEngine::LinkTip> linkTips = b.linkTips;

    // A read that fails on its third block read: a double beep starts.
    b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 2, 0x22);
    b.read();
    QTRY_COMPARE(int(b.lastTip()), kTipNoTag);
    b.stopTimer();
    QCOMPARE(b.beepPattern(), uint8_t(2));
    // The model is that of the successful read before.
    b.field.clearCommandLog();
    QTest::qWait(5);
    b.field.clearCommandLog();

    b.write();
    const QStringList sent = runTicksNotingSends(
        b, 3000, [&] { return b.lastTip() == kTipWriteOk && b.engine().idle(); });
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

    // The reader stays connected; nobody was told otherwise: the link label still says
    // connected to the R321.
    QVERIFY(b.engine().Detection_Usb_Statue(0));
    QVERIFY(b.boxes.isEmpty());
    QCOMPARE(b.linkTips, linkTips);
    QVERIFY(!b.linkTips.isEmpty());
    QCOMPARE(b.linkTips.last(), TagEngine::LinkTip::R321Connected);
    QCOMPARE(linkCleared, 0);
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

    b.engine().Control_RW(0xFD, 0);
    b.engine().Select_Auto_Write(1);
    b.engine().Start_Beep(1); // the beeper switches on in the next tick
    b.tick();
    QTRY_COMPARE(b.field.commandLog().size(), 2);
    QCOMPARE(readerTokens(b.field), (QStringList{QStringLiteral("S"), QStringLiteral("B")}));
    QCOMPARE(describeCommands(b.field), QStringList{QStringLiteral("write 64+10")});

    const QStringList sent = runTicksNotingSends(
        b, 3000, [&] { return b.lastTip() == kTipWriteOk && b.beepPattern() == 0; });
    QTest::qWait(50);
    QCOMPARE(readerTokens(b.field), QStringList({QStringLiteral("S"), QStringLiteral("B")}) + sent);
    QCOMPARE(describeCommands(b.field), driveAreaWrites());
    QCOMPARE(tag->memory().mid(256, 256),
             bytes(TestAccess::image(b.engine()).bank_buffer, 256, 256));
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
    const int beeps = beeperCommands(b.field);
    const int dropped = changeBlockToDrop(b, pwm);
    const QByteArray before = tag->block(dropped);
    tag->dropNextWriteOf(dropped);
    b.outcomes.clear();
    const QVector<record::Outcome>& outcomes = b.outcomes;
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipVerifyFailed);
    QCOMPARE(b.engine().verifyFailedBlock(), dropped);
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
    QCOMPARE(b.tips.last(), ResultTip::VerifyFailed); // nothing said otherwise since
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
        b.setCurrent(1, uint16_t(current));
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
