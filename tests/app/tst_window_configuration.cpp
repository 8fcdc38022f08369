// What Write and Auto Scan program is what the window shows (simulated readers). A file
// decoded as its own tag kind: tst_window_realreaders, tst_cli_realreaders.
#include "app/windowbench.h"
#include "engine/writebench.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

using namespace enginetest;
using demodrivers::Kind;

namespace
{

// The DT8 demo driver's image with channel 1 at 480 mA and `model`; with `pwm` the product
// area (and PWM block) of a PWM driver's configuration in front.
QByteArray config(bool pwm, const QByteArray& model)
{
    QByteArray b = demodrivers::memory(Kind::Dt8);
    if (pwm)
        b.replace(0, 256, demodrivers::configurationFile(Kind::Pwm).left(256));
    b.replace(264, 2, QByteArray::fromHex("01e0"));
    return b.replace(195, 32, model.leftJustified(32, '\0'));
}

QString text(WindowBench& b, const char* name)
{
    auto* label = b.w->findChild<QLabel*>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<no label>");
}

bool edited(WindowBench& b)
{
    auto* label = b.w->findChild<QLabel*>(QStringLiteral("label_ConfigEdited"));
    return label && label->isVisibleTo(b.w.get());
}

QSpinBox* box(WindowBench& b, const QString& name)
{
    if (!name.startsWith(QLatin1String("Currentwidget")))
        return b.w->findChild<QSpinBox*>(name);
    return b.w->findChild<QWidget*>(name)->findChild<QSpinBox*>(QStringLiteral("CurrentspinBox"));
}

void type(QSpinBox* box, const QString& text, bool enter)
{
    box->selectAll();
    QTest::keyClicks(box, text);
    if (enter)
        QTest::keyClick(box, Qt::Key_Return);
}

// The path the file dialogs answer with; `bytes`, when given, are written there first.
QString useFile(WindowBench& b, QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!bytes.isEmpty() && !(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()))
        return QString();
    b.w->setFileDialogHook([path](Vantory::FileDialogMode, const QString&, const QString&,
                                  const QString&) { return path; });
    return path;
}

void open(WindowBench& b, QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    useFile(b, dir, name, bytes);
    b.trigger("actionOpen_BIN_configure");
}

struct Outcomes {
    QStringList results;
    QStringList sources;
    QObject context; // goes before the window when a test leaves early
    explicit Outcomes(WindowBench& b)
    {
        QObject::connect(&b.engine(), &TagEngine::operationFinished, &context,
                         [this](const record::Outcome& o) {
                             results << record::resultText(o.result);
                             sources << o.templateSource;
                         });
    }
};

bool writesSent(WindowBench& b)
{
    return !tagCommands(b.field).filter(QStringLiteral("write")).isEmpty();
}

} // namespace

class TstWindowConfiguration : public QObject
{
    Q_OBJECT
  private slots:
    void otherKind_refusedBeforeAnythingIsSent_data();
    void otherKind_refusedBeforeAnythingIsSent();
    void configurationLine_namesWhatWouldBeProgrammed_data();
    void configurationLine_namesWhatWouldBeProgrammed();
    void typing_countsOnlyWhenFinished_data();
    void typing_countsOnlyWhenFinished();
    void fileThatIsNoConfiguration_refused_data();
    void fileThatIsNoConfiguration_refused();
    void secondAction_neverCutsTheFirstShort_data();
    void secondAction_neverCutsTheFirstShort();
};

void TstWindowConfiguration::otherKind_refusedBeforeAnythingIsSent_data()
{
    QTest::addColumn<bool>("pwmDriver");
    QTest::addColumn<bool>("autoScan");
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("notice");
    const QString eightOnP = "The configuration is for an 8 tag (PWM), but the driver has a P "
                             "tag (512 bytes). Nothing was written.";
    QTest::newRow("P template, 8 driver, Write")
        << true << false << false
        << "The configuration is for a P tag (512 bytes), but the driver has an 8 tag (PWM). "
           "Nothing was written.";
    QTest::newRow("8 template, P driver, Write, cn")
        << false << false << true
        << "配置为 8 型标签（PWM），驱动器为 P 型标签（512 字节），未写入任何数据。";
    QTest::newRow("8 template, P driver, Auto Scan") << false << true << false << eightOnP;
}

