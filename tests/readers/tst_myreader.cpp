#include "readers/replies.h"
#include "fakehidbackend.h"
#include "readers/myhid.h"
#include "readers/myreader.h"
#include "readers/r321frames.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simr321.h"

#include <QtTest>

namespace
{

// A link over a fake backend, wired as the window wires it on connect.
struct FakeLink {
    FakeHidBackend backend;
    myhid* hid = nullptr;
    myreader reader;

    explicit FakeLink(bool holdWrites)
    {
        backend.interfaces = {FakeHidBackend::iface("r321", 0x0505)};
        backend.setHoldWrites(holdWrites);
        hid = new myhid(&backend);
        reader.setHid(hid);
        QObject::connect(hid->writeThread(), &writeThreadEP1::hidDevSend, &reader,
                         &myreader::in_hidDevSend_Myreader);
        hid->Connect();
    }
    ~FakeLink()
    {
        backend.setHoldWrites(false);
        delete hid;
    }
};

QByteArray frameOf(int size)
{
    QByteArray f;
    for (int i = 0; i < size; ++i)
        f.append(char(i + 1));
    return f;
}

} // namespace

class TstMyReader : public QObject
{
    Q_OBJECT
  private slots:
    void frameOperations_matchBuilders();
    void tenBlockWrite_onePieceEndingInTwoZeros();
    void hundredBytes_secondPieceOnlyAfterHidDevSend();
    void lengthZeroOrTwo_notSent_data();
    void lengthZeroOrTwo_notSent();
    void notConnected_returnsZero();
    void fifo_twoFramesSameTick_bothReachReaderInOrder();
    void fifo_manyFrames_keepOrder();
    void fifo_full_refusesWithoutDropping();
    void linkLost_dropsQueue();
    void reconnect_staleFrameDoesNotBlock();
    void fifo_hungReader_linkReportedNotConnected();
};

void TstMyReader::frameOperations_matchBuilders()
{
    myreader reader;
    const QByteArray uid = QByteArray::fromHex("01020304055002E0");
    QCOMPARE(reader.Cmd_Inventory(), QByteArray::fromHex("0C7E5509000001001100007DFB"));
    QCOMPARE(reader.Cmd_Init(), r321::Cmd_Init());
    QCOMPARE(reader.Cmd_ReadBlocks(uid, 32, 12), r321::Cmd_ReadBlocks(uid, 32, 12));
    QCOMPARE(reader.Cmd_WriteBlocks(uid, 64, QByteArray(40, 'x'), 10),
             r321::Cmd_WriteBlocks(uid, 64, QByteArray(40, 'x'), 10));
    QCOMPARE(reader.Cmd_Raw(QByteArray(8, '\0'), 8), r321::Cmd_Raw(QByteArray(8, '\0'), 8));
    QCOMPARE(reader.Cmd_Transparent(uid, 0xB3, QByteArray(9, '\0'), 9),
             r321::Cmd_Transparent(uid, 0xB3, QByteArray(9, '\0'), 9));
    QCOMPARE(reader.Cmd_F5(), r321::Cmd_F5());
    QCOMPARE(reader.Cmd_04(), r321::Cmd_04());
    QCOMPARE(reader.nextPiece(), 1);
}

void TstMyReader::tenBlockWrite_onePieceEndingInTwoZeros()
{
    FakeLink link(false);
    const QByteArray frame =
        link.reader.Cmd_WriteBlocks(QByteArray(8, '\x11'), 64, frameOf(40), 10);
    QCOMPARE(frame.size(), 62);
    QCOMPARE(int(link.reader.Send_Frame(frame)), 1);
    QTRY_VERIFY(!link.reader.isBusy());
    QCOMPARE(link.backend.written().size(), 1);
    const QByteArray report = link.backend.written().first();
    QCOMPARE(report.size(), 65);
    QCOMPARE(report.mid(1, 62), frame);
    QCOMPARE(report.mid(63), QByteArray(2, '\0'));
    QCOMPARE(link.reader.nextPiece(), 1);
}

