#include "readers/hidapibackend.h"
#include "readers/myhid.h"

#include <QtTest>

#ifdef VANTORY_HIDAPI_STANDIN
#include "readers/fakehidapi.h"
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// Runs without a reader attached: the backend must fail cleanly, never crash or hang.
// Built a second time over the stand-in hidapi, it also drives a simulated device.
class TstHidapiBackend : public QObject
{
    Q_OBJECT
  private slots:
    void closedBackend_failsEveryTransfer();
    void openMissingPath_fails();
    void enumerate_listsPaths();
    void myhidOverClosedBackend_staysDisconnected();
#ifdef VANTORY_HIDAPI_STANDIN
    void bothThreads_unplugMidway_callsNeverOverlap_data()
    {
        deviceNodeRows();
    }
    void bothThreads_unplugMidway_callsNeverOverlap();
    void passingReadErrors_retried_notUnplug_data()
    {
        deviceNodeRows();
    }
    void passingReadErrors_retried_notUnplug();
    void closeWhileWriteHangs_returnsWithinASecond_data()
    {
        deviceNodeRows();
    }
    void closeWhileWriteHangs_returnsWithinASecond();
    void pathNotTheDevicesNode_repliesStillArrive_data();
    void pathNotTheDevicesNode_repliesStillArrive();
    void leaveWhileWriteHangs_withinASecond_data()
    {
        deviceNodeRows();
    }
    void leaveWhileWriteHangs_withinASecond();
    void unplugDuringHangingWrite_lostAtOnce_backAtOneSecond_data()
    {
        deviceNodeRows();
    }
    void unplugDuringHangingWrite_lostAtOnce_backAtOneSecond();

  private:
    // Reads wait on the device node where there is one, in short slices where not.
    static void deviceNodeRows()
    {
        QTest::addColumn<bool>("node");
        QTest::newRow("device node") << true;
        QTest::newRow("no node") << false;
    }
#endif
};

void TstHidapiBackend::closedBackend_failsEveryTransfer()
{
    HidapiBackend backend;
    QVERIFY(!backend.isOpen());
    QByteArray report;
    QCOMPARE(backend.read(&report, 10), -1);
    QCOMPARE(backend.write(QByteArray(65, '\0')), -1);
    backend.close();
    backend.close();
    QVERIFY(!backend.isOpen());
}

void TstHidapiBackend::openMissingPath_fails()
{
    HidapiBackend backend;
    QVERIFY(!backend.open("/dev/vantory-no-such-hidraw"));
    QVERIFY(!backend.isOpen());
    QByteArray report;
    QCOMPARE(backend.read(&report, 10), -1);
}

void TstHidapiBackend::enumerate_listsPaths()
{
    HidapiBackend backend;
    const QVector<HidInterfaceInfo> list = backend.enumerate();
    for (const HidInterfaceInfo& info : list)
        QVERIFY(!info.path.isEmpty());
}

void TstHidapiBackend::myhidOverClosedBackend_staysDisconnected()
{
    HidapiBackend backend;
    myhid hid(&backend);
    QCOMPARE(int(hid.Is_Connected()), 0);
    QCOMPARE(int(hid.Hid_Write(QByteArray(64, '\0'))), 0);
    hid.Close_Device();
    QCOMPARE(int(hid.Is_Connected()), 0);
}

#ifdef VANTORY_HIDAPI_STANDIN
namespace
{

const QByteArray kPath = "/tmp/vantory-standin-hidraw-" + QByteArray::number(getpid());

// A connected link over the stand-in device, each output report echoed as a reply.
struct StandinLink {
    HidapiBackend backend;
    myhid hid{&backend};
    std::atomic<int> replies{0};
    StandinLink()
    {
        QFETCH(bool, node);
        plug(kPath, node);
    }
    // A device whose path is `path`; with `node` the stand-in makes it a node of the device.
    StandinLink(const QByteArray& path, bool node) { plug(path, node); }
    void plug(const QByteArray& path, bool node)
    {
        fakehidapi::reset();
        fakehidapi::plug(path.constData(), myhid::R321VendorId, node);
        fakehidapi::setEcho(path.constData(), true);
        QObject::connect(hid.readThread(), &readThreadEP1::hidDevReceive, [this] { ++replies; });
        hid.Connect();
    }
    // One command and its reply, as the engine sends them.
    bool exchange()
    {
        const int before = replies.load();
        if (!hid.Hid_Write(QByteArray(64, 'c')))
            return false;
        QDeadlineTimer deadline(1000);
        while (replies.load() == before || hid.isWriteBusy()) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(0);
        }
        return true;
    }
};

} // namespace

void TstHidapiBackend::bothThreads_unplugMidway_callsNeverOverlap()
{
    StandinLink link;
    QCOMPARE(int(link.hid.Is_Connected()), 1);
    for (int i = 0; i < 300; ++i)
        QVERIFY2(link.exchange(), qPrintable(QString::number(i)));
    // Pulled while a report is on its way: the link notices, nothing runs twice at once.
    fakehidapi::setWriteDelayMs(kPath.constData(), 5);
    QVERIFY(link.hid.Hid_Write(QByteArray(64, 'u')));
    fakehidapi::unplug(kPath.constData());
    QTRY_COMPARE(int(link.hid.Is_Connected()), 0);
    QTRY_COMPARE(fakehidapi::openHandles(), 0);
    QCOMPARE(fakehidapi::overlaps(), 0);
}

