// The pure rules of the write side: bank pieces, the FEIG block order, password bytes,
// and the auto-write bookkeeping of handled tags.
#include "engine/autoscan.h"
#include "engine/crc32.h"
#include "engine/verifyplan.h"
#include "engine/writeplan.h"
#include "readers/myfeigusb.h"

#include <QtTest>

using writeplan::Piece;

class TstWritePlan : public QObject
{
    Q_OBJECT
  private slots:
    void crc32_asZlib_data();
    void crc32_asZlib();
    void readPieces_readChunksHoldingWrittenBlocks_data();
    void readPieces_readChunksHoldingWrittenBlocks();
    void compare_firstDifferentBlock_countersLeftOut_data();
    void compare_firstDifferentBlock_countersLeftOut();
    void fourBlockPieces_data();
    void fourBlockPieces();
    void bankPiece_data();
    void bankPiece();
    void bankPieces_coverTheBankOnce();
    void bankPieces_leaveCountersOut_data();
    void bankPieces_leaveCountersOut();
    void reverseEachBlock_data();
    void reverseEachBlock();
    void passwordBytes_data();
    void passwordBytes();
    void passwordParameters_numberThenEightBytes();
    void uidValue_data();
    void uidValue();
    void differ_data();
    void differ();
    void handledTags_prunedToInventory_firstPending();
    void handledTags_nextPending_skipsHandled();
    void handledTags_ignoresEmptyAndZero();
};

void TstWritePlan::bankPiece_data()
{
    QTest::addColumn<int>("bank");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("byteOffset");
    QTest::addColumn<int>("count");
    QTest::newRow("64/1") << 64 << 10 << 1 << true << 64 << 0 << 10;
    QTest::newRow("64/2") << 64 << 10 << 2 << true << 74 << 40 << 10;
    QTest::newRow("64/3") << 64 << 10 << 3 << true << 84 << 80 << 10;
    QTest::newRow("64/4") << 64 << 10 << 4 << true << 94 << 120 << 2;
    QTest::newRow("96/4") << 96 << 10 << 4 << true << 126 << 120 << 2;
    QTest::newRow("0/2") << 0 << 10 << 2 << true << 10 << 40 << 10;
    QTest::newRow("other offset") << 32 << 6 << 3 << true << 44 << 48 << 6;
    QTest::newRow("block wraps at 8 bits") << 250 << 10 << 2 << true << 4 << 40 << 10;
    QTest::newRow("step 0") << 64 << 10 << 0 << false << 0 << 0 << 0;
    QTest::newRow("step 5") << 64 << 10 << 5 << false << 0 << 0 << 0;
}

void TstWritePlan::bankPiece()
{
    QFETCH(int, bank);
    QFETCH(int, offset);
    QFETCH(int, step);
    QFETCH(bool, exists);
    QFETCH(int, first);
    QFETCH(int, byteOffset);
    QFETCH(int, count);
    const auto piece = writeplan::bankPiece(uint8_t(bank), uint8_t(offset), uint8_t(step));
    QCOMPARE(piece.has_value(), exists);
    if (exists)
        QCOMPARE(*piece, (Piece{uint8_t(first), byteOffset, uint8_t(count)}));
}

void TstWritePlan::bankPieces_coverTheBankOnce()
{
    // The four pieces of a bank write every one of its 128 bytes exactly once.
    QVector<int> covered(writeplan::kBankBytes, 0);
    for (uint8_t step = 1; step <= 4; ++step) {
        const auto piece = writeplan::bankPiece(32, writeplan::kPieceBlocks, step);
        QVERIFY(piece);
        QCOMPARE(piece->byteOffset, (piece->firstBlock - 32) * 4);
        for (int i = 0; i < piece->count * 4; ++i)
            ++covered[piece->byteOffset + i];
    }
    QCOMPARE(covered, QVector<int>(writeplan::kBankBytes, 1));
    QCOMPARE(writeplan::bankBytesUsed(writeplan::kPieceBlocks), writeplan::kBankBytes);
}

