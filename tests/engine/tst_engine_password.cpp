// The configure-then-write sequence end to end through both simulated readers: the
// commands a factory-fresh and a configured tag receive, the passwords and RFA1SS they
// are left with, the FEIG repeat of the saved step, and refused replies.
#include "writebench.h"

#include <QElapsedTimer>

using namespace enginetest;

namespace
{

const QString kFixed = QStringLiteral("7130458269154038");
const QString kZero = QStringLiteral("0000000000000000");
const QByteArray kFixedBytes = QByteArray::fromHex("7130458269154038");

// The bank written, read back and compared like a Read reads it.
QStringList bankReadBack()
{
    return {QStringLiteral("read 64+12"), QStringLiteral("read 76+12"),
            QStringLiteral("read 88+8")};
}

QStringList factoryCommands()
{
    return QStringList{QStringLiteral("present 0 ") + kZero, QStringLiteral("config 04 05"),
                       QStringLiteral("writepwd 0 ") + kFixed, QStringLiteral("present 1 ") + kZero,
                       QStringLiteral("writepwd 1 ") + kFixed} +
           counterBankWrites() + bankReadBack();
}

QStringList configuredCommands()
{
    return QStringList{
               QStringLiteral("present 0 ") + kZero,  QStringLiteral("present 0 ") + kFixed,
               QStringLiteral("config 04 05"),        QStringLiteral("writepwd 0 ") + kFixed,
               QStringLiteral("present 1 ") + kFixed, QStringLiteral("writepwd 1 ") + kFixed} +
           counterBankWrites() + bankReadBack();
}

void configure(VirtualTag& tag)
{
    tag.setPassword(0, kFixedBytes);
    tag.setPassword(1, kFixedBytes);
    tag.setRfa1ss(0x05);
    tag.leaveField();
}

// Runs the configure-then-write sequence for bank 64 (no action starts it), and the
// read-back of the bank after it. Returns when nothing has gone out for 200 ms: the
// sequence has ended, or stalled on a refused reply.
WriteOperation& runConfigureThenWrite(Bench& b,
                                      const std::function<void(WriteOperation&)>& prepare = {})
{
    QTest::qWait(5);
    b.field.clearCommandLog();
    b.engine().Control_RW(SeqCode::WriteWithPasswords, 0);
    WriteOperation& op = *b.writeOp();
    op.send_cnt = 4; // one bank: four write replies
    op.set_current_block = 64;
    if (prepare)
        prepare(op);
    QElapsedTimer clock;
    clock.start();
    int quietMs = 0;
    int sent = -1;
    while (quietMs < 200 && clock.elapsed() < 8000) {
        QTest::qWait(5);
        const int now = b.field.commandLog().size();
        quietMs = now == sent && b.engine().beeper().idle() ? quietMs + 5 : 0;
        sent = now;
    }
    return op;
}

} // namespace

class TstEnginePassword : public QObject
{
    Q_OBJECT
  private slots:
    void factoryTag_configuredAndWritten_data() { addReaders(); }
    void factoryTag_configuredAndWritten();
    void configuredTag_fixedPasswordsUsed_data() { addReaders(); }
    void configuredTag_fixedPasswordsUsed();
    void configuredThenFactory_sameEngine_eachTakesItsPath_data() { addReaders(); }
    void configuredThenFactory_sameEngine_eachTakesItsPath();
    void feigRefusedPresent_repeatsSavedStep();
    void r321RefusedPresent_stopsEvenAfterAnEarlierWrite();
    void r321RefusedConfigWrite_countsAsDone();
    void feigRefusedPasswordWrite_stopsQuietly();
};

void TstEnginePassword::factoryTag_configuredAndWritten()
{
    QFETCH(int, reader);
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 31);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    TestAccess::editImage(b.engine(), [](TagImage& image) {
        image.bank_buffer[264] = 0x02;
        image.bank_buffer[265] = 0x2B;
    });

    const WriteOperation& op = runConfigureThenWrite(b);
    QCOMPARE(describeCommands(b.field), factoryCommands());
    QCOMPARE(tag->password(0), kFixedBytes);
    QCOMPARE(tag->password(1), kFixedBytes);
    QCOMPARE(tag->rfa1ss(), uint8_t(0x05));
    QCOMPARE(op.passwords.pwd_first_failed, uint8_t(0));
    // The bank went to its own blocks, under the password just set.
    QCOMPARE(tag->memory().mid(256, 128),
             bytes(TestAccess::image(b.engine()).bank_buffer, 256, 128));
    QCOMPARE(tag->memory().mid(264, 2), QByteArray::fromHex("022B"));
    QCOMPARE(tag->memory().left(256), demodrivers::memory(demodrivers::Kind::Dt8).left(256));
    QCOMPARE(int(b.lastTip()), kTipWriteOk);
    // The last sequence is the read-back: three reads, all answered.
    QCOMPARE(op.reply_cnt, uint8_t(bankReadBack().size()));
    QCOMPARE(beeperCommands(b.field), 2);

    // Protected now: without the session a plain write is refused by the tag.
    tag->leaveField();
    QCOMPARE(tag->writeBlocks(64, 1, QByteArray(4, '\0')), VirtualTag::ErrBlockLocked);
}

