// The Read action end to end: the engine with the simulated R321 and FEIG readers,
// checked against the simulator's command log, the document and what the engine reports.
// What the window shows of a read is tested in tests/app/tst_window_read.
#include "writebench.h"

#include "model/tagfields.h"
#include "readers/crc16.h"
#include "readers/myhid.h"
#include "readers/r321frames.h"
#include "readers/r321link.h"
#include "readers/replies.h"
#include "readers/sim/demodrivers.h"

using namespace enginetest;

namespace
{

constexpr uint8_t kOtherChip = 0x45;
constexpr int kTipReadFailed = 4;
constexpr int kTipUidOk = 7;

// Drops the last block of the n-th good read reply, keeping the reply well formed.
void shortenReadReply(Bench& b, int nth)
{
    auto r321Count = std::make_shared<int>(0);
    b.hidProxy.replyReport = [r321Count, nth](const QByteArray& report) {
        const replies::R321Reply r = replies::decodeR321(report);
        if (!r.usable || r.kind != replies::Kind::ReadBlocks || !r.ok() || ++*r321Count != nth)
            return report;
        return SimR321::buildReply(r.command, r.status, r.payload.left(r.payload.size() - 4));
    };
    auto feigCount = std::make_shared<int>(0);
    b.feigProxy.reply = [feigCount, nth](const QByteArray&, const QByteArray& rx) {
        const replies::FeigReply r = replies::decodeFeig(rx);
        if (r.kind != replies::Kind::ReadBlocks || !r.ok() || ++*feigCount != nth)
            return rx;
        QByteArray data = rx.mid(6, rx.size() - 8 - 5); // count, size, records but the last
        data[0] = char(uint8_t(data.at(0)) - 1);
        return SimFeig::buildReply(0xB0, 0x00, data);
    };
}

// What the engine announces besides the bench's own lists: the document's loads, the
// drivers read, the language of each result tip and the link tips with theirs.
struct Announcements {
    QVector<TagDocument::Source> loads;
    QVector<devicereport::TagIdentity> drivers;
    QVector<bool> tipChinese;
    QVector<QPair<TagEngine::LinkTip, bool>> links;
    int linkClears = 0;

    explicit Announcements(Bench& b)
    {
        QObject::connect(&b.document(), &TagDocument::loaded,
                         [this](TagDocument::Source source) { loads << source; });
        QObject::connect(&b.engine(), &TagEngine::driverRead,
                         [this](const devicereport::TagIdentity& tag) { drivers << tag; });
        QObject::connect(&b.engine(), &TagEngine::resultTip,
                         [this](ResultTip, bool chinese) { tipChinese << chinese; });
        QObject::connect(
            &b.engine(), &TagEngine::linkTip,
            [this](TagEngine::LinkTip tip, bool chinese) { links << qMakePair(tip, chinese); });
        QObject::connect(&b.engine(), &TagEngine::linkCleared, [this] { ++linkClears; });
    }
};

} // namespace

class TstEngineRead : public QObject
{
    Q_OBJECT
  private slots:
    void readPTag_inventoryAndTwelveReads_fillsDocument_data() { addReaders(); }
    void readPTag_inventoryAndTwelveReads_fillsDocument();
    void readPwmTag_sevenReadsEndingWithBlock248_storedSwapped_data() { addReaders(); }
    void readPwmTag_sevenReadsEndingWithBlock248_storedSwapped();
    void readOtherChip_readsFourBanks_endsFailed_data() { addReaders(); }
    void readOtherChip_readsFourBanks_endsFailed();
    void readShortData_countRight_endsFailed_imageUnchanged_data() { addReaders(); }
    void readShortData_countRight_endsFailed_imageUnchanged();
    void newActionDuringSequence_leavesItToFinish_data() { addReaders(); }
    void newActionDuringSequence_leavesItToFinish();
    void rejectedReplyMidSequence_oneFailureNoFurtherCommand_data() { addReaders(); }
    void rejectedReplyMidSequence_oneFailureNoFurtherCommand();
    void modelNameRead_needsThirtyFiveBytes_data();
    void modelNameRead_needsThirtyFiveBytes();
    void r321InventoryOfThreeTags_readsTheFirst();
    void readWithoutReader_warnsAndSendsNothing();
    void noTagOnReader_failsWithNoTagTip_data() { addReaders(); }
    void noTagOnReader_failsWithNoTagTip();
    void continueReadOneBank_outsideSteps_sendsNothing();
    void connectR321_showsTipSendsInit_rewiresOnce();
    void connectFeigTwice_eachReplyAnalysedOnce();
    void idleTick_changesNothing();
};

