// What Write and Auto Scan program is what the window shows, on the simulated readers: a
// configuration file is shown as the tag kind it is and never written to a driver of the
// other kind, the configuration line names what would be programmed, edits reach the
// document when they are made, a file that is no configuration is refused, operations
// never cut one another short, and the record lists only what was written.
#include "app/windowbench.h"
#include "engine/writebench.h"

#include "widgets/myslider.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

using namespace enginetest;
using demodrivers::Kind;

namespace
{

constexpr int kCurrentByte = 264;

QByteArray withCurrent(QByteArray bytes, uint16_t mA)
{
    bytes[kCurrentByte] = char(mA >> 8);
    bytes[kCurrentByte + 1] = char(mA & 0xFF);
    return bytes;
}

QByteArray withModel(QByteArray bytes, const QByteArray& model)
{
    for (int i = 0; i < 32; ++i)
        bytes[195 + i] = i < model.size() ? model.at(i) : '\0';
    return bytes;
}

// A PWM driver's configuration whose drive area holds a current of `mA` that means nothing
// to it, with the model `model`.
QByteArray pwmFile(const QByteArray& model = "VPW-20-700 PWM", uint16_t mA = 480)
{
    const QByteArray p = withCurrent(demodrivers::memory(Kind::Dt8), mA);
    return withModel(demodrivers::configurationFile(Kind::Pwm).left(256) + p.mid(256), model);
}

QByteArray pFile(const QByteArray& model = "VDR-40-700 DALI-2 DT8 TW", uint16_t mA = 480)
{
    return withModel(withCurrent(demodrivers::memory(Kind::Dt8), mA), model);
}

QString uidText(const std::shared_ptr<VirtualTag>& tag)
{
    return QString::fromLatin1(tag->uidMsbFirst().toHex().toUpper());
}

template <class T> T* child(WindowBench& b, const QString& name)
{
    return b.w->findChild<T*>(name);
}

QString labelText(WindowBench& b, const char* name)
{
    auto* label = child<QLabel>(b, QLatin1String(name));
    return label ? label->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
}

bool editedShown(WindowBench& b)
{
    auto* label = child<QLabel>(b, QStringLiteral("label_ConfigEdited"));
    return label && label->isVisibleTo(b.w.get());
}

QSpinBox* spinBox(WindowBench& b, const QString& path)
{
    // "Currentwidget_ch1" names a channel widget's box, anything else a box of the window.
    if (path.startsWith(QLatin1String("Currentwidget")))
        return child<QWidget>(b, path)->findChild<QSpinBox*>(QStringLiteral("CurrentspinBox"));
    return child<QSpinBox>(b, path);
}

void typeInto(QSpinBox* box, const QString& text, bool enter)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
    if (enter)
        QTest::keyClick(box, Qt::Key_Return);
}

// Opens `bytes` as the configuration file `name` through Read File.
void openFile(WindowBench& b, QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    b.w->setFileDialogHook([path](Vantory::FileDialogMode, const QString&, const QString&,
                                  const QString&) { return path; });
    b.trigger("actionOpen_BIN_configure");
}

QString saveFile(WindowBench& b, QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("saved.bin"));
    b.w->setFileDialogHook([path](Vantory::FileDialogMode, const QString&, const QString&,
                                  const QString&) { return path; });
    b.trigger("actionSave_BIN_configure");
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().toHex()) : QString();
}

struct Outcomes {
    QVector<record::Outcome> list;
    QObject context; // goes before the window when the test leaves early
    explicit Outcomes(WindowBench& b)
    {
        QObject::connect(&b.engine(), &TagEngine::operationFinished, &context,
                         [this](const record::Outcome& o) { list << o; });
    }
    QStringList results() const
    {
        QStringList out;
        for (const record::Outcome& o : list)
            out << record::resultText(o.result);
        return out;
    }
};

bool writesSent(WindowBench& b)
{
    return tagCommands(b.field).filter(QStringLiteral("write")).size() > 0;
}

} // namespace

