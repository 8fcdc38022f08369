// Reply decoding of both readers: good, short and garbage frames.
#include "readers/crc16.h"
#include "readers/myfeigusb.h"
#include "readers/replies.h"

#include <QtTest>

using namespace replies;

Q_DECLARE_METATYPE(replies::Kind)
Q_DECLARE_METATYPE(replies::Failure)
Q_DECLARE_METATYPE(replies::CustomAnswer)

namespace
{

// An R321 reply as the engine reads it: byte 3 L, byte 8 0x1F, byte 9 the command echo,
// payload from 11, status at L, L + 4 bytes in all, padded to one 64-byte report.
QByteArray r321Reply(uint8_t command, const QByteArray& payload, uint8_t status = 0,
                     uint8_t isoMark = 0x1F, int padTo = 64)
{
    const int length = 11 + payload.size();
    QByteArray frame(11, '\0');
    frame[0] = char(length + 3); // bytes after this one
    frame[1] = char(0x7E);
    frame[2] = char(0x55);
    frame[3] = char(length);
    frame[6] = char(0x01);
    frame[8] = char(isoMark);
    frame[9] = char(command);
    frame.append(payload);
    frame.append(char(status));
    frame.append(char(0x00)); // the byte between status and CRC
    crc16::appendLsbFirst(frame, crc16::x25(frame, 3, frame.size() - 3));
    if (frame.size() < padTo)
        frame.append(QByteArray(padTo - frame.size(), '\0'));
    return frame;
}

QByteArray feigReply(uint8_t command, uint8_t status, const QByteArray& data,
                     uint8_t address = 0x00)
{
    QByteArray body;
    body.append(char(status));
    body.append(data);
    return feigframe::build(address, command, body);
}

QByteArray feigReadReply(const QList<QByteArray>& blocks)
{
    QByteArray data;
    data.append(char(blocks.size()));
    data.append(char(0x04));
    for (const QByteArray& block : blocks) {
        data.append(char(0x00)); // block security status
        QByteArray reversed = block;
        std::reverse(reversed.begin(), reversed.end());
        data.append(reversed);
    }
    return feigReply(0xB0, 0x00, data);
}

const QByteArray kUidMsbFirst = QByteArray::fromHex("E002500011223344");

} // namespace

class TstReplies : public QObject
{
    Q_OBJECT
  private slots:
    void r321Decode_data();
    void r321Decode();
    void r321Inventory_threeTags();
    void r321InventoryUid_outsidePayload_isEmpty();
    void r321TransparentByte1();

    void feigDecode_data();
    void feigDecode();
    void feigRead_reversesEachBlock();
    void feigRead_recordsPastEnd_unusable_data();
    void feigRead_recordsPastEnd_unusable();
    void feigInventory_uidMostSignificantFirst();
    void feigWriteSuccessFrame_isTheBuiltFrame();
    void feigTransparent_payloadAndByte1();

    void feInverted_data();
    void feInverted();
    void feInverted_lengthIsSixteenBit();

    void decodedReply_oneMeaningForBothReaders_data();
    void decodedReply_oneMeaningForBothReaders();
    void decodedR321Inventory_completeRecordsOnly();
};