void TstEngineRead::readPTag_inventoryAndTwelveReads_fillsDocument()
{
    QFETCH(int, reader);
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 7);
    b.field.layTag(tag);
    QVERIFY(b.connect(reader));
    const Announcements said(b);

    b.read();
    QTRY_COMPARE(int(b.lastTip()), kTipReadOk);

    QCOMPARE(tagCommands(b.field), pTagReadCommands());
    const TagImage expected = expectedImageAfterPRead(tag->memory());
    const TagImage& image = TestAccess::image(b.engine());
    QCOMPARE(bytes(image.image_legacy, 0, 512), tag->memory());
    QCOMPARE(bytes(image.image_v2, 0, 512), bytes(expected.image_v2, 0, 512));
    QCOMPARE(bytes(image.bank_buffer, 0, 512), bytes(expected.bank_buffer, 0, 512));
    QCOMPARE(b.readOp()->reply_cnt, uint8_t(12));
    QCOMPARE(b.readOp()->readcnt, uint8_t(12));
    QCOMPARE(b.readOp()->cmd_type, uint8_t(0));
    // the last reply's ack stays until the next action
    QCOMPARE(b.engine().sequencer().handshake().ack, uint8_t(1));

    // The document announces the driver once, as read; the device-data panel follows that
    // announcement (the window tests check the panel).
    const tagfields::ProductInfo info = tagfields::productInfo(expected);
    QCOMPARE(info.model, demodrivers::info(demodrivers::Kind::Dt8).model);
    QCOMPARE(tagfields::productInfo(b.document().image()).model, info.model);
    QCOMPARE(said.loads, QVector<TagDocument::Source>{TagDocument::Source::Read});
    QCOMPARE(said.drivers.size(), 1);
    QCOMPARE(said.drivers.at(0).uidMsbFirst, tag->uidMsbFirst());
    QCOMPARE(said.drivers.at(0).chipCode, uint8_t(VirtualTag::ProductP));
    // The last tip is the English one: the status bar ends on "Read successfully".
    QCOMPARE(said.tipChinese.last(), false);

    // The manual read names the driver as the template of the next Write.
    QCOMPARE(b.readOp()->manual_read, uint8_t(0));
    QCOMPARE(b.engine().templateSource(),
             QString::fromLatin1(tag->uidMsbFirst().toHex().toUpper()));

    // One beep: on, then off.
    QTRY_COMPARE(beeperCommands(b.field), 2);
    QTest::qWait(150);
    QCOMPARE(beeperCommands(b.field), 2);
    QCOMPARE(reader == R321 ? b.r321.beeperOn() : b.feig.outputOn(), false);
    QCOMPARE(tagCommands(b.field).size(), 13);
}

void TstEngineRead::readPwmTag_sevenReadsEndingWithBlock248_storedSwapped()
{
    QFETCH(int, reader);
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Pwm, 9);
    QVERIFY(tag->setBlock(248, QByteArray::fromHex("10325476")));
    b.field.layTag(tag);
    QVERIFY(b.connect(reader));
    // The drive area of an '8' tag is not read; whatever the image held there stays.
    TestAccess::editImage(b.engine(), [](TagImage& image) {
        image.image_v2[300] = 0xAB;
        image.image_legacy[400] = 0xCD;
    });
    const TagImage& image = TestAccess::image(b.engine());
    const Announcements said(b);

    b.read();
    QTRY_COMPARE(int(b.lastTip()), kTipReadOk);

    QCOMPARE(tagCommands(b.field), pwmTagReadCommands());
    QCOMPARE(b.engine().chipCode(), uint8_t(0x38));
    QCOMPARE(b.readOp()->readcnt, uint8_t(7));
    QCOMPARE(bytes(image.image_v2, 248, 4), QByteArray::fromHex("32107654"));
    QCOMPARE(bytes(image.image_v2, 0, 248), tag->memory().left(248));
    QCOMPARE(bytes(image.image_legacy, 0, 256), tag->memory().left(256));
    QCOMPARE(image.image_v2[300], uint8_t(0xAB));
    QCOMPARE(image.image_legacy[400], uint8_t(0xCD));
    // The driver read is announced; the device-data panel shows its model from it.
    QCOMPARE(said.loads, QVector<TagDocument::Source>{TagDocument::Source::Read});
    QCOMPARE(tagfields::productInfo(b.document().image()).model,
             demodrivers::info(demodrivers::Kind::Pwm).model);
}

