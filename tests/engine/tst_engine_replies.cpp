// The one reply analysis of the engine: replies of both readers reach it through the
// link as a reader would deliver them, while the engine's own commands wait for them; the
// reader itself stays silent. Checked: what the engine reports (tips, beeps) and what its
// operations took from the reply.
#include "enginebench.h"

#include "readers/crc16.h"
#include "readers/feiglink.h"
#include "readers/myfeigusb.h"
#include "readers/r321link.h"

using namespace enginetest;

namespace
{

constexpr int kTipReadFailed = 4;
constexpr int kTipWriteOk = 5;
constexpr int kTipWriteFailed = 6;
constexpr int kTipUidOk = 7;
constexpr int kTipNoIso = 8;
constexpr int kTipNoTag = 9;

const QByteArray kUidMsb = QByteArray::fromHex("E002500011223344");

QByteArray r321Rx(uint8_t command, uint8_t status, const QByteArray& payload = {})
{
    QByteArray r = SimR321::buildReply(command, status, payload);
    r.append(QByteArray(64 - r.size(), '\0'));
    return r;
}

QByteArray feigRx(uint8_t command, uint8_t status, const QByteArray& data = {}, uint8_t address = 0)
{
    QByteArray body(1, char(status));
    body.append(data);
    return feigframe::build(address, command, body);
}

QByteArray lsbFirst(QByteArray uid)
{
    std::reverse(uid.begin(), uid.end());
    return uid;
}

// The engine connected to a reader that answers nothing: the test speaks for it, through
// the link, and steps the tick itself.
struct Silent : Bench {
    QVector<bool> tipChinese; // the language of each result tip, in order
    const int reader;
    explicit Silent(int r) : reader(r)
    {
        field.armReplyFault(SimReplyFault::NoReply, -1);
        connect(r);
        stopTimer();
        QObject::connect(&engine(), &TagEngine::resultTip,
                         [this](ResultTip, bool chinese) { tipChinese << chinese; });
    }
    Handshake& hs() { return engine().sequencer().handshake(); }
    // A reply of the reader, received now.
    void answer(const QByteArray& rx)
    {
        if (reader == R321)
            qobject_cast<R321Link*>(engine().link())->in_hidDevReceive_usbDebug(rx);
        else
            qobject_cast<FeigLink*>(engine().link())->in_FeigDevReceive_Debug(rx);
    }
    // Ticks until the running sequence has a command out.
    void sendNext()
    {
        for (int i = 0; i < 4 && !engine().sequencer().matcher().inFlight(); ++i)
            tick();
        QVERIFY(engine().sequencer().matcher().inFlight());
    }
    // The inventory of the Read action, answered with the tag `uidMsb`.
    void inventoryAnswered(const QByteArray& uidMsb)
    {
        engine().Control_RW(0xFE, 7);
        sendNext();
        answer(reader == R321 ? r321Rx(0x11, 0x00, lsbFirst(uidMsb) + QByteArray(1, '\0'))
                              : feigRx(0xB0, 0x00, QByteArray::fromHex("010300") + uidMsb));
    }
    // One pass of the auto-write loop.
    void pass() { engine().autoWrite().AutoWriteProcess(); }
};

} // namespace

class TstEngineReplies : public QObject
{
    Q_OBJECT
  private slots:
    void emptyReply_ignored_data();
    void emptyReply_ignored();
    void unusableReply_changesNothing_data();
    void unusableReply_changesNothing();
    void r321Foreign_failsWithTip_quietInAutoScan();
    void feigForeign_failsWithoutTip();
    void feigTransparent_data();
    void feigTransparent();
    void r321Transparent_data();
    void r321Transparent();
    void feigInventory_setsChipAndCounts_data();
    void feigInventory_setsChipAndCounts();
    void feigInventory_truncatedUid_waits();
    void r321Crc_checkedOnceRepliesKeepMatching();
    void inventoryFailure_clearsUid_quietInAutoScan_data();
    void inventoryFailure_clearsUid_quietInAutoScan();
    void feigNoTag_autoScanRequestsScan();
    void feigWriteReply_onlyExactFrame_data();
    void feigWriteReply_onlyExactFrame();
    void writeAcks_countedAndJudged_data();
    void writeAcks_countedAndJudged();
    void feigReadFailure_readFailedTip();
    void replyWithNothingInFlight_dropped_data();
    void replyWithNothingInFlight_dropped();
};

