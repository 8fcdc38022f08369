#include "readers/feigworker.h"
#include "readers/feusbapi.h"
#include "readers/feusblibrary.h"
#include "readers/myfeigusb.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/virtualtag.h"

#include <QMutex>
#include <QSemaphore>
#include <QtTest>
#include <atomic>
#include <cstring>
#include <memory>

namespace
{

// Scriptable FeusbApi: counts every call, answers "ok" plus the request by default, and
// can hold a transceive until the test releases it.
class FakeFeusb : public FeusbApi
{
  public:
    static constexpr int kEcho = 1 << 30;

    bool available() override { return true; }

    int ScanAndOpen(int iScanOpt, void* pSearchOpt) override
    {
        QMutexLocker lock(&mutex);
        ++scans;
        scanArgsOk = scanArgsOk && iScanOpt == 1 && pSearchOpt == nullptr;
        if (!plugged)
            return -1100;
        return handleBase + scans;
    }

    int SetDevicePara(int iDevHnd, char* cPara, char* cValue) override
    {
        QMutexLocker lock(&mutex);
        paraCalls.append(QStringLiteral("%1 %2=%3").arg(iDevHnd).arg(cPara, cValue));
        return 0;
    }

    int Transceive(int iDevHnd, char* cInterface, int iDir, unsigned char* cSendData, int iSendLen,
                   unsigned char* cRecData, int iRecLen) override
    {
        const int now = ++inFlight;
        int seen = maxInFlight.load();
        while (now > seen && !maxInFlight.compare_exchange_weak(seen, now)) {
        }
        if (gate)
            gate->acquire();
        QMutexLocker lock(&mutex);
        --inFlight;
        handlesUsed.append(iDevHnd);
        argsOk = argsOk && std::strcmp(cInterface, "OBID-RCI2") == 0 && iDir == 0 &&
                 iRecLen == writeThreadFEIG1::kBufferSize;
        const QByteArray request(reinterpret_cast<const char*>(cSendData), iSendLen);
        requests.append(request);
        const int result = results.isEmpty() ? kEcho : results.takeFirst();
        if (result != kEcho)
            return result;
        const QByteArray reply = QByteArray("ok:") + request;
        const int n = std::min<int>(reply.size(), iRecLen);
        std::memcpy(cRecData, reply.constData(), size_t(n));
        return n;
    }

    int CloseDevice(int iDevHnd) override
    {
        QMutexLocker lock(&mutex);
        closed.append(iDevHnd);
        return 0;
    }

    int scanCount()
    {
        QMutexLocker lock(&mutex);
        return scans;
    }
    QList<QByteArray> sentRequests()
    {
        QMutexLocker lock(&mutex);
        return requests;
    }
    QList<int> closedHandles()
    {
        QMutexLocker lock(&mutex);
        return closed;
    }

    QMutex mutex;
    bool plugged = true;
    int handleBase = 0x10000000;
    int scans = 0;
    bool scanArgsOk = true;
    bool argsOk = true;
    QStringList paraCalls;
    QList<int> results;
    QList<int> handlesUsed;
    QList<QByteArray> requests;
    QList<int> closed;
    QSemaphore* gate = nullptr;
    std::atomic<int> inFlight{0};
    std::atomic<int> maxInFlight{0};
};

// Collects replies on the thread it lives on (the test's main thread), as the window does.
class Receiver : public QObject
{
    Q_OBJECT
  public:
    QList<QByteArray> replies;
    bool allOnOwnThread = true;
  public slots:
    void onReply(QByteArray rx)
    {
        allOnOwnThread = allOnOwnThread && QThread::currentThread() == thread();
        replies.append(rx);
    }
};

QByteArray request(int i)
{
    return MyFeigUsb().Feig_ReadBlocks(QByteArray(8, char(i)), uint8_t(i), 1);
}

} // namespace

class TstFeigWorker : public QObject
{
    Q_OBJECT
  private slots:
    void negativeTransceive_emitsEmptyReply();
    void zeroTransceive_emitsNothing();
    void oversizedCount_isClippedToBuffer();
    void twoSendsInARow_bothAnsweredInOrder();
    void hundredRequests_openOnce();
    void connectStepOpen_isReusedByRequests();
    void deviceError_nextRequestReopens();
    void unpluggedReader_noReplyAndDisconnected();
    void closeForms_closeOnlyFeusbHandles();
    void badLength_isRefused();
    void destructor_stopsIdleAndBusyWorker();
    void missingLibrary_openReturnsZero();
    void libraryWithoutSymbol_isNoReader();
    void realLoader_callsThroughLoadedLibrary();
    void realLoader_findsLibraryNextToProgram();
    void errorText_namesTheCode();
    void endToEnd_simulatedReader_repliesOnGuiThread();
    void endToEnd_unpluggedSimulatedReader_reopens();
};