void TstEngineRead::readOtherChip_readsFourBanks_endsFailed()
{
    QFETCH(int, reader);
    Bench b(true);
    disguiseChip(b, kOtherChip);
    b.field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 3));
    QVERIFY(b.connect(reader));
    const TagImage before = TestAccess::image(b.engine());

    b.read();
    QTRY_COMPARE(int(b.lastTip()), kTipReadFailed);

    QCOMPARE(b.engine().chipCode(), kOtherChip);
    QCOMPARE(tagCommands(b.field), pTagReadCommands());
    QCOMPARE(b.readOp()->readcnt, uint8_t(7));
    QCOMPARE(b.readOp()->reply_cnt, uint8_t(12));
    const TagImage& after = TestAccess::image(b.engine());
    QVERIFY(after.image_v2 == before.image_v2);
    QVERIFY(after.image_legacy == before.image_legacy);
    QTRY_COMPARE(beeperCommands(b.field), 4); // two beeps
}

void TstEngineRead::readShortData_countRight_endsFailed_imageUnchanged()
{
    QFETCH(int, reader);
    Bench b(true);
    shortenReadReply(b, 12);
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 4);
    b.field.layTag(tag);
    QVERIFY(b.connect(reader));
    const TagImage before = TestAccess::image(b.engine());
    const Announcements said(b);

    b.read();
    QTRY_COMPARE(int(b.lastTip()), kTipReadFailed);

    QCOMPARE(tagCommands(b.field), pTagReadCommands());
    QCOMPARE(b.readOp()->reply_cnt, uint8_t(12));
    QCOMPARE(b.readOp()->read_data.size(), 508);
    const TagImage& after = TestAccess::image(b.engine());
    QVERIFY(after.image_v2 == before.image_v2);
    QVERIFY(after.image_legacy == before.image_legacy);
    QVERIFY(after.bank_buffer == before.bank_buffer);
    // Nothing is announced, so the device-data panel keeps what it showed.
    QVERIFY(said.loads.isEmpty());
    QVERIFY(said.drivers.isEmpty());
    QCOMPARE(b.readOp()->manual_read, uint8_t(1));
    QTRY_COMPARE(beeperCommands(b.field), 4);
    QTest::qWait(150);
    QCOMPARE(beeperCommands(b.field), 4); // a failure, and no success beep after it
}

void TstEngineRead::newActionDuringSequence_leavesItToFinish()
{
    QFETCH(int, reader);
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 5);
    b.field.layTag(tag);
    QVERIFY(b.connect(reader));
    b.stopTimer();

    const Handshake& hs = b.engine().sequencer().handshake();
    b.read();
    b.tick(); // inventory out
    QTRY_COMPARE(hs.ack, uint8_t(1));
    b.tick(); // re-armed
    b.tick(); // blocks 0-11 out
    QCOMPARE(hs.send_enable, uint8_t(0));
    QCOMPARE(b.readOp()->block_step, uint8_t(2));
    // The reply to blocks 0-11 is on its way while the user presses Read again: the read
    // under way is not cut short, and the second press starts nothing.
    const ReadOperation* running = b.readOp();
    const uint8_t step = running->block_step;
    b.read();
    QCOMPARE(b.readOp(), running);
    QCOMPARE(running->cmd_type, uint8_t(0xFE));
    QCOMPARE(running->block_step, step);
    QCOMPARE(hs.send_enable, uint8_t(0));

    b.startTimer();
    QTRY_COMPARE(int(b.lastTip()), kTipReadOk);
    const QStringList expected = pTagReadCommands();
    QCOMPARE(tagCommands(b.field), expected);
    QCOMPARE(b.readOp()->reply_cnt, uint8_t(12));
    QCOMPARE(bytes(TestAccess::image(b.engine()).image_legacy, 0, 512), tag->memory());
    QTRY_COMPARE(beeperCommands(b.field), 2);
    QTest::qWait(150);
    QCOMPARE(beeperCommands(b.field), 2); // one ending only
}

void TstEngineRead::rejectedReplyMidSequence_oneFailureNoFurtherCommand()
{
    QFETCH(int, reader);
    Bench b;
    b.field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 6));
    QVERIFY(b.connect(reader));
    // The third block read is answered with a failing reader status.
    if (reader == R321)
        b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 2, r321::CmdReadBlocks);
    else
        b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 3, 0xB0);
    const TagImage before = TestAccess::image(b.engine());

    b.read();
    QTRY_VERIFY(b.lastTip() != 0 && b.lastTip() != kTipUidOk);
    // The R321 reports a failed read as "no tag"; the FEIG's failing reply carries no
    // read marker, so it is the reply of no tag as well.
    QCOMPARE(int(b.lastTip()), kTipNoTag);
    QTRY_COMPARE(beeperCommands(b.field), 4);
    QTest::qWait(200);
    QCOMPARE(tagCommands(b.field),
             (QStringList{QStringLiteral("inv"), QStringLiteral("read 0+12"),
                          QStringLiteral("read 12+12"), QStringLiteral("read 24+8")}));
    QCOMPARE(beeperCommands(b.field), 4);
    QCOMPARE(b.beepPattern(), uint8_t(0));
    QCOMPARE(b.readOp()->cmd_type, uint8_t(0xFE)); // stalled until the next action
    QCOMPARE(b.readOp()->reply_cnt, uint8_t(2));
    QVERIFY(TestAccess::image(b.engine()).image_v2 == before.image_v2);
}