class TstWindowConfiguration : public QObject
{
    Q_OBJECT
  private slots:
    void fileShownAsItsOwnKind_data();
    void fileShownAsItsOwnKind();
    void templateOfOtherKind_refusedBeforeAnythingIsSent_data();
    void templateOfOtherKind_refusedBeforeAnythingIsSent();
    void configurationLine_namesWhatWouldBeProgrammed_data();
    void configurationLine_namesWhatWouldBeProgrammed();
    void edits_reachTheDocumentWhenMade_data();
    void edits_reachTheDocumentWhenMade();
    void typedValueOutsideRange_heldAtTheLimit_data();
    void typedValueOutsideRange_heldAtTheLimit();
    void halfTypedValue_neverWrittenOrSaved_data();
    void halfTypedValue_neverWrittenOrSaved();
    void fileThatIsNoConfiguration_refused_data();
    void fileThatIsNoConfiguration_refused();
    void secondAction_neverCutsTheFirstShort_data();
    void secondAction_neverCutsTheFirstShort();
    void quitQuestion_onlyWhileADriverIsProgrammed_data();
    void quitQuestion_onlyWhileADriverIsProgrammed();
    void record_listsOnlyWhatWasWritten_data();
    void record_listsOnlyWhatWasWritten();
};

void TstWindowConfiguration::fileShownAsItsOwnKind_data()
{
    QTest::addColumn<int>("driver");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("current");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("rangeShown");
    QTest::addColumn<int>("savedAt");
    QTest::addColumn<QString>("saved");
    QTest::newRow("P file at 480 mA after an 8 driver")
        << int(Kind::Pwm) << pFile() << 480 << "tag P" << true << kCurrentByte << "01e0";
    // The PWM block holds 350 mA; the drive area's 480 means nothing to such a driver, whose
    // range line stays hidden as after its read.
    QTest::newRow("8 file after a P driver")
        << int(Kind::Dt8) << pwmFile() << 350 << "tag 8 (PWM)" << false << 248 << "03e881f4";
}

// The currents shown and saved are the file's, whatever kind of driver was read before.
void TstWindowConfiguration::fileShownAsItsOwnKind()
{
    QFETCH(int, driver);
    QFETCH(QByteArray, file);
    QFETCH(int, current);
    QFETCH(QString, kind);
    QFETCH(bool, rangeShown);
    QFETCH(int, savedAt);
    QFETCH(QString, saved);
    WindowBench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, demodrivers::makeTag(Kind(driver), 3)));
    openFile(b, dir, QStringLiteral("config.bin"), file);
    QVERIFY2(b.boxes.isEmpty(), qPrintable(b.boxes.join('\n')));
    QCOMPARE(child<myslider>(b, QStringLiteral("Currentwidget_ch1"))->value(), current);
    QCOMPARE(child<QWidget>(b, QStringLiteral("label_ACurrentRange_Logo"))->isVisibleTo(b.w.get()),
             rangeShown);
    QVERIFY2(labelText(b, "label_Configuration").contains(kind),
             qPrintable(labelText(b, "label_Configuration")));
    QCOMPARE(saveFile(b, dir).mid(2 * savedAt, saved.size()), saved);
}

void TstWindowConfiguration::templateOfOtherKind_refusedBeforeAnythingIsSent_data()
{
    QTest::addColumn<int>("driver");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("autoScan");
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("notice");
    const QString pOn8 = QStringLiteral("The configuration is for a P tag (512 bytes), but the "
                                        "driver has an 8 tag (PWM). Nothing was written.");
    const QString eightOnP = QStringLiteral("The configuration is for an 8 tag (PWM), but the "
                                            "driver has a P tag (512 bytes). Nothing was written.");
    QTest::newRow("P template, 8 driver, Write")
        << int(Kind::Pwm) << pFile("VPW-20-700 PWM") << false << false << pOn8;
    QTest::newRow("8 template, P driver, Write")
        << int(Kind::Dt8) << pwmFile("VDR-40-700 DALI-2 DT8 TW") << false << false << eightOnP;
    QTest::newRow("8 template, P driver, Write, cn")
        << int(Kind::Dt8) << pwmFile("VDR-40-700 DALI-2 DT8 TW") << false << true
        << QStringLiteral(
               "配置为 8 型标签（PWM），驱动器为 P 型标签（512 字节），未写入任何数据。");
    QTest::newRow("8 template, P driver, Auto Scan")
        << int(Kind::Dt8) << pwmFile("VDR-40-700 DALI-2 DT8 TW") << true << false << eightOnP;
    QTest::newRow("P template, 8 driver, Auto Scan")
        << int(Kind::Pwm) << pFile("VPW-20-700 PWM") << true << false << pOn8;
}

