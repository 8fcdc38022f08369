#include "app/vantory.h"
#include "ui_vantory.h"

#include "model/constlumen.h"
#include "model/tagfields.h"
#include "widgets/noticewidget.h"

#include <QSignalBlocker>
#include <QTableWidgetItem>

// The constant-lumen table, its chart and its on/off switch.

namespace
{

constexpr int kNoticeMs = 3000;
constexpr int kTimeRow = 0;
constexpr int kLevelRow = 1;

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
    fillRow(ui->LumentableWidget, kTimeRow, timer);
}

void Vantory::GetLumenLevel(const constlumen::Points& level)
{
    fillRow(ui->LumentableWidget, kLevelRow, level);
}

void Vantory::SetLumen()
{
    QTableWidget* table = ui->LumentableWidget;
    constlumen::Points times{};
    constlumen::Points levels{};
    for (int column = 0; column < tagoffset::CloPoints; ++column) {
        const QTableWidgetItem* time = table->item(kTimeRow, column);
        const QTableWidgetItem* level = table->item(kLevelRow, column);
        times[size_t(column)] = constlumen::cellValue(time ? time->text() : QString());
        levels[size_t(column)] = constlumen::cellValue(level ? level->text() : QString());
    }
    doc().setLumenTable(times, levels);
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
    for (uint8_t v : constlumen::levels(doc().image()))
        levels.append(v);
    for (uint8_t v : constlumen::times(doc().image()))
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
    doc().setLumenEnabled(state);
    return state;
}

void Vantory::on_LumentableWidget_cellChanged(int row, int column)
{
    const QTableWidgetItem* item = ui->LumentableWidget->item(row, column);
    if (!item)
        return;
    const int value = item->text().toInt();
    Cal_ConstantLumenData(constlumen::TimeMax,
                          row == kTimeRow ? constlumen::TimeMin : constlumen::LevelMin, value, row,
                          column);
}

void Vantory::Cal_ConstantLumenData(uint8_t max, uint8_t min, int item_value, int row, int column)
{
    const constlumen::EditResult edit = constlumen::Cal_ConstantLumenData(
        constlumen::times(doc().image()), constlumen::levels(doc().image()), max, min, item_value, row, column);
    if (edit.cellText.isEmpty())
        return; // not a cell of the curve

    doc().setLumenTable(edit.times, edit.levels);
    // The warning comes before the cell is rewritten, as the user sees it happen.
    if (edit.warn)
        showModalWarning(constlumen::warningTitle(lang_cn != 0),
                         lang_cn ? edit.warningCn : edit.warningEn);
    if (edit.reshowTimes)
        GetLumenTimer(edit.times);
    Update_TableWidgetItem(row, column, edit.cellText.toInt());
    if (edit.redraw)
        SetLumen();
}

uint8_t Vantory::Jude_ConstantTime_Legal(uint8_t index, uint8_t value)
{
    return constlumen::Jude_ConstantTime_Legal(constlumen::times(doc().image()), index, value);
}

void Vantory::Increase_ConstantTime(uint8_t index, uint8_t value)
{
    if (index >= tagoffset::CloPoints)
        return;
    constlumen::Points times = constlumen::times(doc().image());
    constlumen::Increase_ConstantTime(times, index, value);
    doc().setLumenTimes(times);
    GetLumenTimer(times);
}

bool Vantory::Check_ConstantData()
{
    constlumen::Points times = constlumen::times(doc().image());
    if (!constlumen::Check_ConstantData(times))
        return false;
    doc().setLumenTimes(times);
    showCloCorrectionNotice();
    return true;
}

void Vantory::showCloCorrectionNotice()
{
    m_notice->showNotice(this, constlumen::correctionNotice(lang_cn != 0), kNoticeMs);
}

void Vantory::Update_TableWidgetItem(int row, int column, int item_value)
{
    QTableWidget* table = ui->LumentableWidget;
    const QSignalBlocker blocker(table);
    table->setItem(row, column, new QTableWidgetItem(QString::number(item_value)));
}