void TstEngineRead::modelNameRead_needsThirtyFiveBytes_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<bool>("ok");
    QTest::newRow("R321 9 blocks") << int(R321) << 9 << true;
    QTest::newRow("FEIG 9 blocks") << int(Feig) << 9 << true;
    QTest::newRow("R321 8 blocks") << int(R321) << 8 << false;
    QTest::newRow("FEIG 8 blocks") << int(Feig) << 8 << false;
}

void TstEngineRead::modelNameRead_needsThirtyFiveBytes()
{
    QFETCH(int, reader);
    QFETCH(int, blocks);
    QFETCH(bool, ok);
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt6, 8);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag)); // the tag on the reader is known
    // The model-name read of auto write, addressed to the tag on the reader.
    b.clearLastTip();
    b.engine().Control_RW(0xF7, 1);
    b.readOp()->special_num = uint8_t(blocks);

    QTRY_VERIFY(b.lastTip() != 0);
    QCOMPARE(tagCommands(b.field), QStringList{QStringLiteral("read 48+%1").arg(blocks)});
    QCOMPARE(int(b.lastTip()), ok ? kTipReadOk : kTipReadFailed);
    // The name is bytes 3 to 34 of the blocks read: tag bytes 195 to 226.
    QCOMPARE(b.readOp()->read_data.mid(3, 32).size(), ok ? 32 : 29);
    if (ok)
        QCOMPARE(b.readOp()->read_data.mid(3, 32), tag->memory().mid(195, 32));
}

void TstEngineRead::r321InventoryOfThreeTags_readsTheFirst()
{
    Bench b;
    const auto first1 = demodrivers::makeTag(demodrivers::Kind::Dt8, 21);
    const auto second = demodrivers::makeTag(demodrivers::Kind::Dt6, 22);
    const auto third = demodrivers::makeTag(demodrivers::Kind::Dt8, 23);
    b.field.layTag(first1);
    b.field.layTag(second);
    b.field.layTag(third);
    QVERIFY(b.connect(R321));

    b.read();
    QTRY_COMPARE(int(b.lastTip()), kTipReadOk);
    // The first UID of the reply is used at once (the inventory's three are decoded in
    // tst_replies); the memory read is that tag's.
    const QByteArray first = b.engine().uidMsbFirst();
    QVERIFY(first == first1->uidMsbFirst() || first == second->uidMsbFirst() ||
            first == third->uidMsbFirst());
    QByteArray lsbFirst = first;
    std::reverse(lsbFirst.begin(), lsbFirst.end());
    const auto read = b.field.findByUidLsbFirst(lsbFirst);
    QVERIFY(read);
    QCOMPARE(bytes(TestAccess::image(b.engine()).image_legacy, 0, 512), read->memory());
    QCOMPARE(tagCommands(b.field), pTagReadCommands());
}

void TstEngineRead::readWithoutReader_warnsAndSendsNothing()
{
    Bench b;
    b.field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 1));
    const Announcements said(b);
    b.read();
    QCOMPARE(b.boxes, QStringList{QStringLiteral(
                          "Warning！|The reader is not connected, please connect the reader!")});
    // The link label asks for a device: "Please selcet usb device".
    QVERIFY(!said.links.isEmpty());
    QCOMPARE(said.links.last(), qMakePair(TagEngine::LinkTip::SelectDevice, false));
    QCOMPARE(b.engine().operation(), nullptr);

    // Chosen but not open: the same guard, now in Chinese.
    b.engine().setChinese(true);
    b.engine().Set_Reader_Type(ReaderType::R321);
    b.read();
    QCOMPARE(b.boxes.size(), 2);
    QCOMPARE(b.boxes.at(1), QStringLiteral("警告！|阅读器未连接，请连接阅读器！"));
    QCOMPARE(said.links.last(), qMakePair(TagEngine::LinkTip::SelectDevice, true));
    QCOMPARE(b.engine().operation(), nullptr);
    // A silent check shows nothing.
    QVERIFY(!b.engine().Detection_Usb_Statue(0));
    QCOMPARE(b.boxes.size(), 2);
    QTest::qWait(50);
    QVERIFY(b.field.commandLog().isEmpty());
}

