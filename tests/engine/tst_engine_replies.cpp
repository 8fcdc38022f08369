// Reply analysis in the engine: replies of both readers are handed to the reply slots
// directly (as the reader threads would), and the engine state, tips and beeps checked.
#include "enginebench.h"

#include "readers/crc16.h"
#include "readers/myfeigusb.h"

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

QByteArray r321(uint8_t command, uint8_t status, const QByteArray& payload = {})
{
    QByteArray r = SimR321::buildReply(command, status, payload);
    r.append(QByteArray(64 - r.size(), '\0'));
    return r;
}

QByteArray feig(uint8_t command, uint8_t status, const QByteArray& data = {}, uint8_t address = 0)
{
    QByteArray body(1, char(status));
    body.append(data);
    return feigframe::build(address, command, body);
}

// A bench whose engine runs no tick: the tests step the engine themselves.
struct Quiet : Bench {
    QVector<bool> tipChinese; // the language of each result tip, in order
    explicit Quiet(int reader)
    {
        stopTimer();
        TestAccess::setReaderType(engine(), ReaderType(uint8_t(reader)));
        QObject::connect(&engine(), &TagEngine::resultTip,
                         [this](ResultTip, bool chinese) { tipChinese << chinese; });
    }
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
    void feInverted_reversesUid();
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
    Quiet b(reader);
    TestAccess::setLastRx(b.engine(), "before");
    if (reader == R321)
        TestAccess::r321Rx(b.engine(), QByteArray());
    else
        TestAccess::feigRx(b.engine(), QByteArray());
    QCOMPARE(TestAccess::lastRx(b.engine()), QByteArray("before"));
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(0));
    QCOMPARE(int(b.lastTip()), 0);
}

void TstEngineReplies::unusableReply_changesNothing_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<QByteArray>("rx");
    QByteArray lowL = r321(0x22, 0x00, QByteArray(48, 'x'));
    lowL[3] = char(9);
    QTest::newRow("R321 L below 11") << int(R321) << lowL;
    QByteArray highL = r321(0x22, 0x00, QByteArray(48, 'x'));
    highL[3] = char(61);
    QTest::newRow("R321 L beyond the report") << int(R321) << highL;
    QTest::newRow("R321 eleven bytes")
        << int(R321) << QByteArray::fromHex("0C7E5509000001001F2200");
    QTest::newRow("FEIG seven bytes") << int(Feig) << feig(0xB0, 0x00).left(7);
    QByteArray pastEnd = feig(0xB0, 0x00, QByteArray::fromHex("0304") + QByteArray(10, 'y'));
    QTest::newRow("FEIG records past the end") << int(Feig) << pastEnd;
}

void TstEngineReplies::unusableReply_changesNothing()
{
    QFETCH(int, reader);
    QFETCH(QByteArray, rx);
    Quiet b(reader);
    TestAccess::controlRw(b.engine(), 0xFE, 7);
    TestAccess::editCmd(b.engine(), [&](CommandState& c) {
        c.cmd_type = 0;
    }); // as if this were the reply to the last command
    if (reader == R321)
        TestAccess::r321Rx(b.engine(), rx);
    else
        TestAccess::feigRx(b.engine(), rx);
    QCOMPARE(TestAccess::lastRx(b.engine()), rx);
    QCOMPARE(b.cmd().ack, uint8_t(0));
    QCOMPARE(b.cmd().reply_cnt, uint8_t(0));
    QVERIFY(b.cmd().read_data.isEmpty());
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(0));
    QCOMPARE(int(b.lastTip()), 0);
}

void TstEngineReplies::r321Foreign_failsWithTip_quietInAutoScan()
{
    Quiet b(R321);
    QByteArray rx = r321(0x22, 0x00, QByteArray(8, 'z'));
    rx[8] = char(0x10);
    TestAccess::setAutoScan(b.engine(), 1);
    TestAccess::r321Rx(b.engine(), rx);
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(0));
    QCOMPARE(int(b.lastTip()), 0);

    TestAccess::setAutoScan(b.engine(), 0);
    TestAccess::r321Rx(b.engine(), rx);
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(2));
    QCOMPARE(int(b.lastTip()), kTipNoIso);
    // One tip, in English: the status bar shows "It's not ISO15693".
    QCOMPARE(b.tips, QVector<ResultTip>{ResultTip::NoIso15693});
    QCOMPARE(b.tipChinese, QVector<bool>{false});
    QCOMPARE(b.cmd().reply_cnt, uint8_t(0));
}

