// The current, constant-lumen and colour-temperature panels of the real window, driven
// the way a user drives them: drivers come in as configuration files or tag reads, the
// table is edited through its own widget, the switch is clicked.
#include "app/panelbench.h"

#include "widgets/curvechart.h"
#include "widgets/myslider.h"
#include "widgets/rangeslider.h"
#include "widgets/switchbutton.h"

#include <QAbstractItemDelegate>
#include <QLineEdit>
#include <QPointer>
#include <QSpacerItem>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtCharts/QChartView>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>

using namespace panels;

namespace
{

const QStringList kTitlesEn = {QStringLiteral("CH1 Current(mA)"), QStringLiteral("CH2 Current(mA)"),
                               QStringLiteral("CH3 Current(mA)")};
const QStringList kTitlesCn = {QStringLiteral("设备电流一（mA）"),
                               QStringLiteral("设备电流二（mA）"),
                               QStringLiteral("设备电流三（mA）")};
const char* const kChannels[] = {"Currentwidget_ch1", "Currentwidget_ch2", "Currentwidget_ch3"};
const char* const kRanges[] = {"Currentlabel_Range_A", "Currentlabel_Range_B",
                               "Currentlabel_Range_C"};
const char* const kRangeCaptions[] = {"label_ACurrentRange_Logo", "label_BCurrentRange_Logo",
                                      "label_CCurrentRange_Logo"};
const char* const kRangeIcons[] = {"label_CH1_img", "label_CH2_img", "label_CH3_img"};

QVector<int> row(QTableWidget* table, int r)
{
    QVector<int> out;
    for (int c = 0; c < table->columnCount(); ++c)
        out << (table->item(r, c) ? table->item(r, c)->text().toInt() : -1);
    return out;
}

QVector<int> imageRange(const TagImage::Bytes& b, int from)
{
    QVector<int> out;
    for (int i = 0; i < 16; ++i)
        out << b[size_t(from + i)];
    return out;
}

QVector<int> initialTimes()
{
    QVector<int> t;
    for (int i = 0; i < 16; ++i)
        t << 5 * i;
    return t;
}

QSpacerItem* panelSpacer(panels::Bench& b)
{
    auto* grid = b.child<QGridLayout>("gridLayout_3");
    for (int i = 0; grid && i < grid->count(); ++i)
        if (QSpacerItem* s = grid->itemAt(i)->spacerItem())
            return s;
    return nullptr;
}

} // namespace

class TestWindowPanels : public QObject
{
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    // currents
    void start_currentWidgets();
    void layout2Type8_oneChannelWithCloAndCct();
    void legacyType8_twoChannelsNoPanels();
    void legacyThreeChannels_allWidgetsAndRangeLines();
    void driverTypes_textAndPanels_data();
    void driverTypes_textAndPanels();
    void unknownType_keepsPreviousText();
    void legacyByte89Zero_oneChannelFromLegacyCopy();
    void currentOutsideRange_shownClamped_data();
    void currentOutsideRange_shownClamped();
    void channelTitles_followLanguage_data();
    void channelTitles_followLanguage();
    void pwmTag_currentFromBlock248_data();
    void pwmTag_currentFromBlock248();
    void displayCurrentChannel_otherCountOnlyStored();
    void openUseFunction_changesNothing();

    // constant lumen
    void table_timeColumnZeroStaysZero();
    void table_decreasingTimeWarnsAndRestores();
    void table_decreasingTimeRepairsStoredTime();
    void table_timeTypedInEditorPushesLaterTimes();
    void table_lastTimesCapAt100_data();
    void table_lastTimesCapAt100();
    void table_levelOutOfRangeWarns_data();
    void table_levelOutOfRangeWarns();
    void table_levelInRangeStoredAndDrawn();
    void table_timeOutOfRangeWarns();
    void table_storedLevelOutOfRangeFallsToMinimum();
    void switch_clickTogglesByteTableAndColour();
    void driveInfo_enableByteCarriedUntilToggled();
    void checkConstantData_repairsWithNotice_data();
    void checkConstantData_repairsWithNotice();

    // colour temperature
    void cct_spinBoxesStoredBigEndian();
    void cct_zeroCoolestShownClamped();
    void cct_warmestAboveCoolestHeldAtCoolest();
    void cct_shownRangeDoesNotDependOnPrevious();
    void cct_spinBoxesAndSliderCoupled();
    void cct_pieChartReplacedInLayout();
    void deleteAllItems_emptiesNestedLayouts();

