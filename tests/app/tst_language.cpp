#include "app/aboutusdialog.h"
#include "app/connectionconfig.h"
#include "app/vantory.h"
#include "model/constlumen.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"
#include "widgets/colorwidget.h"
#include "widgets/curvechart.h"
#include "widgets/myslider.h"
#include "widgets/noticewidget.h"
#include "widgets/titlebar.h"

#include "engine/tagengine.h"
#include "testaccess.h"
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QTextLayout>
#include <QToolBar>
#include <QToolButton>

#include <QCheckBox>
#include <QtTest>
#include <memory>


namespace
{

const QString kUi = QStringLiteral(":/image/images/UI_img/");
const QColor kBlue(Qt::blue);
const QColor kRed(Qt::red);

template <typename T> T* child(QObject* parent, const QString& name)
{
    T* found = parent->findChild<T*>(name);
    if (!found)
        qWarning("no child %s", qPrintable(name));
    return found;
}

QColor textColour(const QLabel* label)
{
    return label->palette().color(QPalette::Active, QPalette::WindowText);
}

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(QSize(40, 40)).toImage();
}

QImage fileImage(const QString& path)
{
    return QIcon(path).pixmap(QSize(40, 40)).toImage();
}

bool hasHan(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    return false;
}

// Glyph index 0 is the font's "missing glyph" box, also after font fallback.
QString missingGlyphs(const QString& text, const QFont& font)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QString missing;
    for (const QGlyphRun& run : layout.glyphRuns())
        for (quint32 glyph : run.glyphIndexes())
            if (glyph == 0)
                missing += QStringLiteral("?");
    return missing;
}

} // namespace

class TstLanguage : public QObject
{
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void trigger_togglesFlagAndIcon();
    void captions_followLanguage_data();
    void captions_followLanguage();
    void aboutRightsLine_followsLanguage();
    void aboutRecordFolder_linkFollowsLanguage();
    void settings_restoredInNextRun_data();
    void settings_restoredInNextRun();
    void englishOnlyTexts_stay();
    void firmwareCaption_correctedByRoundTrip();
    void lumenChart_redrawnWithoutTitle();
    void noReader_selectMessageKeepsColour_data();
    void noReader_selectMessageKeepsColour();
    void connectedAfterRead_bothTipsShownAgain_data();
    void connectedAfterRead_bothTipsShownAgain();
    void connectedWithoutTip_resultLabelLeftAlone();
    void laterTexts_useNewLanguage_data();
    void laterTexts_useNewLanguage();
    void chineseCaptions_haveGlyphs();
    void captions_notClipped_data();
    void captions_notClipped();

  private:
    void trigger(int times = 1);
    void connectAndRead(int reader);
    QString textOf(const QString& kind, const QString& name);
    QLabel* link() { return TestAccess::statusLink(*m_w); }
    QLabel* result() { return TestAccess::statusResult(*m_w); }

    std::unique_ptr<ReaderField> m_field;
    std::unique_ptr<SimR321> m_r321;
    std::unique_ptr<SimFeig> m_feig;
    std::unique_ptr<Vantory> m_w;
    QStringList m_warnings;       // caption + "|" + text of the window's warning boxes
    QStringList m_colourWarnings; // the same for the colour picker
};

void TstLanguage::init()
{
    ColorWidget::setLanguage(false);
    m_field = std::make_unique<ReaderField>();
    m_r321 = std::make_unique<SimR321>(m_field.get());
    m_feig = std::make_unique<SimFeig>(m_field.get());
    m_field->layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 1));
    ReaderBackends backends;
    backends.hid = m_r321.get();
    backends.feusb = m_feig.get();
    backends.simulated = true;
    m_w = std::make_unique<Vantory>(backends);
    m_warnings.clear();
    m_colourWarnings.clear();
    m_w->setModalHook([this](const QString& caption, const QString& text) {
        m_warnings << caption + QLatin1Char('|') + text;
    });
    ColorWidget::setWarningHook([this](const QString& caption, const QString& text) {
        m_colourWarnings << caption + QLatin1Char('|') + text;
    });
}

