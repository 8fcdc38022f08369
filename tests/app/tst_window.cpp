#include "app/branding.h"
#include "app/vantory.h"
#include "model/constlumen.h"
#include "model/tagfields.h"
#include "readers/myhid.h"
#include "readers/r321link.h"
#include "widgets/curvechart.h"
#include "widgets/myslider.h"
#include "widgets/rangeslider.h"
#include "widgets/switchbutton.h"
#include "testaccess.h"

#include <QAction>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QSpacerItem>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QValidator>
#include <QtTest>
#include <memory>


namespace
{

const QString kUi = QStringLiteral(":/image/images/UI_img/");

template <typename T> T* child(Vantory& w, const char* name)
{
    T* found = w.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qWarning("no child %s", name);
    return found;
}

QImage iconImage(const QIcon& icon, QIcon::State state = QIcon::Off)
{
    return icon.pixmap(QSize(40, 40), QIcon::Normal, state).toImage();
}

QImage fileImage(const QString& path)
{
    return QIcon(path).pixmap(QSize(40, 40)).toImage();
}

void putU16(TagImage::Bytes& b, int offset, uint16_t v)
{
    b[size_t(offset)] = uint8_t(v >> 8);
    b[size_t(offset + 1)] = uint8_t(v);
}

void putU32(TagImage::Bytes& b, int offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[size_t(offset + i)] = uint8_t(v >> (8 * (3 - i)));
}

void putText(TagImage::Bytes& b, int offset, const QByteArray& text)
{
    for (int i = 0; i < text.size(); ++i)
        b[size_t(offset + i)] = uint8_t(text[i]);
}

// A layout-2, driver type 8 tag with one channel and an enabled CLO curve.
TagImage layout2Image()
{
    TagImage image;
    auto& b = image.image_v2;
    putText(b, 195, "ABC-1 DALI-2");
    putU32(b, 176, 1410010001u);
    b[180] = 7;
    b[183] = 2;
    b[192] = 0x08;
    b[83] = 2;
    b[84] = 3;
    b[73] = 4;
    b[74] = 15;
    b[72] = 0x2A; // GTIN 42
    b[89] = 3;    // ignored in layout 2
    putU16(b, 112, 700);
    putU16(b, 114, 100);
    putU16(b, 264, 350);
    b[267] = 0x01; // as found on a tag: on, but not 0xAA
    for (int i = 0; i < 16; ++i) {
        b[size_t(268 + i)] = uint8_t(60 + 2 * i);
        b[size_t(284 + i)] = uint8_t(3 * i);
    }
    putU16(b, 302, 6500);
    putU16(b, 304, 2700);
    putU32(b, 332, 1234);
    putU32(b, 336, 99);
    putU32(b, 448, 5555); // legacy times must not be shown in layout 2
    putU32(b, 452, 6666);
    image.image_legacy = image.image_v2;
    return image;
}

// A legacy-layout, two-channel driver.
TagImage legacyImage()
{
    TagImage image = layout2Image();
    auto& l = image.image_legacy;
    l[183] = 3;
    l[89] = 2;
    putU16(l, 96, 500);
    putU16(l, 98, 600);
    putU16(l, 104, 60);
    putU16(l, 106, 70);
    putU16(l, 264, 250);
    putU16(l, 266, 800); // above channel 2's maximum: shown clamped
    image.image_v2 = l;
    return image;
}

} // namespace

class TstWindow : public QObject
{
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void start_windowTitleAndLanguage();
    void branding_brandedValues();
    void start_labelTexts_data();
    void start_labelTexts();
    void start_toolbarActions_data();
    void start_toolbarActions();
    void start_toolbarOrderAndLook();
    void start_languageIconIsVariant4();
    void start_statusBarAsksForDevice();
    void start_currentWidgets();
    void start_colourTemperature();
    void cctSpinBoxesAndSlider_stayCoupled();
    void cctTypedValue_appliedWhenEditingFinishes();
    void f3_switchesLanguageOnly();
    void start_lumenTable();
    void lumenDelegates_restrictEachRow_data();
    void lumenDelegates_restrictEachRow();
    void start_everyPanelVisibleAndCloOff();
    void start_engineState();
    void timers_runAndClockLoadsLumenTable();
    void hidLinkReport_reachesWindow();

    void displayScale_data();
    void displayScale();
    void displayScale_logsTaskbarAndScale_data();
    void displayScale_logsTaskbarAndScale();
    void placeOnScreen_statusBarOnScreen_data();
    void placeOnScreen_statusBarOnScreen();

    void rangeRows_byChannelCount_data();
    void rangeRows_byChannelCount();
    void panelSpacer_expandsAndShrinks();
    void hideOptionPanels_hidesEverything();

    void productInfo_layout2Type8();
    void productInfo_legacyTwoChannels();
    void productInfo_unknownTypeKeepsText();
    void productInfo_pwmTagCurrentFromBlock248();
    void driveInfo_layout2();
    void driveInfo_legacyTimesFromLegacyCopy();
    void driveInfo_cloOffDisablesTable();
    void bankBuffer_followsLayout();
    void switch_writesEnableByte();

    void destroy_manyWindows();

  private:
    std::unique_ptr<Vantory> m_w;
};

void TstWindow::init()
{
    m_w = std::make_unique<Vantory>();
}

void TstWindow::cleanup()
{
    m_w.reset();
}

void TstWindow::start_windowTitleAndLanguage()
{
    QCOMPARE(m_w->windowTitle(), QStringLiteral("Orvella NFC Reader"));
    QCOMPARE(m_w->objectName(), QStringLiteral("Vantory"));
    QCOMPARE(int(TestAccess::langCn(*m_w)), 0);
    QCOMPARE(int(TestAccess::engine(*m_w).readerType()), 0);
    QCOMPARE(m_w->styleSheet(), QStringLiteral("font: 12px;"));
}

void TstWindow::branding_brandedValues()
{
    QCOMPARE(branding::windowTitle(false), QStringLiteral("Orvella NFC Reader"));
    QCOMPARE(branding::windowTitle(true), QString::fromUtf8("Orvella LED驱动配置"));
    QCOMPARE(branding::productText(), QStringLiteral("PVN-18-900 DALI-2 ZK4"));
    QCOMPARE(branding::aboutImage(), QStringLiteral(":image/images/UI_img/Group@2x.png"));
    QVERIFY(QFile::exists(branding::aboutImage()));
    QVERIFY(QFile::exists(branding::aboutIcon()));
    auto* about = child<QAction>(*m_w, "actionAboutus");
    QCOMPARE(iconImage(about->icon()), fileImage(branding::aboutIcon()));
}