void TstWindowConfiguration::templateOfOtherKind_refusedBeforeAnythingIsSent()
{
    QFETCH(int, driver);
    QFETCH(QByteArray, file);
    QFETCH(bool, autoScan);
    QFETCH(bool, chinese);
    QFETCH(QString, notice);
    WindowBench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(Feig));
    TestAccess::setLanguageFlag(b.win(), chinese);
    const auto tag = demodrivers::makeTag(Kind(driver), 5);
    const QByteArray before = tag->memory();
    if (!autoScan)
        QVERIFY(readTag(b, tag));
    openFile(b, dir, QStringLiteral("config.bin"), file);
    Outcomes outcomes(b);
    if (autoScan) {
        b.toggleAutoWrite();
        b.field.layTag(tag);
    } else {
        b.write();
    }
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.list.size(), 1, 5000);
    QCOMPARE(outcomes.results(), QStringList{QStringLiteral("Other tag kind refused")});
    QCOMPARE(TestAccess::notice(b.win())->text(), notice);
    QTest::qWait(200);
    QVERIFY2(!writesSent(b), qPrintable(tagCommands(b.field).join(' ')));
    QCOMPARE(tag->memory(), before);
}

void TstWindowConfiguration::configurationLine_namesWhatWouldBeProgrammed_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QStringList>("lines"); // nothing, read, file, legacy file, undecided kind
    QTest::addColumn<QString>("edited");
    QTest::newRow("en") << false
                        << QStringList{"Nothing yet: read a driver or open a configuration file",
                                       "read from driver %1 · VDR-40-700 DALI-2 DT8 TW · tag P · "
                                       "layout 2",
                                       "file %2 · VDR-40-700 DALI-2 DT8 TW · tag P · layout 2",
                                       "file legacy.bin · VDR-3x350 RGB · tag P · legacy layout",
                                       "tag 8 (PWM, taken from the driver read last: the file "
                                       "does not tell)"}
                        << "edited";
    QTest::newRow("cn") << true
                        << QStringList{"尚无配置：请先读取驱动或打开配置文件",
                                       "读自驱动 %1 · VDR-40-700 DALI-2 DT8 TW · 标签 P · 布局 2",
                                       "文件 %2 · VDR-40-700 DALI-2 DT8 TW · 标签 P · 布局 2",
                                       "文件 legacy.bin · VDR-3x350 RGB · 标签 P · 旧布局",
                                       "标签 8（PWM，取自上次读取的驱动：文件未标明）"}
                        << "已修改";
}