void TstEngineReplies::emptyReply_ignored_data()
{
    QTest::addColumn<int>("reader");
    QTest::newRow("R321") << int(R321);
    QTest::newRow("FEIG") << int(Feig);
}

void TstEngineReplies::emptyReply_ignored()
{
    QFETCH(int, reader);
    Silent b(reader);
    b.answer(QByteArray());
    QCOMPARE(b.beepPattern(), uint8_t(0));
    QCOMPARE(int(b.lastTip()), 0);
    QVERIFY(b.tips.isEmpty());
}

void TstEngineReplies::unusableReply_changesNothing_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<QByteArray>("rx");
    QByteArray lowL = r321Rx(0x22, 0x00, QByteArray(48, 'x'));
    lowL[3] = char(9);
    QTest::newRow("R321 L below 11") << int(R321) << lowL;
    QByteArray highL = r321Rx(0x22, 0x00, QByteArray(48, 'x'));
    highL[3] = char(61);
    QTest::newRow("R321 L beyond the report") << int(R321) << highL;
    QTest::newRow("R321 eleven bytes")
        << int(R321) << QByteArray::fromHex("0C7E5509000001001F2200");
    QTest::newRow("FEIG seven bytes") << int(Feig) << feigRx(0xB0, 0x00).left(7);
    QByteArray pastEnd = feigRx(0xB0, 0x00, QByteArray::fromHex("0304") + QByteArray(10, 'y'));
    QTest::newRow("FEIG records past the end") << int(Feig) << pastEnd;
}

void TstEngineReplies::unusableReply_changesNothing()
{
    QFETCH(int, reader);
    QFETCH(QByteArray, rx);
    Silent b(reader);
    b.engine().Control_RW(0xF7, 1); // the last command goes out at once
    b.sendNext();
    b.answer(rx);
    QCOMPARE(b.hs().ack, uint8_t(0));
    QCOMPARE(b.readOp()->reply_cnt, uint8_t(0));
    QVERIFY(b.readOp()->read_data.isEmpty());
    QCOMPARE(b.beepPattern(), uint8_t(0));
    QCOMPARE(int(b.lastTip()), 0);
    // The command is still waiting for its reply.
    QVERIFY(b.engine().sequencer().matcher().inFlight());
}

void TstEngineReplies::r321Foreign_failsWithTip_quietInAutoScan()
{
    Silent b(R321);
    QByteArray rx = r321Rx(0x22, 0x00, QByteArray(8, 'z'));
    rx[8] = char(0x10);
    b.toggleAutoWrite();
    QVERIFY(b.engine().autoScanning());
    b.answer(rx);
    QCOMPARE(b.beepPattern(), uint8_t(0));
    QCOMPARE(int(b.lastTip()), 0);

    b.toggleAutoWrite();
    b.engine().Control_RW(0xFE, 7);
    b.sendNext();
    b.answer(rx);
    QCOMPARE(b.beepPattern(), uint8_t(2));
    QCOMPARE(int(b.lastTip()), kTipNoIso);
    // One tip, in English: the status bar shows "It's not ISO15693".
    QCOMPARE(b.tips, QVector<ResultTip>{ResultTip::NoIso15693});
    QCOMPARE(b.tipChinese, QVector<bool>{false});
    QCOMPARE(b.readOp()->reply_cnt, uint8_t(0));
}

void TstEngineReplies::feigForeign_failsWithoutTip()
{
    Silent b(Feig);
    b.engine().Control_RW(0xFE, 7);
    b.sendNext();
    QByteArray rx = feigRx(0xB0, 0x00, QByteArray::fromHex("0104") + QByteArray(5, 'a'));
    rx[0] = char(0x03);
    b.answer(rx);
    QCOMPARE(b.beepPattern(), uint8_t(2));
    QCOMPARE(int(b.lastTip()), 0);
    QCOMPARE(b.readOp()->reply_cnt, uint8_t(0));
}