void TstEngineReplies::feigForeign_failsWithoutTip()
{
    Quiet b(Feig);
    QByteArray rx = feig(0xB0, 0x00, QByteArray::fromHex("0104") + QByteArray(5, 'a'));
    rx[0] = char(0x03);
    TestAccess::feigRx(b.engine(), rx);
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(2));
    QCOMPARE(int(b.lastTip()), 0);
    QCOMPARE(b.cmd().reply_cnt, uint8_t(0));
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
    Quiet b(Feig);
    TestAccess::controlRw(b.engine(), 0xFA, 0);
    TestAccess::editCmd(b.engine(), [&](CommandState& c) { c.block_step = 3; });
    TestAccess::editCmd(b.engine(), [&](CommandState& c) { c.config_step_saved = 6; });
    TestAccess::setPwdFirstFailed(b.engine(), 9);
    TestAccess::setPwdWritePending(b.engine(), pwdPending ? 1 : 0);

    TestAccess::feigRx(b.engine(), feig(0xBF, uint8_t(status), response));
    QCOMPARE(int(b.cmd().ack), ack);
    QCOMPARE(int(b.cmd().first_transparent_check), firstCheck);
    QCOMPARE(int(TestAccess::pwdFirstFailed(b.engine())), pwdFirstFailed);
    QCOMPARE(int(b.cmd().block_step), blockStep);
    QCOMPARE(TestAccess::pwdWritePending(b.engine()), uint8_t(0));
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(0));
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
    Quiet b(R321);
    TestAccess::controlRw(b.engine(), 0xFA, 0);
    TestAccess::setPwdFirstFailed(b.engine(), 9);
    TestAccess::setConfigWritePending(b.engine(), pending ? 1 : 0);

    TestAccess::r321Rx(b.engine(), r321(0x2F, uint8_t(status), payload));
    QCOMPARE(int(b.cmd().ack), ack);
    QCOMPARE(int(TestAccess::pwdFirstFailed(b.engine())), pwdFirstFailed);
    QCOMPARE(int(TestAccess::beepPattern(b.engine())), beep);
    QCOMPARE(TestAccess::configWritePending(b.engine()), uint8_t(0));
    QCOMPARE(int(b.lastTip()), 0); // never a tip for a transparent reply
    if (pwdFirstFailed == 1)
        QCOMPARE(b.cmd().block_step, uint8_t(2));
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
    Quiet b(Feig);
    TestAccess::controlRw(b.engine(), 0xFE, 7);
    QByteArray uid = kUidMsb;
    uid[2] = char(chip);
    TestAccess::feigRx(b.engine(), feig(0xB0, 0x00, QByteArray::fromHex("010300") + uid));
    QCOMPARE(TestAccess::chipCode(b.engine()), chip);
    QCOMPARE(int(b.cmd().readcnt), readcnt);
    QCOMPARE(int(TestAccess::autoWriteIndex(b.engine())), writeIndex);
    QCOMPARE(b.cmd().ack, uint8_t(1));
    QCOMPARE(TestAccess::tagCount(b.engine()), uint8_t(1));
    const auto& stored = TestAccess::uid(b.engine());
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(stored.data()), 8), uid);
    const auto& reversed = TestAccess::uidReversed(b.engine());
    QByteArray expected = uid;
    std::reverse(expected.begin(), expected.end());
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(reversed.data()), 8), expected);
    QCOMPARE(int(b.lastTip()), kTipUidOk);
    QCOMPARE(b.cmd().reply_cnt, uint8_t(0)); // an inventory is not a read reply
}