// The line names the source, model, tag kind and layout of what Write and Auto Scan would
// program, and whether it was edited since; it fits the 1366 × 768 window. Device Data shows
// the driver's whole UID, and the record's template column names the same source.
void TstWindowConfiguration::configurationLine_namesWhatWouldBeProgrammed()
{
    QFETCH(bool, chinese);
    QFETCH(QStringList, lines);
    QFETCH(QString, edited);
    WindowBench b;
    QTemporaryDir dir;
    // As the program places itself on a 1366 × 768 screen with a 40 px taskbar.
    b.w->placeOnScreen(QRect(0, 0, 1366, 728), QRect(0, 0, 1366, 768));
    b.w->show();
    QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
    QVERIFY(b.connect(R321));
    if (chinese)
        b.trigger("actionLanguage");
    QCOMPARE(labelText(b, "label_Configuration"), lines.at(0));
    QVERIFY(!editedShown(b));

    const auto tag = demodrivers::makeTag(Kind::Dt8, 0x13);
    QVERIFY(readTag(b, tag));
    QCOMPARE(labelText(b, "label_Configuration"), lines.at(1).arg(uidText(tag)));
    QCOMPARE(labelText(b, "labelUID"), uidText(tag));
    QVERIFY(!editedShown(b));
    typeInto(spinBox(b, QStringLiteral("Currentwidget_ch1")), QStringLiteral("480"), true);
    QVERIFY(editedShown(b));
    QCOMPARE(labelText(b, "label_ConfigEdited"), edited);
    Outcomes outcomes(b);
    b.write();
    QTRY_COMPARE(outcomes.list.size(), 1);
    QCOMPARE(outcomes.list.first().templateSource, uidText(tag));

    // The name Save File proposes, with the longest model and the colour-temperature panel.
    const QString name = QStringLiteral("VDR-40-700 DALI-2 DT8 TW(2026-12-07,23-42-09).bin");
    openFile(b, dir, name, demodrivers::memory(Kind::Dt8));
    QCOMPARE(labelText(b, "label_Configuration"), lines.at(2).arg(name));
    QVERIFY(!editedShown(b));
    auto* value = child<QLabel>(b, QStringLiteral("label_Configuration"));
    QVERIFY(value && value->isVisible());
    const int needed = value->fontMetrics().horizontalAdvance(value->text());
    QVERIFY2(needed <= value->contentsRect().width(),
             qPrintable(QStringLiteral("%1 > %2").arg(needed).arg(value->contentsRect().width())));
    QTRY_VERIFY(b.engine().idle());
    b.write();
    QTRY_COMPARE(outcomes.list.size(), 2);
    QCOMPARE(outcomes.list.last().templateSource, name);
    typeInto(spinBox(b, QStringLiteral("Currentwidget_ch1")), QStringLiteral("480"), true);
    QVERIFY(editedShown(b));
    if (qEnvironmentVariableIsSet("VANTORY_SHOTS_DIR")) {
        // The settings pane as it opens, the current panel at its top.
        auto* pane = child<QScrollArea>(b, QStringLiteral("scrollArea"));
        pane->verticalScrollBar()->setValue(0);
        pane->horizontalScrollBar()->setValue(0);
        QTest::qWait(100);
        const QString shot =
            QDir(qEnvironmentVariable("VANTORY_SHOTS_DIR"))
                .filePath(chinese ? "configuration-line-zh.png" : "configuration-line-en.png");
        QVERIFY(b.w->grab().save(shot));
    }

    openFile(b, dir, QStringLiteral("legacy.bin"), demodrivers::memory(Kind::Legacy3Ch));
    QCOMPARE(labelText(b, "label_Configuration"), lines.at(3));
    // A PWM block that cannot be one and is not empty: the kind is the driver's, and said so.
    b.field.clear();
    QVERIFY(readTag(b, demodrivers::makeTag(Kind::Pwm, 0x14)));
    QByteArray undecided = demodrivers::configurationFile(Kind::Pwm);
    undecided[250] = char(0x7F);
    openFile(b, dir, QStringLiteral("undecided.bin"), undecided);
    QVERIFY2(labelText(b, "label_Configuration").contains(lines.at(4)),
             qPrintable(labelText(b, "label_Configuration")));
}

void TstWindowConfiguration::edits_reachTheDocumentWhenMade_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("current"); // channel 1 in the document afterwards
    QTest::newRow("current typed") << "Currentwidget_ch1" << 480;
    QTest::newRow("current slider") << "CurrentSlider" << 700;
    QTest::newRow("warmest typed") << "WormestspinBox" << 350;
    QTest::newRow("lumen switch") << "switchbuttonwidget" << 350;
}