void TstFeigWorker::negativeTransceive_emitsEmptyReply()
{
    FakeFeusb api;
    api.results = {-1130, -1130}; // the one retry on a new handle fails as well
    writeThreadFEIG1 link(&api);
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);
    link.Feig_Send(request(1), request(1).size());
    QTRY_COMPARE(rx.replies.size(), 1);
    QVERIFY(rx.replies.first().isEmpty());
}

void TstFeigWorker::zeroTransceive_emitsNothing()
{
    FakeFeusb api;
    api.results = {0};
    writeThreadFEIG1 link(&api);
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);
    link.Feig_Send(request(1), request(1).size());
    link.Feig_Send(request(2), request(2).size());
    // The second reply arriving proves the first run has ended without a signal.
    QTRY_COMPARE(api.sentRequests().size(), 2);
    QTRY_COMPARE(rx.replies.size(), 1);
    QCOMPARE(rx.replies.first(), QByteArray("ok:") + request(2));
    QTest::qWait(20);
    QCOMPARE(rx.replies.size(), 1);
}

void TstFeigWorker::oversizedCount_isClippedToBuffer()
{
    FakeFeusb api;
    api.results = {1000};
    writeThreadFEIG1 link(&api);
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);
    link.Feig_Send(request(1), request(1).size());
    QTRY_COMPARE(rx.replies.size(), 1);
    QCOMPARE(rx.replies.first().size(), writeThreadFEIG1::kBufferSize);
}

void TstFeigWorker::twoSendsInARow_bothAnsweredInOrder()
{
    FakeFeusb api;
    QSemaphore gate;
    api.gate = &gate;
    writeThreadFEIG1 link(&api);
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);
    const QByteArray first = MyFeigUsb().Feig_Inventory();
    const QByteArray second = MyFeigUsb().Feig_SetOutput(1);
    link.Feig_Send(first, first.size());
    // The first request is now held inside the transceive while the second is handed over.
    QTRY_COMPARE(api.inFlight.load(), 1);
    link.Feig_Send(second, second.size());
    gate.release(2);
    QTRY_COMPARE(rx.replies.size(), 2);
    QCOMPARE(rx.replies.at(0), QByteArray("ok:") + first);
    QCOMPARE(rx.replies.at(1), QByteArray("ok:") + second);
    QCOMPARE(api.maxInFlight.load(), 1);
    QVERIFY(rx.allOnOwnThread);
}

void TstFeigWorker::hundredRequests_openOnce()
{
    FakeFeusb api;
    writeThreadFEIG1 link(&api);
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);
    for (int i = 0; i < 100; ++i)
        link.Feig_Send(request(i), request(i).size());
    QTRY_COMPARE(rx.replies.size(), 100);
    for (int i = 0; i < 100; ++i)
        QCOMPARE(rx.replies.at(i), QByteArray("ok:") + request(i));
    QCOMPARE(api.scanCount(), 1);
    QVERIFY(api.scanArgsOk);
    QVERIFY(api.argsOk);
    QCOMPARE(api.paraCalls, QStringList{QStringLiteral("268435457 TIMEOUT=5000")});
    QCOMPARE(QSet<int>(api.handlesUsed.begin(), api.handlesUsed.end()), QSet<int>{0x10000001});
    QCOMPARE(api.maxInFlight.load(), 1);
    QCOMPARE(link.Feig_IsConnected(), uint8_t(1));
}

void TstFeigWorker::connectStepOpen_isReusedByRequests()
{
    FakeFeusb api;
    writeThreadFEIG1 link(&api);
    QCOMPARE(link.Feig_IsConnected(), uint8_t(0));
    QCOMPARE(link.Feig_Open(), 0x10000001);
    QCOMPARE(link.Feig_IsConnected(), uint8_t(1));
    QCOMPARE(link.Feig_Open(), 0x10000001);
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);
    link.Feig_Send(request(3), request(3).size());
    QTRY_COMPARE(rx.replies.size(), 1);
    QCOMPARE(api.scanCount(), 1);
}