  private:
    std::unique_ptr<panels::Bench> m_b;
    panels::Bench& b() { return *m_b; }
    QTableWidget* table() { return b().child<QTableWidget>("LumentableWidget"); }
    myslider* channel(int i) { return b().child<myslider>(kChannels[i]); }
    void setCell(int r, int c, const QString& text) { table()->item(r, c)->setText(text); }
};

void TestWindowPanels::init()
{
    m_b = std::make_unique<panels::Bench>();
    QVERIFY(b().start());
}

void TestWindowPanels::cleanup()
{
    m_b.reset();
}

// ---------------------------------------------------------------------------- currents

void TestWindowPanels::start_currentWidgets()
{
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(channel(i)->sliderMinimum(), 50);
        QCOMPARE(channel(i)->sliderMaximum(), 400);
        QCOMPARE(channel(i)->spinBoxMaximum(), 400);
        QCOMPARE(channel(i)->value(), 157);
        QCOMPARE(channel(i)->spinBoxValue(), 157);
        QCOMPARE(channel(i)->title(), kTitlesEn[i]);
        QVERIFY(b().visible(kChannels[i]));
    }
}

void TestWindowPanels::layout2Type8_oneChannelWithCloAndCct()
{
    QByteArray img = layout2Image(0x08, 3);
    putU16(img, 112, 700);
    putU16(img, 114, 100);
    putU16(img, 264, 420);
    b().openBytes(img);

    QCOMPARE(b().text("labelDeviceType"), QStringLiteral("DT8"));
    QCOMPARE(b().text("labelChannelNum"), QStringLiteral("1"));
    QCOMPARE(int(TestAccess::channelCount(b().win())), 1);
    QVERIFY(b().visible("Currentwidget_ch1"));
    QVERIFY(!b().visible("Currentwidget_ch2"));
    QVERIFY(!b().visible("Currentwidget_ch3"));
    QVERIFY(b().visible("CLOBoxwidget"));
    QVERIFY(b().visible("CctBoxwidget"));
    QCOMPARE(channel(0)->sliderMinimum(), 100);
    QCOMPARE(channel(0)->sliderMaximum(), 700);
    QCOMPARE(channel(0)->value(), 420);
    QCOMPARE(b().text("Currentlabel_Range_A"), QStringLiteral("100-700mA"));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(b().visible(kRanges[i]), i == 0);
        QCOMPARE(b().visible(kRangeCaptions[i]), i == 0);
        QCOMPARE(b().visible(kRangeIcons[i]), i == 0);
    }
    // Both option panels take the room: the spacer shrinks.
    QSpacerItem* spacer = panelSpacer(b());
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), QSize(0, 0));
}

void TestWindowPanels::legacyType8_twoChannelsNoPanels()
{
    b().openBytes(legacyImage(0x08, 2));

    QCOMPARE(b().text("labelDeviceType"), QStringLiteral("DT8"));
    QCOMPARE(b().text("labelChannelNum"), QStringLiteral("2"));
    QCOMPARE(int(TestAccess::channelCount(b().win())), 2);
    QVERIFY(b().visible("Currentwidget_ch1"));
    QVERIFY(b().visible("Currentwidget_ch2"));
    QVERIFY(!b().visible("Currentwidget_ch3"));
    QVERIFY(!b().visible("CLOBoxwidget"));
    QVERIFY(!b().visible("CctBoxwidget"));
    // The demo's legacy ranges: 100-350, 100-350; currents 300, 250.
    QCOMPARE(channel(0)->value(), 300);
    QCOMPARE(channel(1)->value(), 250);
    QCOMPARE(channel(1)->sliderMinimum(), 100);
    QCOMPARE(channel(1)->sliderMaximum(), 350);
    QCOMPARE(b().text("Currentlabel_Range_A"), QStringLiteral("100-350mA"));
    QCOMPARE(b().text("Currentlabel_Range_B"), QStringLiteral("100-350mA"));
    QVERIFY(b().visible("Currentlabel_Range_B"));
    QVERIFY(!b().visible("Currentlabel_Range_C"));
    QSpacerItem* spacer = panelSpacer(b());
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), QSize(20, 20));
}

