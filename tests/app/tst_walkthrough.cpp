// One technician's session from start to end, on the simulated readers of
// `vantory --simulate`: connect through the dialog, read the demo driver, edit the current,
// the constant-lumen curve and the colour temperatures, write and read back, save and open
// a configuration file, switch the language, and program two drivers with auto write.
// Everything goes through the controls a user touches. With VANTORY_SHOTS_DIR set, the
// R321 session saves the screenshots of the README's user guide into that folder.
#include "app/readerbackends.h"
#include "app/simulatorwindow.h"
#include "app/vantory.h"
#include "model/tagimage.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "widgets/colorwidget.h"
#include "widgets/curvechart.h"
#include "widgets/myslider.h"
#include "widgets/switchbutton.h"
#include "testaccess.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>
#include <memory>


namespace
{

enum Reader { Feig = 1, R321 = 2 };

constexpr int kTipNoDevice = 1;
constexpr int kTipReadOk = 3;
constexpr int kTipWriteOk = 5;

// The demo DT8 driver as the simulator lays it.
const QString kModel = QStringLiteral("VDR-40-700 DALI-2 DT8 TW");

// What the technician types in this session.
constexpr int kCurrent = 480;   // channel 1, mA (the driver came with 350)
constexpr int kLevelColumn = 3; // constant-lumen point whose level is changed
constexpr int kLevel = 87;      // its new level, % (the driver came with 85)
constexpr int kWarmest = 3000;  // K (2700)
constexpr int kCoolest = 5700;  // K (6500)

// Tag bytes of the edited fields.
constexpr int kCurrentByte = 264;
constexpr int kLevelByte = 268 + kLevelColumn;
constexpr int kCoolestByte = 302;
constexpr int kWarmestByte = 304;

uint16_t u16(const QByteArray& b, int offset)
{
    return uint16_t(uint8_t(b.at(offset)) << 8 | uint8_t(b.at(offset + 1)));
}

QByteArray bytesOf(const TagImage::Bytes& b)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
}

bool isBeeper(const SimCommandRecord& r)
{
    return (r.reader == SimReaderKind::R321 && r.command == 0xE9) ||
           (r.reader == SimReaderKind::Feig && r.command == 0x72);
}

int beeperCommands(const ReaderField& field)
{
    int n = 0;
    for (const SimCommandRecord& r : field.commandLog())
        n += isBeeper(r) ? 1 : 0;
    return n;
}

QColor textColour(const QLabel* label)
{
    return label->palette().color(QPalette::Active, QPalette::WindowText);
}

} // namespace

// Runs a step helper and ends the test function when the step failed.
#define STEP(call)                                                                                 \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class TstWalkthrough : public QObject
{
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void session_data();
    void session();

  private:
    // The user's hands.
    void clickAction(const char* name);
    void useAction(const char* name, Qt::Key key);
    void typeIntoSpinBox(QSpinBox* box, int value);
    // Types into a cell of the constant-lumen table; the cell then shows `shown`
    // (the typed value when -1).
    void typeIntoCell(int row, int column, int value, int shown = -1);
    void clickSimButton(const char* name);

    // The steps of the session.
    void startLikeTheProgram();
    void connectThroughDialog();
    void readDemoDriver();
    void editPanels();
    void writeAndReadBack();
    void saveOpenAndRestore();
    void switchLanguage();
    void autoWriteTwoDrivers();
    void writeGoesToDriverReadLast();

    void checkPanelsHoldEdits();
    void checkTagHoldsEdits(const QByteArray& memory);
    void shot(const QString& name, QWidget* widget);
    // Shows Qt's own save dialog as the program would open it, for its screenshot.
    void shotSaveDialog(const QString& caption, const QString& proposed, const QString& filter);

    template <typename T> T* child(const char* name)
    {
        T* found = m_w->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qWarning("no child %s", name);
        return found;
    }
    QString text(const char* label) { return child<QLabel>(label)->text(); }
    QString link() { return TestAccess::statusLink(*m_w)->text(); }
    QString result() { return TestAccess::statusResult(*m_w)->text(); }
    ReaderField& field() { return *m_sim->field(); }
    QByteArray tagMemory(int index) { return field().tags().value(index)->memory(); }
    // Waits until a beep pattern has ended and the reader has had `commands` beeper commands.
    bool waitBeeps(int commands);

    int m_reader = R321;
    QString m_shotsDir; // empty: no screenshots
    std::unique_ptr<SimulatorWindow> m_sim;
    std::unique_ptr<Vantory> m_w;
    QStringList m_boxes;   // "caption|text" of every warning box the window raised
    QString m_nextPath;    // what the next file dialog returns
    QStringList m_dialogs; // "caption|proposed name|filter" of every file dialog
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/vantory-XXXXXX")};
};

