#include "app/vantory.h"

#include "ui_vantory.h"

#include "engine/enginetexts.h"
#include "widgets/noticewidget.h"
#include "engine/tagengine.h"

#include <QBrush>
#include <QLabel>
#include <QPalette>
#include <QStatusBar>
#include <iterator>

namespace
{

struct TipText {
    const char* cn;
    const char* en;
    bool ok;
};

// The result tips by code; index 0 is "no tip".
const TipText kResultTips[] = {
    {"", "", false},
    {"未检测到设备", "No device detected", false},
    {"机型号不一致", "The model number is different", false},
    {"读取成功", "Read successfully", true},
    {"读取失败", "Read failure", false},
    {"写入成功", "Write successfully", true},
    {"写入失败", "Write failure", false},
    {"获取UID成功", "Succeeded in obtaining UID", true},
    {"不是ISO15693协议", "It's not ISO15693", false},
    {"没有标签响应", "No tag response", false},
    {"自动写入开启", "Autowrite on", true},
    {"写入校验失败：块 %1", "Verify failed at block %1", false},
};

QString pick(bool chinese, const char* cn, const char* en)
{
    return QString::fromUtf8(chinese ? cn : en);
}

void paintLabel(QStatusBar* bar, QLabel* label, bool ok, const QString& text)
{
    QPalette pal = bar->palette();
    pal.setBrush(QPalette::All, QPalette::WindowText,
                 QBrush(ok ? Qt::blue : Qt::red, Qt::SolidPattern));
    label->setPalette(pal);
    label->setText(text);
}

} // namespace

void Vantory::Show_Link_Status(bool ok, QString text)
{
    paintLabel(ui->statusBar, status_link, ok, text);
}

void Vantory::Show_Result_Status(bool ok, QString text)
{
    paintLabel(ui->statusBar, status_result, ok, text);
}

void Vantory::showResultTip(ResultTip result, bool chinese)
{
    const auto code = static_cast<uint8_t>(result);
    if (code >= std::size(kResultTips))
        return;
    const TipText& tip = kResultTips[code];
    QString text = pick(chinese, tip.cn, tip.en);
    if (result == ResultTip::VerifyFailed)
        text = text.arg(m_engine->verifyFailedBlock());
    Show_Result_Status(tip.ok, text);
    last_tip = code;
    m_refusal = nullptr;
}

void Vantory::clearResultStatus()
{
    Show_Result_Status(false, QString());
    last_tip = 0;
    m_refusal = nullptr;
}

void Vantory::showRefusal(const BiText& text)
{
    showRefusal([&text](bool chinese) { return text.pick(chinese); });
}

void Vantory::showRefusal(std::function<QString(bool chinese)> text, bool notice)
{
    m_refusal = std::move(text);
    Show_Result_Status(false, m_refusal(lang_cn != 0));
    last_tip = 0;
    if (notice)
        m_notice->showNotice(this, m_refusal(lang_cn != 0), 3000);
}

void Vantory::Tip_No_Device(bool state)
{
    showResultTip(ResultTip::NoDevice, state);
}
void Vantory::Tip_Device_Different(bool state)
{
    showResultTip(ResultTip::DeviceDifferent, state);
}
void Vantory::Tip_Read_Succeed(bool state)
{
    showResultTip(ResultTip::ReadSucceed, state);
}
void Vantory::Tip_Read_Failed(bool state)
{
    showResultTip(ResultTip::ReadFailed, state);
}
void Vantory::Tip_Write_Succeed(bool state)
{
    showResultTip(ResultTip::WriteSucceed, state);
}
void Vantory::Tip_Write_Failed(bool state)
{
    showResultTip(ResultTip::WriteFailed, state);
}
void Vantory::Tip_GetUID_Succeed(bool state)
{
    showResultTip(ResultTip::GetUidSucceed, state);
}
void Vantory::Tip_No_ISO15693(bool state)
{
    showResultTip(ResultTip::NoIso15693, state);
}
void Vantory::Tip_NoLabel(bool state)
{
    showResultTip(ResultTip::NoLabel, state);
}
void Vantory::Tip_OpenScan(bool state)
{
    showResultTip(ResultTip::OpenScan, state);
}

void Vantory::Tip_Feig_Connect_Succeed(bool state)
{
    Show_Link_Status(true, pick(state, "连接成功: Feig 阅读器", "Connected: Feig Reader"));
}

void Vantory::Tip_R321_Conncect_Succeed(bool state)
{
    Show_Link_Status(true, pick(state, "连接成功: R321 阅读器", "Connected: R321"));
}

void Vantory::Tip_R321_Select_Device(bool state)
{
    Show_Link_Status(false, pick(state, "请选择USB设备", "Please selcet usb device"));
}

void Vantory::LiveUpdate_StatusBar(uint8_t state)
{
    // 0 is "no tip yet"; there is no tip after the last one.
    if (state >= 1 && state <= static_cast<uint8_t>(ResultTip::VerifyFailed))
        showResultTip(static_cast<ResultTip>(state), lang_cn != 0);
}