void TestWindowPanels::legacyThreeChannels_allWidgetsAndRangeLines()
{
    b().openBytes(demodrivers::memory(demodrivers::Kind::Legacy3Ch));

    QCOMPARE(b().text("labelDeviceType"), QStringLiteral("DT8(TC+RGB)"));
    QCOMPARE(b().text("labelChannelNum"), QStringLiteral("3"));
    const int values[] = {300, 250, 450};
    const char* ranges[] = {"100-350mA", "100-350mA", "150-500mA"};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(b().visible(kChannels[i]));
        QVERIFY(b().visible(kRanges[i]));
        QVERIFY(b().visible(kRangeCaptions[i]));
        QVERIFY(b().visible(kRangeIcons[i]));
        QCOMPARE(channel(i)->value(), values[i]);
        QCOMPARE(b().text(kRanges[i]), QString::fromLatin1(ranges[i]));
        QCOMPARE(channel(i)->title(), kTitlesEn[i]);
    }
    QCOMPARE(channel(2)->minimumText(), QStringLiteral("150"));
    QCOMPARE(channel(2)->maximumText(), QStringLiteral("500"));
}

void TestWindowPanels::driverTypes_textAndPanels_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("clo");
    QTest::addColumn<bool>("cct");
    QTest::newRow("ONOFF") << 0x00 << "ONOFF" << false << false;
    QTest::newRow("DT6") << 0x06 << "DT6" << true << false;
    QTest::newRow("DT8") << 0x08 << "DT8" << true << true;
    QTest::newRow("TC+RGB") << 0x38 << "DT8(TC+RGB)" << false << false;
    QTest::newRow("TC+RGBW") << 0x48 << "DT8(TC+RGBW)" << false << false;
    QTest::newRow("TC+RGBWAF") << 0x68 << "DT8(TC+RGBWAF)" << false << false;
}

void TestWindowPanels::driverTypes_textAndPanels()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(bool, clo);
    QFETCH(bool, cct);

    b().openBytes(layout2Image(uint8_t(code), 2));
    QCOMPARE(b().text("labelDeviceType"), text);
    QCOMPARE(b().text("labelChannelNum"), QStringLiteral("1"));
    QCOMPARE(b().visible("CLOBoxwidget"), clo);
    QCOMPARE(b().visible("CctBoxwidget"), cct);
    QCOMPARE(panelSpacer(b())->sizeHint(), cct ? QSize(0, 0) : QSize(20, 20));

    // The same type in the legacy layout offers neither panel and takes byte 89.
    b().openBytes(legacyImage(uint8_t(code), 2));
    QCOMPARE(b().text("labelDeviceType"), text);
    QCOMPARE(b().text("labelChannelNum"), QStringLiteral("2"));
    QVERIFY(!b().visible("CLOBoxwidget"));
    QVERIFY(!b().visible("CctBoxwidget"));
}

void TestWindowPanels::unknownType_keepsPreviousText()
{
    b().openBytes(layout2Image(0x06));
    QCOMPARE(b().text("labelDeviceType"), QStringLiteral("DT6"));
    QVERIFY(b().visible("CLOBoxwidget"));

    b().openBytes(layout2Image(0x20));
    QCOMPARE(b().text("labelDeviceType"), QStringLiteral("DT6"));
    // The panels follow the new code, which offers none.
    QVERIFY(!b().visible("CLOBoxwidget"));
    QVERIFY(!b().visible("CctBoxwidget"));
    QVERIFY(b().visible("Currentwidget_ch1"));
}

void TestWindowPanels::legacyByte89Zero_oneChannelFromLegacyCopy()
{
    QByteArray img = legacyImage(0x00, 0);
    putU16(img, 96, 600);
    putU16(img, 104, 60);
    putU16(img, 264, 333);
    // Layout-2 range fields must not be used for a legacy driver.
    putU16(img, 112, 1000);
    putU16(img, 114, 10);
    b().openBytes(img);

    QCOMPARE(b().text("labelChannelNum"), QStringLiteral("1"));
    QVERIFY(b().visible("Currentwidget_ch1"));
    QVERIFY(!b().visible("Currentwidget_ch2"));
    QCOMPARE(channel(0)->sliderMinimum(), 60);
    QCOMPARE(channel(0)->sliderMaximum(), 600);
    QCOMPARE(channel(0)->value(), 333);
    QCOMPARE(b().text("Currentlabel_Range_A"), QStringLiteral("60-600mA"));
}

void TestWindowPanels::currentOutsideRange_shownClamped_data()
{
    QTest::addColumn<bool>("legacy");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("shown");
    QTest::newRow("layout 2 above") << false << 900 << 700;
    QTest::newRow("layout 2 below") << false << 10 << 100;
    QTest::newRow("layout 2 zero") << false << 0 << 100;
    QTest::newRow("legacy above") << true << 5000 << 500;
    QTest::newRow("legacy below") << true << 20 << 150;
}

