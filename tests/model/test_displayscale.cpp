// Display-scale table: taskbar to row, height to band, and the sizes the window applies.
#include "model/displayscale.h"

#include <QtTest>

using namespace displayscale;

class TestDisplayScale : public QObject
{
    Q_OBJECT

  private slots:
    void rowForTaskbar_data();
    void rowForTaskbar();
    void bandForHeight_data();
    void bandForHeight();
    void compute_data();
    void compute();
    void unknownTaskbar_appliesNothing_data();
    void unknownTaskbar_appliesNothing();
    void heightOutsideBands_appliesNoSizes_data();
    void heightOutsideBands_appliesNoSizes();
    void table_spotChecks();
    void placeWindow_data();
    void placeWindow();
};

void TestDisplayScale::rowForTaskbar_data()
{
    QTest::addColumn<int>("taskbar");
    QTest::addColumn<int>("row");
    for (int t : {0, 10, 20, 30, 40})
        QTest::addRow("%d", t) << t << 0;
    for (int r = 1; r <= 6; ++r)
        QTest::addRow("%d", 40 + 10 * r) << 40 + 10 * r << r;
    QTest::newRow("48") << 48 << -1;
    QTest::newRow("negative") << -10 << -1;
    QTest::newRow("110") << 110 << -1;
    QTest::newRow("5") << 5 << -1;
}

void TestDisplayScale::rowForTaskbar()
{
    QFETCH(int, taskbar);
    QFETCH(int, row);
    QCOMPARE(displayscale::rowForTaskbar(taskbar), row);
}

void TestDisplayScale::bandForHeight_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("band");
    QTest::newRow("599") << 599 << -1;
    QTest::newRow("600") << 600 << 0;
    QTest::newRow("899") << 899 << 0;
    QTest::newRow("900") << 900 << 1;
    QTest::newRow("1099") << 1099 << 1;
    QTest::newRow("1100") << 1100 << 2;
    QTest::newRow("1199") << 1199 << 2;
    QTest::newRow("1200") << 1200 << 3;
    QTest::newRow("1399") << 1399 << 3;
    QTest::newRow("1400") << 1400 << 4;
    QTest::newRow("1999") << 1999 << 4;
    QTest::newRow("2000") << 2000 << -1;
    QTest::newRow("0") << 0 << -1;
}

void TestDisplayScale::bandForHeight()
{
    QFETCH(int, height);
    QFETCH(int, band);
    QCOMPARE(displayscale::bandForHeight(height), band);
}

void TestDisplayScale::compute_data()
{
    QTest::addColumn<int>("taskbar");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QSize>("windowMin");
    QTest::addColumn<bool>("asMinimum");
    QTest::addColumn<QSize>("current"); // width x height
    QTest::addColumn<QSize>("clo");
    QTest::addColumn<int>("data");
    QTest::addColumn<QString>("log");

    QTest::newRow("1080p taskbar 40")
        << 40 << 1920 << 1080 << QSize(1344, 972) << true << QSize(960, 248) << QSize(960, 378)
        << 288 << QStringLiteral("缩放比例100%");
    QTest::newRow("1080p taskbar 60")
        << 60 << 1920 << 1080 << QSize(1344, 972) << true << QSize(960, 248) << QSize(960, 378)
        << 288 << QStringLiteral("缩放比例150%");
    QTest::newRow("1440p taskbar 40")
        << 40 << 2560 << 1440 << QSize(1152, 1008) << false << QSize(844, 244) << QSize(844, 360)
        << 256 << QStringLiteral("缩放比例100%");
    // Exactly 1100 takes the 1100-1199 band yet is still applied as minimum sizes.
    QTest::newRow("height 1100 row 0")
        << 0 << 1760 << 1100 << QSize(1144, 935) << true << QSize(580, 220) << QSize(580, 330)
        << 176 << QStringLiteral("缩放比例100%");
    QTest::newRow("height 1101 row 1")
        << 50 << 1760 << 1101 << QSize(1144, 957) << false << QSize(580, 220) << QSize(580, 330)
        << 176 << QStringLiteral("缩放比例125%");
    QTest::newRow("768 row 6") << 100 << 1366 << 768 << QSize(1229, 691) << true << QSize(1092, 176)
                               << QSize(1092, 307) << 204 << QStringLiteral("缩放比例250%");
    QTest::newRow("1600 row 4") << 80 << 2560 << 1600 << QSize(1356, 1200) << false
                                << QSize(896, 320) << QSize(896, 480) << 256
                                << QStringLiteral("缩放比例200%");
}

void TestDisplayScale::compute()
{
    QFETCH(int, taskbar);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QSize, windowMin);
    QFETCH(bool, asMinimum);
    QFETCH(QSize, current);
    QFETCH(QSize, clo);
    QFETCH(int, data);
    QFETCH(QString, log);

    const DisplayScale s = computeDisplayScale(taskbar, uint16_t(width), uint16_t(height));
    QVERIFY(s.hasSizes());
    QCOMPARE(s.windowMinimum, windowMin);
    QCOMPARE(s.asMinimum, asMinimum);
    QCOMPARE(QSize(s.currentWidth, s.currentHeight), current);
    QCOMPARE(QSize(s.cloWidth, s.cloHeight), clo);
    QCOMPARE(int(s.dataMaxWidth), data);
    QCOMPARE(s.logLine, log);
}