void TstLanguage::cleanup()
{
    m_w.reset();
    m_feig.reset();
    m_r321.reset();
    m_field.reset();
    ColorWidget::setWarningHook({});
    ColorWidget::setLanguage(false);
}

void TstLanguage::trigger(int times)
{
    auto* action = child<QAction>(m_w.get(), QStringLiteral("actionLanguage"));
    QVERIFY(action);
    for (int i = 0; i < times; ++i)
        action->trigger();
}

void TstLanguage::connectAndRead(int reader)
{
    if (reader == 2) {
        m_w->connectReader(ReaderType::R321);
        QTRY_COMPARE(link()->text(), QStringLiteral("Connected: R321"));
    } else {
        QVERIFY(m_w->connectReader(ReaderType::Feig));
        QCOMPARE(link()->text(), QStringLiteral("Connected: Feig Reader"));
    }
    m_w->Set_Reader_Type(ReaderType(reader));
    child<QAction>(m_w.get(), QStringLiteral("actionRead"))->trigger();
    QTRY_COMPARE(result()->text(), QStringLiteral("Read successfully"));
}

QString TstLanguage::textOf(const QString& kind, const QString& name)
{
    if (kind == QLatin1String("window"))
        return m_w->windowTitle();
    if (kind == QLatin1String("action"))
        return child<QAction>(m_w.get(), name)->text();
    if (kind == QLatin1String("label"))
        return child<QLabel>(m_w.get(), name)->text();
    if (kind == QLatin1String("channel"))
        return child<myslider>(m_w.get(), name)->title();
    QDialog* dlg = kind == QLatin1String("connection")
                       ? static_cast<QDialog*>(TestAccess::connectionDialog(*m_w))
                       : static_cast<QDialog*>(TestAccess::aboutDialog(*m_w));
    if (name == QLatin1String("widget_title"))
        return child<TitleBar>(dlg, name)->title();
    if (auto* button = dlg->findChild<QPushButton*>(name))
        return button->text();
    return child<QLabel>(dlg, name)->text();
}

// ---------------------------------------------------------------------------- the switch

void TstLanguage::trigger_togglesFlagAndIcon()
{
    auto* action = child<QAction>(m_w.get(), QStringLiteral("actionLanguage"));
    const QImage v3 = fileImage(kUi + QString::fromUtf8("切换语言_Property_1_Variant3@2x.png"));
    const QImage v4 = fileImage(kUi + QString::fromUtf8("切换语言_Property_1_Variant4@2x.png"));
    QVERIFY(!v3.isNull() && !v4.isNull());
    QVERIFY(v3 != v4);

    QCOMPARE(int(TestAccess::langCn(*m_w)), 0);
    QCOMPARE(iconImage(action->icon()), v4);
    QVERIFY(!ColorWidget::language());

    for (int round = 0; round < 2; ++round) {
        action->trigger();
        QCOMPARE(int(TestAccess::langCn(*m_w)), 1);
        QCOMPARE(iconImage(action->icon()), v3);
        QVERIFY(ColorWidget::language());

        action->trigger();
        QCOMPARE(int(TestAccess::langCn(*m_w)), 0);
        QCOMPARE(iconImage(action->icon()), v4);
        QVERIFY(!ColorWidget::language());
    }
}

