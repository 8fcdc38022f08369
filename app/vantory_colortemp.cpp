#include "app/vantory.h"
#include "ui_vantory.h"

#include "model/colortemp.h"
#include "widgets/mychart.h"

#include <QGridLayout>
#include <QLayoutItem>
#include <QScopedValueRollback>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>

// The colour-temperature range: spin boxes and slider to and from the image.

void Vantory::Get_CCT_Data()
{
    // The boxes' values into the image (at start); edits reach the document as they are
    // made. A hidden panel is not the user's word: the bytes keep what was read or opened.
    doc().setColourTemperatureShown(!ui->CctBoxwidget->isHidden());
    doc().setColourTemperature(static_cast<uint16_t>(ui->WormestspinBox->value()),
                               static_cast<uint16_t>(ui->CoolestspinBox->value()));
    doc().applyColourTemperature();
}

void Vantory::showCctRange(uint16_t coolest, uint16_t warmest)
{
    // The document holds the range already; the boxes only show it.
    const QScopedValueRollback<bool> showing(m_showing_document, true);
    // The slider holds the warmest value at or below the coolest one. Releasing the lower
    // handle first keeps a coolest value below the previous driver's warmest from being
    // pushed up to it; what is shown then depends on this driver alone.
    ui->WormestspinBox->setValue(ui->WormestspinBox->minimum());
    ui->CoolestspinBox->setValue(coolest);
    ui->WormestspinBox->setValue(warmest);
}

void Vantory::Update_CCT_Chart()
{
    auto* view = new QtCharts::QChartView(m_chart->createPieChart(
        colortemp::warmest(doc().image()), colortemp::coolest(doc().image()), lang_cn != 0));
    if (deleteAllitemsOfLayout(chart_layout_cct))
        chart_layout_cct->addWidget(view);
    else
        delete view;
}

bool Vantory::deleteAllitemsOfLayout(QLayout* layout)
{
    if (!layout)
        return false;
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->setParent(nullptr);
            // Nothing else owns a widget taken out here (the chart views have no parent).
            widget->deleteLater();
        } else if (QLayout* inner = item->layout()) {
            deleteAllitemsOfLayout(inner);
        }
        delete item;
    }
    return true;
}