void TstWalkthrough::init()
{
    QVERIFY(m_dir.isValid());
    ColorWidget::setLanguage(false);
    m_boxes.clear();
    m_dialogs.clear();
    // The simulated readers must outlive the window, as in main().
    m_sim = std::make_unique<SimulatorWindow>();
    m_w = std::make_unique<Vantory>(ReaderBackends{m_sim->r321(), m_sim->feig(), true});
    m_w->setModalHook([this](const QString& caption, const QString& text) {
        m_boxes << caption + QLatin1Char('|') + text;
    });
    m_w->setFileDialogHook([this](Vantory::FileDialogMode mode, const QString& caption,
                                  const QString& proposed, const QString& filter) {
        m_dialogs << caption + QLatin1Char('|') + proposed + QLatin1Char('|') + filter;
        if (mode == Vantory::FileDialogMode::Save)
            shotSaveDialog(caption, proposed, filter);
        return m_nextPath;
    });
}

void TstWalkthrough::cleanup()
{
    m_w.reset();
    m_sim.reset();
    ColorWidget::setLanguage(false);
}

void TstWalkthrough::session_data()
{
    QTest::addColumn<int>("reader");
    QTest::newRow("R321") << int(R321);
    QTest::newRow("FEIG") << int(Feig);
}

void TstWalkthrough::session()
{
    QFETCH(int, reader);
    m_reader = reader;
    // One set of screenshots is enough: the R321 session takes them.
    m_shotsDir = reader == R321 ? qEnvironmentVariable("VANTORY_SHOTS_DIR") : QString();
    if (!m_shotsDir.isEmpty())
        QVERIFY(QDir().mkpath(m_shotsDir));

    STEP(startLikeTheProgram());
    STEP(connectThroughDialog());
    STEP(readDemoDriver());
    STEP(editPanels());
    STEP(writeAndReadBack());
    STEP(saveOpenAndRestore());
    STEP(switchLanguage());
    STEP(autoWriteTwoDrivers());
    STEP(writeGoesToDriverReadLast());
    QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(QLatin1Char('\n'))));
}

// ---------------------------------------------------------------------------- the hands

void TstWalkthrough::clickAction(const char* name)
{
    auto* action = child<QAction>(name);
    QVERIFY(action);
    QVERIFY2(action->isEnabled(), name);
    auto* button = qobject_cast<QToolButton*>(child<QToolBar>("toolBar")->widgetForAction(action));
    QVERIFY2(button && button->isVisible(), name);
    QTest::mouseClick(button, Qt::LeftButton);
}

// The R321 session clicks the toolbar buttons; the FEIG session presses the shortcut keys.
void TstWalkthrough::useAction(const char* name, Qt::Key key)
{
    if (m_reader == R321) {
        clickAction(name);
        return;
    }
    auto* action = child<QAction>(name);
    QVERIFY(action);
    QVERIFY2(action->isEnabled(), name);
    QCOMPARE(action->shortcut(), QKeySequence(key));
    // The main window has the keyboard again, as a window manager gives it back when a
    // dialog closes (the offscreen platform does not).
    QApplication::setActiveWindow(m_w.get());
    QVERIFY(QTest::qWaitForWindowActive(m_w.get()));
    QSignalSpy triggered(action, &QAction::triggered);
    QTest::keyClick(m_w.get(), key);
    QCOMPARE(triggered.count(), 1);
}

void TstWalkthrough::typeIntoSpinBox(QSpinBox* box, int value)
{
    QVERIFY(box && box->isVisible() && box->isEnabled());
    QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, QString::number(value));
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(box->value(), value);
    // Return leaves the text selected; the user's next click elsewhere clears that.
    if (auto* edit = box->findChild<QLineEdit*>())
        edit->deselect();
}