void TstLanguage::captions_followLanguage_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("english");

    auto row = [](const char* kind, const char* name, const char* start, const char* cn,
                  const char* en) {
        QTest::newRow((QByteArray(kind) + ':' + name).constData())
            << QString::fromLatin1(kind) << QString::fromLatin1(name) << QString::fromUtf8(start)
            << QString::fromUtf8(cn) << QString::fromUtf8(en);
    };
    row("window", "", "Orvella NFC Reader", "Orvella LED驱动配置", "Orvella NFC Reader");
    row("action", "actionselect", "Reader Config", "连接配置", "Reader Config");
    row("action", "actionOpen_BIN_configure", "Read File", "读取档案", "Read File");
    row("action", "actionSave_BIN_configure", "Save File", "保存档案", "Save File");
    row("action", "actionAboutus", "About Us", "关于我们", "About Us");
    row("action", "actionLanguage", "Language", "切换语言", "Language");
    row("action", "actionRead", "Read", "读取", "Read");
    row("action", "actionWrite", "Write", "写入", "Write");
    row("action", "actionAuto_Write", "Auto Scan", "自动扫描", "Auto Scan");
    row("label", "label_Divecerdata", "Device Data", "设备数据", "Device Data");
    row("label", "label_Driver_Logo", "Mode Type", "机型号", "Mode Type");
    row("label", "label_GTIN_Logo", "GTIN", "GTIN", "GTIN");
    row("label", "label_DeviceCode_Logo", "Fixture ID", "物料编码", "Fixture ID");
    row("label", "label_Type", "Dirver Type", "设备类型", "Driver Type");
    row("label", "label_CH", "Channel Number", "通道数", "Channel Number");
    row("label", "label_HW", "Hardware Version", "硬件版本号", "Hardware Version");
    row("label", "label_FW", "Software Version", "固件版本号", "Firmware Version");
    row("label", "label_GT", "Work Time", "驱动器工作时间", "Work Time");
    row("label", "label_LT", "Load Time", "负载工作时间", "Load Time");
    row("label", "label_ACurrentRange_Logo", "CH1 Range", "电流一范围", "CH1 Range");
    row("label", "label_BCurrentRange_Logo", "CH2 Range", "电流二范围", "CH2 Range");
    row("label", "label_CCurrentRange_Logo", "CH3 Range", "电流三范围", "CH3 Range");
    row("channel", "Currentwidget_ch1", "CH1 Current(mA)", "设备电流一（mA）", "CH1 Current(mA)");
    row("channel", "Currentwidget_ch2", "CH2 Current(mA)", "设备电流二（mA）", "CH2 Current(mA)");
    row("channel", "Currentwidget_ch3", "CH3 Current(mA)", "设备电流三（mA）", "CH3 Current(mA)");
    row("label", "label_Current", "Current", "设置电流", "Current");
    row("label", "label_ConstLumen", "CLO", "恒定流明", "CLO");
    row("label", "label_CCT", "Color Temperature", "设置色温", "Color Temperature");
    row("label", "label_CWTitle", "Range(K)", "冷暖色温范围(K)", "Range(K)");
    row("label", "label_CWRange", "Physics Warmest - Physics Coldest",
        "物理最暖色温值 - 物理最冷色温值", "Physics Warmest - Physics Coldest");
    row("label", "label_RGBTitle", "RGB Calibration", "RGB色温", "RGB Calibration");
    row("connection", "widget_title", "   Reader Configuration", "   连接配置",
        "   Reader Configuration");
    row("connection", "label_Select", "Reader Brand", "选择NFC阅读器", "Reader Brand");
    row("connection", "pushButton_Connect", "OK", "确定", "OK");
    row("about", "widget_title", "   About Us", "   关于我们", "   About Us");
    row("about", "label_Configuration", "Software Configuration", "驱动程序配置",
        "Software Configuration");
    row("about", "label_Version", "Software Version", "版本 1.1.2", "Software Version");
    row("about", "label_company", "Support ST25DV", "NFC驱动配置，支持ST25DV", "Support ST25DV");
}

void TstLanguage::captions_followLanguage()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(QString, start);
    QFETCH(QString, chinese);
    QFETCH(QString, english);

    QCOMPARE(textOf(kind, name), start);
    for (int round = 0; round < 2; ++round) {
        trigger();
        QCOMPARE(textOf(kind, name), chinese);
        trigger();
        QCOMPARE(textOf(kind, name), english);
    }
}

void TstLanguage::aboutRightsLine_followsLanguage()
{
    auto* rights = child<QLabel>(TestAccess::aboutDialog(*m_w), QStringLiteral("label_Reserved"));
    const QString start = rights->text();
    QVERIFY(!start.isEmpty());
    QVERIFY(!hasHan(start));
    trigger();
    const QString chinese = rights->text();
    QVERIFY(hasHan(chinese));
    trigger();
    QCOMPARE(rights->text(), start);
}