void TstReplies::r321Decode_data()
{
    QTest::addColumn<QByteArray>("rx");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<replies::Kind>("kind");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("payloadSize");

    const QByteArray inv = r321Reply(0x11, QByteArray::fromHex("44332211005002E000"));
    QTest::newRow("inventory") << inv << true << Kind::Inventory << 0 << 9;
    QTest::newRow("read 12 blocks")
        << r321Reply(0x22, QByteArray(48, 'a')) << true << Kind::ReadBlocks << 0 << 48;
    QTest::newRow("write ack") << r321Reply(0x23, {}) << true << Kind::WriteBlocks << 0 << 0;
    QTest::newRow("transparent") << r321Reply(0x2F, QByteArray::fromHex("0078F0")) << true
                                 << Kind::Transparent << 0 << 3;
    QTest::newRow("beeper") << r321Reply(0xE9, {}) << true << Kind::Beeper << 0 << 0;
    QTest::newRow("init echo") << r321Reply(0xF4, {}) << true << Kind::Other << 0 << 0;
    QTest::newRow("read failed") << r321Reply(0x22, {}, 0x01) << true << Kind::ReadBlocks << 1 << 0;
    QTest::newRow("not iso") << r321Reply(0x22, QByteArray(8, 'b'), 0, 0x10) << true
                             << Kind::Foreign << 0 << 8;
    // Unpadded frame of exactly L + 4 bytes: the smallest size that is still usable.
    QTest::newRow("exact size") << r321Reply(0x23, {}, 0, 0x1F, 0) << true << Kind::WriteBlocks << 0
                                << 0;

    QTest::newRow("empty") << QByteArray() << false << Kind::Unusable << 0 << 0;
    QTest::newRow("three bytes") << QByteArray::fromHex("0C7E55") << false << Kind::Unusable << 0
                                 << 0;
    QByteArray truncated = r321Reply(0x22, QByteArray(48, 'a'), 0, 0x1F, 0);
    truncated.chop(1);
    QTest::newRow("one byte short of L+4") << truncated << false << Kind::Unusable << 0 << 0;
    QByteArray lengthTooBig(64, '\0');
    lengthTooBig[3] = char(61);
    lengthTooBig[8] = char(0x1F);
    QTest::newRow("L beyond report") << lengthTooBig << false << Kind::Unusable << 0 << 0;
    // L below 11 would put the status inside the header and the payload before it.
    for (int l : {0, 4, 8, 10}) {
        QByteArray lowL(64, '\0');
        lowL[3] = char(l);
        lowL[8] = char(0x1F);
        lowL[9] = char(0x22);
        QTest::newRow(qPrintable(QString("L=%1").arg(l)))
            << lowL << false << Kind::Unusable << 0 << 0;
    }
    QTest::newRow("eleven bytes") << QByteArray(11, '\x1F') << false << Kind::Unusable << 0 << 0;
    QTest::newRow("garbage 0xFF") << QByteArray(64, '\xFF') << false << Kind::Unusable << 0 << 0;
}

void TstReplies::r321Decode()
{
    QFETCH(QByteArray, rx);
    QFETCH(bool, usable);
    QFETCH(replies::Kind, kind);
    QFETCH(int, status);
    QFETCH(int, payloadSize);

    const R321Reply reply = decodeR321(rx);
    QCOMPARE(reply.usable, usable);
    QCOMPARE(reply.kind, kind);
    if (usable) {
        QCOMPARE(int(reply.status), status);
        QCOMPARE(reply.payload.size(), payloadSize);
        QCOMPARE(reply.payload, rx.mid(11, payloadSize));
        QCOMPARE(int(reply.length), 11 + payloadSize);
    } else {
        QVERIFY(reply.payload.isEmpty());
    }
}