void TstWindowConfiguration::edits_reachTheDocumentWhenMade()
{
    QFETCH(QString, control);
    QFETCH(int, current);
    WindowBench b;
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, demodrivers::makeTag(Kind::Dt8, 7)));
    QVERIFY(!editedShown(b));
    if (control == QLatin1String("CurrentSlider")) {
        auto* slider =
            child<QWidget>(b, QStringLiteral("Currentwidget_ch1"))->findChild<QSlider*>(control);
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_End);
    } else if (control == QLatin1String("switchbuttonwidget")) {
        QTest::mouseClick(child<QWidget>(b, control), Qt::LeftButton);
    } else {
        typeInto(spinBox(b, control), control.startsWith(QLatin1Char('C')) ? "480" : "3000", true);
    }
    QCOMPARE(int(b.engine().document().channelCurrents()[0]), current);
    QVERIFY(editedShown(b));
}

void TstWindowConfiguration::typedValueOutsideRange_heldAtTheLimit_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<int>("held");
    QTest::addColumn<QString>("status");
    QTest::newRow("current above")
        << "Currentwidget_ch1"
        << "900" << false << 700 << "CH1 Current(mA): 900 is outside 50-700; held at 700";
    QTest::newRow("current below")
        << "Currentwidget_ch1"
        << "20" << false << 50 << "CH1 Current(mA): 20 is outside 50-700; held at 50";
    QTest::newRow("current above, cn")
        << "Currentwidget_ch1"
        << "900" << true << 700 << "设备电流一（mA）：900 超出 50-700，已设为 700";
    QTest::newRow("coolest above")
        << "CoolestspinBox"
        << "20000" << false << 12000 << "Coolest (K): 20000 is outside 1000-12000; held at 12000";
    QTest::newRow("warmest below, cn")
        << "WormestspinBox"
        << "500" << true << 1000 << "最暖色温（K）：500 超出 1000-12000，已设为 1000";
}

void TstWindowConfiguration::typedValueOutsideRange_heldAtTheLimit()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(bool, chinese);
    QFETCH(int, held);
    QFETCH(QString, status);
    WindowBench b;
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, demodrivers::makeTag(Kind::Dt8, 8)));
    if (chinese)
        b.trigger("actionLanguage");
    typeInto(spinBox(b, box), typed, true);
    QCOMPARE(spinBox(b, box)->value(), held);
    QCOMPARE(TestAccess::statusResult(b.win())->text(), status);
    if (box.startsWith(QLatin1String("Current")))
        QCOMPARE(int(b.engine().document().channelCurrents()[0]), held);
}

void TstWindowConfiguration::halfTypedValue_neverWrittenOrSaved_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("Write") << "actionWrite";
    QTest::newRow("Save File") << "actionSave_BIN_configure";
    QTest::newRow("Auto Scan") << "actionAuto_Write";
}

// A value still being typed (no Enter, the box not left) is no edit: the action is refused
// and says why; after Enter the value is what goes out.
void TstWindowConfiguration::halfTypedValue_neverWrittenOrSaved()
{
    QFETCH(QString, action);
    WindowBench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(R321));
    const auto tag = demodrivers::makeTag(Kind::Dt8, 9);
    QVERIFY(readTag(b, tag));
    const QString saved = dir.filePath(QStringLiteral("saved.bin"));
    b.w->setFileDialogHook([saved](Vantory::FileDialogMode, const QString&, const QString&,
                                   const QString&) { return saved; });
    Outcomes outcomes(b);
    QSpinBox* box = spinBox(b, QStringLiteral("Currentwidget_ch1"));
    typeInto(box, QStringLiteral("480"), false);
    b.trigger(action.toLatin1().constData());
    QCOMPARE(TestAccess::notice(b.win())->text(),
             QStringLiteral("The value typed in CH1 Current(mA) is not applied yet: press Enter "
                            "to apply it or Esc to drop it, then try again."));
    QTest::qWait(300);
    QVERIFY(outcomes.list.isEmpty());
    QVERIFY(!QFile::exists(saved));
    QVERIFY(!b.engine().autoWriteOn());
    QCOMPARE(tag->memory().mid(kCurrentByte, 2), QByteArray::fromHex("015e"));

    QTest::keyClick(box, Qt::Key_Return);
    b.write();
    QTRY_COMPARE(outcomes.list.size(), 1);
    QCOMPARE(tag->memory().mid(kCurrentByte, 2), QByteArray::fromHex("01e0"));
}