void TstWalkthrough::typeIntoCell(int row, int column, int value, int shown)
{
    auto* table = child<QTableWidget>("LumentableWidget");
    QVERIFY(table && table->isEnabled());
    const QRect cell = table->visualItemRect(table->item(row, column));
    QVERIFY(!cell.isEmpty());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    auto* editor = qobject_cast<QLineEdit*>(table->indexWidget(table->model()->index(row, column)));
    QVERIFY2(editor, "double-click opened no editor");
    editor->selectAll();
    QTest::keyClicks(editor, QString::number(value));
    QTest::keyClick(editor, Qt::Key_Return); // commits on the next event-loop pass
    QTRY_VERIFY(!table->indexWidget(table->model()->index(row, column)));
    QTRY_COMPARE(table->item(row, column)->text(), QString::number(shown < 0 ? value : shown));
}

void TstWalkthrough::clickSimButton(const char* name)
{
    auto* button = m_sim->findChild<QPushButton*>(QString::fromLatin1(name));
    QVERIFY2(button && button->isEnabled(), name);
    QTest::mouseClick(button, Qt::LeftButton);
}

bool TstWalkthrough::waitBeeps(int commands)
{
    return QTest::qWaitFor(
        [&] {
            return beeperCommands(field()) >= commands && TestAccess::engine(*m_w).beeper().idle();
        },
        5000);
}

void TstWalkthrough::shot(const QString& name, QWidget* widget)
{
    if (m_shotsDir.isEmpty())
        return;
    QTest::qWait(100); // let pending layouts and paints settle
    const QString path = QDir(m_shotsDir).filePath(name + QStringLiteral(".png"));
    QVERIFY2(widget->grab().save(path), qPrintable(path));
}

void TstWalkthrough::shotSaveDialog(const QString& caption, const QString& proposed,
                                    const QString& filter)
{
    if (m_shotsDir.isEmpty())
        return;
    const QString folder = m_dir.filePath(QStringLiteral("configurations"));
    QVERIFY(QDir().mkpath(folder));
    QFileDialog dialog(m_w.get(), caption, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.selectFile(proposed);
    dialog.resize(760, 440);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::qWait(300); // the folder is listed in the background
    shot(QStringLiteral("files-dialog"), &dialog);
    dialog.reject();
}

// ---------------------------------------------------------------------------- the steps

// main() on a 1920 x 1080 screen with a 40 px taskbar (100 % display scale).
void TstWalkthrough::startLikeTheProgram()
{
    m_w->Select_Display_Scale(40, 1920, 1080);
    QCOMPARE(m_w->minimumSize(), QSize(1344, 972));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(12);
    m_w->setFont(font);
    QPalette palette = m_w->palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(QColor(255, 255, 255, 255)));
    m_w->setPalette(palette);
    m_w->resize(m_w->size().expandedTo(m_w->minimumSize()));
    m_sim->show();
    m_w->show();
    QApplication::setActiveWindow(m_w.get());
    QVERIFY(QTest::qWaitForWindowActive(m_w.get()));
    QTRY_VERIFY(TestAccess::cloChartReady(*m_w));

    QCOMPARE(m_w->windowTitle(), QStringLiteral("Orvella NFC Reader"));
    QCOMPARE(link(), QStringLiteral("Please selcet usb device"));
    QCOMPARE(field().tagCount(), 1); // the demo DT8 driver lies on the reader

    // Before a reader is chosen, Read only asks for one.
    STEP(useAction("actionRead", Qt::Key_F7));
    QCOMPARE(m_boxes, QStringList{QString::fromUtf8(
                          "Warning！|The reader is not connected, please connect the reader!")});
    m_boxes.clear();
    QCOMPARE(field().commandLog().size(), 0);

    // F3 is the language key; Reader Config is opened with its button.
    auto* dialog = m_w->findChild<QDialog*>(QStringLiteral("ConnectionConfig"));
    QVERIFY(dialog);
    QTest::keyClick(m_w.get(), Qt::Key_F3);
    QTest::qWait(20);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(int(TestAccess::langCn(*m_w)), 1);
    QTest::keyClick(m_w.get(), Qt::Key_F3);
    QCOMPARE(int(TestAccess::langCn(*m_w)), 0);
}