void TstWindow::start_labelTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const std::initializer_list<std::pair<const char*, const char*>> rows = {
        {"label_Divecerdata", "Device Data"},
        {"label_Driver_Logo", "Mode Type"},
        {"Productlabel", "PVN-18-900 DALI-2 ZK4"},
        {"label_GTIN_Logo", "GTIN"},
        {"labelGTIN", "123456789"},
        {"label_Type", "Dirver Type"},
        {"labelDeviceType", "onoff"},
        {"label_CH", "Channel Number"},
        {"labelChannelNum", "3"},
        {"label_GT", "Work Time"},
        {"label_GearOperatingTime", "3h"},
        {"label_LT", "Load Time"},
        {"label_LoadOperatingTime", "3h"},
        {"label_HW", "Hardware Version"},
        {"labelHardware", "1.0"},
        {"label_FW", "Software Version"},
        {"labelSoftware", "1.0"},
        {"label_DeviceCode_Logo", "Fixture ID"},
        {"labelDeviceCode", "1410010001-1"},
        {"label_ACurrentRange_Logo", "CH1 Range"},
        {"Currentlabel_Range_A", "50-400mA"},
        {"label_BCurrentRange_Logo", "CH2 Range"},
        {"Currentlabel_Range_B", "50-400mA"},
        {"label_CCurrentRange_Logo", "CH3 Range"},
        {"Currentlabel_Range_C", "50-400mA"},
        {"label_Current", "Current"},
        {"label_ConstLumen", "CLO"},
        {"label_CCT", "Color Temperature"},
        {"label_CWTitle", "Range(K)"},
        {"label_CWRange", "Physics Warmest - Physics Coldest"},
        {"label_RGBTitle", "RGB Calibration"},
        {"label_5", "k -"},
        {"label_6", "k"},
        {"label_8", "1000"},
        {"label_9", "12000"},
    };
    for (const auto& r : rows)
        QTest::newRow(r.first) << QString::fromLatin1(r.first) << QString::fromUtf8(r.second);
}

void TstWindow::start_labelTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    auto* label = m_w->findChild<QLabel*>(name);
    QVERIFY2(label, qPrintable(name));
    QCOMPARE(label->text(), text);
}

void TstWindow::start_toolbarActions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tip");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("icon");
    QTest::newRow("select") << "actionselect"
                            << "Reader Config"
                            << "Reader Config"
                            << "F3" << QString::fromUtf8("连接配置_Property_1_Variant2@2x.png");
    QTest::newRow("open") << "actionOpen_BIN_configure"
                          << "Read File"
                          << "Load"
                          << "F1" << QString::fromUtf8("读取档案_Property_1_Variant2@2x.png");
    QTest::newRow("save") << "actionSave_BIN_configure"
                          << "Save File"
                          << "Save"
                          << "F2" << QString::fromUtf8("保存档案_Property_1_Variant2@2x.png");
    QTest::newRow("read") << "actionRead"
                          << "Read"
                          << "Read"
                          << "F7" << QString::fromUtf8("读取_Property_1_Variant2@2x.png");
    QTest::newRow("write") << "actionWrite"
                           << "Write"
                           << "Write"
                           << "F8" << QString::fromUtf8("写入1_Property_1_Variant2@2x.png");
    QTest::newRow("auto") << "actionAuto_Write"
                          << "Auto Scan"
                          << "Auto Scan"
                          << "F6" << QString::fromUtf8("扫描_Property_1_Variant2@2x.png");
    QTest::newRow("about") << "actionAboutus"
                           << "About Us"
                           << "About Us"
                           << "F5"
                           << QString::fromUtf8("关于我们_Property_1_Variant2@3x_72x72.png");
    QTest::newRow("language") << "actionLanguage"
                              << "Language"
                              << "Chinese"
                              << "F3" << QString::fromUtf8("切换语言_Property_1_Variant4@2x.png");
}

void TstWindow::start_toolbarActions()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, tip);
    QFETCH(QString, key);
    QFETCH(QString, icon);
    auto* action = m_w->findChild<QAction*>(name);
    QVERIFY(action);
    QCOMPARE(action->text(), text);
    // An action without a tooltip of its own reports its text.
    QCOMPARE(action->toolTip(), tip);
    QCOMPARE(action->shortcut(), QKeySequence(key));
    QVERIFY(action->isEnabled());
    QVERIFY(!action->isCheckable());
    QVERIFY(QFile::exists(kUi + icon));
    QVERIFY(!action->icon().isNull());
    QCOMPARE(iconImage(action->icon()), fileImage(kUi + icon));
}

void TstWindow::start_toolbarOrderAndLook()
{
    auto* bar = child<QToolBar>(*m_w, "toolBar");
    QVERIFY(bar);
    QStringList names;
    for (QAction* a : bar->actions())
        names << a->objectName();
    QCOMPARE(names, QStringList({"actionselect", "actionOpen_BIN_configure",
                                 "actionSave_BIN_configure", "actionRead", "actionWrite",
                                 "actionAuto_Write", "actionStation", "actionAboutus",
                                 "actionLanguage"}));
    QCOMPARE(bar->iconSize(), QSize(100, 60));
    QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QCOMPARE(m_w->toolBarArea(bar), Qt::TopToolBarArea);
    QCOMPARE(bar->windowTitle(), QStringLiteral("toolBar"));
}

void TstWindow::start_languageIconIsVariant4()
{
    auto* action = child<QAction>(*m_w, "actionLanguage");
    QVERIFY(action);
    const QString v4 = kUi + QString::fromUtf8("切换语言_Property_1_Variant4@2x.png");
    const QString v3 = kUi + QString::fromUtf8("切换语言_Property_1_Variant3@2x.png");
    QVERIFY(fileImage(v4) != fileImage(v3));
    QCOMPARE(iconImage(action->icon(), QIcon::Off), fileImage(v4));
    QCOMPARE(iconImage(action->icon(), QIcon::On), fileImage(v3));
}