void TstWritePlan::bankPieces_leaveCountersOut_data()
{
    QTest::addColumn<int>("bank");
    QTest::addColumn<int>("layout");
    QTest::addColumn<QString>("pieces");
    QTest::newRow("layout 2, bank 64") << 64 << 2 << "64+10 74+9 85+10 95+1";
    QTest::newRow("layout 2, bank 96") << 96 << 2 << "96+10 106+10 116+10 126+2";
    QTest::newRow("legacy, bank 64") << 64 << 3 << "64+10 74+10 84+10 94+2";
    QTest::newRow("legacy, bank 96") << 96 << 3 << "96+10 106+6 114+10 124+4";
    QTest::newRow("layout 0 is legacy") << 96 << 0 << "96+10 106+6 114+10 124+4";
    QTest::newRow("product bank") << 32 << 2 << "32+10 42+10 52+10 62+2";
}

void TstWritePlan::bankPieces_leaveCountersOut()
{
    QFETCH(int, bank);
    QFETCH(int, layout);
    QFETCH(QString, pieces);
    const auto plan = writeplan::bankPieces(uint8_t(bank), 10, writeplan::counterBlocks(layout));
    QStringList got;
    for (const Piece& p : plan) {
        got << QStringLiteral("%1+%2").arg(p.firstBlock).arg(p.count);
        QCOMPARE(p.byteOffset, (p.firstBlock - bank) * 4);
    }
    QCOMPARE(got.join(QLatin1Char(' ')), pieces);
    QCOMPARE(writeplan::bytesUsed(plan), writeplan::kBankBytes);
    // Counters at the edge of a bank: still four commands, none longer than 10 blocks.
    const auto edge = writeplan::bankPieces(64, 10, {64, 2});
    QCOMPARE(edge.size(), size_t(4));
    QCOMPARE(edge.front(), (Piece{66, 8, 5}));
}

void TstWritePlan::reverseEachBlock_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("one block") << QByteArray::fromHex("01020304")
                               << QByteArray::fromHex("04030201");
    QTest::newRow("two blocks") << QByteArray::fromHex("0102030405060708")
                                << QByteArray::fromHex("0403020108070605");
    QTest::newRow("short tail") << QByteArray::fromHex("010203040506")
                                << QByteArray::fromHex("040302010605");
}

void TstWritePlan::reverseEachBlock()
{
    QFETCH(QByteArray, in);
    QFETCH(QByteArray, out);
    QCOMPARE(feigframe::reverseEachBlock(in), out);
}

void TstWritePlan::passwordBytes_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("fixed") << writeplan::fixedPasswordHex()
                           << QByteArray::fromHex("7130458269154038");
    QTest::newRow("factory") << writeplan::factoryPasswordHex() << QByteArray(8, '\0');
    QTest::newRow("short text is zero-filled")
        << QStringLiteral("7130") << QByteArray::fromHex("7130000000000000");
    QTest::newRow("long text is cut")
        << QStringLiteral("112233445566778899") << QByteArray::fromHex("1122334455667788");
    QTest::newRow("empty") << QString() << QByteArray(8, '\0');
}

void TstWritePlan::passwordBytes()
{
    QFETCH(QString, hex);
    QFETCH(QByteArray, bytes);
    QCOMPARE(writeplan::passwordBytes(hex), bytes);
}

void TstWritePlan::passwordParameters_numberThenEightBytes()
{
    QCOMPARE(writeplan::passwordParameters(1, QByteArray::fromHex("7130458269154038")),
             QByteArray::fromHex("017130458269154038"));
    QCOMPARE(writeplan::passwordParameters(0, QByteArray::fromHex("AA")),
             QByteArray::fromHex("00AA00000000000000"));
    QCOMPARE(writeplan::passwordParameters(0, QByteArray(12, '\x11')).size(), 9);
}

void TstWritePlan::uidValue_data()
{
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<bool>("nonzero");
    QTest::newRow("zero") << QByteArray(8, '\0') << false;
    QTest::newRow("last byte") << QByteArray::fromHex("0000000000000001") << true;
    QTest::newRow("first byte") << QByteArray::fromHex("E000000000000000") << true;
}

