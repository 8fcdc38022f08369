#include "app/vantory.h"
#include "ui_vantory.h"

#include "model/constlumen.h"
#include "model/tagfields.h"

#include <QSignalBlocker>
#include <QTableWidgetItem>

// The constant-lumen table, its chart and its on/off switch.

namespace
{

void fillRow(QTableWidget* table, int row, const constlumen::Points& values)
{
    // The table's own change handler must not see these writes.
    const QSignalBlocker blocker(table);
    for (int column = 0; column < tagoffset::CloPoints && column < table->columnCount(); ++column)
        table->setItem(row, column, new QTableWidgetItem(QString::number(values[size_t(column)])));
}

} // namespace

void Vantory::GetLumenTimer(const constlumen::Points& timer)
{
    fillRow(ui->LumentableWidget, 0, timer);
}

void Vantory::GetLumenLevel(const constlumen::Points& level)
{
    fillRow(ui->LumentableWidget, 1, level);
}

void Vantory::SetLumen()
{
    QTableWidget* table = ui->LumentableWidget;
    constlumen::Points times{};
    constlumen::Points levels{};
    for (int column = 0; column < tagoffset::CloPoints; ++column) {
        const QTableWidgetItem* time = table->item(0, column);
        const QTableWidgetItem* level = table->item(1, column);
        times[size_t(column)] = constlumen::cellValue(time ? time->text() : QString());
        levels[size_t(column)] = constlumen::cellValue(level ? level->text() : QString());
    }
    constlumen::storeTimes(m_image, times);
    constlumen::storeLevels(m_image, levels);
    Update_CLO_Chart();
}

void Vantory::Init_SetLumen()
{
    if (clo_chart_ready)
        return;
    SetLumen();
    clo_chart_ready = true;
}

void Vantory::Update_CLO_Chart()
{
    QVector<double> levels;
    QVector<double> times;
    for (uint8_t v : constlumen::levels(m_image))
        levels.append(v);
    for (uint8_t v : constlumen::times(m_image))
        times.append(v);
    ui->widget_constlumen->setData(levels, times);
}

void Vantory::Set_ConstLumen_Enable(bool state)
{
    ui->widget_constlumen->setPointColor(state ? QColor(0, 85, 255) : QColor(130, 130, 130));
}

bool Vantory::switchButton_Status(bool state)
{
    ui->LumentableWidget->setCurrentItem(nullptr);
    ui->LumentableWidget->setEnabled(state);
    Set_ConstLumen_Enable(state);
    constlumen::setEnabled(m_image, state);
    return state;
}
