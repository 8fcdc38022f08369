// What the window shows of the Read action: the device-data panel, the status bar and the
// shown window, with the simulated readers. The engine's side of a read is tested without
// a window in tests/engine/tst_engine_read.
#include "app/windowbench.h"

#include <QDir>
#include <QPixmap>

#include "model/tagfields.h"
#include "readers/r321frames.h"
#include "readers/sim/demodrivers.h"

using namespace enginetest;

namespace
{

constexpr int kTipReadOk = 3;
constexpr int kTipUidOk = 7;

void addReaders()
{
    QTest::addColumn<int>("reader");
    QTest::newRow("R321") << int(R321);
    QTest::newRow("FEIG") << int(Feig);
}

QLabel* label(WindowBench& b, const char* name)
{
    return b.w->findChild<QLabel*>(QString::fromLatin1(name));
}

} // namespace

class TstWindowRead : public QObject
{
    Q_OBJECT
  private slots:
    void readPTag_deviceDataPanelShowsDriver_data() { addReaders(); }
    void readPTag_deviceDataPanelShowsDriver();
    void readPwmTag_productLabelShowsModel_data() { addReaders(); }
    void readPwmTag_productLabelShowsModel();
    void failedRead_deviceDataPanelKept_data() { addReaders(); }
    void failedRead_deviceDataPanelKept();
    void readDemoDriver_shownWindow();
};

void TstWindowRead::readPTag_deviceDataPanelShowsDriver()
{
    QFETCH(int, reader);
    WindowBench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 7);
    b.field.layTag(tag);
    QVERIFY(b.connect(reader));

    b.trigger("actionRead");
    QTRY_COMPARE(int(TestAccess::lastTip(b.win())), kTipReadOk);

    // The device-data panel shows the driver that was read.
    const TagImage expected = expectedImageAfterPRead(tag->memory());
    const tagfields::ProductInfo info = tagfields::productInfo(expected);
    QCOMPARE(info.model, demodrivers::info(demodrivers::Kind::Dt8).model);
    QCOMPARE(label(b, "Productlabel")->text(), info.model);
    QCOMPARE(label(b, "labelGTIN")->text(), info.gtin);
    QCOMPARE(label(b, "labelHardware")->text(), info.hardware);
    QCOMPARE(label(b, "labelSoftware")->text(), info.software);
    QCOMPARE(label(b, "labelDeviceCode")->text(), info.fixtureId);
    const tagfields::DriveInfo drive = tagfields::driveInfo(expected);
    QCOMPARE(label(b, "label_GearOperatingTime")->text(), drive.gearTimeText);
    QCOMPARE(label(b, "label_LoadOperatingTime")->text(), drive.loadTimeText);
    QCOMPARE(TestAccess::statusResult(b.win())->text(), QStringLiteral("Read successfully"));
}

void TstWindowRead::readPwmTag_productLabelShowsModel()
{
    QFETCH(int, reader);
    WindowBench b;
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Pwm, 9);
    QVERIFY(tag->setBlock(248, QByteArray::fromHex("10325476")));
    b.field.layTag(tag);
    QVERIFY(b.connect(reader));

    b.trigger("actionRead");
    QTRY_COMPARE(int(TestAccess::lastTip(b.win())), kTipReadOk);
    QCOMPARE(label(b, "Productlabel")->text(), demodrivers::info(demodrivers::Kind::Pwm).model);
}

void TstWindowRead::failedRead_deviceDataPanelKept()
{
    QFETCH(int, reader);
    WindowBench b;
    b.field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 4));
    QVERIFY(b.connect(reader));
    // The third block read is answered with a failing reader status.
    if (reader == R321)
        b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 2, r321::CmdReadBlocks);
    else
        b.field.armReplyFault(SimReplyFault::FailingStatus, 1, 3, 0xB0);
    const QString productBefore = label(b, "Productlabel")->text();
    QVERIFY(productBefore != demodrivers::info(demodrivers::Kind::Dt8).model);

    b.trigger("actionRead");
    QTRY_VERIFY(TestAccess::lastTip(b.win()) != 0 && TestAccess::lastTip(b.win()) != kTipUidOk);
    QCOMPARE(label(b, "Productlabel")->text(), productBefore);
}

void TstWindowRead::readDemoDriver_shownWindow()
{
    WindowBench b;
    b.field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 1));
    b.w->resize(1335, 1029);
    b.w->show();
    QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
    QVERIFY(b.connect(R321));
    b.trigger("actionRead");
    QTRY_COMPARE(int(TestAccess::lastTip(b.win())), kTipReadOk);
    QCOMPARE(b.w->findChild<QLabel*>("Productlabel")->text(),
             demodrivers::info(demodrivers::Kind::Dt8).model);
    QVERIFY(b.w->findChild<QLabel*>("Productlabel")->isVisible());
    const QPixmap shot = b.w->grab();
    QVERIFY(!shot.isNull());
    // VANTORY_SHOTS_DIR keeps a picture of the window for a person to look at.
    const QString dir = qEnvironmentVariable("VANTORY_SHOTS_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(dir);
        QVERIFY(shot.save(dir + QStringLiteral("/read.png")));
    }
}

QTEST_MAIN(TstWindowRead)
#include "tst_window_read.moc"