void TstMyReader::hundredBytes_secondPieceOnlyAfterHidDevSend()
{
    FakeLink link(true);
    QSignalSpy sent(link.hid->writeThread(), &writeThreadEP1::hidDevSend);
    const QByteArray frame = frameOf(100);
    QCOMPARE(int(link.reader.Send_Frame(frame)), 1);
    QTRY_COMPARE(link.backend.written().size(), 1);
    QCOMPARE(link.reader.piecesLeft(), 2);
    QTest::qWait(50);
    QCOMPARE(link.backend.written().size(), 1);
    QCOMPARE(sent.count(), 0);

    link.backend.releaseOne();
    QTRY_COMPARE(link.backend.written().size(), 2);
    QCOMPARE(sent.count(), 1);
    QCOMPARE(link.reader.nextPiece(), 2);
    QCOMPARE(link.backend.written().at(0).mid(1), frame.left(64));
    QCOMPARE(link.backend.written().at(1).mid(1), frame.mid(64) + QByteArray(28, '\0'));

    link.backend.releaseOne();
    QTRY_COMPARE(sent.count(), 2);
    QTRY_COMPARE(link.reader.nextPiece(), 1);
    QVERIFY(!link.reader.isBusy());
    QCOMPARE(link.backend.written().size(), 2);
    QCOMPARE(int(link.hid->Is_Connected()), 1);
}

void TstMyReader::lengthZeroOrTwo_notSent_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("result");
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("2") << 2 << 0;
    QTest::newRow("3") << 3 << 1;
}

void TstMyReader::lengthZeroOrTwo_notSent()
{
    QFETCH(int, size);
    QFETCH(int, result);
    FakeLink link(false);
    QCOMPARE(int(link.reader.Send_Frame(frameOf(size))), result);
    QTRY_COMPARE(link.backend.written().size(), result);
}

void TstMyReader::notConnected_returnsZero()
{
    myreader orphan;
    QCOMPARE(int(orphan.Send_Frame(r321::Cmd_Inventory())), 0);

    FakeHidBackend backend; // no R321 listed
    myhid hid(&backend);
    myreader reader(&hid);
    hid.Connect();
    QCOMPARE(int(reader.Send_Frame(r321::Cmd_Inventory())), 0);
    QVERIFY(!reader.isBusy());
}

void TstMyReader::fifo_twoFramesSameTick_bothReachReaderInOrder()
{
    ReaderField field;
    field.layTag(std::make_shared<VirtualTag>());
    SimR321 sim(&field);
    myhid hid(&sim);
    myreader reader(&hid);
    connect(hid.writeThread(), &writeThreadEP1::hidDevSend, &reader,
            &myreader::in_hidDevSend_Myreader);
    QSignalSpy received(hid.readThread(), &readThreadEP1::hidDevReceive);
    hid.Connect();

    // The sequence step and the beeper step of one tick.
    QCOMPARE(int(reader.Send_Frame(reader.Cmd_Inventory())), 1);
    QCOMPARE(int(reader.Send_Frame(reader.Cmd_Raw(QByteArray::fromHex("0001000000000000"), 8))), 1);
    QTRY_COMPARE(received.count(), 2);
    QCOMPARE(replies::decodeR321(received.at(0).first().toByteArray()).command, uint8_t(0x11));
    QCOMPARE(replies::decodeR321(received.at(1).first().toByteArray()).command, uint8_t(0xE9));
    const auto log = field.commandLog();
    QCOMPARE(log.size(), 2);
    QCOMPARE(log.at(0).command, 0x11);
    QCOMPARE(log.at(1).command, 0xE9);
    QCOMPARE(int(hid.Is_Connected()), 1);
    QVERIFY(sim.beeperOn());
}