void TstReplies::r321Inventory_threeTags()
{
    // UIDs least significant byte first, as the R321 reports them; each record is the
    // UID and one more byte.
    const QList<QByteArray> records = {QByteArray::fromHex("00010203045002E0"),
                                       QByteArray::fromHex("AA111213145002E0"),
                                       QByteArray::fromHex("BB212223243802E0")};
    QByteArray payload;
    for (const QByteArray& uid : records) {
        payload.append(uid);
        payload.append(char(0x00));
    }
    const QByteArray rx = r321Reply(0x11, payload);
    const R321Reply reply = decodeR321(rx);
    QVERIFY(reply.usable);
    QCOMPARE(r321InventoryCount(reply), 3);
    const QByteArray whole = rx.left(reply.length + 4);
    QCOMPARE((whole.size() - 15) / 9, 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(r321InventoryUid(whole, i), records.at(i));
    QVERIFY(r321InventoryUid(whole, 3).isEmpty());
    QVERIFY(r321InventoryUid(whole, -1).isEmpty());
}

void TstReplies::r321InventoryUid_outsidePayload_isEmpty()
{
    // Status 0 but only 5 payload bytes: the bytes after them are status and CRC, no UID.
    const QByteArray rx = r321Reply(0x11, QByteArray::fromHex("0102030405"));
    const R321Reply reply = decodeR321(rx);
    QVERIFY(reply.usable);
    QCOMPARE(r321InventoryCount(reply), 0);
    QVERIFY(r321InventoryUid(rx.left(reply.length + 4), 0).isEmpty());
    QVERIFY(r321InventoryUid(QByteArray(), 0).isEmpty());
}

void TstReplies::r321TransparentByte1()
{
    QCOMPARE(transparentResponseByte1(decodeR321(r321Reply(0x2F, QByteArray::fromHex("0078F0")))),
             0x78);
    QCOMPARE(transparentResponseByte1(decodeR321(r321Reply(0x2F, QByteArray::fromHex("010F")))),
             0x0F);
    // One payload byte only: there is no response byte 1 to look at.
    QCOMPARE(transparentResponseByte1(decodeR321(r321Reply(0x2F, QByteArray::fromHex("00")))), -1);
    QCOMPARE(transparentResponseByte1(decodeR321(QByteArray(5, '\0'))), -1);
}

void TstReplies::feigDecode_data()
{
    QTest::addColumn<QByteArray>("rx");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<replies::Kind>("kind");
    QTest::addColumn<int>("status");

    QTest::newRow("empty") << QByteArray() << false << Kind::Unusable << 0;
    QTest::newRow("seven bytes") << feigReply(0xB0, 0x01, {}).left(7) << false << Kind::Unusable
                                 << 0;
    // Status only: byte 7 is a CRC byte, so this is the reply of no tag.
    QTest::newRow("no transponder") << feigReply(0xB0, 0x01, {}) << true << Kind::NoTag << 1;
    QTest::newRow("foreign start byte")
        << QByteArray::fromHex("03000800B00090DF") << true << Kind::Foreign << 0;
    QTest::newRow("garbage") << QByteArray(40, '\xAA') << true << Kind::Foreign << 0xAA;
    QTest::newRow("read two blocks")
        << feigReadReply({"abcd", "efgh"}) << true << Kind::ReadBlocks << 0;
    QTest::newRow("read failed") << feigReply(0xB0, 0x83, QByteArray::fromHex("0004")) << true
                                 << Kind::ReadBlocks << 0x83;
    QTest::newRow("write success")
        << QByteArray::fromHex("02000800B00090DF") << true << Kind::WriteBlocks << 0;
    QTest::newRow("write success from address 1")
        << feigReply(0xB0, 0x00, {}, 0x01) << true << Kind::NoTag << 0;
    QTest::newRow("0xDF in a longer good frame")
        << QByteArray::fromHex("02000900B00000DF00") << true << Kind::NoTag << 0;
    QTest::newRow("write failed with 0xDF")
        << QByteArray::fromHex("02000800B00300DF") << true << Kind::WriteBlocks << 3;
    QTest::newRow("inventory") << feigReply(0xB0, 0x00,
                                            QByteArray::fromHex("010300") + kUidMsbFirst)
                               << true << Kind::Inventory << 0;
    QTest::newRow("no tag answered")
        << feigReply(0xB0, 0x01, QByteArray::fromHex("00")) << true << Kind::NoTag << 1;
    QTest::newRow("transparent") << feigReply(0xBF, 0x00, QByteArray::fromHex("0078F0")) << true
                                 << Kind::Transparent << 0;
    QTest::newRow("transparent iso error")
        << feigReply(0xBF, 0x95, QByteArray::fromHex("010F")) << true << Kind::Transparent << 0x95;
    QTest::newRow("set output ok")
        << feigReply(0x72, 0x00, QByteArray::fromHex("00")) << true << Kind::Beeper << 0;
    QTest::newRow("set output refused")
        << feigReply(0x72, 0x19, QByteArray::fromHex("00")) << true << Kind::Beeper << 0x19;
    QTest::newRow("other command")
        << feigReply(0x65, 0x00, QByteArray::fromHex("0000")) << true << Kind::Other << 0;
}

void TstReplies::feigDecode()
{
    QFETCH(QByteArray, rx);
    QFETCH(bool, usable);
    QFETCH(replies::Kind, kind);
    QFETCH(int, status);

    const FeigReply reply = decodeFeig(rx);
    QCOMPARE(reply.usable, usable);
    QCOMPARE(reply.kind, kind);
    if (usable)
        QCOMPARE(int(reply.status), status);
}

void TstReplies::feigRead_reversesEachBlock()
{
    const FeigReply reply =
        decodeFeig(feigReadReply({QByteArray::fromHex("10325476"), QByteArray::fromHex("A0B0C0D0"),
                                  QByteArray::fromHex("01020304")}));
    QVERIFY(reply.usable);
    QCOMPARE(int(reply.blockCount), 3);
    // Back in tag order: the reader's reversal is undone block by block.
    QCOMPARE(reply.blockData, QByteArray::fromHex("10325476A0B0C0D001020304"));
}

void TstReplies::feigRead_recordsPastEnd_unusable_data()
{
    QTest::addColumn<QByteArray>("rx");
    QByteArray oneMissing = feigReadReply({"abcd", "efgh"});
    oneMissing[6] = char(3); // promises a third record
    QTest::newRow("count one too high") << oneMissing;
    QByteArray lastCut = QByteArray::fromHex("02001000B000020400646362610068670000");
    QTest::newRow("second record cut") << lastCut;
    QByteArray huge = feigReadReply({"abcd"});
    huge[6] = char(0xFF);
    QTest::newRow("count 255") << huge;
    // Records may not run into the two CRC bytes either.
    QTest::newRow("header only") << QByteArray::fromHex("02000800B0000104");
}

void TstReplies::feigRead_recordsPastEnd_unusable()
{
    QFETCH(QByteArray, rx);
    const FeigReply reply = decodeFeig(rx);
    QVERIFY(!reply.usable);
    QCOMPARE(reply.kind, Kind::Unusable);
    QVERIFY(reply.blockData.isEmpty());
}

void TstReplies::feigInventory_uidMostSignificantFirst()
{
    const FeigReply good =
        decodeFeig(feigReply(0xB0, 0x00, QByteArray::fromHex("010300") + kUidMsbFirst));
    QCOMPARE(good.uid, kUidMsbFirst);
    QCOMPARE(uint8_t(good.uid.at(2)), uint8_t(0x50));

    // A frame that stops inside the UID gives only the bytes before its CRC.
    const FeigReply cut =
        decodeFeig(feigReply(0xB0, 0x00, QByteArray::fromHex("010300") + kUidMsbFirst.left(4)));
    QCOMPARE(cut.kind, Kind::Inventory);
    QCOMPARE(cut.uid, kUidMsbFirst.left(4));
}

void TstReplies::feigWriteSuccessFrame_isTheBuiltFrame()
{
    QCOMPARE(feigWriteSuccessFrame(), feigReply(0xB0, 0x00, {}));
    QCOMPARE(feigWriteSuccessFrame(), QByteArray::fromHex("02000800B00090DF"));
    QVERIFY(decodeFeig(feigWriteSuccessFrame()).writeSuccessFrame);
    QByteArray longer = feigWriteSuccessFrame();
    longer.append('\0');
    QVERIFY(!decodeFeig(longer).writeSuccessFrame);
}

void TstReplies::feigTransparent_payloadAndByte1()
{
    const FeigReply reply = decodeFeig(feigReply(0xBF, 0x00, QByteArray::fromHex("0078F0")));
    QCOMPARE(reply.transparent, QByteArray::fromHex("0078F0"));
    QCOMPARE(transparentResponseByte1(reply), 0x78);
    QCOMPARE(transparentResponseByte1(decodeFeig(QByteArray(3, '\x02'))), -1);
}

void TstReplies::feInverted_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("one") << QByteArray("A") << QByteArray("A");
    QTest::newRow("uid") << QByteArray::fromHex("E002500011223344")
                         << QByteArray::fromHex("44332211005002E0");
    QTest::newRow("odd") << QByteArray("abc") << QByteArray("cba");
}