void TstEngineRead::noTagOnReader_failsWithNoTagTip()
{
    QFETCH(int, reader);
    Bench b;
    QVERIFY(b.connect(reader));
    b.read();
    QTRY_VERIFY(b.lastTip() != 0);
    QCOMPARE(int(b.lastTip()), kTipNoTag);
    QTRY_COMPARE(beeperCommands(b.field), 4);
    QCOMPARE(tagCommands(b.field), QStringList{QStringLiteral("inv")});
}

void TstEngineRead::continueReadOneBank_outsideSteps_sendsNothing()
{
    Bench b;
    b.field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 1));
    QVERIFY(b.connect(Feig));
    b.stopTimer();
    b.engine().Control_RW(0xF9, 3);
    ReadOperation& op = *b.readOp();
    for (uint8_t step : {uint8_t(0), uint8_t(4), uint8_t(200)}) {
        op.block_step = step;
        op.Continue_Read_OneBank(96, 0);
        QCOMPARE(op.block_step, step);
    }
    // Block numbers are 8 bits: the last piece of bank 96 ends at block 127.
    op.block_step = 3;
    op.Continue_Read_OneBank(96, 0);
    QCOMPARE(op.cmd_type, uint8_t(0));
    QTRY_COMPARE(tagCommands(b.field), QStringList{QStringLiteral("read 120+8")});
}

void TstEngineRead::connectR321_showsTipSendsInit_rewiresOnce()
{
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 31);
    b.field.layTag(tag);
    const Announcements said(b);
    // As the connection dialog's OK does.
    QVERIFY(b.engine().connectReader(ReaderType::R321));
    auto* link = qobject_cast<R321Link*>(b.engine().link());
    QVERIFY(link);
    // The link label turns blue with "Connected: R321".
    QVERIFY(!said.links.isEmpty());
    QCOMPARE(said.links.last(), qMakePair(TagEngine::LinkTip::R321Connected, false));
    QCOMPARE(link->deviceName(), QStringLiteral("R321"));
    QTRY_COMPARE(b.field.commandLog().size(), 1);
    QCOMPARE(b.field.commandLog().at(0).command, 0xF4);

    // A second report of the link replaces the wiring instead of adding to it.
    emit link->hid()->usbConnect(QStringLiteral("Connected: R321"));
    QTRY_COMPARE(b.field.commandLog().size(), 2);
    QTest::qWait(50);
    b.field.clearCommandLog();
    b.read();
    QTRY_COMPARE(int(b.lastTip()), kTipReadOk);
    QCOMPARE(b.readOp()->reply_cnt, uint8_t(12));
    QCOMPARE(tagCommands(b.field), pTagReadCommands());

    // An empty report clears the device name and the link label.
    QCOMPARE(said.linkClears, 0);
    emit link->hid()->usbConnect(QString());
    QCOMPARE(link->deviceName(), QString());
    QCOMPARE(said.linkClears, 1);
}

void TstEngineRead::connectFeigTwice_eachReplyAnalysedOnce()
{
    Bench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 32);
    b.field.layTag(tag);
    const Announcements said(b);
    QVERIFY(b.connect(Feig));
    // The link label shows "Connected: Feig Reader".
    QVERIFY(!said.links.isEmpty());
    QCOMPARE(said.links.last(), qMakePair(TagEngine::LinkTip::FeigConnected, false));
    QVERIFY(b.connect(Feig));
    b.read();
    QTRY_COMPARE(int(b.lastTip()), kTipReadOk);
    QCOMPARE(b.readOp()->reply_cnt, uint8_t(12));
    QCOMPARE(tagCommands(b.field), pTagReadCommands());
}

void TstEngineRead::idleTick_changesNothing()
{
    Bench b;
    b.stopTimer();
    const Handshake before = b.engine().sequencer().handshake();
    b.tick(1000);
    QCOMPARE(b.engine().operation(), nullptr);
    QCOMPARE(b.engine().sequencer().handshake().send_enable, before.send_enable);
    QCOMPARE(b.engine().sequencer().handshake().ack, before.ack);
    QCOMPARE(b.beepPattern(), uint8_t(0));
    QVERIFY(b.engine().idle());
}

QTEST_GUILESS_MAIN(TstEngineRead)
#include "tst_engine_read.moc"
