#include "readers/hidapibackend.h"
#include "readers/myhid.h"

#include <QtTest>

// Runs without a reader attached: the backend must fail cleanly, never crash or hang.
class TstHidapiBackend : public QObject
{
    Q_OBJECT
  private slots:
    void closedBackend_failsEveryTransfer();
    void openMissingPath_fails();
    void enumerate_listsPaths();
    void myhidOverClosedBackend_staysDisconnected();
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

QTEST_GUILESS_MAIN(TstHidapiBackend)
#include "tst_hidapibackend.moc"
