#include "app/vantory.h"
#include "ui_vantory.h"

#include "app/aboutusdialog.h"
#include "app/apptexts.h"
#include "app/branding.h"
#include "app/connectionconfig.h"
#include "app/stationview.h"
#include "widgets/colorwidget.h"

#include <QIcon>
#include <QLabel>

namespace
{

const QString kIconChinese =
    QStringLiteral(":image/images/UI_img/切换语言_Property_1_Variant3@2x.png");
const QString kIconEnglish =
    QStringLiteral(":image/images/UI_img/切换语言_Property_1_Variant4@2x.png");

// One caption of the main window: how to set it, and its text in both languages.
struct Caption {
    void (*apply)(Ui::Vantory& ui, const QString& text);
    BiText text;
};

template <auto Member> void setCaption(Ui::Vantory& ui, const QString& text)
{
    (ui.*Member)->setText(text);
}

// Every caption that follows the language. The form starts with the English column,
// except "Software Version" and "Dirver Type", which read as below only after a switch.
constexpr Caption kCaptions[] = {
    {setCaption<&Ui::Vantory::actionselect>, {"连接配置", "Reader Config"}},
    {setCaption<&Ui::Vantory::actionOpen_BIN_configure>, {"读取档案", "Read File"}},
    {setCaption<&Ui::Vantory::actionSave_BIN_configure>, {"保存档案", "Save File"}},
    {setCaption<&Ui::Vantory::actionAboutus>, {"关于我们", "About Us"}},
    {setCaption<&Ui::Vantory::actionStation>, {"多阅读器工位", "Station"}},
    {setCaption<&Ui::Vantory::actionLanguage>, {"切换语言", "Language"}},
    {setCaption<&Ui::Vantory::actionRead>, {"读取", "Read"}},
    {setCaption<&Ui::Vantory::actionWrite>, {"写入", "Write"}},
    {setCaption<&Ui::Vantory::actionAuto_Write>, {"自动扫描", "Auto Scan"}},
    {setCaption<&Ui::Vantory::label_Divecerdata>, {"设备数据", "Device Data"}},
    {setCaption<&Ui::Vantory::label_Driver_Logo>, {"机型号", "Mode Type"}},
    {setCaption<&Ui::Vantory::label_GTIN_Logo>, {"GTIN", "GTIN"}},
    {setCaption<&Ui::Vantory::label_DeviceCode_Logo>, {"物料编码", "Fixture ID"}},
    {setCaption<&Ui::Vantory::label_Type>, {"设备类型", "Driver Type"}},
    {setCaption<&Ui::Vantory::label_CH>, {"通道数", "Channel Number"}},
    {setCaption<&Ui::Vantory::label_HW>, {"硬件版本号", "Hardware Version"}},
    {setCaption<&Ui::Vantory::label_FW>, {"固件版本号", "Firmware Version"}},
    {setCaption<&Ui::Vantory::label_GT>, {"驱动器工作时间", "Work Time"}},
    {setCaption<&Ui::Vantory::label_LT>, {"负载工作时间", "Load Time"}},
    {setCaption<&Ui::Vantory::label_ACurrentRange_Logo>, {"电流一范围", "CH1 Range"}},
    {setCaption<&Ui::Vantory::label_BCurrentRange_Logo>, {"电流二范围", "CH2 Range"}},
    {setCaption<&Ui::Vantory::label_CCurrentRange_Logo>, {"电流三范围", "CH3 Range"}},
    {setCaption<&Ui::Vantory::label_Current>, {"设置电流", "Current"}},
    {setCaption<&Ui::Vantory::label_ConstLumen>, {"恒定流明", "CLO"}},
    {setCaption<&Ui::Vantory::label_CCT>, {"设置色温", "Color Temperature"}},
    {setCaption<&Ui::Vantory::label_CWTitle>, {"冷暖色温范围(K)", "Range(K)"}},
    {setCaption<&Ui::Vantory::label_CWRange>,
     {"物理最暖色温值 - 物理最冷色温值", "Physics Warmest - Physics Coldest"}},
    {setCaption<&Ui::Vantory::label_RGBTitle>, {"RGB色温", "RGB Calibration"}},
};

// The current widgets take a pair; they show only the second text, as their title.
struct ChannelCaption {
    myslider* Ui::Vantory::*widget;
    BiText channel;
    BiText title;
};

constexpr ChannelCaption kChannelCaptions[] = {
    {&Ui::Vantory::Currentwidget_ch1, {"A路：", "A_CH:"}, {"设备电流一（mA）", "CH1 Current(mA)"}},
    {&Ui::Vantory::Currentwidget_ch2, {"B路：", "B_CH:"}, {"设备电流二（mA）", "CH2 Current(mA)"}},
    {&Ui::Vantory::Currentwidget_ch3, {"C路：", "C_CH:"}, {"设备电流三（mA）", "CH3 Current(mA)"}},
};

} // namespace

void Vantory::on_actionLanguage_triggered()
{
    if (refusedWhileBusy(apptext::ActionLanguage))
        return;
    if (lang_cn) {
        lang_cn = 0;
        ui->actionLanguage->setIcon(QIcon(kIconEnglish));
    } else {
        lang_cn = 1;
        ui->actionLanguage->setIcon(QIcon(kIconChinese));
    }
    const bool chinese = lang_cn != 0;
    m_engine->setChinese(chinese);

    SetLumen();
    Switch_Language_Text(chinese);
    m_about_dialog->Set_Language(chinese);
    m_connection_dialog->Set_Language(chinese);
    if (m_station)
        m_station->setChinese(chinese);
    ColorWidget::setLanguage(chinese);
    rememberSetting(QStringLiteral("language"),
                    chinese ? QStringLiteral("zh") : QStringLiteral("en"));
}

void Vantory::Switch_Language_Text(bool chinese)
{
    setWindowTitle(branding::windowTitle(chinese));
    for (const Caption& caption : kCaptions)
        caption.apply(*ui, caption.text.pick(chinese));
    for (const ChannelCaption& channel : kChannelCaptions)
        (ui->*channel.widget)
            ->setLabels(channel.channel.pick(chinese), channel.title.pick(chinese));
    // The lumen chart's axis name is the same in both languages; it has no title.
    ui->widget_constlumen->setTitle(QString());
    ui->widget_constlumen->setY_Name(QStringLiteral("level"));
    showConfigurationLine();
    // Batch counts and a record problem follow the language like the tips.
    if (m_batch.shown)
        showBatchCounts();
    showLastDriver();
    showRecordProblem();
    showLastWrite();

    if (!m_engine->readerConnected()) {
        // Only the words change here; the label keeps the colour it had.
        status_link->setText(apptext::SelectDevice.pick(chinese));
        Show_Result_Status(false, QString());
        return;
    }
    onEngineLinkTip(m_engine->connectedLinkTip(), chinese);
    LiveUpdate_StatusBar(last_tip);
    if (m_refusal)
        Show_Result_Status(false, m_refusal(chinese));
}
