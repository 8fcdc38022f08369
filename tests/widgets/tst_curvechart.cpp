#include "widgets/curvechart.h"

#include <QMetaMethod>
#include <QtTest>

#include <cmath>

namespace
{

QVector<double> seq(std::initializer_list<double> v)
{
    return QVector<double>(v);
}

QVector<double> levels16()
{
    return seq({50, 91, 92, 92, 93, 94, 95, 96, 97, 98, 99, 100, 100, 100, 100, 100});
}

QVector<double> times16()
{
    QVector<double> t;
    for (int i = 0; i < 16; ++i)
        t.append(i * 5);
    return t;
}

// Counts paint events of one widget.
class PaintCounter : public QObject
{
  public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

class TstCurveChart : public QObject
{
    Q_OBJECT
  private slots:
    void defaults_matchTheForm();
    void properties_settableByName();
    void metaObject_listsDataSlotsBeforeSetters();
    void checkData_clamps_data();
    void checkData_clamps();
    void checkData_keepsNaN();
    void trim_dependsOnPlotWidth_data();
    void trim_dependsOnPlotWidth();
    void setData_beforeFirstPaint_keepsNothing();
    void setData_after440pxPlot_keepsAll16();
    void addData_prependsAndTrimsFromTheEnd();
    void clearData_emptiesBoth();
    void valueAxisLabels_data();
    void valueAxisLabels();
    void timeAxisLabels_data();
    void timeAxisLabels();
    void gridLines_defaultNineDottedLines();
    void zeroStepOrSpan_drawsNothingAndDoesNotCrash();
    void curvePoints_withFill_addsBasePoints();
    void curvePoints_fillWithoutValues_isEmpty();
    void curvePoints_withoutFill_onlyDataPoints();
    void curvePoints_stopAtShorterTimeValues();
    void setter_sameValue_doesNotRepaint();
};

void TstCurveChart::defaults_matchTheForm()
{
    CurveChart chart;
    QCOMPARE(chart.minValue(), 0.0);
    QCOMPARE(chart.maxValue(), 100.0);
    QCOMPARE(chart.xMinValue(), 0.0);
    QCOMPARE(chart.xMaxValue(), 100.0);
    QCOMPARE(chart.xStep(), 10.0);
    QCOMPARE(chart.yStep(), 10.0);
    QCOMPARE(chart.space(), 40.0);
    QCOMPARE(chart.title(), QStringLiteral("曲线图"));
    QCOMPARE(chart.yName(), QStringLiteral("Y轴"));
    QVERIFY(chart.showHLine() && chart.showPoint() && chart.showPointBg());
    QCOMPARE(chart.bgColorStart(), QColor(79, 79, 79));
    QCOMPARE(chart.bgColorEnd(), QColor(51, 51, 51));
    QCOMPARE(chart.textColor(), QColor(250, 250, 250));
    QCOMPARE(chart.pointColor(), QColor(38, 114, 179));
    QCOMPARE(chart.sizeHint(), QSize(500, 300));
    QCOMPARE(chart.minimumSizeHint(), QSize(200, 70));
    QCOMPARE(chart.plotRect(), QRectF());
}

void TstCurveChart::properties_settableByName()
{
    CurveChart chart;
    QVERIFY(chart.setProperty("pointColor", QColor(0, 85, 255)));
    QVERIFY(chart.setProperty("XmaxValue", 75.0));
    QVERIFY(chart.setProperty("Y_name", QStringLiteral("level")));
    QVERIFY(chart.setProperty("showPointBg", false));
    QCOMPARE(chart.pointColor(), QColor(0, 85, 255));
    QCOMPARE(chart.property("XmaxValue").toDouble(), 75.0);
    QCOMPARE(chart.yName(), QStringLiteral("level"));
    QVERIFY(!chart.showPointBg());
}

void TstCurveChart::metaObject_listsDataSlotsBeforeSetters()
{
    const QMetaObject* mo = &CurveChart::staticMetaObject;
    QStringList names;
    for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
        names << QString::fromLatin1(mo->method(i).name());
    QCOMPARE(names.mid(0, 6), (QStringList{"updateData", "addData", "setData", "clearData",
                                           "checkData", "setMinValue"}));
    QCOMPARE(names.last(), QStringLiteral("setPointColor"));
}

void TstCurveChart::checkData_clamps_data()
{
    QTest::addColumn<double>("maxValue");
    QTest::addColumn<double>("xMaxValue");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QVector<double>>("input");
    QTest::addColumn<QVector<double>>("expected");

    QTest::newRow("levels over 100 become 100")
        << 100.0 << 100.0 << 1
        << seq({50, 120, 99, 100, 101, 255, 0, 60, 70, 80, 90, 100, 150, 100, 100, 100})
        << seq({50, 100, 99, 100, 100, 100, 0, 60, 70, 80, 90, 100, 100, 100, 100, 100});
    QTest::newRow("time limit is XmaxValue")
        << 100.0 << 80.0 << 0 << seq({0, 5, 10, 79, 80, 81, 100, 200, 0, 0, 0, 0, 0, 0, 0, 0})
        << seq({0, 5, 10, 79, 80, 80, 80, 80, 0, 0, 0, 0, 0, 0, 0, 0});
    QTest::newRow("level limit ignores XmaxValue")
        << 60.0 << 10.0 << 1 << seq({0, 5, 10, 59, 60, 61, 100, 200, 0, 0, 0, 0, 0, 0, 0, 0})
        << seq({0, 5, 10, 59, 60, 60, 60, 60, 0, 0, 0, 0, 0, 0, 0, 0});
    QTest::newRow("other mode limits at 0")
        << 100.0 << 100.0 << 7 << seq({-1, 0, 1, 50, -2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})
        << seq({-1, 0, 0, 0, -2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    QTest::newRow("fractional maximum uses its integer part")
        << 99.9 << 100.0 << 1 << seq({99.5, 98.9, 99, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})
        << seq({99, 98.9, 99, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    QTest::newRow("limit cut to 16 bits")
        << 70000.0 << 100.0 << 1 << seq({4463, 4464, 5000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})
        << seq({4463, 4464, 4464, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    QTest::newRow("short input is clamped and padded with zeros")
        << 100.0 << 100.0 << 1 << seq({120, 30, 100})
        << seq({100, 30, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    QTest::newRow("empty input gives 16 zeros")
        << 100.0 << 100.0 << 0 << QVector<double>() << QVector<double>(16, 0.0);
    QVector<double> longInput;
    for (int i = 0; i < 20; ++i)
        longInput.append(i * 10);
    QTest::newRow("only the first 16 are used")
        << 100.0 << 100.0 << 1 << longInput
        << seq({0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 100, 100, 100, 100, 100});
}

void TstCurveChart::checkData_clamps()
{
    QFETCH(double, maxValue);
    QFETCH(double, xMaxValue);
    QFETCH(int, mode);
    QFETCH(QVector<double>, input);
    QFETCH(QVector<double>, expected);

    CurveChart chart;
    chart.setMaxValue(maxValue);
    chart.setXMaxValue(xMaxValue);
    const QVector<double> out = chart.checkData(input, static_cast<uint8_t>(mode));
    QCOMPARE(out.size(), 16);
    QCOMPARE(out, expected);
}

void TstCurveChart::checkData_keepsNaN()
{
    CurveChart chart;
    QVector<double> in(16, 1.0);
    in[3] = std::nan("");
    const QVector<double> out = chart.checkData(in, 1);
    QVERIFY(std::isnan(out.at(3)));
    QCOMPARE(out.at(4), 1.0);
}

void TstCurveChart::trim_dependsOnPlotWidth_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("yStep");
    QTest::addColumn<int>("kept");
    QTest::newRow("440 px, step 10") << 440.0 << 10.0 << 44;
    QTest::newRow("445 px, step 10") << 445.0 << 10.0 << 44;
    QTest::newRow("no paint yet") << 0.0 << 10.0 << 0;
    QTest::newRow("step 25") << 440.0 << 25.0 << 17;
    QTest::newRow("zero step: no limit") << 440.0 << 0.0 << -1;
    QTest::newRow("negative width") << -20.0 << 10.0 << 0;
}

void TstCurveChart::trim_dependsOnPlotWidth()
{
    QFETCH(double, width);
    QFETCH(double, yStep);
    QFETCH(int, kept);
    QCOMPARE(CurveChart::keptValueCount(width, yStep), kept);
}

void TstCurveChart::setData_beforeFirstPaint_keepsNothing()
{
    CurveChart chart;
    chart.setData(levels16(), times16());
    QCOMPARE(chart.values().size(), 0);
    QCOMPARE(chart.timeValues(), times16());
}

void TstCurveChart::setData_after440pxPlot_keepsAll16()
{
    CurveChart chart;
    chart.resize(500, 300); // plot 500 - 1.5 * 40 = 440 px wide
    chart.grab();
    QCOMPARE(chart.plotRect(), QRectF(40, 40, 440, 240));
    chart.setData(levels16(), times16());
    QCOMPARE(chart.values(), levels16());
}

void TstCurveChart::addData_prependsAndTrimsFromTheEnd()
{
    CurveChart chart;
    chart.resize(160, 200); // plot 100 px wide: 10 values fit
    chart.grab();
    for (int i = 1; i <= 12; ++i)
        chart.addData(i);
    QCOMPARE(chart.values().size(), 10);
    QCOMPARE(chart.values().first(), 12.0);
    QCOMPARE(chart.values().last(), 3.0);
}

void TstCurveChart::clearData_emptiesBoth()
{
    CurveChart chart;
    chart.resize(500, 300);
    chart.grab();
    chart.setData(levels16(), times16());
    chart.clearData();
    QVERIFY(chart.values().isEmpty());
    QVERIFY(chart.timeValues().isEmpty());
}

void TstCurveChart::valueAxisLabels_data()
{
    QTest::addColumn<double>("minValue");
    QTest::addColumn<double>("maxValue");
    QTest::addColumn<double>("step");
    QTest::addColumn<QVector<int>>("labels");
    QTest::newRow("defaults") << 0.0 << 100.0 << 10.0
                              << QVector<int>{100, 90, 80, 70, 60, 50, 40, 30, 20, 10, 0};
    QTest::newRow("step 25") << 0.0 << 100.0 << 25.0 << QVector<int>{100, 75, 50, 25, 0};
    QTest::newRow("fractional step truncates each label")
        << 0.0 << 100.0 << 7.5
        << QVector<int>{100, 92, 84, 76, 68, 60, 52, 44, 36, 28, 20, 12, 4, -3};
    QTest::newRow("span below one step: top label only") << 0.0 << 5.0 << 10.0 << QVector<int>{5};
    QTest::newRow("inverted range: none") << 100.0 << 0.0 << 10.0 << QVector<int>{};
    QTest::newRow("zero step: none") << 0.0 << 100.0 << 0.0 << QVector<int>{};
    QTest::newRow("zero span: none") << 50.0 << 50.0 << 10.0 << QVector<int>{};
    QTest::newRow("tiny step: none") << 0.0 << 100.0 << 1e-9 << QVector<int>{};
}

void TstCurveChart::valueAxisLabels()
{
    QFETCH(double, minValue);
    QFETCH(double, maxValue);
    QFETCH(double, step);
    QFETCH(QVector<int>, labels);
    QCOMPARE(CurveChart::valueAxisLabels(minValue, maxValue, step), labels);
}

void TstCurveChart::timeAxisLabels_data()
{
    QTest::addColumn<double>("xMin");
    QTest::addColumn<double>("xMax");
    QTest::addColumn<double>("step");
    QTest::addColumn<QVector<int>>("labels");
    QTest::newRow("defaults") << 0.0 << 100.0 << 10.0
                              << QVector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
    QTest::newRow("offset start") << 5.0 << 100.0 << 10.0
                                  << QVector<int>{15, 25, 35, 45, 55, 65, 75, 85, 95};
    QTest::newRow("span below one step: none") << 0.0 << 5.0 << 10.0 << QVector<int>{};
    QTest::newRow("zero step: none") << 0.0 << 100.0 << 0.0 << QVector<int>{};
}

void TstCurveChart::timeAxisLabels()
{
    QFETCH(double, xMin);
    QFETCH(double, xMax);
    QFETCH(double, step);
    QFETCH(QVector<int>, labels);
    QCOMPARE(CurveChart::timeAxisLabels(xMin, xMax, step), labels);
}

void TstCurveChart::gridLines_defaultNineDottedLines()
{
    const QRectF plot(40, 40, 440, 240);
    const QVector<double> ys = CurveChart::gridLinePositions(plot, 0, 100, 10);
    QCOMPARE(ys.size(), 9);
    for (int k = 1; k <= 9; ++k)
        QCOMPARE(ys.at(k - 1), 40 + k * 24.0);
    QVERIFY(CurveChart::gridLinePositions(plot, 0, 100, 0).isEmpty());
    QVERIFY(CurveChart::gridLinePositions(plot, 0, 10, 10).isEmpty());
}

void TstCurveChart::zeroStepOrSpan_drawsNothingAndDoesNotCrash()
{
    CurveChart chart;
    chart.resize(500, 300);
    chart.setXStep(0);
    chart.setYStep(0);
    chart.setXMinValue(100); // zero time span
    chart.grab();
    chart.setData(levels16(), times16());
    QCOMPARE(chart.values().size(), 16); // no trim limit without a step
    QVERIFY(chart.curvePoints(chart.plotRect()).isEmpty());
    chart.setMinValue(100); // zero value span as well
    const QImage image = chart.grab().toImage();
    QVERIFY(!image.isNull());
}

void TstCurveChart::curvePoints_withFill_addsBasePoints()
{
    CurveChart chart;
    chart.resize(500, 300);
    chart.grab();
    chart.setData(seq({100, 0, 50}), seq({0, 50, 100}));
    const QRectF plot(40, 40, 440, 240);
    const QVector<QPointF> pts = chart.curvePoints(plot);
    QCOMPARE(pts.size(), 18); // both vectors are padded to 16, plus the two base points
    QCOMPARE(pts.at(0), QPointF(40, plot.bottom()));  // under the first time point
    QCOMPARE(pts.at(1), QPointF(40, 40));             // 100 at the top
    QCOMPARE(pts.at(2), QPointF(260, 280));           // 0 at the bottom, time 50 mid-way
    QCOMPARE(pts.at(3), QPointF(480, 160));           // 50 half-way up
    // Padded time points are 0, so the last point lies at the left end.
    QCOMPARE(pts.last(), QPointF(40, plot.bottom()));

    // The fill closes down to the time axis under the last point, not across the chart;
    // the markers stay where they were, the closing one at the bottom-left corner.
    chart.setData(levels16(), times16());
    const QVector<QPointF> full = chart.curvePoints(plot);
    QCOMPARE(full.last(), QPointF(40 + 4.4 * 75, plot.bottom()));
    QCOMPARE(full.at(full.size() - 2).x(), 40 + 4.4 * 75);
    QCOMPARE(chart.markerPoints(full, plot).last(), QPointF(40, plot.bottom()));
    chart.setPointColor(Qt::red);
    chart.setBgColorStart(Qt::white);
    chart.setBgColorEnd(Qt::white);
    const QImage image = chart.grab().toImage();
    // Low under the curve, far from the first point: filled. Right of the last point: not.
    const QColor under = image.pixelColor(300, 270);
    QVERIFY2(under.red() > 200 && under.green() < 200, qPrintable(under.name()));
    QCOMPARE(image.pixelColor(420, 270), QColor(Qt::white));
}

void TstCurveChart::curvePoints_fillWithoutValues_isEmpty()
{
    CurveChart chart;
    chart.setData(seq({}), times16()); // before a paint, every value is trimmed away
    QVERIFY(chart.values().isEmpty());
    QVERIFY(chart.curvePoints(QRectF(40, 40, 440, 240)).isEmpty());
    // Values without time points: nothing to fill (an assertion in a Debug build once).
    chart.setData(seq({80, 90}), {});
    QVERIFY(chart.curvePoints(QRectF(40, 40, 440, 240)).isEmpty());
}

void TstCurveChart::curvePoints_withoutFill_onlyDataPoints()
{
    CurveChart chart;
    chart.setShowPointBg(false);
    chart.resize(500, 300);
    chart.grab();
    chart.setData(seq({100, 0}), seq({0, 100}));
    const QVector<QPointF> pts = chart.curvePoints(QRectF(40, 40, 440, 240));
    QCOMPARE(pts.size(), 16); // checkData pads both to 16
    QCOMPARE(pts.at(0), QPointF(40, 40));
    QCOMPARE(pts.at(1), QPointF(480, 280));
}

void TstCurveChart::curvePoints_stopAtShorterTimeValues()
{
    CurveChart chart;
    chart.setShowPointBg(false);
    chart.resize(500, 300);
    chart.grab();
    for (int i = 0; i < 20; ++i)
        chart.addData(i);
    QCOMPARE(chart.values().size(), 20);
    QVERIFY(chart.timeValues().isEmpty());
    QVERIFY(chart.curvePoints(chart.plotRect()).isEmpty());
}

void TstCurveChart::setter_sameValue_doesNotRepaint()
{
    CurveChart chart;
    chart.resize(300, 200);
    PaintCounter counter;
    chart.installEventFilter(&counter);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    QTRY_VERIFY(counter.count > 0);
    QTest::qWait(50);

    counter.count = 0;
    chart.setMaxValue(100);
    chart.setTitle(QStringLiteral("曲线图"));
    chart.setPointColor(QColor(38, 114, 179));
    QTest::qWait(100);
    QCOMPARE(counter.count, 0);

    chart.setMaxValue(120);
    QTRY_VERIFY(counter.count > 0);
}

QTEST_MAIN(TstCurveChart)
#include "tst_curvechart.moc"