void TstEngineReplies::feigTransparent_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("pwdPending");
    QTest::addColumn<int>("ack");
    QTest::addColumn<int>("firstCheck"); // first_transparent_check afterwards
    QTest::addColumn<int>("pwdFirstFailed");
    QTest::addColumn<int>("blockStep");

    // Start state: first check armed, block_step 3, config_step_saved 6, pwd_first_failed 9.
    QTest::newRow("status 0: accepted, no check")
        << 0x00 << QByteArray::fromHex("0078F0") << false << 1 << 1 << 9 << 3;
    QTest::newRow("0x95, password accepted")
        << 0x95 << QByteArray::fromHex("0078F0") << false << 1 << 0 << 0 << 3;
    QTest::newRow("0x95, tag error")
        << 0x95 << QByteArray::fromHex("0F") << false << 1 << 0 << 1 << 2;
    QTest::newRow("password written (status 1)")
        << 0x01 << QByteArray() << true << 1 << 1 << 9 << 3;
    QTest::newRow("password write failed") << 0x83 << QByteArray() << true << 0 << 1 << 9 << 3;
    QTest::newRow("other status: repeat saved step")
        << 0x83 << QByteArray() << false << 1 << 1 << 9 << 6;
}

void TstEngineReplies::feigTransparent()
{
    QFETCH(int, status);
    QFETCH(QByteArray, response);
    QFETCH(bool, pwdPending);
    QFETCH(int, ack);
    QFETCH(int, firstCheck);
    QFETCH(int, pwdFirstFailed);
    QFETCH(int, blockStep);
    Silent b(Feig);
    b.engine().Control_RW(0xFA, 0); // Set_Current: its password is presented first
    b.sendNext();
    PasswordOperation& p = b.writeOp()->passwords;
    p.block_step = 3;
    p.config_step_saved = 6;
    p.pwd_first_failed = 9;
    p.pwd_write_pending = pwdPending ? 1 : 0;

    b.answer(feigRx(0xBF, uint8_t(status), response));
    QCOMPARE(int(b.hs().ack), ack);
    QCOMPARE(int(p.first_transparent_check), firstCheck);
    QCOMPARE(int(p.pwd_first_failed), pwdFirstFailed);
    QCOMPARE(int(p.block_step), blockStep);
    QCOMPARE(p.pwd_write_pending, uint8_t(0));
    QCOMPARE(b.beepPattern(), uint8_t(0));
}

void TstEngineReplies::r321Transparent_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("pending");
    QTest::addColumn<int>("ack");
    QTest::addColumn<int>("pwdFirstFailed");
    QTest::addColumn<int>("beep");

    QTest::newRow("password accepted")
        << 0 << QByteArray::fromHex("0078F0") << false << 1 << 0 << 0;
    QTest::newRow("password refused by the tag")
        << 0 << QByteArray::fromHex("010F1234") << false << 1 << 1 << 0;
    QTest::newRow("response of one byte") << 0 << QByteArray::fromHex("00") << false << 1 << 1 << 0;
    QTest::newRow("bad status, write pending") << 4 << QByteArray() << true << 1 << 9 << 0;
    QTest::newRow("bad status, nothing pending") << 4 << QByteArray() << false << 0 << 9 << 2;
}

void TstEngineReplies::r321Transparent()
{
    QFETCH(int, status);
    QFETCH(QByteArray, payload);
    QFETCH(bool, pending);
    QFETCH(int, ack);
    QFETCH(int, pwdFirstFailed);
    QFETCH(int, beep);
    Silent b(R321);
    b.engine().Control_RW(0xFA, 0);
    b.sendNext();
    PasswordOperation& p = b.writeOp()->passwords;
    p.pwd_first_failed = 9;
    p.config_write_pending = pending ? 1 : 0;

    b.answer(r321Rx(0x2F, uint8_t(status), payload));
    QCOMPARE(int(b.hs().ack), ack);
    QCOMPARE(int(p.pwd_first_failed), pwdFirstFailed);
    QCOMPARE(int(b.beepPattern()), beep);
    QCOMPARE(p.config_write_pending, uint8_t(0));
    QCOMPARE(int(b.lastTip()), 0); // never a tip for a transparent reply
    if (pwdFirstFailed == 1)
        QCOMPARE(p.block_step, uint8_t(2));
}