void TstWindow::start_statusBarAsksForDevice()
{
    QLabel* link = TestAccess::statusLink(*m_w);
    QLabel* result = TestAccess::statusResult(*m_w);
    QVERIFY(link && result);
    auto* bar = child<QStatusBar>(*m_w, "statusBar");
    QVERIFY(bar);
    QCOMPARE(link->parentWidget(), bar);
    QCOMPARE(result->parentWidget(), bar);
    QCOMPARE(link->text(), QStringLiteral("Please selcet usb device"));
    QVERIFY(result->text().isEmpty());
    QCOMPARE(link->palette().color(QPalette::Active, QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(link->palette().color(QPalette::Inactive, QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(result->palette().color(QPalette::WindowText), QColor(Qt::red));
    QVERIFY(bar->autoFillBackground());
    QCOMPARE(int(TestAccess::lastTip(*m_w)), 0);
}

void TstWindow::start_currentWidgets()
{
    const char* names[] = {"Currentwidget_ch1", "Currentwidget_ch2", "Currentwidget_ch3"};
    for (int i = 0; i < 3; ++i) {
        auto* w = child<myslider>(*m_w, names[i]);
        QVERIFY(w);
        QCOMPARE(w->value(), 157);
        QCOMPARE(w->spinBoxValue(), 157);
        QCOMPARE(w->sliderMinimum(), 50);
        QCOMPARE(w->sliderMaximum(), 400);
        QCOMPARE(w->spinBoxMinimum(), 50);
        QCOMPARE(w->spinBoxMaximum(), 400);
        QCOMPARE(w->title(), QStringLiteral("CH%1 Current(mA)").arg(i + 1));
        QCOMPARE(w->minimumText(), QStringLiteral("50"));
        QCOMPARE(w->maximumText(), QStringLiteral("400"));
    }
}

void TstWindow::start_colourTemperature()
{
    auto* warm = child<QSpinBox>(*m_w, "WormestspinBox");
    auto* cool = child<QSpinBox>(*m_w, "CoolestspinBox");
    QVERIFY(warm && cool);
    QCOMPARE(warm->minimum(), 1000);
    QCOMPARE(warm->maximum(), 12000);
    QCOMPARE(cool->minimum(), 1000);
    QCOMPARE(cool->maximum(), 12000);
    QCOMPARE(warm->value(), 1000);
    QCOMPARE(cool->value(), 12000);

    RangeSlider* slider = TestAccess::cctSlider(*m_w);
    QVERIFY(slider);
    QCOMPARE(slider->parentWidget(), child<QWidget>(*m_w, "Tempwidget"));
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(int(slider->handleOptions()), int(RangeSlider::BothHandles));
    QCOMPARE(slider->getMinimum(), 1000);
    QCOMPARE(slider->getMaximum(), 12000);
    QCOMPARE(slider->getLowerValue(), 1000);
    QCOMPARE(slider->getUpperValue(), 12000);

    // The start values entered the image (Get_CCT_Data at construction).
    const auto& v2 = TestAccess::image(*m_w).image_v2;
    QCOMPARE(int(v2[302]), 0x2E);
    QCOMPARE(int(v2[303]), 0xE0);
    QCOMPARE(int(v2[304]), 0x03);
    QCOMPARE(int(v2[305]), 0xE8);
    QVERIFY(TestAccess::chartLayoutCct(*m_w));
    QVERIFY(!TestAccess::chartLayoutCct(*m_w)->parent());
}

void TstWindow::cctSpinBoxesAndSlider_stayCoupled()
{
    auto* warm = child<QSpinBox>(*m_w, "WormestspinBox");
    auto* cool = child<QSpinBox>(*m_w, "CoolestspinBox");
    RangeSlider* slider = TestAccess::cctSlider(*m_w);
    warm->setValue(3000);
    QCOMPARE(slider->getLowerValue(), 3000);
    cool->setValue(6500);
    QCOMPARE(slider->getUpperValue(), 6500);
    // A coolest value below the warmest is held at the warmest by the slider.
    cool->setValue(2500);
    QCOMPARE(cool->value(), 3000);
    // The lower handle cannot pass the upper one (now 3000).
    slider->setLowerValue(4000);
    QCOMPARE(warm->value(), 3000);
    slider->setUpperValue(9000);
    QCOMPARE(cool->value(), 9000);
    slider->setLowerValue(4000);
    QCOMPARE(warm->value(), 4000);

    TestAccess::getCctData(*m_w);
    const auto& v2 = TestAccess::image(*m_w).image_v2;
    QCOMPARE((v2[304] << 8) | v2[305], 4000);
    QCOMPARE((v2[302] << 8) | v2[303], 9000);
}

void TstWindow::cctTypedValue_appliedWhenEditingFinishes()
{
    auto* warm = child<QSpinBox>(*m_w, "WormestspinBox");
    auto* cool = child<QSpinBox>(*m_w, "CoolestspinBox");
    RangeSlider* slider = TestAccess::cctSlider(*m_w);
    warm->setValue(2700);
    cool->setValue(6500);
    const auto typeInto = [](QSpinBox* box, const QString& text) {
        box->findChild<QLineEdit*>()->selectAll();
        QTest::keyClicks(box, text);
    };

    // "1000" on the way to 12000 is not applied, so nothing clamps it and the last "0" fits.
    typeInto(cool, QStringLiteral("12000"));
    QCOMPARE(cool->text(), QStringLiteral("12000"));
    QCOMPARE(cool->value(), 6500);
    QCOMPARE(slider->getUpperValue(), 6500);
    QTest::keyClick(cool, Qt::Key_Return);
    QCOMPARE(cool->value(), 12000);
    QCOMPARE(slider->getUpperValue(), 12000);
    if (qEnvironmentVariableIsSet("VANTORY_SHOTS_DIR")) {
        m_w->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
        child<QWidget>(*m_w, "CctBoxwidget")
            ->grab()
            .save(qEnvironmentVariable("VANTORY_SHOTS_DIR") + QStringLiteral("/cct-12000.png"));
    }

    // The coupling holds for the applied value: a coolest value below the warmest is held.
    typeInto(cool, QStringLiteral("2000"));
    QTest::keyClick(cool, Qt::Key_Return);
    QCOMPARE(cool->value(), 2700);

    // Arrows apply at once.
    QTest::keyClick(warm, Qt::Key_Down);
    QCOMPARE(warm->value(), 2699);
    QCOMPARE(slider->getLowerValue(), 2699);

    // A value still being typed when the image is filled (a toolbar key takes no focus)
    // is no value yet: the image takes the one applied last.
    typeInto(cool, QStringLiteral("10000"));
    TestAccess::getCctData(*m_w);
    const auto& v2 = TestAccess::image(*m_w).image_v2;
    QCOMPARE((v2[302] << 8) | v2[303], 2700);
    QCOMPARE(slider->getUpperValue(), 2700);
}

void TstWindow::f3_switchesLanguageOnly()
{
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler old = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& msg) { warnings << msg; });
    m_w->show();
    m_w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_w.get()));
    auto* dialog = m_w->findChild<QWidget*>(QStringLiteral("ConnectionConfig"));
    QVERIFY(dialog);

    QTest::keyClick(m_w.get(), Qt::Key_F3);
    QCOMPARE(int(TestAccess::langCn(*m_w)), 1);
    QTest::keyClick(m_w.get(), Qt::Key_F3);
    QCOMPARE(int(TestAccess::langCn(*m_w)), 0);
    qInstallMessageHandler(old);
    QVERIFY(!dialog->isVisible());
    QVERIFY2(warnings.filter(QStringLiteral("mbiguous")).isEmpty(), qPrintable(warnings.join('\n')));
    // Reader Config still lists F3.
    QCOMPARE(child<QAction>(*m_w, "actionselect")->shortcut(), QKeySequence(Qt::Key_F3));
}

