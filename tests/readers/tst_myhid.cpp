#include "readers/replies.h"
#include "fakehidbackend.h"
#include "readers/myhid.h"
#include "readers/r321frames.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simr321.h"

#include <QElapsedTimer>
#include <QtTest>

namespace
{

// Records replies in a slot, with the thread the slot ran on.
class Receiver : public QObject
{
    Q_OBJECT
  public:
    QVector<QByteArray> replies;
    QVector<QThread*> threads;
  public slots:
    void onReceive(QByteArray rx)
    {
        replies.append(rx);
        threads.append(QThread::currentThread());
    }
};

} // namespace

class TstMyHid : public QObject
{
    Q_OBJECT
  private slots:
    void connect_twoR321Interfaces_opensFirst();
    void connect_identicalR321Interfaces_opensFirst();
    void connect_noR321_opensNothing();
    void connect_openFailure_showsMessageAndStaysDisconnected();
    void interfaceNumber_takenFromPathWhenUnknown();
    void hidWrite_notConnected_returnsZero();
    void hidWrite_sends65ByteReportWithIdZero();
    void secondWriteBeforeCompletion_returnsZeroAndDisconnects();
    void inputReport_deliversExactly64Bytes();
    void readError_marksNotConnectedOnce();
    void hungReader_notConnectedWithinASecond();
    void unpluggedSimulator_marksNotConnected();
    void closeAndReconnect_deliversAgain();
    void endToEnd_replyReachesGuiThreadSlot();
    void destructor_stopsThreadsWithStalledWrite();
};

void TstMyHid::connect_twoR321Interfaces_opensFirst()
{
    FakeHidBackend backend;
    backend.interfaces = {FakeHidBackend::iface("kbd", 0x046D),
                          FakeHidBackend::iface("r321-a", 0x0505, 0),
                          FakeHidBackend::iface("r321-b", 0x0505, 1)};
    myhid hid(&backend);
    QSignalSpy connected(&hid, &myhid::usbConnect);
    hid.Connect();
    QCOMPARE(backend.openPath(), QString("r321-a"));
    QCOMPARE(backend.opens(), 1);
    QCOMPARE(connected.count(), 1);
    QCOMPARE(connected.first().first().toString(), QString("Connected: R321"));
    QCOMPARE(int(hid.Is_Connected()), 1);
    // The last search stopped at the interface it opened.
    QCOMPARE(hid.searchResult().size(), 2);
    QCOMPARE(hid.searchResult().last().path, QString("r321-a"));
    QCOMPARE(hid.selectedVendorId(), uint16_t(0x0505));
    QCOMPARE(hid.selectedInterface(), 0);
}

void TstMyHid::connect_identicalR321Interfaces_opensFirst()
{
    // Same vendor, product and interface number: the selection matches the first again.
    FakeHidBackend backend;
    backend.interfaces = {FakeHidBackend::iface("r321-a", 0x0505),
                          FakeHidBackend::iface("r321-b", 0x0505)};
    myhid hid(&backend);
    QSignalSpy connected(&hid, &myhid::usbConnect);
    hid.Connect();
    QCOMPARE(backend.openPath(), QString("r321-a"));
    QCOMPARE(connected.count(), 1);
}

void TstMyHid::connect_noR321_opensNothing()
{
    FakeHidBackend backend;
    backend.interfaces = {FakeHidBackend::iface("kbd", 0x046D),
                          FakeHidBackend::iface("mouse", 0x0000)};
    myhid hid(&backend);
    QSignalSpy connected(&hid, &myhid::usbConnect);
    hid.Connect();
    QCOMPARE(backend.opens(), 0);
    QCOMPARE(connected.count(), 0);
    QCOMPARE(int(hid.Is_Connected()), 0);
    QCOMPARE(hid.searchResult().size(), 2);
}

void TstMyHid::connect_openFailure_showsMessageAndStaysDisconnected()
{
    FakeHidBackend backend;
    backend.interfaces = {FakeHidBackend::iface("r321", 0x0505)};
    backend.openFails = true;
    myhid hid(&backend);
    QStringList messages;
    hid.setMessageHook([&messages](const QString& text) { messages << text; });
    QSignalSpy connected(&hid, &myhid::usbConnect);
    hid.Connect();
    QCOMPARE(messages, QStringList{"open device failure with reading"});
    QCOMPARE(connected.count(), 0);
    QCOMPARE(int(hid.Is_Connected()), 0);
    QCOMPARE(int(hid.Hid_Write(QByteArray(64, 'x'))), 0);
}