void TstWalkthrough::connectThroughDialog()
{
    auto* dialog = m_w->findChild<QDialog*>(QStringLiteral("ConnectionConfig"));
    QVERIFY(dialog);
    STEP(clickAction("actionselect")); // F3 would do nothing, see startLikeTheProgram
    QTRY_VERIFY(dialog->isVisible());

    auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("comboBox_Reader"));
    auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("pushButton_Connect"));
    QVERIFY(combo && ok);
    QCOMPARE(combo->currentText(), QStringLiteral("FEIG")); // the default choice
    // Pick the brand with the keyboard, as from the drop-down list.
    combo->setFocus();
    QTest::keyClick(combo, m_reader == R321 ? Qt::Key_Down : Qt::Key_Up);
    QCOMPARE(combo->currentText(),
             m_reader == R321 ? QStringLiteral("CHENKON") : QStringLiteral("FEIG"));
    shot(QStringLiteral("connect-dialog"), dialog);

    QTest::mouseClick(ok, Qt::LeftButton);
    QTRY_VERIFY(!dialog->isVisible());
    // A window manager gives the keyboard back to the main window; offscreen does not.
    QApplication::setActiveWindow(m_w.get());
    QCOMPARE(int(TestAccess::engine(*m_w).readerType()), m_reader);
    const QString connected = m_reader == R321 ? QStringLiteral("Connected: R321")
                                               : QStringLiteral("Connected: Feig Reader");
    QTRY_COMPARE(link(), connected);
    QCOMPARE(textColour(TestAccess::statusLink(*m_w)), QColor(Qt::blue));
    // Let the R321's set-up command pass before counting commands.
    QTest::qWait(50);
    field().clearCommandLog();
    shot(QStringLiteral("connect"), m_w.get());
}

void TstWalkthrough::readDemoDriver()
{
    STEP(useAction("actionRead", Qt::Key_F7));
    QTRY_COMPARE(int(TestAccess::lastTip(*m_w)), kTipReadOk);
    QCOMPARE(result(), QStringLiteral("Read successfully"));
    QCOMPARE(textColour(TestAccess::statusResult(*m_w)), QColor(Qt::blue));
    QVERIFY(waitBeeps(2)); // one beep: on and off

    // Device data.
    QCOMPARE(text("Productlabel"), kModel);
    QCOMPARE(text("labelGTIN"), QStringLiteral("4260712340016"));
    QCOMPARE(text("labelDeviceType"), QStringLiteral("DT8"));
    QCOMPARE(text("labelChannelNum"), QStringLiteral("1"));
    QCOMPARE(text("labelSoftware"), QStringLiteral("2.3"));
    QCOMPARE(text("labelHardware"), QStringLiteral("1.4"));
    QCOMPARE(text("labelDeviceCode"), QStringLiteral("1410010001-1"));
    QCOMPARE(text("label_GearOperatingTime"), QStringLiteral("12345h"));
    QCOMPARE(text("label_LoadOperatingTime"), QStringLiteral("11890h"));
    QCOMPARE(text("Currentlabel_Range_A"), QStringLiteral("50-700mA"));

    // One channel, with the constant-lumen and colour-temperature panels of a DT8.
    auto* ch1 = child<myslider>("Currentwidget_ch1");
    QVERIFY(ch1->isVisible());
    QVERIFY(!child<myslider>("Currentwidget_ch2")->isVisible());
    QVERIFY(!child<myslider>("Currentwidget_ch3")->isVisible());
    QCOMPARE(ch1->value(), 350);
    QCOMPARE(ch1->spinBoxMinimum(), 50);
    QCOMPARE(ch1->spinBoxMaximum(), 700);
    QVERIFY(child<QWidget>("CLOBoxwidget")->isVisible());
    QVERIFY(child<QWidget>("CctBoxwidget")->isVisible());
    QVERIFY(child<switchbutton>("switchbuttonwidget")->isChecked());
    auto* table = child<QTableWidget>("LumentableWidget");
    QVERIFY(table->isEnabled());
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("6"));
    QCOMPARE(table->item(0, 15)->text(), QStringLiteral("90"));
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("80"));
    QCOMPARE(table->item(1, kLevelColumn)->text(), QStringLiteral("85"));
    QCOMPARE(child<QSpinBox>("WormestspinBox")->value(), 2700);
    QCOMPARE(child<QSpinBox>("CoolestspinBox")->value(), 6500);
    shot(QStringLiteral("read"), m_w.get());
}