void TestWindowPanels::currentOutsideRange_shownClamped()
{
    QFETCH(bool, legacy);
    QFETCH(int, current);
    QFETCH(int, shown);

    QByteArray img;
    int index = 0;
    if (legacy) {
        img = legacyImage(0x08, 3);
        index = 2; // channel 3: 150-500 in the demo
        putU16(img, 268, uint16_t(current));
    } else {
        img = layout2Image(0x08, 1);
        putU16(img, 112, 700);
        putU16(img, 114, 100);
        putU16(img, 264, uint16_t(current));
    }
    b().openBytes(img);
    QCOMPARE(channel(index)->value(), shown);
    QCOMPARE(channel(index)->spinBoxValue(), shown);
}

void TestWindowPanels::channelTitles_followLanguage_data()
{
    QTest::addColumn<int>("lang");
    QTest::newRow("English") << 0;
    QTest::newRow("Chinese") << 1;
}

void TestWindowPanels::channelTitles_followLanguage()
{
    QFETCH(int, lang);
    TestAccess::setLanguageFlag(b().win(), lang != 0);
    b().openBytes(legacyImage(0x08, 3));
    const QStringList& titles = lang ? kTitlesCn : kTitlesEn;
    for (int i = 0; i < 3; ++i)
        QCOMPARE(channel(i)->title(), titles[i]);
}

void TestWindowPanels::pwmTag_currentFromBlock248_data()
{
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("pulse");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("shown");
    QTest::newRow("half duty, enable bit set") << 1000 << (0x8000 | 500) << 0 << 350;
    QTest::newRow("enable bit ignored") << 1000 << 500 << 0 << 350;
    QTest::newRow("period 0") << 0 << (0x8000 | 500) << 0 << 0;
    QTest::newRow("full duty") << 2000 << (0x8000 | 2000) << 0 << 700;
    QTest::newRow("period 0 under a minimum") << 0 << (0x8000 | 500) << 100 << 100;
}

void TestWindowPanels::pwmTag_currentFromBlock248()
{
    QFETCH(int, period);
    QFETCH(int, pulse);
    QFETCH(int, minimum);
    QFETCH(int, shown);

    // A real '8' tag read through the simulated R321: the chip code comes from its UID.
    auto tag = demodrivers::makeTag(demodrivers::Kind::Pwm, 77);
    QByteArray product = demodrivers::memory(demodrivers::Kind::Pwm);
    putU16(product, 112, 700);
    putU16(product, 114, uint16_t(minimum));
    tag->setMemory(product);
    QByteArray block(4, '\0');
    block[0] = char(period & 0xFF); // the tag's own order: low bytes first
    block[1] = char(period >> 8);
    block[2] = char(pulse & 0xFF);
    block[3] = char(pulse >> 8);
    tag->setBlock(248, block);
    b().field.layTag(tag);

    QVERIFY(b().win().connectReader(ReaderType::R321));
    b().win().Set_Reader_Type(ReaderType::R321);
    QTest::qWait(50); // let the set-up command's reply pass
    b().trigger("actionRead");
    QTRY_COMPARE(TestAccess::statusResult(b().win())->text(),
                 QStringLiteral("Read successfully"));

    QCOMPARE(int(TestAccess::engine(b().win()).chipCode()), 0x38);
    QVERIFY(b().visible("Currentwidget_ch1"));
    QCOMPARE(channel(0)->sliderMaximum(), 700);
    QCOMPARE(channel(0)->value(), shown);
    QCOMPARE(int(TestAccess::pwmPeriod(b().win())), period);
    QVERIFY(b().boxes.isEmpty());
}

void TestWindowPanels::displayCurrentChannel_otherCountOnlyStored()
{
    b().openBytes(legacyImage(0x08, 3));
    TestAccess::displayCurrentChannel(b().win(), 0);
    QCOMPARE(int(TestAccess::channelCount(b().win())), 0);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(b().visible(kChannels[i]));
        QVERIFY(b().visible(kRanges[i]));
    }
    QCOMPARE(channel(2)->value(), 450);
}

void TestWindowPanels::openUseFunction_changesNothing()
{
    b().openBytes(layout2Image(0x08));
    const QByteArray v2 = bytesOf(b().image().image_v2);
    const QByteArray legacy = bytesOf(b().image().image_legacy);
    for (int f : {0, 1, 6, 8, 255})
        TestAccess::openUseFunction(b().win(), uint8_t(f));
    QCOMPARE(bytesOf(b().image().image_v2), v2);
    QCOMPARE(bytesOf(b().image().image_legacy), legacy);
    QVERIFY(b().visible("CLOBoxwidget"));
    QVERIFY(b().visible("CctBoxwidget"));
    QVERIFY(!b().visible("Currentwidget_ch2"));
}

// ---------------------------------------------------------------------------- constant lumen

