#include "widgets/mychart.h"

#include <QtCharts/QLegend>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>

MyChart::MyChart() : QObject(nullptr) {}

QChart* MyChart::createPieChart(uint16_t warm, uint16_t cool, bool chinese)
{
    auto* series = new QPieSeries();
    series->append(chinese ? QStringLiteral("暖色调") : QStringLiteral("Warm"), warm);
    series->append(chinese ? QStringLiteral("冷色调") : QStringLiteral("Cool"), cool);

    QPieSlice* warmSlice = series->slices().at(0);
    warmSlice->setExploded(false);
    warmSlice->setBrush(QBrush(Qt::red, Qt::SolidPattern));
    series->slices().at(1)->setBrush(QBrush(Qt::blue, Qt::SolidPattern));

    auto* chart = new QChart(nullptr, Qt::WindowFlags());
    chart->addSeries(series);
    chart->setTitle(chinese ? QStringLiteral("色温") : QStringLiteral("CCT"));
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}