void TstMyHid::interfaceNumber_takenFromPathWhenUnknown()
{
    FakeHidBackend backend;
    backend.interfaces = {
        FakeHidBackend::iface(R"(\\?\hid#vid_0505&pid_1234&mi_01#7&1)", 0x0505, -1)};
    myhid hid(&backend);
    hid.Connect();
    QCOMPARE(hid.searchResult().first().interfaceNumber, 1);
    QCOMPARE(hid.selectedInterface(), 1);
    QCOMPARE(int(hid.Is_Connected()), 1);

    // No "&mi_": interface −1, which still matches a selection of −1.
    FakeHidBackend plain;
    plain.interfaces = {FakeHidBackend::iface("/dev/hidraw0", 0x0505, -1)};
    myhid hid2(&plain);
    hid2.Connect();
    QCOMPARE(hid2.searchResult().first().interfaceNumber, -1);
    QCOMPARE(plain.openPath(), QString("/dev/hidraw0"));
    QCOMPARE(int(hid2.Is_Connected()), 1);
}

void TstMyHid::hidWrite_notConnected_returnsZero()
{
    FakeHidBackend backend;
    backend.interfaces = {FakeHidBackend::iface("r321", 0x0505)};
    myhid hid(&backend);
    QCOMPARE(int(hid.Hid_Write(QByteArray(64, 'x'))), 0);
    QTest::qWait(20);
    QVERIFY(backend.written().isEmpty());
}

void TstMyHid::hidWrite_sends65ByteReportWithIdZero()
{
    FakeHidBackend backend;
    backend.interfaces = {FakeHidBackend::iface("r321", 0x0505)};
    myhid hid(&backend);
    hid.Connect();
    QSignalSpy sent(hid.writeThread(), &writeThreadEP1::hidDevSend);
    const QByteArray piece = r321::Cmd_Inventory();
    QCOMPARE(int(hid.Hid_Write(piece)), 1);
    QTRY_COMPARE(sent.count(), 1);
    QCOMPARE(backend.written().size(), 1);
    const QByteArray report = backend.written().first();
    QCOMPARE(report.size(), 65);
    QCOMPARE(int(report.at(0)), 0);
    QCOMPARE(report.mid(1, piece.size()), piece);
    QCOMPARE(report.mid(1 + piece.size()), QByteArray(64 - piece.size(), '\0'));
    QVERIFY(!hid.isWriteBusy());
    // Completed, so the next write is fine.
    QCOMPARE(int(hid.Hid_Write(piece)), 1);
    QTRY_COMPARE(sent.count(), 2);
    QCOMPARE(int(hid.Is_Connected()), 1);
}

void TstMyHid::secondWriteBeforeCompletion_returnsZeroAndDisconnects()
{
    FakeHidBackend backend;
    backend.interfaces = {FakeHidBackend::iface("r321", 0x0505)};
    backend.setHoldWrites(true);
    myhid hid(&backend);
    hid.Connect();
    QCOMPARE(int(hid.Hid_Write(QByteArray(64, 'a'))), 1);
    QTRY_COMPARE(backend.written().size(), 1);
    QCOMPARE(int(hid.Hid_Write(QByteArray(64, 'b'))), 0);
    QCOMPARE(int(hid.Is_Connected()), 0);
    backend.releaseOne();
    QTest::qWait(30);
    QCOMPARE(backend.written().size(), 1); // the second piece never went out
}

void TstMyHid::inputReport_deliversExactly64Bytes()
{
    FakeHidBackend backend;
    backend.interfaces = {FakeHidBackend::iface("r321", 0x0505)};
    myhid hid(&backend);
    hid.Connect();
    QSignalSpy received(hid.readThread(), &readThreadEP1::hidDevReceive);
    QByteArray report;
    for (int i = 0; i < 64; ++i)
        report.append(char(0x3F + i));
    backend.queueInput(report);
    backend.queueInput(QByteArray::fromHex("0102"));
    QTRY_COMPARE(received.count(), 2);
    const QByteArray first = received.at(0).first().toByteArray();
    QCOMPARE(first.size(), 64);
    QCOMPARE(first, report); // payload only, never the report ID
    const QByteArray second = received.at(1).first().toByteArray();
    QCOMPARE(second.size(), 64);
    QCOMPARE(second, QByteArray::fromHex("0102") + QByteArray(62, '\0'));
}

void TstMyHid::readError_marksNotConnectedOnce()
{
    FakeHidBackend backend;
    backend.interfaces = {FakeHidBackend::iface("r321", 0x0505)};
    myhid hid(&backend);
    hid.Connect();
    QSignalSpy removed(&hid, &myhid::hidDevRemoved);
    backend.fail();
    QTRY_COMPARE(int(hid.Is_Connected()), 0);
    QTRY_COMPARE(removed.count(), 1);
    QTest::qWait(150);
    QCOMPARE(removed.count(), 1);              // no spinning on the dead device
    QTRY_VERIFY(backend.openPath().isEmpty()); // inHidDevRemoved closed it
}