void TestWindowPanels::table_timeColumnZeroStaysZero()
{
    QCOMPARE(row(table(), 0), initialTimes());
    setCell(0, 0, QStringLiteral("7"));
    QCOMPARE(table()->item(0, 0)->text(), QStringLiteral("0"));
    QCOMPARE(int(b().image().image_v2[284]), 0);
    QVERIFY(b().boxes.isEmpty());
    QCOMPARE(imageRange(b().image().image_v2, 284), initialTimes());
}

void TestWindowPanels::table_decreasingTimeWarnsAndRestores()
{
    setCell(0, 2, QStringLiteral("3"));
    QCOMPARE(b().boxes, QStringList{QStringLiteral("Warning!|The nature of time is increasing!")});
    QCOMPARE(table()->item(0, 2)->text(), QStringLiteral("10"));
    QCOMPARE(int(b().image().image_v2[286]), 10);
    QCOMPARE(row(table(), 0), initialTimes());

    // The same edit in Chinese.
    b().boxes.clear();
    TestAccess::setLanguageFlag(b().win(), true);
    setCell(0, 2, QStringLiteral("4"));
    QCOMPARE(b().boxes, QStringList{QStringLiteral("警告！|时间的特性是递增的!")});
    QCOMPARE(table()->item(0, 2)->text(), QStringLiteral("10"));

    // Typing the value the point already has is not an increase either.
    b().boxes.clear();
    setCell(0, 2, QStringLiteral("010"));
    QCOMPARE(b().boxes.size(), 1);
    QCOMPARE(table()->item(0, 2)->text(), QStringLiteral("10"));
}

void TestWindowPanels::table_decreasingTimeRepairsStoredTime()
{
    // A layout-2 driver without a CLO panel keeps its times as found: 0, 5, 3, 20, ...
    QByteArray img = layout2Image(0x00);
    putTimes(img, {0, 5, 3, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80});
    b().openBytes(img);
    QCOMPARE(int(b().image().image_v2[286]), 3);
    QVERIFY(b().boxes.isEmpty());

    setCell(0, 2, QStringLiteral("4"));
    QCOMPARE(b().boxes.size(), 1);
    // The stored 3 lies below its predecessor 5 and is lifted to 6.
    QCOMPARE(int(b().image().image_v2[286]), 6);
    QCOMPARE(table()->item(0, 2)->text(), QStringLiteral("6"));
}

void TestWindowPanels::table_timeTypedInEditorPushesLaterTimes()
{
    QTest::mouseClick(b().child<switchbutton>("switchbuttonwidget"), Qt::LeftButton);
    QVERIFY(table()->isEnabled());

    // Type into the cell through the table's own editor (the row's delegate).
    QTableWidgetItem* item = table()->item(0, 1);
    table()->setCurrentItem(item);
    table()->editItem(item);
    QLineEdit* editor = nullptr;
    QTRY_VERIFY((editor = table()->findChild<QLineEdit*>()) != nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("40"));
    QTest::keyClick(editor, Qt::Key_Return);

    const QVector<int> expected = {0, 40, 41, 42, 43, 44, 45, 46, 47, 48, 50, 55, 60, 65, 70, 75};
    QTRY_COMPARE(row(table(), 0), expected);
    QCOMPARE(imageRange(b().image().image_v2, 284), expected);
    QVERIFY(b().boxes.isEmpty());
    // The chart is redrawn from the new times.
    auto* chart = b().child<CurveChart>("widget_constlumen");
    QVector<double> times;
    for (int t : expected)
        times << t;
    QCOMPARE(chart->timeValues(), times);
}

void TestWindowPanels::table_lastTimesCapAt100_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("col14");
    QTest::addColumn<int>("col15");
    QTest::newRow("99") << "99" << 99 << 100;
    QTest::newRow("100") << "100" << 100 << 100;
}

void TestWindowPanels::table_lastTimesCapAt100()
{
    QFETCH(QString, typed);
    QFETCH(int, col14);
    QFETCH(int, col15);
    setCell(0, 14, typed);
    QCOMPARE(table()->item(0, 14)->text().toInt(), col14);
    QCOMPARE(table()->item(0, 15)->text().toInt(), col15);
    QCOMPARE(int(b().image().image_v2[284 + 14]), col14);
    QCOMPARE(int(b().image().image_v2[284 + 15]), col15);
    QCOMPARE(int(b().image().image_v2[284 + 13]), 65);
    QVERIFY(b().boxes.isEmpty());
}