void TstReplies::feInverted()
{
    QFETCH(QByteArray, in);
    QFETCH(QByteArray, out);
    QCOMPARE(replies::feInverted(in), out);
    QCOMPARE(replies::feInverted(replies::feInverted(in)), in);
}

void TstReplies::feInverted_lengthIsSixteenBit()
{
    QByteArray big(65537, 'x');
    big[0] = 'a';
    QCOMPARE(replies::feInverted(big), QByteArray("a"));
    QByteArray max(65535, 'y');
    max[0] = 'b';
    QCOMPARE(replies::feInverted(max).size(), 65535);
    QCOMPARE(replies::feInverted(max).back(), 'b');
}

void TstReplies::decodedReply_oneMeaningForBothReaders_data()
{
    // What each reader's reply means to the engine: the same kinds, and each reader's own
    // words for a failure and for the outcome of a custom command.
    QTest::addColumn<bool>("r321");
    QTest::addColumn<QByteArray>("rx");
    QTest::addColumn<replies::Kind>("kind");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<replies::Failure>("failure");
    QTest::addColumn<replies::CustomAnswer>("custom");
    QTest::addColumn<int>("byte1");
    using F = Failure;
    using C = CustomAnswer;
    const auto r = [](uint8_t command, const QByteArray& payload, uint8_t status = 0,
                      uint8_t iso = 0x1F) { return r321Reply(command, payload, status, iso); };
    QTest::newRow("R321 read") << true << r(0x22, QByteArray(48, 'a')) << Kind::ReadBlocks << true
                               << F::None << C::None << -1;
    QTest::newRow("R321 read refused")
        << true << r(0x22, {}, 1) << Kind::ReadBlocks << false << F::TagNoResponse << C::None << -1;
    QTest::newRow("R321 write refused") << true << r(0x23, {}, 1) << Kind::WriteBlocks << false
                                        << F::TagNoResponse << C::None << -1;
    QTest::newRow("R321 inventory, no tag")
        << true << r(0x11, {}, 1) << Kind::Inventory << false << F::TagNoResponse << C::None << -1;
    QTest::newRow("R321 custom, tag answered")
        << true << r(0x2F, QByteArray::fromHex("0078F0")) << Kind::Transparent << true << F::None
        << C::Answered << 0x78;
    QTest::newRow("R321 custom, not answered") << true << r(0x2F, {}, 4) << Kind::Transparent
                                               << false << F::TagNoResponse << C::NotAnswered << -1;
    QTest::newRow("R321 beeper refused")
        << true << r(0xE9, {}, 1) << Kind::Beeper << false << F::None << C::None << -1;
    QTest::newRow("R321 not ISO15693") << true << r(0x22, QByteArray(8, 'b'), 0, 0x10)
                                       << Kind::Foreign << true << F::NotIso15693 << C::None << -1;
    QTest::newRow("FEIG read refused")
        << false << feigReply(0xB0, 0x83, QByteArray::fromHex("0004")) << Kind::ReadBlocks << false
        << F::ReadFailure << C::None << -1;
    QTest::newRow("FEIG write refused")
        << false << feigReply(0xB0, 0x03, QByteArray::fromHex("00DF")) << Kind::WriteBlocks << false
        << F::WriteFailure << C::None << -1;
    QTest::newRow("FEIG no tag") << false << feigReply(0xB0, 0x01, {}) << Kind::NoTag << false
                                 << F::NoTagAnswered << C::None << -1;
    QTest::newRow("FEIG inventory failed")
        << false << feigReply(0xB0, 0x84, QByteArray::fromHex("0103")) << Kind::Inventory << false
        << F::Unreported << C::None << -1;
    QTest::newRow("FEIG custom accepted")
        << false << feigReply(0xBF, 0x00, QByteArray::fromHex("00")) << Kind::Transparent << true
        << F::None << C::Accepted << -1;
    QTest::newRow("FEIG custom, no transponder")
        << false << feigReply(0xBF, 0x01, QByteArray::fromHex("00")) << Kind::Transparent << false
        << F::None << C::NoTransponder << -1;
    QTest::newRow("FEIG custom, ISO error")
        << false << feigReply(0xBF, 0x95, QByteArray::fromHex("010F")) << Kind::Transparent << false
        << F::None << C::IsoError << 0x0F;
    QTest::newRow("FEIG custom, RF error")
        << false << feigReply(0xBF, 0x83, QByteArray::fromHex("00")) << Kind::Transparent << false
        << F::None << C::ReaderError << -1;
    QByteArray notFeig = feigReply(0xB0, 0x00, QByteArray::fromHex("0104") + QByteArray(5, 'a'));
    notFeig[0] = char(0x03);
    QTest::newRow("FEIG not FEIG")
        << false << notFeig << Kind::Foreign << true << F::NotFeig << C::None << -1;
}