void TstFeigWorker::deviceError_nextRequestReopens()
{
    FakeFeusb api;
    api.results = {-1150, -1150, -1150};
    writeThreadFEIG1 link(&api);
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);
    link.Feig_Send(request(1), request(1).size());
    QTRY_COMPARE(rx.replies.size(), 1);
    QVERIFY(rx.replies.at(0).isEmpty()); // failed on the handle and on its one replacement
    QTRY_COMPARE(api.closedHandles(), (QList<int>{0x10000001, 0x10000002}));
    // The link will reopen by itself, so it still counts as connected.
    QCOMPARE(link.Feig_IsConnected(), uint8_t(1));
    // A dead handle is replaced and the request sent again at once.
    link.Feig_Send(request(2), request(2).size());
    QTRY_COMPARE(rx.replies.size(), 2);
    QCOMPARE(rx.replies.at(1), QByteArray("ok:") + request(2));
    QCOMPARE(api.scanCount(), 4);
    QCOMPARE(api.handlesUsed, (QList<int>{0x10000001, 0x10000002, 0x10000003, 0x10000004}));
    QCOMPARE(api.paraCalls.size(), 4);
}

void TstFeigWorker::unpluggedReader_noReplyAndDisconnected()
{
    FakeFeusb api;
    writeThreadFEIG1 link(&api);
    QVERIFY(link.Feig_Open() > 0);
    api.results = {-1150};
    {
        QMutexLocker lock(&api.mutex);
        api.plugged = false;
    }
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);
    link.Feig_Send(request(1), request(1).size()); // fails on the dead handle
    QTRY_COMPARE(rx.replies.size(), 1);
    link.Feig_Send(request(2), request(2).size()); // the reopen finds no reader
    QTRY_COMPARE(link.Feig_IsConnected(), uint8_t(0));
    QTest::qWait(20);
    QCOMPARE(rx.replies.size(), 1);
    QCOMPARE(api.sentRequests().size(), 1);
    QCOMPARE(link.Feig_Open(), 0);
    {
        QMutexLocker lock(&api.mutex);
        api.plugged = true;
    }
    link.Feig_Send(request(3), request(3).size());
    QTRY_COMPARE(rx.replies.size(), 2);
    QCOMPARE(link.Feig_IsConnected(), uint8_t(1));
}

void TstFeigWorker::closeForms_closeOnlyFeusbHandles()
{
    FakeFeusb api;
    {
        writeThreadFEIG1 link(&api);
        QCOMPARE(link.Feig_Open(), 0x10000001);
        link.Feig_Close();
        QCOMPARE(api.closedHandles(), QList<int>{0x10000001});
        link.Feig_Close(); // already closed: nothing more
        QCOMPARE(api.closedHandles().size(), 1);
        QCOMPARE(link.Feig_Open(), 0x10000002);
        link.Feig_CloseQuiet();
        QCOMPARE(api.closedHandles(), (QList<int>{0x10000001, 0x10000002}));
    }
    FakeFeusb plain;
    plain.handleBase = 0;
    {
        writeThreadFEIG1 link(&plain);
        QCOMPARE(link.Feig_Open(), 1);
        link.Feig_Close();
        QVERIFY(plain.closedHandles().isEmpty());
        // The handle is forgotten all the same, so the next open scans again.
        QCOMPARE(link.Feig_Open(), 2);
    }
    QVERIFY(plain.closedHandles().isEmpty());
}

void TstFeigWorker::badLength_isRefused()
{
    FakeFeusb api;
    writeThreadFEIG1 link(&api);
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);
    const QByteArray frame = request(1);
    link.Feig_Send(frame, 0);
    link.Feig_Send(frame, -3);
    link.Feig_Send(frame, frame.size() + 1);
    link.Feig_Send(QByteArray(writeThreadFEIG1::kBufferSize + 1, 'x'),
                   writeThreadFEIG1::kBufferSize + 1);
    link.Feig_Send(frame, 5); // only the first five bytes go out
    QTRY_COMPARE(rx.replies.size(), 1);
    QCOMPARE(api.sentRequests(), QList<QByteArray>{frame.left(5)});
}