// Same model, other kind: nothing is sent, the notice names both kinds, one record line.
void TstWindowConfiguration::otherKind_refusedBeforeAnythingIsSent()
{
    QFETCH(bool, pwmDriver);
    QFETCH(bool, autoScan);
    QFETCH(bool, chinese);
    QFETCH(QString, notice);
    WindowBench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(Feig));
    TestAccess::setLanguageFlag(b.win(), chinese);
    const Kind driver = pwmDriver ? Kind::Pwm : Kind::Dt8;
    const auto tag = demodrivers::makeTag(driver, 5);
    QVERIFY(autoScan || readTag(b, tag));
    open(b, dir, "config.bin", config(!pwmDriver, demodrivers::info(driver).model.toLatin1()));
    Outcomes outcomes(b);
    if (autoScan)
        b.toggleAutoWrite(), b.field.layTag(tag);
    else
        b.write();
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.results, QStringList{"Other tag kind refused"}, 5000);
    QCOMPARE(TestAccess::notice(b.win())->text(), notice);
    QTest::qWait(200);
    QVERIFY2(!writesSent(b), qPrintable(tagCommands(b.field).join(' ')));
    QCOMPARE(tag->memory(), demodrivers::memory(driver));
}

void TstWindowConfiguration::configurationLine_namesWhatWouldBeProgrammed_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QStringList>("lines"); // nothing, read, file, legacy, undecided kind
    QTest::addColumn<QString>("edited");
    QTest::newRow("en") << false
                        << QStringList{"Nothing yet: read a driver or open a configuration file",
                                       "read from driver %1 · %2 · tag P · layout 2",
                                       "file %1 · %2 · tag P · layout 2",
                                       "file legacy.bin · VDR-3x350 RGB · tag P · legacy layout",
                                       "tag 8 (PWM, taken from the driver read last: the file "
                                       "does not tell)"}
                        << "edited";
    QTest::newRow("cn") << true
                        << QStringList{"尚无配置：请先读取驱动或打开配置文件",
                                       "读自驱动 %1 · %2 · 标签 P · 布局 2",
                                       "文件 %1 · %2 · 标签 P · 布局 2",
                                       "文件 legacy.bin · VDR-3x350 RGB · 标签 P · 旧布局",
                                       "标签 8（PWM，取自上次读取的驱动：文件未标明）"}
                        << "已修改";
}

// The line names source, model, tag kind and layout of what Write and Auto Scan would
// program, and whether it was edited since (an edit reaches the document when it is made);
// it fits the window on a 1366 × 768 screen. Device Data shows the driver's whole UID; the
// record's template column names the same source.
void TstWindowConfiguration::configurationLine_namesWhatWouldBeProgrammed()
{
    QFETCH(bool, chinese);
    QFETCH(QStringList, lines);
    QFETCH(QString, edited);
    WindowBench b;
    QTemporaryDir dir;
    b.w->placeOnScreen(QRect(0, 0, 1366, 728), QRect(0, 0, 1366, 768));
    b.w->show();
    QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
    QVERIFY(b.connect(R321));
    if (chinese)
        b.trigger("actionLanguage");
    QCOMPARE(text(b, "label_Configuration"), lines.at(0));
    const auto tag = demodrivers::makeTag(Kind::Dt8, 0x13);
    const QString uid = QString::fromLatin1(tag->uidMsbFirst().toHex().toUpper());
    const QString model = demodrivers::info(Kind::Dt8).model;
    QVERIFY(readTag(b, tag));
    QCOMPARE(text(b, "label_Configuration"), lines.at(1).arg(uid, model));
    QCOMPARE(text(b, "labelUID"), uid);
    QVERIFY(!::edited(b));
    type(box(b, "Currentwidget_ch1"), "480", true);
    QCOMPARE(int(b.engine().document().channelCurrents()[0]), 480);
    QVERIFY(::edited(b));
    QCOMPARE(text(b, "label_ConfigEdited"), edited);
    Outcomes outcomes(b);
    b.write();
    QTRY_COMPARE(outcomes.sources, QStringList{uid + " (edited)"});

    // The name Save File proposes, with the longest demo model.
    const QString name = model + QStringLiteral("(2026-12-07,23-42-09).bin");
    QTRY_VERIFY(b.engine().idle());
    open(b, dir, name, demodrivers::memory(Kind::Dt8));
    QCOMPARE(text(b, "label_Configuration"), lines.at(2).arg(name, model));
    auto* value = b.w->findChild<QLabel*>(QStringLiteral("label_Configuration"));
    QVERIFY(value->fontMetrics().horizontalAdvance(value->text()) <= value->contentsRect().width());
    b.write();
    QTRY_COMPARE(outcomes.sources, (QStringList{uid + " (edited)", name}));
    type(box(b, "Currentwidget_ch1"), "480", true);
    QVERIFY(::edited(b));
    if (qEnvironmentVariableIsSet("VANTORY_SHOTS_DIR")) {
        auto* pane = b.w->findChild<QScrollArea*>(QStringLiteral("scrollArea"));
        pane->verticalScrollBar()->setValue(0);
        pane->horizontalScrollBar()->setValue(0);
        QTest::qWait(100);
        QVERIFY(b.w->grab().save(
            QDir(qEnvironmentVariable("VANTORY_SHOTS_DIR"))
                .filePath(chinese ? "configuration-line-zh.png" : "configuration-line-en.png")));
    }

    open(b, dir, "legacy.bin", demodrivers::memory(Kind::Legacy3Ch));
    QCOMPARE(text(b, "label_Configuration"), lines.at(3));
    // Bytes 248-251 neither a PWM block nor empty: the kind is the driver's, and said so.
    b.field.clear();
    QVERIFY(readTag(b, demodrivers::makeTag(Kind::Pwm, 0x14)));
    QByteArray undecided = demodrivers::configurationFile(Kind::Pwm);
    undecided[250] = char(0x7F);
    open(b, dir, "undecided.bin", undecided);
    QVERIFY2(text(b, "label_Configuration").contains(lines.at(4)),
             qPrintable(text(b, "label_Configuration")));
}