void TestWindowPanels::table_levelOutOfRangeWarns_data()
{
    QTest::addColumn<int>("lang");
    QTest::addColumn<QString>("box");
    QTest::newRow("English") << 0 << "Warning!|The brightness value range is:50~100";
    QTest::newRow("Chinese") << 1 << "警告！|亮度值范围为:50~100";
}

void TestWindowPanels::table_levelOutOfRangeWarns()
{
    QFETCH(int, lang);
    QFETCH(QString, box);
    TestAccess::setLanguageFlag(b().win(), lang != 0);
    setCell(1, 1, QStringLiteral("30"));
    QCOMPARE(b().boxes, QStringList{box});
    QCOMPARE(table()->item(1, 1)->text(), QStringLiteral("91"));
    QCOMPARE(int(b().image().image_v2[268 + 1]), 91);
}

void TestWindowPanels::table_levelInRangeStoredAndDrawn()
{
    setCell(1, 3, QStringLiteral("077"));
    QCOMPARE(table()->item(1, 3)->text(), QStringLiteral("77")); // rewritten as a number
    QCOMPARE(int(b().image().image_v2[268 + 3]), 77);
    QVERIFY(b().boxes.isEmpty());
    auto* chart = b().child<CurveChart>("widget_constlumen");
    QVERIFY(chart->values().size() > 3);
    QCOMPARE(chart->values().at(3), 77.0);
}

void TestWindowPanels::table_timeOutOfRangeWarns()
{
    setCell(0, 4, QStringLiteral("150"));
    QCOMPARE(b().boxes, QStringList{QStringLiteral("Warning!|The time range is:0~100")});
    QCOMPARE(table()->item(0, 4)->text(), QStringLiteral("20"));
    QCOMPARE(imageRange(b().image().image_v2, 284), initialTimes());
}

void TestWindowPanels::table_storedLevelOutOfRangeFallsToMinimum()
{
    QByteArray img = layout2Image(0x06);
    img[268 + 5] = char(20); // a level below the range, as found on a tag
    b().openBytes(img);
    QCOMPARE(table()->item(1, 5)->text(), QStringLiteral("20"));

    setCell(1, 5, QStringLiteral("101"));
    QCOMPARE(b().boxes.size(), 1);
    QCOMPARE(table()->item(1, 5)->text(), QStringLiteral("50"));
    QCOMPARE(int(b().image().image_v2[268 + 5]), 50);
}

void TestWindowPanels::switch_clickTogglesByteTableAndColour()
{
    auto* sw = b().child<switchbutton>("switchbuttonwidget");
    auto* chart = b().child<CurveChart>("widget_constlumen");
    QVERIFY(!sw->isChecked());
    QVERIFY(!table()->isEnabled());
    QCOMPARE(int(b().image().image_v2[267]), 0x00);
    QCOMPARE(chart->pointColor(), QColor(130, 130, 130));

    QTest::mouseClick(sw, Qt::LeftButton);
    QVERIFY(sw->isChecked());
    QCOMPARE(int(b().image().image_v2[267]), 0xAA);
    QVERIFY(table()->isEnabled());
    QCOMPARE(chart->pointColor(), QColor(0, 85, 255));
    // The switch is a layout-2 field: the legacy copy is not touched.
    QCOMPARE(int(b().image().image_legacy[267]), 0x00);

    QTest::mouseClick(sw, Qt::LeftButton);
    QVERIFY(!sw->isChecked());
    QCOMPARE(int(b().image().image_v2[267]), 0x00);
    QVERIFY(!table()->isEnabled());
    QCOMPARE(chart->pointColor(), QColor(130, 130, 130));
}

void TestWindowPanels::driveInfo_enableByteCarriedUntilToggled()
{
    QByteArray img = layout2Image(0x08);
    img[267] = 0x01;
    b().openBytes(img);
    auto* sw = b().child<switchbutton>("switchbuttonwidget");
    QVERIFY(sw->isChecked());
    QVERIFY(table()->isEnabled());
    QCOMPARE(int(b().image().image_v2[267]), 0x01);

    QTest::mouseClick(sw, Qt::LeftButton); // off
    QTest::mouseClick(sw, Qt::LeftButton); // on again
    QCOMPARE(int(b().image().image_v2[267]), 0xAA);
}