void TstLanguage::aboutRecordFolder_linkFollowsLanguage()
{
    AboutUsDialog* about = TestAccess::aboutDialog(*m_w);
    auto* records = child<QLabel>(about, QStringLiteral("label_Records"));
    QVERIFY(records->isHidden()); // no record kept, nothing to show
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("records"));
    m_w->setRecordFolder(folder);
    QVERIFY(!records->isHidden());
    QVERIFY(QFileInfo(folder).isDir()); // the link opens an existing folder
    QVERIFY(records->openExternalLinks());
    const QString link = QStringLiteral("href=\"%1\"").arg(QUrl::fromLocalFile(folder).toString());
    const QString shots = qEnvironmentVariable("VANTORY_SHOTS_DIR");
    for (const bool chinese : {false, true}) {
        QVERIFY2(records->text().contains(link), qPrintable(records->text()));
        QVERIFY(records->text().startsWith(chinese ? QStringLiteral("生产记录：")
                                                   : QStringLiteral("Production records:")));
        if (!shots.isEmpty()) {
            about->show();
            QTest::qWait(50);
            about->grab().save(QDir(shots).filePath(chinese ? "about-zh.png" : "about-en.png"));
            about->hide();
        }
        trigger();
    }
}

// The language, the folder of the last configuration file, the reader choice and the
// verification switch are there again in the next run.
void TstLanguage::settings_restoredInNextRun_data()
{
    QTest::addColumn<int>("lang");
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<bool>("fast");
    QTest::addColumn<QString>("connected"); // at the next start, without the dialog
    QTest::newRow("Chinese, CHENKON, no verify, fast batch")
        << 1 << 1 << false << true << "连接成功: R321 阅读器";
    QTest::newRow("English, FEIG, verify") << 0 << 0 << true << false << "Connected: Feig Reader";
}

void TstLanguage::settings_restoredInNextRun()
{
    QFETCH(int, lang);
    QFETCH(int, reader);
    QFETCH(bool, verify);
    QFETCH(bool, fast);
    QFETCH(QString, connected);
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("settings.ini"));
    m_w->useSettings(std::make_unique<QSettings>(ini, QSettings::IniFormat));
    QVERIFY(TestAccess::verifyAfterWrite(*m_w)); // on the first time
    trigger(lang ? 1 : 2);
    auto* dialog = TestAccess::connectionDialog(*m_w);
    auto* check = child<QCheckBox>(dialog, QStringLiteral("checkBox_Verify"));
    QCOMPARE(check->text(),
             lang ? QStringLiteral("写入后回读校验") : QStringLiteral("Verify after write"));
    QVERIFY(check->isChecked());
    check->setChecked(false); // takes effect at once
    QVERIFY(!TestAccess::verifyAfterWrite(*m_w));
    check->setChecked(verify);
    auto* fastBox = child<QCheckBox>(dialog, QStringLiteral("checkBox_FastBatch"));
    QCOMPARE(fastBox->text(), lang ? QStringLiteral("快速批量") : QStringLiteral("Fast batch"));
    QVERIFY(!fastBox->isChecked()); // described the first time
    fastBox->setChecked(fast);
    QCOMPARE(TestAccess::engine(*m_w).autoWritePace() == AutoWrite::Pace::Fast, fast);
    auto* combo = child<QComboBox>(dialog, QStringLiteral("comboBox_Reader"));
    combo->setCurrentIndex(reader);
    child<QPushButton>(dialog, QStringLiteral("pushButton_Connect"))->click();
    const QString configs = dir.filePath(QStringLiteral("configs"));
    QVERIFY(QDir().mkpath(configs));
    m_w->setFileDialogHook([&](Vantory::FileDialogMode, const QString&, const QString& name,
                               const QString&) { return QDir(configs).filePath(name); });
    child<QAction>(m_w.get(), QStringLiteral("actionSave_BIN_configure"))->trigger();
    QCOMPARE(QDir(configs).entryList(QDir::Files).size(), 1);

    cleanup();
    init();
    QCOMPARE(int(TestAccess::langCn(*m_w)), 0);
    m_w->useSettings(std::make_unique<QSettings>(ini, QSettings::IniFormat));
    QCOMPARE(int(TestAccess::langCn(*m_w)), lang);
    QCOMPARE(link()->text(), connected);
    dialog = TestAccess::connectionDialog(*m_w);
    // The reader itself is chosen: its kind and identity.
    const QComboBox* chosen = child<QComboBox>(dialog, QStringLiteral("comboBox_Reader"));
    QVERIFY2(chosen->currentText().startsWith(chosen->itemText(reader) + QStringLiteral("  ")),
             qPrintable(chosen->currentText()));
    QCOMPARE(TestAccess::configFolder(*m_w), configs);
    QCOMPARE(child<QCheckBox>(dialog, QStringLiteral("checkBox_Verify"))->isChecked(), verify);
    QCOMPARE(TestAccess::verifyAfterWrite(*m_w), verify);
    QCOMPARE(child<QCheckBox>(dialog, QStringLiteral("checkBox_FastBatch"))->isChecked(), fast);
    QCOMPARE(TestAccess::engine(*m_w).autoWritePace() == AutoWrite::Pace::Fast, fast);
}

