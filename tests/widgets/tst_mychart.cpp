#include "widgets/mychart.h"

#include <QtCharts/QLegend>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>
#include <QtTest>

#include <memory>

class TstMyChart : public QObject
{
    Q_OBJECT
  private slots:
    void pie_titlesAndLabels_data();
    void pie_titlesAndLabels();
    void pie_slicesAreRawProportions();
    void pie_zeroValues_doNotCrash();
};

void TstMyChart::pie_titlesAndLabels_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("warm");
    QTest::addColumn<QString>("cool");
    QTest::newRow("English") << false << "CCT"
                             << "Warm"
                             << "Cool";
    QTest::newRow("Chinese") << true << "色温"
                             << "暖色调"
                             << "冷色调";
}

void TstMyChart::pie_titlesAndLabels()
{
    QFETCH(bool, chinese);
    QFETCH(QString, title);
    QFETCH(QString, warm);
    QFETCH(QString, cool);
    MyChart builder;
    QVERIFY(!builder.parent());
    std::unique_ptr<QChart> chart(builder.createPieChart(2700, 6500, chinese));
    QVERIFY(chart);
    QVERIFY(!chart->parentItem());
    QCOMPARE(chart->title(), title);
    QVERIFY(chart->legend()->isVisible());
    QCOMPARE(chart->legend()->alignment(), Qt::AlignBottom);
    QCOMPARE(chart->series().size(), 1);
    auto* series = qobject_cast<QPieSeries*>(chart->series().at(0));
    QVERIFY(series);
    QCOMPARE(series->count(), 2);
    QCOMPARE(series->slices().at(0)->label(), warm);
    QCOMPARE(series->slices().at(1)->label(), cool);
}

void TstMyChart::pie_slicesAreRawProportions()
{
    MyChart builder;
    std::unique_ptr<QChart> chart(builder.createPieChart(2700, 6500, false));
    auto* series = qobject_cast<QPieSeries*>(chart->series().at(0));
    QVERIFY(series);
    QPieSlice* warm = series->slices().at(0);
    QPieSlice* cool = series->slices().at(1);
    QCOMPARE(warm->value(), 2700.0);
    QCOMPARE(cool->value(), 6500.0);
    QCOMPARE(warm->percentage(), 2700.0 / 9200.0);
    QCOMPARE(cool->percentage(), 6500.0 / 9200.0);
    QCOMPARE(warm->brush(), QBrush(Qt::red, Qt::SolidPattern));
    QCOMPARE(cool->brush(), QBrush(Qt::blue, Qt::SolidPattern));
    QVERIFY(!warm->isExploded());
    QVERIFY(!warm->isLabelVisible());
    QVERIFY(!cool->isLabelVisible());

    std::unique_ptr<QChart> big(builder.createPieChart(65535, 1000, false));
    auto* bigSeries = qobject_cast<QPieSeries*>(big->series().at(0));
    QCOMPARE(bigSeries->slices().at(0)->value(), 65535.0);
}

void TstMyChart::pie_zeroValues_doNotCrash()
{
    MyChart builder;
    std::unique_ptr<QChart> chart(builder.createPieChart(0, 0, true));
    auto* series = qobject_cast<QPieSeries*>(chart->series().at(0));
    QCOMPARE(series->sum(), 0.0);
    QCOMPARE(series->slices().at(0)->percentage(), 0.0);
}

QTEST_MAIN(TstMyChart)
#include "tst_mychart.moc"