void TstEngineReplies::feigInventory_setsChipAndCounts_data()
{
    QTest::addColumn<uint8_t>("chip");
    QTest::addColumn<int>("readcnt");
    QTest::addColumn<int>("writeIndex");
    QTest::newRow("P") << uint8_t(0x50) << 12 << 1;
    QTest::newRow("8") << uint8_t(0x38) << 7 << 2;
    QTest::newRow("other") << uint8_t(0x45) << 7 << 1;
}

void TstEngineReplies::feigInventory_setsChipAndCounts()
{
    QFETCH(uint8_t, chip);
    QFETCH(int, readcnt);
    QFETCH(int, writeIndex);
    Silent b(Feig);
    QByteArray uid = kUidMsb;
    uid[2] = char(chip);
    b.inventoryAnswered(uid);
    QCOMPARE(b.engine().chipCode(), chip);
    QCOMPARE(int(b.readOp()->readcnt), readcnt);
    QCOMPARE(int(b.engine().autoWrite().auto_write_index), writeIndex);
    QCOMPARE(b.hs().ack, uint8_t(1));
    QCOMPARE(b.engine().uidMsbFirst(), uid);
    QCOMPARE(int(b.lastTip()), kTipUidOk);
    QCOMPARE(b.readOp()->reply_cnt, uint8_t(0)); // an inventory is not a read reply
}

void TstEngineReplies::r321Crc_checkedOnceRepliesKeepMatching()
{
    // An R321 whose reply CRC sits elsewhere than assumed must stay usable even after a
    // chance match, while one whose replies keep matching has a damaged reply refused.
    Silent b(R321);
    const QByteArray good = r321Rx(0x11, 0x00, lsbFirst(kUidMsb) + QByteArray(1, '\0'));
    QByteArray otherCrc = good;
    const int crcAt = uchar(otherCrc[3]) + 2;
    otherCrc[crcAt] = char(~otherCrc[crcAt]);
    const auto inventoryAnswer = [&b](const QByteArray& rx) {
        b.engine().Control_RW(0xFE, 7);
        b.sendNext();
        b.answer(rx);
        return b.hs().ack;
    };
    // Taken unchecked: before any match, and after a single chance match.
    for (const QByteArray& rx : {otherCrc, good, otherCrc})
        QCOMPARE(inventoryAnswer(rx), uint8_t(1));
    for (int i = 0; i < replies::R321CrcCheck::kConfirmAfter; ++i)
        inventoryAnswer(good);
    QVERIFY(qobject_cast<R321Link*>(b.engine().link())->crcEnforced());
    QCOMPARE(inventoryAnswer(otherCrc), uint8_t(0));
}

void TstEngineReplies::feigInventory_truncatedUid_waits()
{
    Silent b(Feig);
    b.engine().Control_RW(0xFE, 7);
    b.sendNext();
    b.answer(feigRx(0xB0, 0x00, QByteArray::fromHex("010300") + kUidMsb.left(5)));
    QCOMPARE(b.hs().ack, uint8_t(0));
    QCOMPARE(b.engine().chipCode(), uint8_t(0x50));
    QCOMPARE(b.engine().uidMsbFirst(), QByteArray(8, '\0'));
    QCOMPARE(int(b.lastTip()), 0);
}

void TstEngineReplies::inventoryFailure_clearsUid_quietInAutoScan_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("autoScan");
    QTest::addColumn<int>("tip");
    QTest::addColumn<int>("beep");
    QTest::newRow("R321") << int(R321) << false << kTipNoTag << 2;
    QTest::newRow("R321 auto scan") << int(R321) << true << 0 << 0;
    // A FEIG inventory reply carrying the inventory marker but a bad status: nothing more.
    QTest::newRow("FEIG") << int(Feig) << false << 0 << 0;
    QTest::newRow("FEIG auto scan") << int(Feig) << true << 0 << 0;
}