void TstWritePlan::uidValue()
{
    QFETCH(QByteArray, id);
    QFETCH(bool, nonzero);
    QCOMPARE(autoscan::anyNonZero(reinterpret_cast<const uint8_t*>(id.constData()), 8), nonzero);
    QCOMPARE(autoscan::anyNonZero(nullptr, 8), false);
}

void TstWritePlan::differ_data()
{
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("differs");
    const QByteArray x = QByteArray::fromHex("0102030405060708");
    QTest::newRow("equal") << x << x << 8 << false;
    QTest::newRow("last differs") << x << QByteArray::fromHex("0102030405060709") << 8 << true;
    QTest::newRow("difference beyond size")
        << x << QByteArray::fromHex("0102030405060709") << 7 << false;
    QTest::newRow("size 0") << x << QByteArray(8, '\0') << 0 << false;
}

void TstWritePlan::differ()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(int, size);
    QFETCH(bool, differs);
    QCOMPARE(autoscan::differ(reinterpret_cast<const uint8_t*>(a.constData()),
                              reinterpret_cast<const uint8_t*>(b.constData()), size),
             differs);
}

void TstWritePlan::handledTags_prunedToInventory_firstPending()
{
    const QByteArray tagA = QByteArray::fromHex("01000000005002E0");
    const QByteArray tagB = QByteArray::fromHex("02000000005002E0");
    const QByteArray tagC = QByteArray::fromHex("03000000005002E0");
    autoscan::HandledTags handled;
    QCOMPARE(handled.takeInventory({tagA, tagB}), 0);
    handled.add(tagA);
    QCOMPARE(handled.takeInventory({tagA, tagB}), 1);
    handled.add(tagB);
    QCOMPARE(handled.takeInventory({tagA, tagB}), 2); // all handled
    QCOMPARE(handled.size(), 2);
    // B left the reader, C arrived: only C is new; A stays handled.
    QCOMPARE(handled.takeInventory({tagA, tagC}), 1);
    QVERIFY(handled.contains(tagA));
    QVERIFY(!handled.contains(tagB));
    // B laid again is new again.
    QCOMPARE(handled.takeInventory({tagB, tagA}), 0);
    handled.clear();
    QCOMPARE(handled.size(), 0);
    QCOMPARE(handled.takeInventory({}), 0);
}

void TstWritePlan::handledTags_nextPending_skipsHandled()
{
    const QVector<QByteArray> inventory = {QByteArray(8, '\1'), QByteArray(8, '\2'),
                                           QByteArray(8, '\3')};
    autoscan::HandledTags handled;
    handled.add(inventory.at(1));
    QCOMPARE(handled.nextPending(inventory, 0), 0);
    QCOMPARE(handled.nextPending(inventory, 1), 2);
    QCOMPARE(handled.nextPending(inventory, 3), 3);
    QCOMPARE(handled.nextPending(inventory, -4), 0);
}

void TstWritePlan::handledTags_ignoresEmptyAndZero()
{
    autoscan::HandledTags handled;
    handled.add(QByteArray());
    handled.add(QByteArray(8, '\0'));
    QCOMPARE(handled.size(), 0);
    handled.add(QByteArray(8, '\7'));
    handled.add(QByteArray(8, '\7'));
    QCOMPARE(handled.size(), 1);
}

void TstWritePlan::crc32_asZlib_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<uint>("crc");
    QTest::newRow("empty") << QByteArray() << 0u;
    QTest::newRow("check") << QByteArray("123456789") << 0xCBF43926u;
    QTest::newRow("zeros") << QByteArray(4, '\0') << 0x2144DF1Cu;
    QTest::newRow("fox") << QByteArray("The quick brown fox jumps over the lazy dog")
                         << 0x414FA339u;
}

void TstWritePlan::crc32_asZlib()
{
    QFETCH(QByteArray, data);
    QFETCH(uint, crc);
    QCOMPARE(crc32::ieee(data), uint32_t(crc));
    // Continued in two parts, as zlib's running value.
    QCOMPARE(crc32::ieee(data.mid(3), crc32::ieee(data.left(3))), uint32_t(crc));
}