void TstEngineReplies::r321Crc_checkedOnceRepliesKeepMatching()
{
    // An R321 whose reply CRC sits elsewhere than assumed must stay usable even after a
    // chance match, while one whose replies keep matching has a damaged reply refused.
    Quiet b(R321);
    QByteArray uidLsb = kUidMsb;
    std::reverse(uidLsb.begin(), uidLsb.end());
    const QByteArray good = r321(0x11, 0x00, uidLsb + QByteArray(1, '\0'));
    QByteArray otherCrc = good;
    const int crcAt = uchar(otherCrc[3]) + 2;
    otherCrc[crcAt] = char(~otherCrc[crcAt]);
    // Taken unchecked: before any match, and after a single chance match.
    const QList<QByteArray> taken = {otherCrc, good, otherCrc};
    for (const QByteArray& rx : taken) {
        TestAccess::controlRw(b.engine(), 0xFE, 7);
        TestAccess::r321Rx(b.engine(), rx);
        QCOMPARE(b.cmd().ack, uint8_t(1));
    }
    for (int i = 0; i < replies::R321CrcCheck::kConfirmAfter; ++i) {
        TestAccess::controlRw(b.engine(), 0xFE, 7);
        TestAccess::r321Rx(b.engine(), good);
    }
    TestAccess::controlRw(b.engine(), 0xFE, 7);
    TestAccess::r321Rx(b.engine(), otherCrc);
    QCOMPARE(b.cmd().ack, uint8_t(0));
}

void TstEngineReplies::feigInventory_truncatedUid_waits()
{
    Quiet b(Feig);
    TestAccess::controlRw(b.engine(), 0xFE, 7);
    TestAccess::feigRx(b.engine(),
                       feig(0xB0, 0x00, QByteArray::fromHex("010300") + kUidMsb.left(5)));
    QCOMPARE(b.cmd().ack, uint8_t(0));
    QCOMPARE(TestAccess::chipCode(b.engine()), uint8_t(0x50));
    QCOMPARE(TestAccess::uid(b.engine()), (std::array<uint8_t, 8>{}));
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
}

void TstEngineReplies::inventoryFailure_clearsUid_quietInAutoScan()
{
    QFETCH(int, reader);
    QFETCH(bool, autoScan);
    QFETCH(int, tip);
    QFETCH(int, beep);
    Quiet b(reader);
    TestAccess::Uid filled{};
    filled.fill(0x11);
    TestAccess::setUid(b.engine(), filled);
    TestAccess::setTagIndex(b.engine(), 3);
    TestAccess::setAutoScan(b.engine(), autoScan ? 1 : 0);
    if (reader == R321)
        TestAccess::r321Rx(b.engine(), r321(0x11, 0x01));
    else
        TestAccess::feigRx(b.engine(), feig(0xB0, 0x84, QByteArray::fromHex("0103")));
    QCOMPARE(TestAccess::uid(b.engine()), (std::array<uint8_t, 8>{}));
    QCOMPARE(TestAccess::tagIndex(b.engine()), uint8_t(0));
    QCOMPARE(int(b.lastTip()), tip);
    QCOMPARE(int(TestAccess::beepPattern(b.engine())), beep);
}

void TstEngineReplies::feigNoTag_autoScanRequestsScan()
{
    Quiet b(Feig);
    TestAccess::setAutoScan(b.engine(), 1);
    TestAccess::Uid refilled{};
    refilled.fill(0x22);
    TestAccess::setUid(b.engine(), refilled);
    TestAccess::setTagIndex(b.engine(), 1);
    TestAccess::feigRx(b.engine(), feig(0xB0, 0x01));
    QCOMPARE(TestAccess::uid(b.engine()), (std::array<uint8_t, 8>{}));
    QCOMPARE(TestAccess::tagIndex(b.engine()), uint8_t(0));
    QCOMPARE(TestAccess::scanRequest(b.engine()), uint8_t(1));
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(0));

    TestAccess::setAutoScan(b.engine(), 0);
    TestAccess::feigRx(b.engine(), feig(0xB0, 0x01));
    QCOMPARE(int(b.lastTip()), kTipNoTag);
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(2));
}

void TstEngineReplies::feigWriteReply_onlyExactFrame_data()
{
    QTest::addColumn<QByteArray>("rx");
    QTest::addColumn<int>("replyCnt");
    QTest::addColumn<int>("tip");
    QTest::newRow("exact success frame") << QByteArray::fromHex("02000800B00090DF") << 1 << 0;
    QTest::newRow("reader at address 1") << feig(0xB0, 0x00, {}, 0x01) << 0 << kTipNoTag;
    // A reply with a wrong CRC is not taken at all, so the marker 0xDF sits in a data
    // byte here: with status 3 no 8-byte frame from address 0 has it as its CRC byte.
    QTest::newRow("failing status with write marker")
        << feig(0xB0, 0x03, QByteArray::fromHex("00DF")) << 0 << kTipWriteFailed;
}