void TestWindowPanels::checkConstantData_repairsWithNotice_data()
{
    QTest::addColumn<QVector<int>>("times");
    QTest::addColumn<QVector<int>>("expected");
    QTest::addColumn<bool>("repaired");
    QTest::newRow("0,5,3,20") << QVector<int>{0,  5,  3,  20, 25, 30, 35, 40,
                                              45, 50, 55, 60, 65, 70, 75, 80}
                              << QVector<int>{0,  5,  6,  20, 25, 30, 35, 40,
                                              45, 50, 55, 60, 65, 70, 75, 80}
                              << true;
    QTest::newRow("0,5,5,20 unchanged")
        << QVector<int>{0, 5, 5, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80}
        << QVector<int>{0, 5, 5, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80} << false;
    QTest::newRow("first time not 0")
        << QVector<int>{4, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75}
        << QVector<int>{0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75} << true;
    QTest::newRow("tail capped at 100")
        << QVector<int>{0, 99, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75}
        << QVector<int>{0, 99, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100}
        << true;
}

void TestWindowPanels::checkConstantData_repairsWithNotice()
{
    QFETCH(QVector<int>, times);
    QFETCH(QVector<int>, expected);
    QFETCH(bool, repaired);

    QByteArray img = layout2Image(0x06);
    putTimes(img, times);
    img[267] = char(0xAA);
    b().openBytes(img);

    QCOMPARE(imageRange(b().image().image_v2, 284), expected);
    QCOMPARE(imageRange(b().image().image_legacy, 284), expected); // both copies
    QCOMPARE(row(table(), 0), expected);
    NoticeWidget* notice = TestAccess::notice(b().win());
    QCOMPARE(notice->isTicking(), repaired);
    if (repaired) {
        QCOMPARE(notice->text(), QStringLiteral("Constant lumen data error, automatic correction"));
        QVERIFY(notice->isVisible());
    }
    QVERIFY(b().boxes.isEmpty());

    // The slot itself: nothing is left to repair now.
    QVERIFY(!TestAccess::checkConstantData(b().win()));
    // A damaged table in the image is repaired by it, with the notice in Chinese.
    TestAccess::setLanguageFlag(b().win(), true);
    TestAccess::editImage(b().win(), [](TagImage& image) { image.image_v2[284] = 9; });
    QVERIFY(TestAccess::checkConstantData(b().win()));
    QCOMPARE(int(b().image().image_v2[284]), 0);
    QCOMPARE(notice->text(), QStringLiteral("恒流明数据有误， 自动更正"));
}

// ---------------------------------------------------------------------------- colour temperature

void TestWindowPanels::cct_spinBoxesStoredBigEndian()
{
    b().child<QSpinBox>("WormestspinBox")->setValue(2700);
    b().child<QSpinBox>("CoolestspinBox")->setValue(6500);
    TestAccess::getCctData(b().win());
    const auto& v2 = b().image().image_v2;
    QCOMPARE(int(v2[302]), 0x19);
    QCOMPARE(int(v2[303]), 0x64);
    QCOMPARE(int(v2[304]), 0x0A);
    QCOMPARE(int(v2[305]), 0x8C);
    // Only the layout-2 copy holds colour temperatures.
    QCOMPARE(int(b().image().image_legacy[302]), 0);
    QCOMPARE(int(b().image().image_legacy[304]), 0);
}

void TestWindowPanels::cct_zeroCoolestShownClamped()
{
    QByteArray img = layout2Image(0x08);
    putU16(img, 302, 0);
    putU16(img, 304, 0);
    b().openBytes(img);
    QCOMPARE(b().child<QSpinBox>("CoolestspinBox")->value(), 1000);
    QCOMPARE(b().child<QSpinBox>("WormestspinBox")->value(), 1000);
    QCOMPARE(TestAccess::cctSlider(b().win())->getUpperValue(), 1000);

    putU16(img, 302, 20000);
    b().openBytes(img);
    QCOMPARE(b().child<QSpinBox>("CoolestspinBox")->value(), 12000);
}

void TestWindowPanels::cct_warmestAboveCoolestHeldAtCoolest()
{
    QByteArray img = layout2Image(0x08);
    putU16(img, 302, 3000);
    putU16(img, 304, 5000);
    b().openBytes(img);
    QCOMPARE(b().child<QSpinBox>("CoolestspinBox")->value(), 3000);
    QCOMPARE(b().child<QSpinBox>("WormestspinBox")->value(), 3000);
    QCOMPARE(TestAccess::cctSlider(b().win())->getLowerValue(), 3000);
    QCOMPARE(TestAccess::cctSlider(b().win())->getUpperValue(), 3000);
    TestAccess::getCctData(b().win());
    QCOMPARE(u16(b().image().image_v2, 304), uint16_t(3000));
    QCOMPARE(u16(b().image().image_v2, 302), uint16_t(3000));
}

