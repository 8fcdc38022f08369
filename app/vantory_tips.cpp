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

struct ResultTip {
    const char* cn;
    const char* en;
    bool ok;
};

// The result tips by code; index 0 is "no tip".
const ResultTip kResultTips[] = {
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
constexpr uint8_t kTipVerifyFailed = 11;

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

void Vantory::showResultTip(uint8_t code, bool chinese)
{
    if (code >= std::size(kResultTips))
        return;
    const ResultTip& tip = kResultTips[code];
    QString text = pick(chinese, tip.cn, tip.en);
    if (code == kTipVerifyFailed)
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
    Show_Result_Status(false, text.pick(lang_cn));
    last_tip = 0;
    m_refusal = &text;
    m_notice->showNotice(this, text.pick(lang_cn), 3000);
}

void Vantory::Tip_No_Device(bool state)
{
    showResultTip(1, state);
}
void Vantory::Tip_Device_Different(bool state)
{
    showResultTip(2, state);
}
void Vantory::Tip_Read_Succeed(bool state)
{
    showResultTip(3, state);
}
void Vantory::Tip_Read_Failed(bool state)
{
    showResultTip(4, state);
}
void Vantory::Tip_Write_Succeed(bool state)
{
    showResultTip(5, state);
}
void Vantory::Tip_Write_Failed(bool state)
{
    showResultTip(6, state);
}
void Vantory::Tip_GetUID_Succeed(bool state)
{
    showResultTip(7, state);
}
void Vantory::Tip_No_ISO15693(bool state)
{
    showResultTip(8, state);
}
void Vantory::Tip_NoLabel(bool state)
{
    showResultTip(9, state);
}
void Vantory::Tip_OpenScan(bool state)
{
    showResultTip(10, state);
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
    switch (state) {
    case 1:
        Tip_No_Device(lang_cn);
        break;
    case 2:
        Tip_Device_Different(lang_cn);
        break;
    case 3:
        Tip_Read_Succeed(lang_cn);
        break;
    case 4:
        Tip_Read_Failed(lang_cn);
        break;
    case 5:
        Tip_Write_Succeed(lang_cn);
        break;
    case 6:
        Tip_Write_Failed(lang_cn);
        break;
    case 7:
        Tip_GetUID_Succeed(lang_cn);
        break;
    case 8:
        Tip_No_ISO15693(lang_cn);
        break;
    case 9:
        Tip_NoLabel(lang_cn);
        break;
    case 10:
        Tip_OpenScan(lang_cn);
        break;
    case kTipVerifyFailed:
        showResultTip(kTipVerifyFailed, lang_cn);
        break;
    default:
        break; // 0 is "no tip yet"; higher codes do not exist
    }
}