void TstFeigWorker::destructor_stopsIdleAndBusyWorker()
{
    FakeFeusb api;
    {
        auto link = std::make_unique<writeThreadFEIG1>(&api);
        link->Feig_Send(request(1), request(1).size());
        QTRY_COMPARE(api.sentRequests().size(), 1);
        QVERIFY(link->isRunning());
        link.reset(); // idle worker waiting for work
    }
    QCOMPARE(api.closedHandles(), QList<int>{0x10000001});

    FakeFeusb busy;
    QSemaphore gate;
    busy.gate = &gate;
    auto link = std::make_unique<writeThreadFEIG1>(&busy);
    for (int i = 0; i < 5; ++i)
        link->Feig_Send(request(i), request(i).size());
    QTRY_COMPARE(busy.inFlight.load(), 1);
    gate.release(100);
    link.reset();
    // The request in flight finished; queued ones were not started after the stop.
    QVERIFY(busy.sentRequests().size() >= 1);
    QCOMPARE(busy.closedHandles().size(), 1);
}

void TstFeigWorker::missingLibrary_openReturnsZero()
{
    FeusbLibrary library(QStringLiteral("vantory-no-such-feusb-library"));
    QVERIFY(!library.available());
    QVERIFY(!library.errorString().isEmpty());
    QCOMPARE(library.ScanAndOpen(1, nullptr), FeusbLibrary::kNotLoaded);
    unsigned char buffer[4] = {};
    char iface[] = "OBID-RCI2";
    QCOMPARE(library.Transceive(1, iface, 0, buffer, 4, buffer, 4), FeusbLibrary::kNotLoaded);
    QCOMPARE(library.CloseDevice(1), FeusbLibrary::kNotLoaded);

    writeThreadFEIG1 link(&library);
    QCOMPARE(link.Feig_Open(), 0);
    QCOMPARE(link.Feig_IsConnected(), uint8_t(0));
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);
    link.Feig_Send(request(1), request(1).size());
    QTest::qWait(50);
    QVERIFY(rx.replies.isEmpty());
    QCOMPARE(link.Feig_IsConnected(), uint8_t(0));
}

void TstFeigWorker::libraryWithoutSymbol_isNoReader()
{
    FeusbLibrary library(QStringLiteral(FAKE_FEUSB_NO_CLOSE_PATH));
    QVERIFY(!library.available());
    QVERIFY2(library.errorString().contains(QLatin1String("FEUSB_CloseDevice")),
             qPrintable(library.errorString()));
    QCOMPARE(library.ScanAndOpen(1, nullptr), FeusbLibrary::kNotLoaded);
    writeThreadFEIG1 link(&library);
    QCOMPARE(link.Feig_Open(), 0);
}

void TstFeigWorker::realLoader_callsThroughLoadedLibrary()
{
    FeusbLibrary library(QStringLiteral(FAKE_FEUSB_PATH));
    QVERIFY2(library.available(), qPrintable(library.errorString()));
    QVERIFY(library.errorString().isEmpty());
    writeThreadFEIG1 link(&library);
    QCOMPARE(link.Feig_Open(), 0x10000007);
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);
    const QByteArray frame = MyFeigUsb().Feig_SetOutput(1);
    link.Feig_Send(frame, frame.size());
    QTRY_COMPARE(rx.replies.size(), 1);
    // Command echoed, the TIMEOUT of 5000 reached the library, and the request length.
    QCOMPARE(rx.replies.first(), QByteArray::fromHex("02000A0072001388000D"));
}

void TstFeigWorker::realLoader_findsLibraryNextToProgram()
{
    // A library dropped beside the program is found by its bare name, as on Windows.
    const QString name = QStringLiteral("vantorynextfeusb");
    const QString beside =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("lib%1.so").arg(name));
    QFile::remove(beside);
    {
        FeusbLibrary absent(name);
        QVERIFY(!absent.available());
    }
    QVERIFY(QFile::copy(QStringLiteral(FAKE_FEUSB_PATH), beside));
    FeusbLibrary library(name);
    const bool found = library.available();
    QFile::remove(beside);
    QVERIFY2(found, qPrintable(library.errorString()));
    QCOMPARE(library.ScanAndOpen(1, nullptr), 0x10000007);
}