void TstMyReader::fifo_manyFrames_keepOrder()
{
    FakeLink link(true);
    QVector<QByteArray> frames;
    for (int i = 0; i < 6; ++i)
        frames << r321::Cmd_ReadBlocks(QByteArray(8, char(i)), uint8_t(i), 1);
    frames << frameOf(70); // two pieces in the middle of the queue
    frames << r321::Cmd_Inventory();
    for (const QByteArray& f : frames)
        QCOMPARE(int(link.reader.Send_Frame(f)), 1);
    QCOMPARE(link.reader.queuedFrames(), frames.size() - 1);
    link.backend.setHoldWrites(false);
    QTRY_VERIFY(!link.reader.isBusy());
    QVector<QByteArray> expected;
    for (const QByteArray& f : frames) {
        const QByteArray padded = r321::fitted(f, ((f.size() + 63) / 64) * 64);
        for (int i = 0; i < padded.size(); i += 64)
            expected << QByteArray(1, '\0') + padded.mid(i, 64);
    }
    QCOMPARE(link.backend.written(), expected);
    QCOMPARE(int(link.hid->Is_Connected()), 1);
}

void TstMyReader::fifo_full_refusesWithoutDropping()
{
    FakeLink link(true);
    QCOMPARE(int(link.reader.Send_Frame(frameOf(10))), 1);
    for (int i = 0; i < myreader::MaxQueuedFrames; ++i)
        QCOMPARE(int(link.reader.Send_Frame(frameOf(11 + i))), 1);
    QCOMPARE(int(link.reader.Send_Frame(frameOf(40))), 0);
    QCOMPARE(link.reader.queuedFrames(), myreader::MaxQueuedFrames);
    link.backend.setHoldWrites(false);
    QTRY_COMPARE(link.backend.written().size(), 1 + myreader::MaxQueuedFrames);
    QTRY_VERIFY(!link.reader.isBusy());
}

void TstMyReader::linkLost_dropsQueue()
{
    FakeLink link(true);
    QCOMPARE(int(link.reader.Send_Frame(frameOf(10))), 1);
    QCOMPARE(int(link.reader.Send_Frame(frameOf(11))), 1);
    link.hid->Close_Device();
    QCOMPARE(int(link.reader.Send_Frame(frameOf(12))), 0);
    QCOMPARE(link.reader.queuedFrames(), 0);
    QVERIFY(!link.reader.isBusy());
}

void TstMyReader::reconnect_staleFrameDoesNotBlock()
{
    FakeLink link(true);
    QCOMPARE(int(link.reader.Send_Frame(frameOf(10))), 1);
    QTRY_COMPARE(link.backend.written().size(), 1);
    // The held write dies with the connection; the next connection starts afresh.
    link.hid->Close_Device();
    link.backend.setHoldWrites(false);
    link.hid->Connect();
    QCOMPARE(int(link.hid->Is_Connected()), 1);
    QCOMPARE(int(link.reader.Send_Frame(frameOf(20))), 1);
    QCOMPARE(link.reader.queuedFrames(), 0);
    QTRY_COMPARE(link.backend.written().size(), 2);
    QCOMPARE(link.backend.written().last().mid(1, 20), frameOf(20));
}

void TstMyReader::fifo_hungReader_linkReportedNotConnected()
{
    ReaderField field;
    SimR321 sim(&field);
    myhid hid(&sim);
    myreader reader(&hid);
    connect(hid.writeThread(), &writeThreadEP1::hidDevSend, &reader,
            &myreader::in_hidDevSend_Myreader);
    hid.Connect();
    field.setHung(SimReaderKind::R321, true);
    QCOMPARE(int(reader.Send_Frame(reader.Cmd_Inventory())), 1);
    QCOMPARE(int(reader.Send_Frame(reader.Cmd_Inventory())), 1);
    QTRY_COMPARE_WITH_TIMEOUT(int(hid.Is_Connected()), 0, 2000);
    QCOMPARE(int(reader.Send_Frame(reader.Cmd_Inventory())), 0);
    QCOMPARE(reader.queuedFrames(), 0);
}

QTEST_GUILESS_MAIN(TstMyReader)
#include "tst_myreader.moc"