void TestWindowPanels::cct_shownRangeDoesNotDependOnPrevious()
{
    // A driver whose warmest lies above the next driver's coolest ...
    QByteArray first = layout2Image(0x08);
    putU16(first, 302, 6500);
    putU16(first, 304, 4000);
    b().openBytes(first);
    QCOMPARE(b().child<QSpinBox>("WormestspinBox")->value(), 4000);

    // ... must not push the next driver's coolest up to it.
    QByteArray second = layout2Image(0x08);
    putU16(second, 302, 3000);
    putU16(second, 304, 2700);
    b().openBytes(second);
    QCOMPARE(b().child<QSpinBox>("CoolestspinBox")->value(), 3000);
    QCOMPARE(b().child<QSpinBox>("WormestspinBox")->value(), 2700);
    TestAccess::getCctData(b().win());
    QCOMPARE(u16(b().image().image_v2, 302), uint16_t(3000));
    QCOMPARE(u16(b().image().image_v2, 304), uint16_t(2700));
}

void TestWindowPanels::cct_spinBoxesAndSliderCoupled()
{
    auto* warm = b().child<QSpinBox>("WormestspinBox");
    auto* cool = b().child<QSpinBox>("CoolestspinBox");
    RangeSlider* slider = TestAccess::cctSlider(b().win());
    QCOMPARE(slider->getMinimum(), 1000);
    QCOMPARE(slider->getMaximum(), 12000);
    QCOMPARE(warm->minimum(), 1000);
    QCOMPARE(cool->maximum(), 12000);

    warm->setValue(2200);
    QCOMPARE(slider->getLowerValue(), 2200);
    cool->setValue(7000);
    QCOMPARE(slider->getUpperValue(), 7000);
    slider->setLowerValue(3100);
    QCOMPARE(warm->value(), 3100);
    slider->setUpperValue(9000);
    QCOMPARE(cool->value(), 9000);
    // The slider never lets the warmest pass the coolest.
    warm->setValue(9500);
    QCOMPARE(warm->value(), 9000);
    // Screen edits reach the image only through Get_CCT_Data.
    const uint16_t before = u16(b().image().image_v2, 304);
    QCOMPARE(before, uint16_t(1000)); // the start values stored at construction
    QCOMPARE(u16(b().image().image_v2, 302), uint16_t(12000));
}

void TestWindowPanels::cct_pieChartReplacedInLayout()
{
    QByteArray img = layout2Image(0x08);
    putU16(img, 302, 6500);
    putU16(img, 304, 2700);
    b().openBytes(img);

    QGridLayout* layout = TestAccess::chartLayoutCct(b().win());
    QCOMPARE(layout->count(), 0); // nothing in the program calls it
    TestAccess::updateCctChart(b().win());
    QCOMPARE(layout->count(), 1);
    QPointer<QtCharts::QChartView> first =
        qobject_cast<QtCharts::QChartView*>(layout->itemAt(0)->widget());
    QVERIFY(first);
    QCOMPARE(first->chart()->title(), QStringLiteral("CCT"));
    auto* series = qobject_cast<QtCharts::QPieSeries*>(first->chart()->series().value(0));
    QVERIFY(series);
    QCOMPARE(series->count(), 2);
    QCOMPARE(series->slices().at(0)->label(), QStringLiteral("Warm"));
    QCOMPARE(series->slices().at(0)->value(), 2700.0);
    QCOMPARE(series->slices().at(1)->value(), 6500.0);

    TestAccess::setLanguageFlag(b().win(), true);
    TestAccess::updateCctChart(b().win());
    QCOMPARE(layout->count(), 1);
    auto* second = qobject_cast<QtCharts::QChartView*>(layout->itemAt(0)->widget());
    QVERIFY(second && second != first.data());
    QCOMPARE(second->chart()->title(), QStringLiteral("色温"));
    // The replaced view does not linger.
    QTRY_VERIFY(first.isNull());
}

void TestWindowPanels::deleteAllItems_emptiesNestedLayouts()
{
    QWidget host;
    auto* outer = new QVBoxLayout(&host);
    QPointer<QWidget> a = new QWidget;
    outer->addWidget(a);
    auto* inner = new QHBoxLayout;
    QPointer<QWidget> c = new QWidget;
    inner->addWidget(c);
    outer->addLayout(inner);
    outer->addStretch();

    QVERIFY(TestAccess::deleteAllItems(b().win(), outer));
    QCOMPARE(outer->count(), 0);
    QVERIFY(a && a->parent() == nullptr);
    QTRY_VERIFY(a.isNull() && c.isNull());
    QVERIFY(!TestAccess::deleteAllItems(b().win(), nullptr));
}

QTEST_MAIN(TestWindowPanels)
#include "test_window_panels.moc"