void TestDisplayScale::unknownTaskbar_appliesNothing_data()
{
    QTest::addColumn<int>("taskbar");
    QTest::newRow("48") << 48;
    QTest::newRow("-40") << -40;
    QTest::newRow("1") << 1;
}

void TestDisplayScale::unknownTaskbar_appliesNothing()
{
    QFETCH(int, taskbar);
    const DisplayScale s = computeDisplayScale(taskbar, 1920, 1080);
    QVERIFY(!s.hasSizes());
    QCOMPARE(s.row, -1);
    QVERIFY(s.logLine.isEmpty());
}

void TestDisplayScale::heightOutsideBands_appliesNoSizes_data()
{
    QTest::addColumn<int>("height");
    QTest::newRow("599") << 599;
    QTest::newRow("480") << 480;
    QTest::newRow("2000") << 2000;
    QTest::newRow("2160") << 2160;
}

void TestDisplayScale::heightOutsideBands_appliesNoSizes()
{
    QFETCH(int, height);
    const DisplayScale s = computeDisplayScale(40, 3840, uint16_t(height));
    QVERIFY(!s.hasSizes());
    QCOMPARE(s.band, -1);
    QVERIFY(s.windowMinimum.isEmpty());
    QCOMPARE(int(s.dataMaxWidth), 0);
    // The scale itself was recognised and is still logged.
    QCOMPARE(s.row, 0);
    QCOMPARE(s.logLine, QStringLiteral("缩放比例100%"));
}

void TestDisplayScale::table_spotChecks()
{
    // Rows share the middle bands and differ at the ends.
    QCOMPARE(int(scaleBand(0, 0).windowMinWidth), 95);
    QCOMPARE(int(scaleBand(1, 0).currentHeight), 25);
    QCOMPARE(int(scaleBand(2, 0).dataMaxWidth), 15);
    QCOMPARE(int(scaleBand(0, 2).windowMinHeight), 85);
    QCOMPARE(int(scaleBand(6, 2).windowMinHeight), 87);
    QCOMPARE(int(scaleBand(1, 4).currentWidth), 37);
    QCOMPARE(int(scaleBand(2, 4).windowMinWidth), 47);
    QCOMPARE(int(scaleBand(3, 4).windowMinWidth), 50);
    QCOMPARE(int(scaleBand(4, 4).windowMinWidth), 53);
    QCOMPARE(int(scaleBand(4, 4).currentHeight), 20);
    QCOMPARE(int(scaleBand(3, 4).currentHeight), 17);
    QCOMPARE(int(scaleBand(5, 3).currentWidth), 10);
    QCOMPARE(int(scaleBand(5, 3).cloWidth), 40);
    for (int r = 0; r < RowCount; ++r)
        QCOMPARE(scaleLogLine(r), QStringLiteral("缩放比例%1%").arg(100 + 25 * r));
    QVERIFY(scaleLogLine(7).isEmpty());
}

void TestDisplayScale::placeWindow_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QSize>("preferred");
    QTest::addColumn<QSize>("expectedMinimum");
    QTest::addColumn<QRect>("expected");
    const QRect wide(0, 0, 1366, 728); // 1366 x 768 with a 40 px taskbar at the bottom
    QTest::newRow("1366x768 fits") << wide << QSize(1297, 691) << QSize(1297, 691)
                                   << QSize(1297, 691) << QRect(34, 32, 1297, 691);
    QTest::newRow("form hint larger than the screen")
        << wide << QSize(1297, 691) << QSize(1335, 1029) << QSize(1297, 691)
        << QRect(15, 32, 1335, 692);
    // 1280 x 720 at 125 %: the table's 90 % of the screen height leaves no room for the frame.
    QTest::newRow("1280x720 125%") << QRect(0, 0, 1280, 670) << QSize(1152, 648) << QSize(1152, 648)
                                   << QSize(1152, 634) << QRect(64, 32, 1152, 634);
    QTest::newRow("second screen, taskbar on top")
        << QRect(1920, 40, 1280, 680) << QSize(1216, 648) << QSize(1216, 648) << QSize(1216, 644)
        << QRect(1952, 72, 1216, 644);
    QTest::newRow("small preferred gets the minimum")
        << QRect(0, 0, 1920, 1040) << QSize(1344, 972) << QSize(600, 400) << QSize(1344, 972)
        << QRect(288, 48, 1344, 972);
}

void TestDisplayScale::placeWindow()
{
    QFETCH(QRect, available);
    QFETCH(QSize, minimum);
    QFETCH(QSize, preferred);
    QFETCH(QSize, expectedMinimum);
    QFETCH(QRect, expected);
    const QMargins frame(4, 32, 4, 4);
    const Placement place = displayscale::placeWindow(available, frame, minimum, preferred);
    QCOMPARE(place.minimum, expectedMinimum);
    QCOMPARE(place.geometry, expected);
    QVERIFY(available.contains(place.geometry.marginsAdded(frame)));
}

QTEST_APPLESS_MAIN(TestDisplayScale)
#include "test_displayscale.moc"