void TstEngineReplies::inventoryFailure_clearsUid_quietInAutoScan()
{
    QFETCH(int, reader);
    QFETCH(bool, autoScan);
    QFETCH(int, tip);
    QFETCH(int, beep);
    Silent b(reader);
    const QByteArray failure =
        reader == R321 ? r321Rx(0x11, 0x01) : feigRx(0xB0, 0x84, QByteArray::fromHex("0103"));
    b.inventoryAnswered(kUidMsb);
    QCOMPARE(b.engine().uidMsbFirst(), kUidMsb);
    b.clearLastTip();
    if (autoScan) {
        b.toggleAutoWrite();
        b.pass(); // no tag known: the loop's inventory goes out
        b.clearLastTip();
    } else {
        b.engine().Control_RW(0xFE, 7);
        b.sendNext();
    }
    b.answer(failure);
    QCOMPARE(b.engine().uidMsbFirst(), QByteArray(8, '\0'));
    QCOMPARE(b.engine().autoWrite().tag_index, uint8_t(0));
    QCOMPARE(int(b.lastTip()), tip);
    QCOMPARE(int(b.beepPattern()), beep);
}

void TstEngineReplies::feigNoTag_autoScanRequestsScan()
{
    Silent b(Feig);
    b.toggleAutoWrite();
    b.pass(); // the loop's inventory
    b.answer(feigRx(0xB0, 0x00, QByteArray::fromHex("0103") + QByteArray(1, '\0') + kUidMsb));
    QCOMPARE(b.engine().uidMsbFirst(), kUidMsb);
    AutoWrite& loop = b.engine().autoWrite();
    loop.scan_request = 0;
    loop.tag_index = 1;
    QVERIFY(b.engine().sequencer().sendScan());
    b.answer(feigRx(0xB0, 0x01)); // no tag answered the loop's inventory: quietly none
    QCOMPARE(b.engine().uidMsbFirst(), QByteArray(8, '\0'));
    QCOMPARE(loop.tag_index, uint8_t(0));
    QCOMPARE(loop.scan_request, uint8_t(1));
    QCOMPARE(b.beepPattern(), uint8_t(0));

    b.toggleAutoWrite();
    b.engine().Control_RW(0xFE, 7);
    b.sendNext();
    b.answer(feigRx(0xB0, 0x01));
    QCOMPARE(int(b.lastTip()), kTipNoTag);
    QCOMPARE(b.beepPattern(), uint8_t(2));
}

void TstEngineReplies::feigWriteReply_onlyExactFrame_data()
{
    QTest::addColumn<QByteArray>("rx");
    QTest::addColumn<int>("replyCnt");
    QTest::addColumn<int>("tip");
    QTest::newRow("exact success frame") << QByteArray::fromHex("02000800B00090DF") << 1 << 0;
    QTest::newRow("reader at address 1") << feigRx(0xB0, 0x00, {}, 0x01) << 0 << kTipNoTag;
    // A reply with a wrong CRC is not taken at all, so the marker 0xDF sits in a data
    // byte here: with status 3 no 8-byte frame from address 0 has it as its CRC byte.
    QTest::newRow("failing status with write marker")
        << feigRx(0xB0, 0x03, QByteArray::fromHex("00DF")) << 0 << kTipWriteFailed;
}

void TstEngineReplies::feigWriteReply_onlyExactFrame()
{
    QFETCH(QByteArray, rx);
    QFETCH(int, replyCnt);
    QFETCH(int, tip);
    Silent b(Feig);
    // Blocks 30 and 31 (more follow): a refusal of more than four blocks would be tried
    // again in pieces.
    b.engine().Control_RW(0xFB, 0);
    b.engine().Select_Auto_Write(2);
    b.writeOp()->write_bank_step = 2;
    b.writeOp()->write_part_step = 4;
    b.sendNext();
    b.answer(rx);
    QCOMPARE(int(b.writeOp()->reply_cnt), replyCnt);
    QCOMPARE(int(b.hs().ack), replyCnt);
    QCOMPARE(int(b.lastTip()), tip);
}