void TstWalkthrough::editPanels()
{
    auto* ch1 = child<myslider>("Currentwidget_ch1");
    STEP(typeIntoSpinBox(ch1->findChild<QSpinBox*>(QStringLiteral("CurrentspinBox")), kCurrent));
    QCOMPARE(ch1->value(), kCurrent); // the slider follows the spin box

    // A level outside 50..100 is refused with a warning and the stored level comes back.
    STEP(typeIntoCell(1, kLevelColumn + 1, 30, 86));
    QCOMPARE(m_boxes, QStringList{QStringLiteral("Warning!|The brightness value range is:50~100")});
    m_boxes.clear();
    STEP(typeIntoCell(1, kLevelColumn, kLevel));
    auto* chart = child<CurveChart>("widget_constlumen");
    QCOMPARE(chart->values().value(kLevelColumn), double(kLevel));

    STEP(typeIntoSpinBox(child<QSpinBox>("WormestspinBox"), kWarmest));
    STEP(typeIntoSpinBox(child<QSpinBox>("CoolestspinBox"), kCoolest));

    // Nothing has reached the tag yet.
    QCOMPARE(u16(tagMemory(0), kCurrentByte), uint16_t(350));
    shot(QStringLiteral("edit"), m_w.get());
}

void TstWalkthrough::checkPanelsHoldEdits()
{
    QCOMPARE(child<myslider>("Currentwidget_ch1")->value(), kCurrent);
    auto* table = child<QTableWidget>("LumentableWidget");
    QCOMPARE(table->item(1, kLevelColumn)->text(), QString::number(kLevel));
    QCOMPARE(table->item(1, kLevelColumn + 1)->text(), QStringLiteral("86"));
    QCOMPARE(child<QSpinBox>("WormestspinBox")->value(), kWarmest);
    QCOMPARE(child<QSpinBox>("CoolestspinBox")->value(), kCoolest);
    QCOMPARE(text("Productlabel"), kModel);
}

void TstWalkthrough::checkTagHoldsEdits(const QByteArray& memory)
{
    QCOMPARE(memory.size(), 512);
    QCOMPARE(u16(memory, kCurrentByte), uint16_t(kCurrent));
    QCOMPARE(int(uint8_t(memory.at(kLevelByte))), kLevel);
    QCOMPARE(int(uint8_t(memory.at(kLevelByte + 1))), 86);
    QCOMPARE(u16(memory, kWarmestByte), uint16_t(kWarmest));
    QCOMPARE(u16(memory, kCoolestByte), uint16_t(kCoolest));
    QCOMPARE(memory.mid(195, kModel.size()), kModel.toLatin1());
}

void TstWalkthrough::writeAndReadBack()
{
    const QByteArray before = tagMemory(0);
    const int beeps = beeperCommands(field());
    STEP(useAction("actionWrite", Qt::Key_F8));
    QTRY_COMPARE(int(TestAccess::lastTip(*m_w)), kTipWriteOk);
    QCOMPARE(result(), QStringLiteral("Write successfully"));
    QVERIFY(waitBeeps(beeps + 2));
    const QByteArray written = tagMemory(0);
    STEP(checkTagHoldsEdits(written));
    // Only the drive area (tag bytes 256 to 511) is written; the product area is untouched.
    QCOMPARE(written.left(256), before.left(256));
    shot(QStringLiteral("write"), m_w.get());

    // Read back: the panels show what the tag now holds.
    STEP(useAction("actionRead", Qt::Key_F7));
    QTRY_COMPARE(int(TestAccess::lastTip(*m_w)), kTipReadOk);
    QVERIFY(waitBeeps(beeps + 4));
    STEP(checkPanelsHoldEdits());
    QCOMPARE(bytesOf(TestAccess::image(*m_w).image_v2), written);
    QCOMPARE(tagMemory(0), written);
}