void TstMyHid::hungReader_notConnectedWithinASecond()
{
    ReaderField field;
    SimR321 sim(&field);
    myhid hid(&sim);
    hid.Connect();
    QCOMPARE(int(hid.Is_Connected()), 1);
    field.setHung(SimReaderKind::R321, true);
    QElapsedTimer t;
    t.start();
    QCOMPARE(int(hid.Hid_Write(r321::Cmd_Inventory())), 1);
    QTest::qWait(500);
    QCOMPARE(int(hid.Is_Connected()), 1);
    QTRY_COMPARE_WITH_TIMEOUT(int(hid.Is_Connected()), 0, 2000);
    QVERIFY2(t.elapsed() >= myhid::WriteCompletionTimeoutMs - 50,
             qPrintable(QString::number(t.elapsed())));
    QVERIFY2(t.elapsed() < myhid::WriteCompletionTimeoutMs + 700,
             qPrintable(QString::number(t.elapsed())));
}

void TstMyHid::unpluggedSimulator_marksNotConnected()
{
    ReaderField field;
    SimR321 sim(&field);
    myhid hid(&sim);
    hid.Connect();
    field.setUnplugged(SimReaderKind::R321, true);
    QTRY_COMPARE(int(hid.Is_Connected()), 0);
    QCOMPARE(int(hid.Hid_Write(r321::Cmd_Inventory())), 0);
    // Plugged back in, a new Connect works.
    field.setUnplugged(SimReaderKind::R321, false);
    QSignalSpy connected(&hid, &myhid::usbConnect);
    hid.Connect();
    QCOMPARE(connected.count(), 1);
    QCOMPARE(int(hid.Is_Connected()), 1);
}

void TstMyHid::closeAndReconnect_deliversAgain()
{
    ReaderField field;
    field.layTag(std::make_shared<VirtualTag>());
    SimR321 sim(&field);
    myhid hid(&sim);
    QSignalSpy received(hid.readThread(), &readThreadEP1::hidDevReceive);
    hid.Connect();
    hid.Close_Device();
    QCOMPARE(int(hid.Is_Connected()), 0);
    QVERIFY(!sim.isOpen());
    QCOMPARE(int(hid.Hid_Write(r321::Cmd_Inventory())), 0);
    const quint64 before = hid.connectionId();
    hid.Connect();
    QVERIFY(hid.connectionId() != before);
    QCOMPARE(int(hid.Hid_Write(r321::Cmd_Inventory())), 1);
    QTRY_COMPARE(received.count(), 1);
    QVERIFY(replies::decodeR321(received.first().first().toByteArray()).ok());
}

void TstMyHid::endToEnd_replyReachesGuiThreadSlot()
{
    ReaderField field;
    auto tag = std::make_shared<VirtualTag>(VirtualTag::Kind::Pwm, 0x42);
    field.layTag(tag);
    SimR321 sim(&field);
    myhid hid(&sim);
    Receiver receiver;
    connect(hid.readThread(), &readThreadEP1::hidDevReceive, &receiver, &Receiver::onReceive);
    hid.Connect();
    QCOMPARE(int(hid.Hid_Write(r321::Cmd_Inventory())), 1);
    QTRY_COMPARE(receiver.replies.size(), 1);
    QCOMPARE(receiver.threads.first(), QThread::currentThread());
    const QByteArray rx = receiver.replies.first();
    QCOMPARE(rx.size(), 64);
    const replies::R321Reply d = replies::decodeR321(rx);
    QCOMPARE(d.kind, replies::Kind::Inventory);
    QVERIFY(d.ok());
    QCOMPARE(replies::r321InventoryUid(rx.left(d.length + 4), 0), tag->uidLsbFirst());
    QCOMPARE(field.commandLog().size(), 1);
}

void TstMyHid::destructor_stopsThreadsWithStalledWrite()
{
    ReaderField field;
    SimR321 sim(&field);
    auto* hid = new myhid(&sim);
    hid->Connect();
    field.setHung(SimReaderKind::R321, true);
    QCOMPARE(int(hid->Hid_Write(r321::Cmd_Inventory())), 1);
    QTest::qWait(50);
    QElapsedTimer t;
    t.start();
    delete hid;
    QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
}

QTEST_GUILESS_MAIN(TstMyHid)
#include "tst_myhid.moc"