void TstWindow::start_lumenTable()
{
    auto* table = child<QTableWidget>(*m_w, "LumentableWidget");
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->columnCount(), 16);
    QCOMPARE(table->maximumHeight(), 90);
    QCOMPARE(table->styleSheet(), QStringLiteral("font: 12px;"));
    QCOMPARE(table->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(table->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(table->horizontalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
    QCOMPARE(table->verticalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
    QVERIFY(table->showGrid());
    QVERIFY(!table->isSortingEnabled());
    QVERIFY(table->wordWrap());
    QCOMPARE(table->horizontalHeader()->defaultSectionSize(), 46);
    QCOMPARE(table->horizontalHeader()->minimumSectionSize(), 25);
    QCOMPARE(table->verticalHeader()->defaultSectionSize(), 33);
    QCOMPARE(table->verticalHeaderItem(0)->text(), QStringLiteral("Time"));
    QCOMPARE(table->verticalHeaderItem(1)->text(), QStringLiteral("Level"));
    const int levels[16] = {50, 91, 92, 92, 93, 94, 95, 96, 97, 98, 99, 100, 100, 100, 100, 100};
    for (int c = 0; c < 16; ++c) {
        QCOMPARE(table->horizontalHeaderItem(c)->text(), QString::number(c));
        QCOMPARE(table->item(0, c)->text(), QString::number(5 * c));
        QCOMPARE(table->item(1, c)->text(), QString::number(levels[c]));
    }
    const auto* chart = child<CurveChart>(*m_w, "widget_constlumen");
    QVERIFY(chart);
    QCOMPARE(chart->maxValue(), 100.0);
    QCOMPARE(chart->bgColorStart(), QColor(248, 248, 248));
    QCOMPARE(chart->bgColorEnd(), QColor(248, 248, 248));
    QCOMPARE(chart->textColor(), QColor(0, 0, 0));
    QCOMPARE(chart->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(child<switchbutton>(*m_w, "switchbuttonwidget")->minimumWidth(), 50);
}

void TstWindow::lumenDelegates_restrictEachRow_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("time 0") << 0 << "0" << true;
    QTest::newRow("time 100") << 0 << "100" << true;
    QTest::newRow("time 101") << 0 << "101" << false;
    QTest::newRow("time 07") << 0 << "07" << false;
    QTest::newRow("level 0") << 1 << "0" << false;
    QTest::newRow("level 1") << 1 << "1" << true;
    QTest::newRow("level 100") << 1 << "100" << true;
    QTest::newRow("level 101") << 1 << "101" << false;
}

void TstWindow::lumenDelegates_restrictEachRow()
{
    QFETCH(int, row);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    auto* table = child<QTableWidget>(*m_w, "LumentableWidget");
    QAbstractItemDelegate* delegate = table->itemDelegateForRow(row);
    QVERIFY(delegate);
    QVERIFY(delegate != table->itemDelegate());
    QWidget host;
    const QModelIndex index = table->model()->index(row, 3);
    std::unique_ptr<QWidget> editor(delegate->createEditor(&host, QStyleOptionViewItem(), index));
    auto* line = qobject_cast<QLineEdit*>(editor.get());
    QVERIFY(line);
    QVERIFY(line->validator());
    int pos = 0;
    QString input = text;
    QCOMPARE(line->validator()->validate(input, pos) == QValidator::Acceptable, accepted);
}

void TstWindow::start_everyPanelVisibleAndCloOff()
{
    for (const char* name :
         {"CurrentBoxwidget", "CLOBoxwidget", "CctBoxwidget", "Temperaturewidget", "RGBwidget",
          "DeviceDatawidget", "Currentwidget_ch1", "Currentwidget_ch2", "Currentwidget_ch3",
          "label_CH1_img", "label_CH2_img", "label_CH3_img", "Colorwidget", "scrollArea",
          "scrollArea_Data"}) {
        auto* w = child<QWidget>(*m_w, name);
        QVERIFY2(w, name);
        QVERIFY2(w->isVisibleTo(m_w.get()), name);
    }
    auto* sw = child<switchbutton>(*m_w, "switchbuttonwidget");
    QVERIFY(!sw->isChecked());
    QVERIFY(!child<QTableWidget>(*m_w, "LumentableWidget")->isEnabled());
    QCOMPARE(child<CurveChart>(*m_w, "widget_constlumen")->pointColor(), QColor(130, 130, 130));
    QCOMPARE(int(TestAccess::image(*m_w).image_v2[267]), 0x00);
    QCOMPARE(child<QWidget>(*m_w, "CurrentBoxwidget")->styleSheet(),
             QStringLiteral("#CurrentBoxwidget{border:1px solid rgb(0,0,0)}"));
    QCOMPARE(child<QWidget>(*m_w, "DeviceDatawidget")->styleSheet(),
             QStringLiteral("#DeviceDatawidget{border:1px solid rgb(219,219,219)}"));
}

void TstWindow::start_engineState()
{
    // Nothing runs yet, no reader is chosen, and the tag kind is 'P' until a tag is read.
    QCOMPARE(TestAccess::engine(*m_w).operation(), nullptr);
    QCOMPARE(TestAccess::engine(*m_w).link(), nullptr);
    QCOMPARE(int(TestAccess::engine(*m_w).chipCode()), 0x50);
    const TagImage& image = TestAccess::image(*m_w);
    QCOMPARE(int(image.image_v2[183]), 2);
    QCOMPARE(int(image.image_v2[491]), 1);
}

void TstWindow::timers_runAndClockLoadsLumenTable()
{
    QTimer* cmd = TestAccess::cmdTimer(*m_w);
    QTimer* clock = TestAccess::clockTimer(*m_w);
    QVERIFY(cmd && clock);
    // The tick belongs to the engine, which the window owns.
    QCOMPARE(cmd->parent(), static_cast<QObject*>(&TestAccess::engine(*m_w)));
    QCOMPARE(clock->parent(), m_w.get());
    QCOMPARE(cmd->interval(), 1);
    QCOMPARE(cmd->timerType(), Qt::PreciseTimer);
    QVERIFY(clock->isActive());
    QCOMPARE(clock->interval(), 300);

    // The table reaches the image at the first clock tick, not at construction.
    QVERIFY(!TestAccess::cloChartReady(*m_w));
    QCOMPARE(int(TestAccess::image(*m_w).image_v2[269]), 0);
    QTRY_VERIFY_WITH_TIMEOUT(TestAccess::cloChartReady(*m_w), 2000);
    const TagImage& image = TestAccess::image(*m_w);
    QCOMPARE(constlumen::times(image), constlumen::initialTimes());
    QCOMPARE(constlumen::levels(image), constlumen::initialLevels());
    // Only layout 2 carries the curve.
    QCOMPARE(int(image.image_legacy[269]), 0);
}

void TstWindow::hidLinkReport_reachesWindow()
{
    // An empty device report from the HID link empties the link label.
    QLabel* link = TestAccess::statusLink(*m_w);
    QVERIFY(!link->text().isEmpty());
    m_w->Set_Reader_Type(ReaderType::R321);
    auto* r321 = qobject_cast<R321Link*>(TestAccess::engine(*m_w).link());
    QVERIFY(r321);
    emit r321->hid()->usbConnect(QString());
    QVERIFY(link->text().isEmpty());
}

void TstWindow::displayScale_data()
{
    QTest::addColumn<int>("taskbar");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<QSize>("windowMin");
    QTest::addColumn<QSize>("currentMin");
    QTest::addColumn<QSize>("cloMin");
    QTest::addColumn<int>("currentMaxH");
    QTest::addColumn<int>("cloMaxH");
    QTest::addColumn<int>("dataMaxW");

    const int big = QWIDGETSIZE_MAX;
    QTest::newRow("1080p 100%") << 40 << 1920 << 1080 << true << QSize(1344, 972) << QSize(960, 248)
                                << QSize(960, 378) << big << big << 288;
    QTest::newRow("1080p 150%") << 60 << 1920 << 1080 << true << QSize(1344, 972) << QSize(960, 248)
                                << QSize(960, 378) << big << big << 288;
    QTest::newRow("1080p hidden taskbar")
        << 0 << 1920 << 1080 << true << QSize(1344, 972) << QSize(960, 248) << QSize(960, 378)
        << big << big << 288;
    QTest::newRow("1440p 100%") << 40 << 2560 << 1440 << true << QSize(1152, 1008) << QSize(0, 0)
                                << QSize(0, 0) << 244 << 360 << 256;
    QTest::newRow("height 1100") << 40 << 1920 << 1100 << true << QSize(1248, 935)
                                 << QSize(633, 220) << QSize(633, 330) << big << big << 192;
    QTest::newRow("taskbar 48") << 48 << 1920 << 1080 << false << QSize() << QSize() << QSize() << 0
                                << 0 << 0;
    QTest::newRow("negative taskbar")
        << -40 << 1920 << 1080 << false << QSize() << QSize() << QSize() << 0 << 0 << 0;
    QTest::newRow("height 500") << 40 << 800 << 500 << false << QSize() << QSize() << QSize() << 0
                                << 0 << 0;
    QTest::newRow("height 2160") << 40 << 3840 << 2160 << false << QSize() << QSize() << QSize()
                                 << 0 << 0 << 0;
}

void TstWindow::displayScale()
{
    QFETCH(int, taskbar);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, applied);

    auto* current = child<QWidget>(*m_w, "CurrentBoxwidget");
    auto* clo = child<QWidget>(*m_w, "CLOBoxwidget");
    auto* data = child<QScrollArea>(*m_w, "scrollArea_Data");
    const QSize formMin = m_w->minimumSize();
    const QSize formCurrentMin = current->minimumSize();
    const QSize formCurrentMax = current->maximumSize();
    const QSize formCloMin = clo->minimumSize();
    const QSize formCloMax = clo->maximumSize();
    const int formDataMax = data->maximumWidth();

    m_w->Select_Display_Scale(taskbar, uint16_t(width), uint16_t(height));

    if (!applied) {
        QCOMPARE(m_w->minimumSize(), formMin);
        QCOMPARE(current->minimumSize(), formCurrentMin);
        QCOMPARE(current->maximumSize(), formCurrentMax);
        QCOMPARE(clo->minimumSize(), formCloMin);
        QCOMPARE(clo->maximumSize(), formCloMax);
        QCOMPARE(data->maximumWidth(), formDataMax);
        return;
    }
    QFETCH(QSize, windowMin);
    QFETCH(QSize, currentMin);
    QFETCH(QSize, cloMin);
    QFETCH(int, currentMaxH);
    QFETCH(int, cloMaxH);
    QFETCH(int, dataMaxW);
    QCOMPARE(m_w->minimumSize(), windowMin);
    QCOMPARE(current->minimumSize(), currentMin);
    QCOMPARE(clo->minimumSize(), cloMin);
    QCOMPARE(current->maximumHeight(), currentMaxH);
    QCOMPARE(clo->maximumHeight(), cloMaxH);
    QCOMPARE(data->maximumWidth(), dataMaxW);
}

namespace
{
QStringList g_log;
QLoggingCategory::CategoryFilter g_previousFilter = nullptr;
void enableUiDebug(QLoggingCategory* category)
{
    if (g_previousFilter)
        g_previousFilter(category);
    if (qstrcmp(category->categoryName(), "vantory.ui") == 0)
        category->setEnabled(QtDebugMsg, true);
}
void collectUiLog(QtMsgType, const QMessageLogContext& context, const QString& text)
{
    if (qstrcmp(context.category, "vantory.ui") == 0)
        g_log << text;
}
} // namespace

void TstWindow::displayScale_logsTaskbarAndScale_data()
{
    QTest::addColumn<int>("taskbar");
    QTest::addColumn<int>("height");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("100%") << 40 << 1080 << QStringList({"40", QString::fromUtf8("缩放比例100%")});
    QTest::newRow("150%") << 60 << 1080 << QStringList({"60", QString::fromUtf8("缩放比例150%")});
    QTest::newRow("250%") << 100 << 1080 << QStringList({"100", QString::fromUtf8("缩放比例250%")});
    QTest::newRow("unknown taskbar") << 48 << 1080 << QStringList({"48"});
}

void TstWindow::displayScale_logsTaskbarAndScale()
{
    QFETCH(int, taskbar);
    QFETCH(int, height);
    QFETCH(QStringList, lines);
    // CTest switches debug output off through the environment; a category filter is the
    // sanctioned way to turn this one category back on for the test.
    g_previousFilter = QLoggingCategory::installFilter(enableUiDebug);
    g_log.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectUiLog);
    m_w->Select_Display_Scale(taskbar, 1920, uint16_t(height));
    qInstallMessageHandler(previous);
    QLoggingCategory::installFilter(g_previousFilter);
    QCOMPARE(g_log, lines);
}

void TstWindow::rangeRows_byChannelCount_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("shown");
    QTest::newRow("0 hides all") << 0 << 0;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("2") << 2 << 2;
    QTest::newRow("3") << 3 << 3;
    QTest::newRow("4 hides all") << 4 << 0;
    QTest::newRow("255 hides all") << 255 << 0;
}