void TstFeigWorker::errorText_namesTheCode()
{
    QVERIFY(FeusbLibrary::errorText(-1130).contains(QLatin1String("-1130")));
    QVERIFY(FeusbLibrary::errorText(-1100).contains(QLatin1String("FEUSB error")));
    QVERIFY(FeusbLibrary::errorText(-1180).contains(QLatin1String("FEUSB error")));
    QVERIFY(!FeusbLibrary::errorText(-1181).contains(QLatin1String("FEUSB error")));
    QVERIFY(!FeusbLibrary::errorText(-1099).contains(QLatin1String("FEUSB error")));
    QVERIFY(
        FeusbLibrary::errorText(FeusbLibrary::kNotLoaded).contains(QLatin1String("not loaded")));
}

void TstFeigWorker::endToEnd_simulatedReader_repliesOnGuiThread()
{
    ReaderField field;
    auto tag = std::make_shared<VirtualTag>(VirtualTag::Kind::P, 0x42);
    QVERIFY(tag->setBlock(5, QByteArray::fromHex("A1B2C3D4")));
    field.layTag(tag);
    SimFeig sim(&field);
    writeThreadFEIG1 link(&sim);
    MyFeigUsb frames;
    QVERIFY(link.Feig_Open() > 0);
    QCOMPARE(sim.timeoutMs(), 5000);
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);

    const QByteArray requests[] = {
        frames.Feig_Inventory(),
        frames.Feig_ReadBlocks(tag->uidMsbFirst(), 4, 2),
        frames.Feig_WriteBlocks(tag->uidMsbFirst(), 6, 1, QByteArray::fromHex("01020304"), 4),
        frames.Feig_SetOutput(1),
    };
    for (const QByteArray& r : requests)
        link.Feig_Send(r, r.size());
    QTRY_COMPARE(rx.replies.size(), 4);
    QVERIFY(rx.allOnOwnThread);
    QCOMPARE(rx.replies.at(0).mid(9, 8), tag->uidMsbFirst());
    QCOMPARE(rx.replies.at(1).mid(6, 12), QByteArray::fromHex("0204 0000000000 00D4C3B2A1"));
    QCOMPARE(rx.replies.at(2), QByteArray::fromHex("02000800B00090DF"));
    QCOMPARE(rx.replies.at(3).mid(4, 2), QByteArray::fromHex("7200"));
    // The reader carries each block's bytes reversed, both ways.
    QCOMPARE(tag->block(6), QByteArray::fromHex("04030201"));
    QVERIFY(sim.outputOn());
    QCOMPARE(sim.openCount(), 1);
    QCOMPARE(field.commandLog().size(), 4);
}

void TstFeigWorker::endToEnd_unpluggedSimulatedReader_reopens()
{
    ReaderField field;
    field.layTag(std::make_shared<VirtualTag>());
    SimFeig sim(&field);
    writeThreadFEIG1 link(&sim);
    Receiver rx;
    connect(&link, &writeThreadFEIG1::FeigDevReceive, &rx, &Receiver::onReply);
    const QByteArray inventory = MyFeigUsb().Feig_Inventory();
    link.Feig_Send(inventory, inventory.size());
    QTRY_COMPARE(rx.replies.size(), 1);
    QCOMPARE(link.Feig_IsConnected(), uint8_t(1));

    // Unplugged and plugged back between two requests: the dead handle is replaced and
    // the request answered on the first try.
    field.setUnplugged(SimReaderKind::Feig, true);
    field.setUnplugged(SimReaderKind::Feig, false);
    link.Feig_Send(inventory, inventory.size());
    QTRY_COMPARE(rx.replies.size(), 2);
    QCOMPARE(rx.replies.at(1), rx.replies.at(0));
    QCOMPARE(sim.closeCount(), 1);
    QCOMPARE(sim.openCount(), 2);
    link.Feig_Send(inventory, inventory.size());
    QTRY_COMPARE(rx.replies.size(), 3);

    // Unplugged for good: no reply, and the link reports itself disconnected.
    field.setUnplugged(SimReaderKind::Feig, true);
    link.Feig_Send(inventory, inventory.size());
    link.Feig_Send(inventory, inventory.size());
    QTRY_COMPARE(link.Feig_IsConnected(), uint8_t(0));
    QTRY_COMPARE(rx.replies.size(), 4);
    QTest::qWait(30);
    QCOMPARE(rx.replies.size(), 4);
    QVERIFY(rx.replies.at(3).isEmpty());
}

QTEST_GUILESS_MAIN(TstFeigWorker)
#include "tst_feigworker.moc"