void TstLanguage::englishOnlyTexts_stay()
{
    const std::pair<const char*, const char*> labels[] = {
        {"label_5", "k -"}, {"label_6", "k"}, {"label_8", "1000"}, {"label_9", "12000"}};
    const std::pair<const char*, const char*> tooltips[] = {{"actionOpen_BIN_configure", "Load"},
                                                            {"actionSave_BIN_configure", "Save"},
                                                            {"actionRead", "Read"},
                                                            {"actionWrite", "Write"},
                                                            {"actionAuto_Write", "Auto Scan"},
                                                            {"actionAboutus", "About Us"},
                                                            {"actionLanguage", "Chinese"}};
    auto* table = child<QTableWidget>(m_w.get(), QStringLiteral("LumentableWidget"));
    auto* combo =
        child<QComboBox>(TestAccess::connectionDialog(*m_w), QStringLiteral("comboBox_Reader"));

    trigger();
    QCOMPARE(int(TestAccess::langCn(*m_w)), 1);
    for (const auto& [name, text] : labels)
        QCOMPARE(child<QLabel>(m_w.get(), QString::fromLatin1(name))->text(),
                 QString::fromLatin1(text));
    for (const auto& [name, text] : tooltips)
        QCOMPARE(child<QAction>(m_w.get(), QString::fromLatin1(name))->toolTip(),
                 QString::fromLatin1(text));
    QCOMPARE(child<QAction>(m_w.get(), QStringLiteral("actionLanguage"))->shortcut(),
             QKeySequence(Qt::Key_F3));
    QCOMPARE(child<QToolBar>(m_w.get(), QStringLiteral("toolBar"))->windowTitle(),
             QStringLiteral("toolBar"));
    for (int c = 0; c < 16; ++c)
        QCOMPARE(table->horizontalHeaderItem(c)->text(), QString::number(c));
    QCOMPARE(table->verticalHeaderItem(0)->text(), QStringLiteral("Time"));
    QCOMPARE(table->verticalHeaderItem(1)->text(), QStringLiteral("Level"));
    QCOMPARE(combo->itemText(0), QStringLiteral("FEIG"));
    QCOMPARE(combo->itemText(1), QStringLiteral("CHENKON"));
}

void TstLanguage::firmwareCaption_correctedByRoundTrip()
{
    auto* fw = child<QLabel>(m_w.get(), QStringLiteral("label_FW"));
    QCOMPARE(fw->text(), QStringLiteral("Software Version"));
    trigger(2);
    QCOMPARE(fw->text(), QStringLiteral("Firmware Version"));
}

void TstLanguage::lumenChart_redrawnWithoutTitle()
{
    auto* chart = child<CurveChart>(m_w.get(), QStringLiteral("widget_constlumen"));
    auto* table = child<QTableWidget>(m_w.get(), QStringLiteral("LumentableWidget"));
    // The form already gives the chart the texts of a language change.
    QCOMPARE(chart->title(), QString());
    QCOMPARE(chart->yName(), QStringLiteral("level"));

    // A cell changed behind the table's back reaches the chart only through a redraw.
    table->blockSignals(true);
    table->item(0, 5)->setText(QStringLiteral("27"));
    table->blockSignals(false);
    QVERIFY(chart->timeValues().value(5) != 27.0);

    for (int lang : {1, 0}) {
        trigger();
        QCOMPARE(int(TestAccess::langCn(*m_w)), lang);
        QCOMPARE(chart->title(), QString());
        QCOMPARE(chart->yName(), QStringLiteral("level"));
        QCOMPARE(chart->timeValues().size(), 16);
        QCOMPARE(chart->timeValues().at(5), 27.0);
        QCOMPARE(int(constlumen::times(TestAccess::image(*m_w))[5]), 27);
    }
}