void TstEngineReplies::feigWriteReply_onlyExactFrame()
{
    QFETCH(QByteArray, rx);
    QFETCH(int, replyCnt);
    QFETCH(int, tip);
    Quiet b(Feig);
    TestAccess::controlRw(b.engine(), 0xFD, 0);
    TestAccess::feigRx(b.engine(), rx);
    QCOMPARE(int(b.cmd().reply_cnt), replyCnt);
    QCOMPARE(int(b.cmd().ack), replyCnt);
    QCOMPARE(int(b.lastTip()), tip);
}

void TstEngineReplies::writeAcks_countedAndJudged_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<int>("sendCnt");
    QTest::addColumn<int>("replies");
    QTest::addColumn<int>("tip");
    QTest::addColumn<int>("beep");
    QTest::newRow("R321 8 of 8") << int(R321) << 8 << 8 << kTipWriteOk << 1;
    QTest::newRow("FEIG 8 of 8") << int(Feig) << 8 << 8 << kTipWriteOk << 1;
    QTest::newRow("R321 8 of 16") << int(R321) << 16 << 8 << kTipWriteFailed << 2;
    QTest::newRow("FEIG 9 of 9") << int(Feig) << 9 << 9 << kTipWriteOk << 1;
    QTest::newRow("FEIG 8 of 9") << int(Feig) << 9 << 8 << kTipWriteFailed << 2;
}

void TstEngineReplies::writeAcks_countedAndJudged()
{
    QFETCH(int, reader);
    QFETCH(int, sendCnt);
    QFETCH(int, replies);
    QFETCH(int, tip);
    QFETCH(int, beep);
    Quiet b(reader);
    TestAccess::controlRw(b.engine(), 0xFD, 0);
    TestAccess::editCmd(b.engine(), [&](CommandState& c) { c.send_cnt = uint8_t(sendCnt); });
    const QByteArray rx =
        reader == R321 ? r321(0x23, 0x00) : QByteArray::fromHex("02000800B00090DF");
    for (int i = 0; i < replies; ++i) {
        if (i == replies - 1)
            TestAccess::editCmd(b.engine(), [&](CommandState& c) {
                c.cmd_type = 0;
            }); // the last command has gone out
        if (reader == R321)
            TestAccess::r321Rx(b.engine(), rx);
        else
            TestAccess::feigRx(b.engine(), rx);
        QCOMPARE(b.cmd().ack, uint8_t(1));
        if (i < replies - 1) {
            QCOMPARE(int(b.lastTip()), 0);
            TestAccess::editCmd(b.engine(), [&](CommandState& c) { c.ack = 0; });
        }
    }
    QCOMPARE(int(b.cmd().reply_cnt), replies);
    QCOMPARE(int(b.lastTip()), tip);
    QCOMPARE(int(TestAccess::beepPattern(b.engine())), beep);
}

void TstEngineReplies::feigReadFailure_readFailedTip()
{
    Quiet b(Feig);
    TestAccess::controlRw(b.engine(), 0xFE, 7);
    TestAccess::feigRx(b.engine(), feig(0xB0, 0x83, QByteArray::fromHex("0004")));
    QCOMPARE(int(b.lastTip()), kTipReadFailed);
    QCOMPARE(TestAccess::beepPattern(b.engine()), uint8_t(2));
    QCOMPARE(b.cmd().ack, uint8_t(0));
    QCOMPARE(b.cmd().reply_cnt, uint8_t(0));
}

void TstEngineReplies::feInverted_reversesUid()
{
    Quiet b(Feig);
    QCOMPARE(TestAccess::feInverted(b.engine(), kUidMsb), QByteArray::fromHex("44332211005002E0"));
    QCOMPARE(TestAccess::feInverted(b.engine(), QByteArray()), QByteArray());
}

QTEST_GUILESS_MAIN(TstEngineReplies)
#include "tst_engine_replies.moc"
