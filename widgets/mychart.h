#pragma once

#include <QObject>
#include <QtCharts/QChart>

#include <cstdint>

QT_CHARTS_USE_NAMESPACE

/// Builds the colour-temperature pie chart.
class MyChart : public QObject
{
    Q_OBJECT

  public:
    MyChart();

    /// A new pie of the warmest and coolest colour temperature; the caller owns it.
    QChart* createPieChart(uint16_t warm, uint16_t cool, bool chinese);
};