void TstWindowConfiguration::fileThatIsNoConfiguration_refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    QByteArray png = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452");
    for (int i = png.size(); i < 600; ++i)
        png.append(char((i * 73 + 41) & 0xFF));
    QTest::newRow("a PNG renamed") << png << "the layout code 88 is not known";
    QTest::newRow("512 zero bytes") << QByteArray(512, '\0') << "the layout code 0 is not known";
    QByteArray legacy = demodrivers::memory(Kind::Legacy3Ch);
    legacy[89] = char(156);
    QTest::newRow("156 channels") << legacy << "156 channels; a driver has 1 to 3";
    QByteArray model = demodrivers::memory(Kind::Dt8);
    model[200] = char(0x07);
    QTest::newRow("model not text") << model << "the model name is not text";
}

// The file is refused with its reason before it replaces anything: the template, the
// panels and the configuration line stay as they were.
void TstWindowConfiguration::fileThatIsNoConfiguration_refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    WindowBench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(R321));
    openFile(b, dir, QStringLiteral("dt8.bin"), demodrivers::memory(Kind::Dt8));
    const TagImage before = TestAccess::image(b.win());
    const QString line = labelText(b, "label_Configuration");
    openFile(b, dir, QStringLiteral("odd.bin"), bytes);
    QCOMPARE(b.boxes.size(), 1);
    QVERIFY2(b.boxes.first().contains(QStringLiteral("is not a configuration file of this "
                                                     "program: %1. Nothing was loaded.")
                                          .arg(reason)),
             qPrintable(b.boxes.first()));
    QVERIFY(TestAccess::image(b.win()).image_v2 == before.image_v2);
    QCOMPARE(labelText(b, "Productlabel"), QStringLiteral("VDR-40-700 DALI-2 DT8 TW"));
    QCOMPARE(labelText(b, "labelChannelNum"), QStringLiteral("1"));
    QCOMPARE(labelText(b, "label_Configuration"), line);
}

void TstWindowConfiguration::secondAction_neverCutsTheFirstShort_data()
{
    QTest::addColumn<bool>("batch");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("notice");
    const QString busy =
        QStringLiteral("A tag operation is running: try %1 again when it has ended.");
    QTest::newRow("Write twice") << false << "actionWrite" << busy.arg("Write");
    QTest::newRow("Read during a Write") << false << "actionRead" << busy.arg("Read");
    QTest::newRow("Language during a Write") << false << "actionLanguage" << busy.arg("Language");
    QTest::newRow("Reader Configuration during a Write")
        << false << "connect" << busy.arg("Reader Configuration");
    QTest::newRow("Reader Configuration during a batch")
        << true << "connect"
        << QStringLiteral("Auto Scan is on: the reader was not changed. Stop Auto Scan first.");
}

// While a driver is programmed, a second action is refused with a notice: the write ends
// as it would have, with one record line.
void TstWindowConfiguration::secondAction_neverCutsTheFirstShort()
{
    QFETCH(bool, batch);
    QFETCH(QString, second);
    QFETCH(QString, notice);
    WindowBench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(R321));
    const auto tag = demodrivers::makeTag(Kind::Dt8, 10);
    Outcomes outcomes(b);
    b.field.setLatencyEnabled(true);
    if (batch) {
        openFile(b, dir, QStringLiteral("dt8.bin"), pFile());
        b.toggleAutoWrite();
        b.field.layTag(tag);
    } else {
        QVERIFY(readTag(b, tag));
        b.write();
    }
    QTRY_VERIFY_WITH_TIMEOUT(writesSent(b), 5000);
    if (second == QLatin1String("connect")) {
        auto* dialog = b.w->findChild<QDialog*>(QStringLiteral("ConnectionConfig"));
        dialog->findChild<QPushButton*>(QStringLiteral("pushButton_Connect"))->click();
    } else {
        b.trigger(second.toLatin1().constData());
    }
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.list.size(), 1, 5000);
    QTest::qWait(300);
    QCOMPARE(outcomes.results(), QStringList{QStringLiteral("Written")});
    QCOMPARE(TestAccess::notice(b.win())->text(), notice);
    QCOMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(TestAccess::langCn(b.win()), uint8_t(0));
    if (batch)
        QCOMPARE(TestAccess::statusBatch(b.win())->text(),
                 QStringLiteral("Batch: 1 written, 0 failed, 0 other model"));
}