// ---------------------------------------------------------------------------- status labels

void TstLanguage::noReader_selectMessageKeepsColour_data()
{
    QTest::addColumn<int>("readerType");
    QTest::addColumn<bool>("linkBlue");
    QTest::newRow("none chosen, red") << 0 << false;
    QTest::newRow("none chosen, blue from earlier") << 0 << true;
    QTest::newRow("R321 chosen, unplugged") << 2 << false;
    QTest::newRow("FEIG chosen, unplugged") << 1 << true;
}

void TstLanguage::noReader_selectMessageKeepsColour()
{
    QFETCH(int, readerType);
    QFETCH(bool, linkBlue);
    m_field->setUnplugged(SimReaderKind::R321, true);
    m_field->setUnplugged(SimReaderKind::Feig, true);
    m_w->Set_Reader_Type(ReaderType(readerType));
    if (linkBlue)
        m_w->Show_Link_Status(true, QStringLiteral("Connected: R321"));
    const QColor colour = linkBlue ? kBlue : kRed;
    emit TestAccess::engine(*m_w).resultTip(ResultTip::ReadSucceed, false);
    QCOMPARE(result()->text(), QStringLiteral("Read successfully"));

    trigger();
    QCOMPARE(link()->text(), QStringLiteral("请选择USB设备"));
    QCOMPARE(textColour(link()), colour);
    QCOMPARE(link()->palette().color(QPalette::Inactive, QPalette::WindowText), colour);
    QCOMPARE(result()->text(), QString());
    QCOMPARE(textColour(result()), kRed);

    trigger();
    QCOMPARE(link()->text(), QStringLiteral("Please selcet usb device"));
    QCOMPARE(textColour(link()), colour);
    QCOMPARE(result()->text(), QString());
    // Asking quietly: the switch itself never raises the reader warning.
    QVERIFY2(m_warnings.isEmpty(), qPrintable(m_warnings.join(QLatin1Char(';'))));
}

void TstLanguage::connectedAfterRead_bothTipsShownAgain_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<QString>("linkCn");
    QTest::addColumn<QString>("linkEn");
    QTest::newRow("R321") << 2 << "连接成功: R321 阅读器"
                          << "Connected: R321";
    QTest::newRow("FEIG") << 1 << "连接成功: Feig 阅读器"
                          << "Connected: Feig Reader";
}

void TstLanguage::connectedAfterRead_bothTipsShownAgain()
{
    QFETCH(int, reader);
    QFETCH(QString, linkCn);
    QFETCH(QString, linkEn);
    connectAndRead(reader);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(int(TestAccess::lastTip(*m_w)), 3);

    auto* model = child<QLabel>(m_w.get(), QStringLiteral("Productlabel"));
    auto* gtin = child<QLabel>(m_w.get(), QStringLiteral("labelGTIN"));
    auto* ch1 = child<myslider>(m_w.get(), QStringLiteral("Currentwidget_ch1"));
    auto* warmest = child<QSpinBox>(m_w.get(), QStringLiteral("WormestspinBox"));
    auto* coolest = child<QSpinBox>(m_w.get(), QStringLiteral("CoolestspinBox"));
    const QString modelText = model->text();
    const QString gtinText = gtin->text();
    const int current = ch1->value();
    const int warm = warmest->value();
    const int cool = coolest->value();
    QCOMPARE(modelText, demodrivers::info(demodrivers::Kind::Dt8).model);

    trigger();
    QCOMPARE(link()->text(), linkCn);
    QCOMPARE(textColour(link()), kBlue);
    QCOMPARE(result()->text(), QStringLiteral("读取成功"));
    QCOMPARE(textColour(result()), kBlue);

    trigger();
    QCOMPARE(link()->text(), linkEn);
    QCOMPARE(textColour(link()), kBlue);
    QCOMPARE(result()->text(), QStringLiteral("Read successfully"));
    QCOMPARE(textColour(result()), kBlue);

    // Values are left alone; only captions change.
    QCOMPARE(model->text(), modelText);
    QCOMPARE(gtin->text(), gtinText);
    QCOMPARE(ch1->value(), current);
    QCOMPARE(warmest->value(), warm);
    QCOMPARE(coolest->value(), cool);
    QVERIFY(m_warnings.isEmpty());
}