void TstWindow::rangeRows_byChannelCount()
{
    QFETCH(int, channels);
    QFETCH(int, shown);
    const char* rows[3][3] = {
        {"label_CH1_img", "label_ACurrentRange_Logo", "Currentlabel_Range_A"},
        {"label_CH2_img", "label_BCurrentRange_Logo", "Currentlabel_Range_B"},
        {"label_CH3_img", "label_CCurrentRange_Logo", "Currentlabel_Range_C"},
    };
    TestAccess::showRangeRows(*m_w, 0);
    for (const auto& row : rows)
        for (const char* name : row)
            QVERIFY(!child<QWidget>(*m_w, name)->isVisibleTo(m_w.get()));
    TestAccess::showRangeRows(*m_w, uint8_t(channels));
    for (int r = 0; r < 3; ++r)
        for (const char* name : rows[r])
            QCOMPARE(child<QWidget>(*m_w, name)->isVisibleTo(m_w.get()), r < shown);

    // Higher rows are left as the caller put them for 1 and 2.
    TestAccess::showRangeRows(*m_w, 3);
    TestAccess::showRangeRows(*m_w, 1);
    QVERIFY(child<QWidget>(*m_w, "Currentlabel_Range_C")->isVisibleTo(m_w.get()));
}

void TstWindow::panelSpacer_expandsAndShrinks()
{
    auto* layout = child<QWidget>(*m_w, "scrollAreaWidgetContents")->layout();
    QVERIFY(layout);
    QSpacerItem* spacer = nullptr;
    for (int i = 0; i < layout->count(); ++i)
        if (layout->itemAt(i)->spacerItem())
            spacer = layout->itemAt(i)->spacerItem();
    QVERIFY(spacer);
    // Start: shrunk by Init_Panel_Style.
    QCOMPARE(spacer->sizeHint(), QSize(0, 0));
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    TestAccess::setPanelSpacer(*m_w, true);
    QCOMPARE(spacer->sizeHint(), QSize(20, 20));
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    TestAccess::setPanelSpacer(*m_w, false);
    QCOMPARE(spacer->sizeHint(), QSize(0, 0));
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
}