void TstWindowConfiguration::quitQuestion_onlyWhileADriverIsProgrammed_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("asked");
    QTest::newRow("Auto Scan on, the reader empty") << "empty batch" << false;
    QTest::newRow("a second after a failed Write") << "failed write" << false;
    QTest::newRow("during a Write") << "writing" << true;
}

void TstWindowConfiguration::quitQuestion_onlyWhileADriverIsProgrammed()
{
    QFETCH(QString, state);
    QFETCH(bool, asked);
    WindowBench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(R321));
    const auto tag = demodrivers::makeTag(Kind::Dt8, 11);
    if (state == QLatin1String("empty batch")) {
        openFile(b, dir, QStringLiteral("dt8.bin"), pFile());
        b.toggleAutoWrite();
        QTest::qWait(700);
    } else {
        QVERIFY(readTag(b, tag));
        if (state == QLatin1String("failed write"))
            tag->setRfa1ss(0x0C); // area 1 never writable
        b.field.setLatencyEnabled(true);
        b.write();
        if (state == QLatin1String("failed write")) {
            QTRY_COMPARE_WITH_TIMEOUT(int(b.lastTip()), kTipNoTag, 5000);
            QTest::qWait(1000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(writesSent(b), 5000);
        }
    }
    QString question;
    QTimer::singleShot(50, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            question = box->objectName();
            box->button(QMessageBox::No)->click();
        }
    });
    QCloseEvent close;
    QApplication::sendEvent(&b.win(), &close);
    QCOMPARE(!question.isEmpty(), asked);
    QCOMPARE(close.isAccepted(), !asked);
}

void TstWindowConfiguration::record_listsOnlyWhatWasWritten_data()
{
    QTest::addColumn<int>("driver");
    QTest::addColumn<bool>("refusing");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("currents");
    QTest::addColumn<QString>("lumen");
    QTest::newRow("DT8 written") << int(Kind::Dt8) << false << "Written"
                                 << "350"
                                 << "on";
    QTest::newRow("DT8 refusing writes") << int(Kind::Dt8) << true << "No tag response"
                                         << ""
                                         << "";
    // Byte 267 of the legacy layout is a byte of channel 2's current, not a lumen switch.
    QTest::newRow("legacy written") << int(Kind::Legacy3Ch) << false << "Written"
                                    << "300/250/450"
                                    << "";
}

void TstWindowConfiguration::record_listsOnlyWhatWasWritten()
{
    QFETCH(int, driver);
    QFETCH(bool, refusing);
    QFETCH(QString, result);
    QFETCH(QString, currents);
    QFETCH(QString, lumen);
    WindowBench b;
    QVERIFY(b.connect(R321));
    const auto tag = demodrivers::makeTag(Kind(driver), 12);
    QVERIFY(readTag(b, tag));
    if (refusing)
        tag->setRfa1ss(0x0C);
    Outcomes outcomes(b);
    b.write();
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.list.size(), 1, 5000);
    const record::Entry entry = record::entryFor(outcomes.list.first(), QString());
    QCOMPARE(entry.result, result);
    QCOMPARE(entry.currents, currents);
    QCOMPARE(entry.constantLumen, lumen);
}

QTEST_MAIN(TstWindowConfiguration)
#include "tst_window_configuration.moc"