void TstWindowConfiguration::typing_countsOnlyWhenFinished_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed"); // ends in "+" when Enter is pressed
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("says"); // the status bar's text
    const QString ch1 = "Currentwidget_ch1";
    QTest::newRow("900 in 50-700")
        << ch1 << "900+"
        << "" << false << 700 << "CH1 Current(mA): 900 is outside 50-700; held at 700";
    QTest::newRow("20 in 50-700, cn")
        << ch1 << "20+"
        << "" << true << 50 << "设备电流一（mA）：20 超出 50-700，已设为 50";
    QTest::newRow("20000 K") << "CoolestspinBox"
                             << "20000+"
                             << "" << false << 12000
                             << "Coolest (K): 20000 is outside 1000-12000; held at 12000";
    const QString pending = "The value typed in CH1 Current(mA) is not applied yet: press Enter "
                            "to apply it or Esc to drop it, then try again.";
    for (const char* action : {"actionWrite", "actionSave_BIN_configure", "actionAuto_Write"})
        QTest::addRow("480 without Enter, %s", action)
            << ch1 << "480" << action << false << 350 << pending;
}

// A number counts once Enter is pressed (or the box is left): outside the range it is held
// at the nearest limit and the status bar says so; one still being typed is not written,
// saved or taken by Auto Scan.
void TstWindowConfiguration::typing_countsOnlyWhenFinished()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, action);
    QFETCH(bool, chinese);
    QFETCH(int, value);
    QFETCH(QString, says);
    WindowBench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(R321));
    const auto tag = demodrivers::makeTag(Kind::Dt8, 8);
    QVERIFY(readTag(b, tag));
    if (chinese)
        b.trigger("actionLanguage");
    const QString saved = useFile(b, dir, "saved.bin", QByteArray());
    Outcomes outcomes(b);
    type(::box(b, box), typed.chopped(typed.endsWith('+')), typed.endsWith('+'));
    if (!action.isEmpty())
        b.trigger(action.toLatin1().constData());
    QCOMPARE(::box(b, box)->value(), value);
    QCOMPARE(TestAccess::statusResult(b.win())->text(), says);
    QCOMPARE(int(b.engine().document().channelCurrents()[0]),
             box == "CoolestspinBox" ? 350 : value);
    QTest::qWait(300);
    QVERIFY(outcomes.results.isEmpty() && !QFile::exists(saved) && !b.engine().autoWriteOn());
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
    QTest::newRow("156 channels") << demodrivers::memory(Kind::Legacy3Ch).replace(89, 1, "\x9C")
                                  << "156 channels; a driver has 1 to 3";
    QTest::newRow("model not text")
        << demodrivers::memory(Kind::Dt8).replace(200, 1, "\x07") << "the model name is not text";
}