void TstWindow::hideOptionPanels_hidesEverything()
{
    TestAccess::hideOptionPanels(*m_w);
    for (const char* name :
         {"Currentwidget_ch1", "Currentwidget_ch2", "Currentwidget_ch3", "CLOBoxwidget",
          "CctBoxwidget", "label_CH1_img", "Currentlabel_Range_B", "label_CCurrentRange_Logo"})
        QVERIFY2(!child<QWidget>(*m_w, name)->isVisibleTo(m_w.get()), name);
    // The current panel itself and the device data stay.
    QVERIFY(child<QWidget>(*m_w, "CurrentBoxwidget")->isVisibleTo(m_w.get()));
    QVERIFY(child<QWidget>(*m_w, "labelGTIN")->isVisibleTo(m_w.get()));
}

void TstWindow::productInfo_layout2Type8()
{
    TestAccess::putImage(*m_w, layout2Image());
    TestAccess::updateProductInfo(*m_w);

    QCOMPARE(child<QLabel>(*m_w, "Productlabel")->text(), QStringLiteral("ABC-1 DALI-2"));
    QCOMPARE(child<QLabel>(*m_w, "labelDeviceCode")->text(), QStringLiteral("1410010001-7"));
    QCOMPARE(child<QLabel>(*m_w, "labelHardware")->text(), QStringLiteral("2.3"));
    QCOMPARE(child<QLabel>(*m_w, "labelSoftware")->text(), QStringLiteral("4.15"));
    QCOMPARE(child<QLabel>(*m_w, "labelGTIN")->text(), QStringLiteral("42"));
    QCOMPARE(child<QLabel>(*m_w, "labelDeviceType")->text(), QStringLiteral("DT8"));
    QCOMPARE(child<QLabel>(*m_w, "labelChannelNum")->text(), QStringLiteral("1"));
    QCOMPARE(int(TestAccess::channelCount(*m_w)), 1);

    QVERIFY(child<QWidget>(*m_w, "CLOBoxwidget")->isVisibleTo(m_w.get()));
    QVERIFY(child<QWidget>(*m_w, "CctBoxwidget")->isVisibleTo(m_w.get()));
    auto* ch1 = child<myslider>(*m_w, "Currentwidget_ch1");
    QVERIFY(ch1->isVisibleTo(m_w.get()));
    QVERIFY(!child<QWidget>(*m_w, "Currentwidget_ch2")->isVisibleTo(m_w.get()));
    QVERIFY(!child<QWidget>(*m_w, "Currentwidget_ch3")->isVisibleTo(m_w.get()));
    QCOMPARE(ch1->sliderMinimum(), 100);
    QCOMPARE(ch1->sliderMaximum(), 700);
    QCOMPARE(ch1->value(), 350);
    QCOMPARE(ch1->title(), QStringLiteral("CH1 Current(mA)"));
    QCOMPARE(child<QLabel>(*m_w, "Currentlabel_Range_A")->text(), QStringLiteral("100-700mA"));
    QVERIFY(child<QWidget>(*m_w, "Currentlabel_Range_A")->isVisibleTo(m_w.get()));
    QVERIFY(!child<QWidget>(*m_w, "Currentlabel_Range_B")->isVisibleTo(m_w.get()));
}