void TstWalkthrough::saveOpenAndRestore()
{
    const QString path = m_dir.filePath(QStringLiteral("walkthrough.bin"));
    m_nextPath = path;
    STEP(useAction("actionSave_BIN_configure", Qt::Key_F2));
    QCOMPARE(m_dialogs.size(), 1);
    const QStringList save = m_dialogs.takeFirst().split(QLatin1Char('|'));
    QCOMPARE(save.value(0), QString::fromUtf8("保存文件"));
    QVERIFY2(QRegularExpression(QRegularExpression::escape(kModel) +
                                QStringLiteral("\\(\\d{4}-\\d\\d-\\d\\d,\\d\\d-\\d\\d-\\d\\d\\)$"))
                 .match(save.value(1))
                 .hasMatch(),
             qPrintable(save.value(1)));
    QCOMPARE(save.value(2), QStringLiteral("Config Files(*.bin)"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    file.close();
    QCOMPARE(saved, tagMemory(0)); // the file is the tag image

    // Change the panels, then open the file: everything comes back.
    auto* ch1 = child<myslider>("Currentwidget_ch1");
    STEP(typeIntoSpinBox(ch1->findChild<QSpinBox*>(QStringLiteral("CurrentspinBox")), 200));
    STEP(typeIntoCell(1, kLevelColumn, 99));
    STEP(typeIntoSpinBox(child<QSpinBox>("WormestspinBox"), 2500));
    QCOMPARE(ch1->value(), 200);

    STEP(useAction("actionOpen_BIN_configure", Qt::Key_F1));
    QCOMPARE(m_dialogs.size(), 1);
    QCOMPARE(m_dialogs.takeFirst(), QString::fromUtf8("打开文件||Config Files(*.bin)"));
    STEP(checkPanelsHoldEdits());
    QCOMPARE(bytesOf(TestAccess::image(*m_w).image_v2), saved);
    shot(QStringLiteral("files"), m_w.get());

    // A cancelled dialog changes nothing.
    m_nextPath.clear();
    STEP(useAction("actionOpen_BIN_configure", Qt::Key_F1));
    QCOMPARE(m_dialogs.size(), 1);
    m_dialogs.clear();
    STEP(checkPanelsHoldEdits());
}

void TstWalkthrough::switchLanguage()
{
    STEP(clickAction("actionLanguage"));
    QCOMPARE(int(TestAccess::langCn(*m_w)), 1);
    QCOMPARE(m_w->windowTitle(), QString::fromUtf8("Orvella LED驱动配置"));
    QCOMPARE(child<QAction>("actionRead")->text(), QString::fromUtf8("读取"));
    QCOMPARE(text("label_Current"), QString::fromUtf8("设置电流"));
    QCOMPARE(child<myslider>("Currentwidget_ch1")->title(), QString::fromUtf8("设备电流一（mA）"));
    QCOMPARE(link(), m_reader == R321 ? QString::fromUtf8("连接成功: R321 阅读器")
                                      : QString::fromUtf8("连接成功: Feig 阅读器"));
    QCOMPARE(result(), QString::fromUtf8("读取成功"));
    // The values stay as they were.
    STEP(checkPanelsHoldEdits());
    shot(QStringLiteral("language-zh"), m_w.get());

    STEP(clickAction("actionLanguage"));
    QCOMPARE(int(TestAccess::langCn(*m_w)), 0);
    QCOMPARE(m_w->windowTitle(), QStringLiteral("Orvella NFC Reader"));
    QCOMPARE(child<QAction>("actionRead")->text(), QStringLiteral("Read"));
    QCOMPARE(result(), QStringLiteral("Read successfully"));
    STEP(checkPanelsHoldEdits());
}

void TstWalkthrough::autoWriteTwoDrivers()
{
    STEP(clickSimButton("buttonClear"));
    QCOMPARE(field().tagCount(), 0);
    STEP(useAction("actionAuto_Write", Qt::Key_F6));
    QTRY_COMPARE(int(TestAccess::lastTip(*m_w)), kTipNoDevice);
    QCOMPARE(result(), QStringLiteral("No device detected"));
    QVERIFY(!child<QAction>("actionRead")->isEnabled());
    QVERIFY(!child<QAction>("actionWrite")->isEnabled());

    auto* demo = m_sim->findChild<QComboBox*>(QStringLiteral("comboDemo"));
    QVERIFY(demo);
    for (int driver = 0; driver < 2; ++driver) {
        field().clearCommandLog();
        demo->setCurrentIndex(demo->findText(demodrivers::info(demodrivers::Kind::Dt8).name));
        STEP(clickSimButton("buttonLay"));
        QCOMPARE(field().tagCount(), 1);
        const QByteArray fresh = tagMemory(0);
        QCOMPARE(u16(fresh, kCurrentByte), uint16_t(350));

        QTRY_COMPARE_WITH_TIMEOUT(int(TestAccess::lastTip(*m_w)), kTipWriteOk, 5000);
        QCOMPARE(result(), QStringLiteral("Write successfully"));
        QVERIFY(waitBeeps(2));
        QCOMPARE(beeperCommands(field()), 2); // one beep, the model check is silent
        const QByteArray written = tagMemory(0);
        QCOMPARE(u16(written, kCurrentByte), uint16_t(kCurrent));
        QCOMPARE(int(uint8_t(written.at(kLevelByte))), kLevel);
        QCOMPARE(u16(written, kWarmestByte), uint16_t(kWarmest));
        QCOMPARE(u16(written, kCoolestByte), uint16_t(kCoolest));
        QCOMPARE(written.left(256), fresh.left(256));

        // Left on the reader, it is not written again.
        QTest::qWait(800);
        QCOMPARE(beeperCommands(field()), 2);
        if (driver == 1) {
            shot(QStringLiteral("autowrite"), m_w.get());
            shot(QStringLiteral("simulator"), m_sim.get());
        }
        STEP(clickSimButton("buttonRemove"));
        QCOMPARE(field().tagCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(result(), QStringLiteral("No device detected"), 3000);
    }

    // A driver of another model is refused with two beeps and left as it was.
    field().clearCommandLog();
    demo->setCurrentIndex(demo->findText(demodrivers::info(demodrivers::Kind::OtherModel).name));
    STEP(clickSimButton("buttonLay"));
    const QByteArray other = tagMemory(0);
    QTRY_COMPARE_WITH_TIMEOUT(result(), QStringLiteral("The model number is different"), 5000);
    QVERIFY(waitBeeps(4));
    QTest::qWait(800);
    QCOMPARE(beeperCommands(field()), 4);
    QCOMPARE(tagMemory(0), other);
    STEP(clickSimButton("buttonRemove"));

    STEP(useAction("actionAuto_Write", Qt::Key_F6));
    QCOMPARE(int(TestAccess::engine(*m_w).autoWrite().auto_mode), 0);
    QVERIFY(child<QAction>("actionRead")->isEnabled());
    QVERIFY(child<QAction>("actionWrite")->isEnabled());
}

// Write addresses the driver that was read; another driver laid in its place is left alone.
void TstWalkthrough::writeGoesToDriverReadLast()
{
    auto* demo = m_sim->findChild<QComboBox*>(QStringLiteral("comboDemo"));
    demo->setCurrentIndex(demo->findText(demodrivers::info(demodrivers::Kind::Dt8).name));
    STEP(clickSimButton("buttonLay"));
    field().clearCommandLog();
    STEP(useAction("actionRead", Qt::Key_F7));
    QTRY_COMPARE(int(TestAccess::lastTip(*m_w)), kTipReadOk);
    QVERIFY(waitBeeps(2));

    STEP(clickSimButton("buttonClear"));
    STEP(clickSimButton("buttonLay"));
    const QByteArray untouched = tagMemory(0);
    field().clearCommandLog();
    STEP(useAction("actionWrite", Qt::Key_F8));
    QTRY_COMPARE(result(), QStringLiteral("No tag response"));
    QCOMPARE(textColour(TestAccess::statusResult(*m_w)), QColor(Qt::red));
    QVERIFY(waitBeeps(4)); // two beeps
    QCOMPARE(tagMemory(0), untouched);
}

QTEST_MAIN(TstWalkthrough)
#include "tst_walkthrough.moc"