namespace
{

using Runs = QVector<QPair<int, int>>;

verifyplan::WrittenBlocks writtenRuns(const Runs& runs)
{
    verifyplan::WrittenBlocks w;
    for (const auto& [first, count] : runs) {
        QByteArray data;
        for (int b = first; b < first + count; ++b)
            data.append(QByteArray(4, char(b)));
        w.note(uint8_t(first), data);
    }
    return w;
}

QString describe(const std::vector<verifyplan::ReadPiece>& pieces)
{
    QStringList out;
    for (const auto& p : pieces)
        out << QStringLiteral("%1+%2").arg(p.first).arg(p.count);
    return out.join(QLatin1Char(' '));
}

} // namespace

void TstWritePlan::readPieces_readChunksHoldingWrittenBlocks_data()
{
    QTest::addColumn<Runs>("runs");
    QTest::addColumn<QString>("reads");
    using R = Runs;
    QTest::newRow("drive area round the counters")
        << R{{64, 19}, {85, 43}} << "64+12 76+12 88+8 96+12 108+12 120+8";
    QTest::newRow("product area and 248")
        << R{{0, 64}, {248, 1}} << "0+12 12+12 24+8 32+12 44+12 56+8 248+1";
    QTest::newRow("one block") << R{{66, 1}} << "64+12";
    QTest::newRow("nothing") << R{} << "";
}

void TstWritePlan::readPieces_readChunksHoldingWrittenBlocks()
{
    QFETCH(Runs, runs);
    QFETCH(QString, reads);
    QCOMPARE(describe(verifyplan::readPieces(writtenRuns(runs))), reads);
}

void TstWritePlan::compare_firstDifferentBlock_countersLeftOut_data()
{
    QTest::addColumn<int>("changed"); // block altered in the read-back, -1 none
    QTest::addColumn<int>("cut");     // bytes cut off the read-back's end
    QTest::addColumn<bool>("equal");
    QTest::addColumn<int>("first");
    QTest::newRow("as sent") << -1 << 0 << true << -1;
    QTest::newRow("counter differs") << 83 << 0 << true << -1;
    QTest::newRow("block 90 differs") << 90 << 0 << false << 90;
    QTest::newRow("short read-back") << -1 << 4 << false << 95;
}

void TstWritePlan::compare_firstDifferentBlock_countersLeftOut()
{
    QFETCH(int, changed);
    QFETCH(int, cut);
    QFETCH(bool, equal);
    QFETCH(int, first);
    // Blocks 64-95 written around the counters at 83-84, read back as a Read reads them.
    const verifyplan::WrittenBlocks written = writtenRuns({{64, 19}, {85, 11}});
    const auto pieces = verifyplan::readPieces(written);
    QByteArray tag;
    for (int b = 64; b < 96; ++b)
        tag.append(QByteArray(4, char(b)));
    if (changed >= 0)
        tag[(changed - 64) * 4 + 1] = char(0xEE);
    tag.chop(cut);
    const verifyplan::Comparison c = verifyplan::compare(written, pieces, tag);
    QCOMPARE(c.equal, equal);
    QCOMPARE(c.firstDifferent, first);
    QCOMPARE(c.complete, cut == 0);
    if (c.complete) {
        // The CRC covers the written blocks in block order, the counters left out.
        QCOMPARE(c.readBack.size(), 30 * 4);
        QCOMPARE(c.crc, crc32::ieee(QByteArray(tag).remove((83 - 64) * 4, 8)));
    }
}

void TstWritePlan::fourBlockPieces_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("pieces");
    QTest::newRow("ten") << 64 << 10 << "64+4 68+4 72+2";
    QTest::newRow("nine") << 74 << 9 << "74+4 78+4 82+1";
    QTest::newRow("four") << 0 << 4 << "0+4";
    QTest::newRow("wraps at 8 bits") << 254 << 5 << "254+4 2+1";
}

void TstWritePlan::fourBlockPieces()
{
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(QString, pieces);
    QCOMPARE(describe(verifyplan::fourBlockPieces(uint8_t(first), uint8_t(count))), pieces);
}

QTEST_APPLESS_MAIN(TstWritePlan)
#include "tst_writeplan.moc"