void TstWindow::productInfo_legacyTwoChannels()
{
    TestAccess::putImage(*m_w, legacyImage());
    TestAccess::updateProductInfo(*m_w);

    QCOMPARE(child<QLabel>(*m_w, "labelDeviceType")->text(), QStringLiteral("DT8"));
    QCOMPARE(child<QLabel>(*m_w, "labelChannelNum")->text(), QStringLiteral("2"));
    QVERIFY(!child<QWidget>(*m_w, "CLOBoxwidget")->isVisibleTo(m_w.get()));
    QVERIFY(!child<QWidget>(*m_w, "CctBoxwidget")->isVisibleTo(m_w.get()));
    auto* ch1 = child<myslider>(*m_w, "Currentwidget_ch1");
    auto* ch2 = child<myslider>(*m_w, "Currentwidget_ch2");
    QVERIFY(ch1->isVisibleTo(m_w.get()) && ch2->isVisibleTo(m_w.get()));
    QVERIFY(!child<QWidget>(*m_w, "Currentwidget_ch3")->isVisibleTo(m_w.get()));
    QCOMPARE(ch1->value(), 250);
    QCOMPARE(ch2->sliderMaximum(), 600);
    QCOMPARE(ch2->value(), 600); // clamped to the range read from the tag
    QCOMPARE(child<QLabel>(*m_w, "Currentlabel_Range_A")->text(), QStringLiteral("60-500mA"));
    QCOMPARE(child<QLabel>(*m_w, "Currentlabel_Range_B")->text(), QStringLiteral("70-600mA"));
    QVERIFY(child<QWidget>(*m_w, "label_BCurrentRange_Logo")->isVisibleTo(m_w.get()));
    QVERIFY(!child<QWidget>(*m_w, "label_CCurrentRange_Logo")->isVisibleTo(m_w.get()));
}

void TstWindow::productInfo_unknownTypeKeepsText()
{
    TagImage image = layout2Image();
    TestAccess::putImage(*m_w, image);
    TestAccess::updateProductInfo(*m_w);
    image.image_v2[192] = 0x20;
    TestAccess::putImage(*m_w, image);
    TestAccess::updateProductInfo(*m_w);
    QCOMPARE(child<QLabel>(*m_w, "labelDeviceType")->text(), QStringLiteral("DT8"));
    QVERIFY(!child<QWidget>(*m_w, "CLOBoxwidget")->isVisibleTo(m_w.get()));
}

void TstWindow::productInfo_pwmTagCurrentFromBlock248()
{
    TagImage image = layout2Image();
    auto& b = image.image_v2;
    b[192] = 0x00;
    putU16(b, 248, 1000);
    putU16(b, 250, 0x8000 | 500);
    TestAccess::setDocumentKind(*m_w, 0x38);
    TestAccess::putImage(*m_w, image);
    TestAccess::updateProductInfo(*m_w);
    auto* ch1 = child<myslider>(*m_w, "Currentwidget_ch1");
    QVERIFY(ch1->isVisibleTo(m_w.get()));
    QCOMPARE(ch1->value(), 350);
    QCOMPARE(int(TestAccess::pwmPeriod(*m_w)), 1000);
    QCOMPARE(child<QLabel>(*m_w, "labelDeviceType")->text(), QStringLiteral("ONOFF"));
    // The range line is not set from the PWM block; it stays hidden after the reset.
    QVERIFY(!child<QWidget>(*m_w, "Currentlabel_Range_A")->isVisibleTo(m_w.get()));
}

void TstWindow::driveInfo_layout2()
{
    TestAccess::putImage(*m_w, layout2Image());
    TestAccess::updateDriveInfo(*m_w);

    auto* sw = child<switchbutton>(*m_w, "switchbuttonwidget");
    QVERIFY(sw->isChecked());
    auto* table = child<QTableWidget>(*m_w, "LumentableWidget");
    QVERIFY(table->isEnabled());
    QCOMPARE(child<CurveChart>(*m_w, "widget_constlumen")->pointColor(), QColor(0, 85, 255));
    // The enable byte is carried as found.
    QCOMPARE(int(TestAccess::image(*m_w).image_v2[267]), 0x01);
    for (int c = 0; c < 16; ++c) {
        QCOMPARE(table->item(0, c)->text(), QString::number(3 * c));
        QCOMPARE(table->item(1, c)->text(), QString::number(60 + 2 * c));
    }
    QCOMPARE(child<QSpinBox>(*m_w, "CoolestspinBox")->value(), 6500);
    QCOMPARE(child<QSpinBox>(*m_w, "WormestspinBox")->value(), 2700);
    QCOMPARE(TestAccess::cctSlider(*m_w)->getLowerValue(), 2700);
    QCOMPARE(TestAccess::cctSlider(*m_w)->getUpperValue(), 6500);
    QCOMPARE(child<QLabel>(*m_w, "label_GearOperatingTime")->text(), QStringLiteral("1234h"));
    QCOMPARE(child<QLabel>(*m_w, "label_LoadOperatingTime")->text(), QStringLiteral("99h"));
}