void TstLanguage::connectedWithoutTip_resultLabelLeftAlone()
{
    m_w->connectReader(ReaderType::R321);
    QTRY_COMPARE(link()->text(), QStringLiteral("Connected: R321"));
    m_w->Set_Reader_Type(ReaderType::R321);
    QCOMPARE(int(TestAccess::lastTip(*m_w)), 0);
    m_w->Show_Result_Status(true, QStringLiteral("kept"));

    trigger();
    QCOMPARE(link()->text(), QStringLiteral("连接成功: R321 阅读器"));
    QCOMPARE(textColour(link()), kBlue);
    QCOMPARE(result()->text(), QStringLiteral("kept"));
    QCOMPARE(textColour(result()), kBlue);
}

// ---------------------------------------------------------------------------- later texts

void TstLanguage::laterTexts_useNewLanguage_data()
{
    QTest::addColumn<int>("triggers");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("select");
    QTest::addColumn<QString>("connected");
    QTest::addColumn<QString>("read");
    QTest::addColumn<QString>("colourWarning");
    QTest::addColumn<QString>("copied");
    QTest::newRow("chinese") << 1 << "警告！|阅读器未连接，请连接阅读器！"
                             << "请选择USB设备"
                             << "连接成功: R321 阅读器"
                             << "读取成功"
                             << "警告！|单色值范围0~255"
                             << "复制成功";
    QTest::newRow("english again")
        << 2 << "Warning！|The reader is not connected, please connect the reader!"
        << "Please selcet usb device"
        << "Connected: R321"
        << "Read successfully"
        << "Warning!|Monochrome values range from 0 to 255"
        << "Copy Succeed";
}

void TstLanguage::laterTexts_useNewLanguage()
{
    QFETCH(int, triggers);
    QFETCH(QString, warning);
    QFETCH(QString, select);
    QFETCH(QString, connected);
    QFETCH(QString, read);
    QFETCH(QString, colourWarning);
    QFETCH(QString, copied);
    m_w->resize(1000, 700);
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    trigger(triggers);

    // The reader guard, with no reader chosen.
    child<QAction>(m_w.get(), QStringLiteral("actionRead"))->trigger();
    QCOMPARE(m_warnings, QStringList{warning});
    QCOMPARE(link()->text(), select);
    QCOMPARE(textColour(link()), kRed);

    // The connection dialog's own copy of the flag, then the connect and read tips.
    ConnectionConfig* dlg = TestAccess::connectionDialog(*m_w);
    dlg->show();
    child<QComboBox>(dlg, QStringLiteral("comboBox_Reader"))->setCurrentIndex(1);
    QTest::mouseClick(child<QPushButton>(dlg, QStringLiteral("pushButton_Connect")),
                      Qt::LeftButton);
    QTRY_COMPARE(link()->text(), connected);
    child<QAction>(m_w.get(), QStringLiteral("actionRead"))->trigger();
    QTRY_COMPARE(result()->text(), read);

    // The colour picker's class-wide flag.
    auto* colour = child<ColorWidget>(m_w.get(), QStringLiteral("Colorwidget"));
    colour->redSpinBox()->setValue(300);
    QCOMPARE(m_colourWarnings, QStringList{colourWarning});

    colour->copyButton()->click();
    auto* notice = m_w->findChild<NoticeWidget*>();
    QVERIFY(notice);
    QCOMPARE(notice->text(), copied);
}

// ---------------------------------------------------------------------------- rendering