void TstReplies::decodedReply_oneMeaningForBothReaders()
{
    QFETCH(bool, r321);
    QFETCH(QByteArray, rx);
    QFETCH(replies::Kind, kind);
    QFETCH(bool, ok);
    QFETCH(replies::Failure, failure);
    QFETCH(replies::CustomAnswer, custom);
    QFETCH(int, byte1);
    const Reply reply = r321 ? fromR321(rx, nullptr) : fromFeig(rx);
    QCOMPARE(reply.kind, kind);
    QCOMPARE(reply.ok, ok);
    QCOMPARE(reply.failure, failure);
    QCOMPARE(reply.custom, custom);
    if (byte1 >= 0 || custom != CustomAnswer::Accepted)
        QCOMPARE(reply.responseByte1, byte1);
    QVERIFY(!reply.damaged);
    QCOMPARE(reply.raw, rx);
    // A wrong CRC makes either reply damaged (the R321's once its CRC is enforced).
    QByteArray spoiled = rx;
    if (r321) {
        const int crcAt = uchar(spoiled[3]) + 2;
        spoiled[crcAt] = char(~spoiled[crcAt]);
        R321CrcCheck enforced;
        for (int i = 0; i < R321CrcCheck::kConfirmAfter; ++i)
            enforced.accept(true);
        QCOMPARE(fromR321(spoiled, &enforced).damaged, kind != Kind::Foreign);
    } else if (kind != Kind::Foreign) {
        spoiled[spoiled.size() - 1] = char(~spoiled.at(spoiled.size() - 1));
        QVERIFY(fromFeig(spoiled).damaged);
    }
}