void TstHidapiBackend::passingReadErrors_retried_notUnplug()
{
    StandinLink link;
    fakehidapi::failReads(kPath.constData(), 20);
    QTest::qWait(150);
    QCOMPARE(int(link.hid.Is_Connected()), 1);
    QVERIFY(link.exchange());
    QCOMPARE(fakehidapi::overlaps(), 0);
}

void TstHidapiBackend::closeWhileWriteHangs_returnsWithinASecond()
{
    StandinLink link;
    fakehidapi::setWriteDelayMs(kPath.constData(), 2000);
    QVERIFY(link.hid.Hid_Write(QByteArray(64, 'h')));
    QTest::qWait(100);
    QElapsedTimer clock;
    clock.start();
    link.hid.Close_Device();
    fakehidapi::setWriteDelayMs(kPath.constData(), 0);
    link.hid.Connect();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(int(link.hid.Is_Connected()), 1);
    // The hung write returns at last and closes the old handle; the new one works.
    QTRY_COMPARE_WITH_TIMEOUT(fakehidapi::openHandles(), 1, 4000);
    QTRY_VERIFY(!link.hid.isWriteBusy());
    QVERIFY(link.exchange());
    QCOMPARE(fakehidapi::overlaps(), 0);
}

void TstHidapiBackend::pathNotTheDevicesNode_repliesStillArrive_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("/dev/null") << "null";
    QTest::newRow("an ordinary file") << "file";
    QTest::newRow("a node that never rings") << "silent";
}

// hidapi lists paths of its own making: one may name something that is not the device's
// report node. Replies must still arrive (at worst a little later), never hang.
void TstHidapiBackend::pathNotTheDevicesNode_repliesStillArrive()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QByteArray path = "/dev/null";
    int silent = -1;
    if (kind == QLatin1String("file")) {
        path = dir.filePath(QStringLiteral("hidraw7")).toLocal8Bit();
        QFile f(QString::fromLocal8Bit(path));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(65, 'x'));
    } else if (kind == QLatin1String("silent")) {
        path = dir.filePath(QStringLiteral("hidraw8")).toLocal8Bit();
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        silent = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(silent >= 0);
    }
    {
        StandinLink link(path, false);
        QCOMPARE(int(link.hid.Is_Connected()), 1);
        for (int i = 0; i < 20; ++i)
            QVERIFY2(link.exchange(), qPrintable(QString::number(i)));
        QCOMPARE(fakehidapi::overlaps(), 0);
    }
    if (silent >= 0)
        ::close(silent);
}

void TstHidapiBackend::leaveWhileWriteHangs_withinASecond()
{
    // Closing the window or ending the command line while the reader does not take a
    // report for 3 s: leaving waits about a second at most, and the write, when it comes
    // back, touches nothing that is gone (AddressSanitizer builds check that).
    auto link = std::make_unique<StandinLink>();
    fakehidapi::setWriteDelayMs(kPath.constData(), 3000);
    QVERIFY(link->hid.Hid_Write(QByteArray(64, 'h')));
    QTest::qWait(100);
    QElapsedTimer clock;
    clock.start();
    link.reset();
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    // The stuck call ends by itself and closes its handle.
    QTRY_COMPARE_WITH_TIMEOUT(fakehidapi::openHandles(), 0, 5000);
    QTest::qWait(100);
    QCOMPARE(fakehidapi::overlaps(), 0);
}

void TstHidapiBackend::unplugDuringHangingWrite_lostAtOnce_backAtOneSecond()
{
    // The cable drops 120 ms into a write the reader holds for 3 s, and is back at 1 s:
    // the link reports the loss without waiting for the write, and the reader is opened
    // again and works.
    StandinLink link;
    int lost = 0;
    QObject::connect(&link.hid, &myhid::linkLost, [&] { ++lost; });
    fakehidapi::setWriteDelayMs(kPath.constData(), 3000);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(link.hid.Hid_Write(QByteArray(64, 'w')));
    QTest::qWait(120);
    fakehidapi::unplug(kPath.constData());
    QTRY_VERIFY_WITH_TIMEOUT(lost == 1, 1500);
    QVERIFY2(clock.elapsed() < 1300, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(int(link.hid.Is_Connected()), 0);
    QTest::qWait(std::max<int>(0, 1000 - int(clock.elapsed())));
    QFETCH(bool, node);
    fakehidapi::plug(kPath.constData(), myhid::R321VendorId, node);
    fakehidapi::setWriteDelayMs(kPath.constData(), 0);
    QVERIFY(link.hid.Reconnect(link.hid.connectedInterface()));
    QVERIFY(link.exchange());
    QCOMPARE(lost, 1);
    QTRY_COMPARE_WITH_TIMEOUT(fakehidapi::openHandles(), 1, 5000);
    QCOMPARE(fakehidapi::overlaps(), 0);
}
#endif

QTEST_GUILESS_MAIN(TstHidapiBackend)
#include "tst_hidapibackend.moc"