void TstLanguage::chineseCaptions_haveGlyphs()
{
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    trigger();
    QStringList texts{m_w->windowTitle()};
    for (QLabel* label : m_w->findChildren<QLabel*>())
        if (hasHan(label->text()))
            texts << label->text();
    for (QAction* action : m_w->findChildren<QAction*>())
        if (hasHan(action->text()))
            texts << action->text();
    QVERIFY(texts.size() >= 28);
    // The check itself sees a box: U+0378 is unassigned, so no font has it.
    QVERIFY(!missingGlyphs(QString(QChar(0x0378)), m_w->font()).isEmpty());
    for (const QString& text : texts)
        QVERIFY2(missingGlyphs(text, m_w->font()).isEmpty(), qPrintable(text));

    // The status texts and the dialogs' texts use the same fonts.
    for (const char* text :
         {"连接成功: R321 阅读器", "请选择USB设备", "读取成功", "获取UID成功", "   连接配置",
          "选择NFC阅读器", "确定", "   关于我们", "NFC驱动配置，支持ST25DV", "版本 1.1.2",
          "阅读器未连接，请连接阅读器！"})
        QVERIFY2(missingGlyphs(QString::fromUtf8(text), m_w->font()).isEmpty(), text);
}

void TstLanguage::captions_notClipped_data()
{
    QTest::addColumn<int>("triggers");
    QTest::addColumn<QString>("shot");
    QTest::newRow("english at start") << 0 << "";
    QTest::newRow("chinese") << 1 << "lang_cn.png";
    QTest::newRow("english after chinese") << 2 << "lang_en.png";
}

void TstLanguage::captions_notClipped()
{
    QFETCH(int, triggers);
    QFETCH(QString, shot);

    // As the entry point sets the window up, for a 1920 x 1080 screen with a 40 px taskbar
    // (or the screen the test really runs on, when it is that large).
    const QScreen* screen = QGuiApplication::primaryScreen();
    QRect full = screen->geometry();
    QRect available = screen->availableGeometry();
    if (full.height() < 1080) {
        full = QRect(0, 0, 1920, 1080);
        available = QRect(0, 0, 1920, 1040);
    }
    m_w->Select_Display_Scale(full.height() - available.height(), uint16_t(full.width()),
                              uint16_t(full.height()));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(12);
    m_w->setFont(font);
    QPalette palette = m_w->palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(QColor(255, 255, 255)));
    m_w->setPalette(palette);
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    connectAndRead(2);
    if (QTest::currentTestFailed())
        return;
    trigger(triggers);
    QTest::qWait(400); // the lumen chart's first clock tick and a repaint

    QStringList clipped;
    for (QLabel* label : m_w->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(m_w.get()) || label->text().isEmpty() || label->wordWrap())
            continue;
        const int needed = label->fontMetrics().horizontalAdvance(label->text()) +
                           2 * label->margin() + 2 * label->frameWidth();
        const QRect inside = label->contentsRect();
        if (inside.width() < needed || inside.height() < label->fontMetrics().height())
            clipped << QStringLiteral("%1 \"%2\" %3<%4")
                           .arg(label->objectName(), label->text())
                           .arg(inside.width())
                           .arg(needed);
    }
    for (QToolButton* button : m_w->findChildren<QToolButton*>()) {
        if (!button->isVisibleTo(m_w.get()) || !button->defaultAction())
            continue;
        const QString text = button->defaultAction()->text();
        if (button->width() < button->fontMetrics().horizontalAdvance(text))
            clipped << QStringLiteral("button \"%1\"").arg(text);
    }
    for (myslider* slider : m_w->findChildren<myslider*>()) {
        auto* title = slider->findChild<QLabel*>(QStringLiteral("label_currentname"));
        if (slider->isVisibleTo(m_w.get()) &&
            title->width() < title->fontMetrics().horizontalAdvance(title->text()))
            clipped << QStringLiteral("title \"%1\"").arg(title->text());
    }
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral("; "))));

    // VANTORY_SHOTS_DIR keeps a picture of the window for a person to look at.
    const QString dir = qEnvironmentVariable("VANTORY_SHOTS_DIR");
    if (!dir.isEmpty() && !shot.isEmpty()) {
        QDir().mkpath(dir);
        QVERIFY(m_w->grab().save(dir + QLatin1Char('/') + shot));
    }
}

QTEST_MAIN(TstLanguage)
#include "tst_language.moc"