void TstWindow::driveInfo_legacyTimesFromLegacyCopy()
{
    TestAccess::putImage(*m_w, legacyImage());
    TestAccess::updateDriveInfo(*m_w);
    QCOMPARE(child<QLabel>(*m_w, "label_GearOperatingTime")->text(), QStringLiteral("5555h"));
    QCOMPARE(child<QLabel>(*m_w, "label_LoadOperatingTime")->text(), QStringLiteral("6666h"));
}

void TstWindow::driveInfo_cloOffDisablesTable()
{
    TestAccess::switchStatus(*m_w, true);
    TagImage image = layout2Image();
    image.image_v2[267] = 0;
    putU16(image.image_v2, 302, 0); // below the range: clamped
    TestAccess::putImage(*m_w, image);
    TestAccess::updateDriveInfo(*m_w);
    QVERIFY(!child<switchbutton>(*m_w, "switchbuttonwidget")->isChecked());
    QVERIFY(!child<QTableWidget>(*m_w, "LumentableWidget")->isEnabled());
    QCOMPARE(child<CurveChart>(*m_w, "widget_constlumen")->pointColor(), QColor(130, 130, 130));
    // Coolest 0 clamps to 1000; the warmest (2700) is then held at the coolest by the slider.
    QCOMPARE(child<QSpinBox>(*m_w, "CoolestspinBox")->value(), 1000);
    QCOMPARE(child<QSpinBox>(*m_w, "WormestspinBox")->value(), 1000);
}

void TstWindow::bankBuffer_followsLayout()
{
    TagImage image = layout2Image();
    image.image_legacy[10] = 0x55; // the copies differ
    TestAccess::putImage(*m_w, image);
    TestAccess::updateBankBuff(*m_w);
    const TagImage& after = TestAccess::image(*m_w);
    QCOMPARE(int(after.image_v2[490]), 0x01); // 350 - 1 = 0x015D
    QCOMPARE(int(after.image_v2[491]), 0x5D);
    QVERIFY(after.bank_buffer == after.image_v2);

    image.image_v2[183] = 3;
    TestAccess::putImage(*m_w, image);
    TestAccess::updateBankBuff(*m_w);
    QVERIFY(TestAccess::image(*m_w).bank_buffer == image.image_legacy);
    QCOMPARE(int(TestAccess::image(*m_w).image_v2[491]), int(image.image_v2[491]));
}

void TstWindow::switch_writesEnableByte()
{
    TestAccess::switchStatus(*m_w, true);
    QCOMPARE(int(TestAccess::image(*m_w).image_v2[267]), 0xAA);
    QVERIFY(child<QTableWidget>(*m_w, "LumentableWidget")->isEnabled());
    // A click on the switch reaches the same slot.
    auto* sw = child<switchbutton>(*m_w, "switchbuttonwidget");
    sw->setChecked(true);
    QTest::mouseClick(sw, Qt::LeftButton);
    QVERIFY(!sw->isChecked());
    QCOMPARE(int(TestAccess::image(*m_w).image_v2[267]), 0x00);
    QVERIFY(!child<QTableWidget>(*m_w, "LumentableWidget")->isEnabled());
}

void TstWindow::placeOnScreen_statusBarOnScreen_data()
{
    QTest::addColumn<QRect>("full");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QString>("shot");
    QTest::newRow("1366x768") << QRect(0, 0, 1366, 768) << QRect(0, 0, 1366, 728)
                              << QStringLiteral("window-1366x768");
    QTest::newRow("1280x720") << QRect(0, 0, 1280, 720) << QRect(0, 0, 1280, 680)
                              << QStringLiteral("window-1280x720");
    QTest::newRow("1280x720 at 125%")
        << QRect(0, 0, 1280, 720) << QRect(0, 0, 1280, 670) << QString();
    QTest::newRow("1920x1080, second screen")
        << QRect(1366, 0, 1920, 1080) << QRect(1366, 0, 1920, 1040) << QString();
}

// The window opens inside the part of the screen the taskbar leaves, with its status bar.
void TstWindow::placeOnScreen_statusBarOnScreen()
{
    QFETCH(QRect, full);
    QFETCH(QRect, available);
    QFETCH(QString, shot);
    TestAccess::putImage(*m_w, layout2Image());
    TestAccess::updateProductInfo(*m_w);
    TestAccess::updateDriveInfo(*m_w);
    QFont font(QStringLiteral("Tahoma")); // as the program starts
    font.setPixelSize(12);
    m_w->setFont(font);
    m_w->placeOnScreen(available, full);
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    QVERIFY2(available.contains(m_w->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                      .arg(m_w->x())
                                                                      .arg(m_w->y())
                                                                      .arg(m_w->width())
                                                                      .arg(m_w->height())));
    // A usual title bar above it still fits.
    QVERIFY(m_w->geometry().top() - available.top() >= 30);
    auto* bar = child<QStatusBar>(*m_w, "statusBar");
    QVERIFY(bar->isVisible());
    QVERIFY(m_w->rect().contains(QRect(bar->mapTo(m_w.get(), QPoint()), bar->size())));
    QVERIFY(bar->height() > 10);

    const QString dir = qEnvironmentVariable("VANTORY_SHOTS_DIR");
    if (!dir.isEmpty() && !shot.isEmpty()) {
        for (const char* lang : {"en", "zh"}) {
            m_w->grab().save(QDir(dir).filePath(shot + QLatin1Char('-') + QLatin1String(lang) +
                                                QStringLiteral(".png")));
            m_w->findChild<QAction*>(QStringLiteral("actionLanguage"))->trigger();
        }
    }
}

void TstWindow::destroy_manyWindows()
{
    // Reader threads must stop with each window.
    for (int i = 0; i < 5; ++i) {
        Vantory w;
        QTest::qWait(5);
    }
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
}

QTEST_MAIN(TstWindow)
#include "tst_window.moc"