void TstEnginePassword::configuredTag_fixedPasswordsUsed()
{
    QFETCH(int, reader);
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 32);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    configure(*tag);
    tag->setRfa1ss(0x00); // so that the sequence is seen to set it again

    const WriteOperation& op = runConfigureThenWrite(b);
    QCOMPARE(describeCommands(b.field), configuredCommands());
    QCOMPARE(tag->password(0), kFixedBytes);
    QCOMPARE(tag->password(1), kFixedBytes);
    QCOMPARE(tag->rfa1ss(), uint8_t(0x05));
    QCOMPARE(op.passwords.pwd_first_failed, uint8_t(1));
    QCOMPARE(tag->memory().mid(256, 128),
             bytes(TestAccess::image(b.engine()).bank_buffer, 256, 128));
    QCOMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(beeperCommands(b.field), 2);
}

void TstEnginePassword::configuredThenFactory_sameEngine_eachTakesItsPath()
{
    QFETCH(int, reader);
    Bench b;
    const auto configured = demodrivers::makeTag(demodrivers::Kind::Dt8, 33);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, configured));
    configure(*configured);
    QCOMPARE(runConfigureThenWrite(b).passwords.pwd_first_failed, uint8_t(1));
    QCOMPARE(describeCommands(b.field), configuredCommands());

    // The next tag is factory-fresh; the earlier result must not decide its path.
    b.field.clear();
    const auto fresh = demodrivers::makeTag(demodrivers::Kind::Dt8, 34);
    QVERIFY(readTag(b, fresh));
    runConfigureThenWrite(b);
    QCOMPARE(describeCommands(b.field), factoryCommands());
    QCOMPARE(fresh->password(0), kFixedBytes);
    QCOMPARE(fresh->password(1), kFixedBytes);
    QCOMPARE(fresh->rfa1ss(), uint8_t(0x05));
    QCOMPARE(int(b.lastTip()), kTipWriteOk);
}

void TstEnginePassword::feigRefusedPresent_repeatsSavedStep()
{
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 35);
    QVERIFY(b.connect(Feig));
    QVERIFY(readTag(b, tag));
    // The fourth transparent command (present password 1) gets an RF error once.
    b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 3, 0xBF);
    const WriteOperation& op = runConfigureThenWrite(b);
    QStringList expected = factoryCommands();
    expected.insert(4, QStringLiteral("present 1 ") + kZero);
    QCOMPARE(describeCommands(b.field), expected);
    QCOMPARE(op.passwords.config_step_saved, uint8_t(5));
    QCOMPARE(tag->password(1), kFixedBytes);
    QCOMPARE(tag->rfa1ss(), uint8_t(0x05));
    QCOMPARE(int(b.lastTip()), kTipWriteOk);
}

void TstEnginePassword::r321RefusedPresent_stopsEvenAfterAnEarlierWrite()
{
    EngineLogCapture log;
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 36);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, tag));
    const uint8_t rfa1ss = tag->rfa1ss();
    b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 0, 0x2F);
    // A configuration write taken earlier has left its flag behind: a refused present is
    // no configuration write all the same.
    runConfigureThenWrite(b, [](WriteOperation& op) { op.passwords.config_write_pending = 1; });
    QCOMPARE(describeCommands(b.field), QStringList{QStringLiteral("present 0 ") + kZero});
    QCOMPARE(log.count(QStringLiteral("<操作失败4：标签无响应>")), 1);
    QCOMPARE(beeperCommands(b.field), 4);   // the double beep
    QCOMPARE(int(b.lastTip()), kTipReadOk); // no tip of its own
    QCOMPARE(tag->rfa1ss(), rfa1ss);
    QCOMPARE(tag->password(0), QByteArray(8, '\0'));
}

void TstEnginePassword::r321RefusedConfigWrite_countsAsDone()
{
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 37);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, tag));
    // The reader reports the configuration write as failed (the tag took it anyway).
    b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 1, 0x2F);
    const WriteOperation& op = runConfigureThenWrite(b);
    QCOMPARE(describeCommands(b.field), factoryCommands());
    QCOMPARE(op.passwords.config_write_pending, uint8_t(0));
    QCOMPARE(tag->rfa1ss(), uint8_t(0x05));
    QCOMPARE(int(b.lastTip()), kTipWriteOk);
}

void TstEnginePassword::feigRefusedPasswordWrite_stopsQuietly()
{
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 38);
    QVERIFY(b.connect(Feig));
    QVERIFY(readTag(b, tag));
    // Write password 0 (third transparent command) gets a status other than 0 and 1.
    b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 2, 0xBF);
    runConfigureThenWrite(b);
    QCOMPARE(describeCommands(b.field), factoryCommands().mid(0, 3));
    QCOMPARE(beeperCommands(b.field), 0);
    QCOMPARE(int(b.lastTip()), kTipReadOk);
    QCOMPARE(b.engine().sequencer().handshake().ack, uint8_t(0));
}

QTEST_GUILESS_MAIN(TstEnginePassword)
#include "tst_engine_password.moc"
