#include "app/vantory.h"
#include "ui_vantory.h"

#include "model/currents.h"

#include <QLabel>
#include <QScopedValueRollback>

// Which channel widgets, range lines and option panels a driver has, and what they show.

void Vantory::ChangeParamEnable(uint8_t device_type)
{
    doc().showDriverType(device_type);
    const currents::PanelPlan plan = doc().panelPlan();
    Hide_Option_Panels();
    if (!plan.typeText.isNull())
        ui->labelDeviceType->setText(plan.typeText);
    if (plan.showClo)
        ui->CLOBoxwidget->show();
    if (plan.showCct)
        ui->CctBoxwidget->show();
    if (!plan.expandSpacer)
        Set_Panel_Spacer(false);
    ui->labelChannelNum->setText(QString::number(plan.channelCount));
    Display_Current_Channel(plan.channelCount);
}

void Vantory::Display_Current_Channel(uint8_t nums)
{
    // The widgets show the document's settings; setting them is no edit.
    const QScopedValueRollback<bool> showing(m_showing_document, true);
    doc().showChannels(nums);
    const currents::ChannelDisplay display = doc().channelDisplay();
    if (display.widgets == 0)
        return;
    if (display.setRangeRows)
        Show_Current_Range_Rows(display.rangeRows);

    myslider* widgets[3] = {ui->Currentwidget_ch1, ui->Currentwidget_ch2, ui->Currentwidget_ch3};
    QLabel* rangeLabels[3] = {ui->Currentlabel_Range_A, ui->Currentlabel_Range_B,
                              ui->Currentlabel_Range_C};
    void (Vantory::*tips[3])(bool, uint16_t, uint16_t) = {
        &Vantory::Tip_Current_CH1, &Vantory::Tip_Current_CH2, &Vantory::Tip_Current_CH3};

    for (int i = 0; i < display.widgets && i < 3; ++i) {
        const currents::ChannelSetting& ch = display.channels[size_t(i)];
        widgets[i]->show();
        // The range goes first so that the widget clamps the value into it. The member
        // pointer is taken out first: GCC 12's bounds sanitizer mis-instruments
        // (this->*tips[i])(...) and reports a wild index.
        const auto tip = tips[i];
        (this->*tip)(lang_cn != 0, ch.minimum, ch.maximum);
        widgets[i]->setValue(ch.current);
        if (display.setRangeRows)
            rangeLabels[i]->setText(display.rangeTexts[size_t(i)]);
    }
}

void Vantory::Tip_Current_CH1(bool state, uint16_t u16_min, uint16_t u16_max)
{
    ui->Currentwidget_ch1->setRange(state ? QStringLiteral("设备电流一（mA）")
                                          : QStringLiteral("CH1 Current(mA)"),
                                    u16_min, u16_max, QStringLiteral("mA"));
}

void Vantory::Tip_Current_CH2(bool state, uint16_t u16_min, uint16_t u16_max)
{
    ui->Currentwidget_ch2->setRange(state ? QStringLiteral("设备电流二（mA）")
                                          : QStringLiteral("CH2 Current(mA)"),
                                    u16_min, u16_max, QStringLiteral("mA"));
}

void Vantory::Tip_Current_CH3(bool state, uint16_t u16_min, uint16_t u16_max)
{
    ui->Currentwidget_ch3->setRange(state ? QStringLiteral("设备电流三（mA）")
                                          : QStringLiteral("CH3 Current(mA)"),
                                    u16_min, u16_max, QStringLiteral("mA"));
}

void Vantory::Open_Use_Function(uint8_t functions)
{
    // Kept for the window's slot set; the option panels follow the driver type instead.
    Q_UNUSED(functions);
}