void TstReplies::decodedR321Inventory_completeRecordsOnly()
{
    // Three records in the reply, the third cut short: two UIDs, three tags reported, the
    // product byte of the first (the third byte most significant first).
    const QByteArray first = QByteArray::fromHex("44332211005002E0");
    const QByteArray second = QByteArray::fromHex("55443322113802E0");
    const QByteArray payload = first + '\0' + second + '\0' + second.left(5);
    const Reply reply = fromR321(r321Reply(0x11, payload), nullptr);
    QCOMPARE(reply.kind, Kind::Inventory);
    QCOMPARE(reply.tagCount, 2);
    QCOMPARE(reply.uids, (QVector<QByteArray>{first, second}));
    QCOMPARE(reply.chipCode, uint8_t(0x50));
    // The FEIG reader reports one tag, most significant byte first.
    const Reply feig = fromFeig(
        feigReply(0xB0, 0x00, QByteArray::fromHex("0103") + QByteArray(1, '\0') + kUidMsbFirst));
    QCOMPARE(feig.uids, QVector<QByteArray>{kUidMsbFirst});
    QCOMPARE(feig.tagCount, 1);
    QCOMPARE(feig.chipCode, uint8_t(0x50));
}

QTEST_APPLESS_MAIN(TstReplies)
#include "tst_replies.moc"