void TstEngineReplies::writeAcks_countedAndJudged_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<int>("index"); // Select_Auto_Write, -1 for none
    QTest::addColumn<int>("replies");
    QTest::addColumn<int>("tip");
    QTest::addColumn<int>("beep");
    QTest::newRow("R321 8 of 8") << int(R321) << 1 << 8 << kTipWriteOk << 1;
    QTest::newRow("FEIG 8 of 8") << int(Feig) << 1 << 8 << kTipWriteOk << 1;
    // An unknown tag kind: no preparation, so send_cnt is still 16.
    QTest::newRow("R321 8 of 16") << int(R321) << -1 << 8 << kTipWriteFailed << 2;
    QTest::newRow("FEIG 9 of 9") << int(Feig) << 4 << 9 << kTipWriteOk << 1;
    QTest::newRow("FEIG 8 of 16") << int(Feig) << -1 << 8 << kTipWriteFailed << 2;
}

void TstEngineReplies::writeAcks_countedAndJudged()
{
    QFETCH(int, reader);
    QFETCH(int, index);
    QFETCH(int, replies);
    QFETCH(int, tip);
    QFETCH(int, beep);
    Silent b(reader);
    b.verify(false);
    b.engine().Control_RW(0xFD, 0);
    if (index >= 0)
        b.engine().Select_Auto_Write(uint8_t(index));
    const QByteArray rx =
        reader == R321 ? r321Rx(0x23, 0x00) : QByteArray::fromHex("02000800B00090DF");
    for (int i = 0; i < replies; ++i) {
        b.sendNext();
        QCOMPARE(b.writeOp()->cmd_type == 0, i == replies - 1); // the last command is out
        b.answer(rx);
        QCOMPARE(b.hs().ack, uint8_t(1));
        if (i < replies - 1)
            QCOMPARE(int(b.lastTip()), 0);
    }
    QCOMPARE(int(b.writeOp()->reply_cnt), replies);
    QCOMPARE(int(b.lastTip()), tip);
    QCOMPARE(int(b.beepPattern()), beep);
}

void TstEngineReplies::feigReadFailure_readFailedTip()
{
    Silent b(Feig);
    b.inventoryAnswered(kUidMsb);
    b.sendNext(); // blocks 0-11
    b.answer(feigRx(0xB0, 0x83, QByteArray::fromHex("0004")));
    QCOMPARE(int(b.lastTip()), kTipReadFailed);
    QCOMPARE(b.beepPattern(), uint8_t(2));
    QCOMPARE(b.hs().ack, uint8_t(0));
    QCOMPARE(b.readOp()->reply_cnt, uint8_t(0));
}

void TstEngineReplies::replyWithNothingInFlight_dropped_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<QByteArray>("rx");
    QTest::newRow("R321 write") << int(R321) << r321Rx(0x23, 0x00);
    QTest::newRow("R321 inventory")
        << int(R321) << r321Rx(0x11, 0x00, lsbFirst(kUidMsb) + QByteArray(1, '\0'));
    QTest::newRow("FEIG write") << int(Feig) << QByteArray::fromHex("02000800B00090DF");
    QTest::newRow("FEIG no tag") << int(Feig) << feigRx(0xB0, 0x01);
}

void TstEngineReplies::replyWithNothingInFlight_dropped()
{
    // A reply no command waits for (its command's reply has been taken already, or was
    // given up) is nobody's: it changes nothing and tells nothing.
    QFETCH(int, reader);
    QFETCH(QByteArray, rx);
    Silent b(reader);
    b.verify(false);
    b.engine().Control_RW(0xFD, 0);
    b.engine().Select_Auto_Write(1);
    b.sendNext();
    b.answer(reader == R321 ? r321Rx(0x23, 0x00) : QByteArray::fromHex("02000800B00090DF"));
    b.answer(rx);
    QCOMPARE(b.writeOp()->reply_cnt, uint8_t(1));
    QCOMPARE(b.engine().uidMsbFirst(), QByteArray(8, '\0'));
    QCOMPARE(int(b.lastTip()), 0);
    QCOMPARE(b.beepPattern(), uint8_t(0));
}

QTEST_GUILESS_MAIN(TstEngineReplies)
#include "tst_engine_replies.moc"