// Refused with its reason before it replaces anything: template, panels and line stay.
void TstWindowConfiguration::fileThatIsNoConfiguration_refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    WindowBench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(R321));
    open(b, dir, "dt8.bin", demodrivers::memory(Kind::Dt8));
    const TagImage before = TestAccess::image(b.win());
    const QString line = text(b, "label_Configuration");
    open(b, dir, "odd.bin", bytes);
    QCOMPARE(b.boxes.size(), 1);
    QVERIFY2(b.boxes.first().contains("is not a configuration file of this program: " + reason +
                                      ". Nothing was loaded."),
             qPrintable(b.boxes.first()));
    QVERIFY(TestAccess::image(b.win()).image_v2 == before.image_v2);
    QCOMPARE(text(b, "label_Configuration"), line);
}

void TstWindowConfiguration::secondAction_neverCutsTheFirstShort_data()
{
    QTest::addColumn<QString>("state"); // what runs: a write, a batch's write, or nothing
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("notice"); // "quit?": the quit question is asked
    const QString busy = "A tag operation is running: try %1 again when it has ended.";
    QTest::newRow("Write twice") << "write"
                                 << "actionWrite" << busy.arg("Write");
    QTest::newRow("Read during a Write") << "write"
                                         << "actionRead" << busy.arg("Read");
    QTest::newRow("Language during a Write") << "write"
                                             << "actionLanguage" << busy.arg("Language");
    QTest::newRow("Reader Configuration during a Write")
        << "write"
        << "connect" << busy.arg("Reader Configuration");
    QTest::newRow("Reader Configuration during a batch")
        << "batch"
        << "connect"
        << "Auto Scan is on: the reader was not changed. Stop Auto Scan first.";
    QTest::newRow("quit during a Write") << "write"
                                         << "close"
                                         << "quit?";
    QTest::newRow("quit, Auto Scan on, the reader empty") << "empty batch"
                                                          << "close"
                                                          << "";
    QTest::newRow("quit a second after a failed Write") << "failed"
                                                        << "close"
                                                        << "";
}

// A second action is refused with a notice, and the write under way ends as it would have,
// with one record line. Quitting asks only while a driver is being written.
void TstWindowConfiguration::secondAction_neverCutsTheFirstShort()
{
    QFETCH(QString, state);
    QFETCH(QString, second);
    QFETCH(QString, notice);
    WindowBench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(R321));
    const auto tag = demodrivers::makeTag(Kind::Dt8, 10);
    Outcomes outcomes(b);
    b.field.setLatencyEnabled(true);
    if (state.endsWith(QLatin1String("batch"))) {
        open(b, dir, "dt8.bin", demodrivers::memory(Kind::Dt8));
        b.toggleAutoWrite();
        if (state == QLatin1String("batch"))
            b.field.layTag(tag);
    } else {
        QVERIFY(readTag(b, tag));
        if (state == QLatin1String("failed"))
            tag->setRfa1ss(0x0C); // area 1 never writable
        b.write();
    }
    QTest::qWait(state == QLatin1String("empty batch") ? 700 : 0);
    QTRY_VERIFY_WITH_TIMEOUT(state == QLatin1String("empty batch") || writesSent(b), 5000);
    if (state == QLatin1String("failed")) {
        QTRY_COMPARE_WITH_TIMEOUT(int(b.lastTip()), kTipNoTag, 5000);
        QTest::qWait(1000);
    }
    QString asked;
    QTimer::singleShot(50, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked = box->objectName();
            box->button(QMessageBox::No)->click();
        }
    });
    if (second == QLatin1String("close")) {
        QCloseEvent close;
        QApplication::sendEvent(&b.win(), &close);
        QCOMPARE(asked.isEmpty(), notice.isEmpty());
        QCOMPARE(close.isAccepted(), notice.isEmpty());
        return;
    }
    if (second == QLatin1String("connect"))
        b.w->findChild<QPushButton*>(QStringLiteral("pushButton_Connect"))->click();
    else
        b.trigger(second.toLatin1().constData());
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.results.size(), 1, 5000);
    QTest::qWait(300);
    QCOMPARE(outcomes.results, QStringList{"Written"});
    QCOMPARE(TestAccess::notice(b.win())->text(), notice);
    QCOMPARE(TestAccess::langCn(b.win()), uint8_t(0));
}

QTEST_MAIN(TstWindowConfiguration)
#include "tst_window_configuration.moc"
