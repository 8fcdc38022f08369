// What the window shows and does around auto write, on the simulated readers: the Auto
// Write action's icon and the actions it greys out, the batch counts and the last driver
// beside them, the record lines the window writes and its problem text, the panels locked
// during a batch and the mouse wheel over them, and the refusal to start without a
// configuration. The engine's own auto write is tested in tests/engine.
#include "app/windowbench.h"
#include "engine/writebench.h"

#include "model/tagfields.h"
#include "widgets/myslider.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QSpontaneKeyEvent>
#include <QTemporaryDir>
#include <QWheelEvent>

using namespace enginetest;

namespace
{

const QString kIconScan = QStringLiteral(":/image/images/UI_img/扫描_Property_1_Variant2@2x.png");
const QString kIconStop = QStringLiteral(":/image/images/stop.png");

myslider* currentWidget(WindowBench& b, int channel)
{
    return b.w->findChild<myslider*>(QStringLiteral("Currentwidget_ch%1").arg(channel));
}

QString resultText(WindowBench& b)
{
    return TestAccess::statusResult(b.win())->text();
}

bool loadConfiguration(WindowBench& b, int reader, int current = 480)
{
    if (!b.connect(reader))
        return false;
    const auto source = demodrivers::makeTag(demodrivers::Kind::Dt8, 1);
    if (!readTag(b, source))
        return false;
    b.field.removeTag(source->uidMsbFirst());
    currentWidget(b, 1)->setValue(current);
    b.field.clearCommandLog();
    return true;
}

// Opens the demo DT8 driver's image as a configuration file, as Read File does.
bool openDemoConfiguration(WindowBench& b)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("dt8.bin"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(demodrivers::memory(demodrivers::Kind::Dt8)) != 512)
        return false;
    out.close();
    b.win().openConfigFile(file);
    return true;
}

bool sameImage(const QIcon& icon, const QString& path)
{
    return icon.pixmap(32).toImage() == QIcon(path).pixmap(32).toImage();
}

// Turns the mouse wheel by `notches` (positive: away from the user, up) over the middle of
// `target`, as the system delivers it: to the widget under the pointer, handed on to the
// parents while nobody takes it.
void turnWheel(QWidget* target, int notches)
{
    QWidget* window = target->window();
    const QPoint inWindow = target->mapTo(window, target->rect().center());
    QWidget* under = window->childAt(inWindow);
    const QPoint local = under->mapFrom(window, inWindow);
    for (int i = 0; i < std::abs(notches); ++i) {
        QWheelEvent wheel(local, under->mapToGlobal(local), QPoint(),
                          QPoint(0, notches > 0 ? 120 : -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        // As the event loop hands it over (sendEvent would make it a synthetic one, which
        // is not passed on to the parents).
        QSpontaneKeyEvent::setSpontaneous(&wheel);
        qApp->notify(under, &wheel);
    }
}

// What a batch must not change, by object name, with whether each can be used now.
QStringList editable(WindowBench& b)
{
    QStringList out;
    for (const char* name : {"Currentwidget_ch1", "switchbuttonwidget", "LumentableWidget",
                             "WormestspinBox", "CoolestspinBox", "actionOpen_BIN_configure"}) {
        QObject* o = b.w->findChild<QObject*>(QString::fromLatin1(name));
        if (o && o->property("enabled").toBool())
            out << QString::fromLatin1(name);
    }
    return out;
}

// Whether the window takes a .bin file dragged over it.
bool takesDrop(WindowBench& b)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/other.bin"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    QApplication::sendEvent(&b.win(), &enter);
    return enter.isAccepted();
}

QString lastDriverText(WindowBench& b)
{
    auto* label = b.w->findChild<QLabel*>(QStringLiteral("status_last"));
    return label->isHidden() ? QString() : label->text();
}

QColor lastDriverColour(WindowBench& b)
{
    return b.w->findChild<QLabel*>(QStringLiteral("status_last"))
        ->palette()
        .color(QPalette::WindowText);
}

} // namespace

class TstWindowAutoWrite : public QObject
{
    Q_OBJECT
  private slots:
    void toggle_iconAndActions();
    void batchOfFive_recordedAndCounted_data();
    void batchOfFive_recordedAndCounted();
    void wheelDuringBatch_changesNothing_data() { addReaders(); }
    void wheelDuringBatch_changesNothing();
    void wheelOverPane_editsOnlyFocusedControl();
    void failedDriver_staysInResultFieldUntilNext();
    void autoScanAtStart_refusedUntilConfiguration();
    void recordFolderBack_problemCleared();
};

// The action's icon and the Read and Write actions greyed out while auto write is on
// (the engine's state both ways: tests/engine).
void TstWindowAutoWrite::toggle_iconAndActions()
{
    WindowBench b;
    QVERIFY(b.connect(R321));
    auto* action = b.w->findChild<QAction*>(QStringLiteral("actionAuto_Write"));
    auto* read = b.w->findChild<QAction*>(QStringLiteral("actionRead"));
    auto* write = b.w->findChild<QAction*>(QStringLiteral("actionWrite"));
    QVERIFY(!QIcon(kIconStop).isNull());
    QVERIFY(sameImage(action->icon(), kIconScan));
    QVERIFY(openDemoConfiguration(b));

    b.trigger("actionAuto_Write");
    QCOMPARE(TestAccess::engine(b.win()).autoWrite().auto_mode, uint8_t(1));
    QVERIFY(sameImage(action->icon(), kIconStop));
    QVERIFY(!read->isEnabled());
    QVERIFY(!write->isEnabled());

    b.trigger("actionAuto_Write");
    QCOMPARE(TestAccess::engine(b.win()).autoWrite().auto_mode, uint8_t(0));
    QVERIFY(sameImage(action->icon(), kIconScan));
    QVERIFY(read->isEnabled());
    QVERIFY(write->isEnabled());
    QVERIFY(b.boxes.isEmpty());
}

void TstWindowAutoWrite::batchOfFive_recordedAndCounted_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("writable");
    QTest::newRow("R321") << int(R321) << true;
    QTest::newRow("FEIG") << int(Feig) << true;
    QTest::newRow("R321, record folder unwritable") << int(R321) << false;
}

// Three drivers written, one of another model, one taken away mid-write: five lines in
// the day's record and the counts 3/1/1. An unwritable record is reported once and the
// batch goes on at the same pace.
void TstWindowAutoWrite::batchOfFive_recordedAndCounted()
{
    QFETCH(int, reader);
    QFETCH(bool, writable);
    WindowBench b;
    QVERIFY(loadConfiguration(b, reader, 520));
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    // Below a plain file no folder can be made, whoever runs the test.
    const QString folder = writable ? dir.path() : blocker.fileName() + QStringLiteral("/records");
    b.win().setRecordFolder(folder);
    int failures = 0;
    QObject::connect(TestAccess::recordWriter(b.win()), &record::Journal::failed,
                     [&failures] { ++failures; });
    QVector<record::Outcome> outcomes;
    QObject::connect(&TestAccess::engine(b.win()), &TagEngine::operationFinished,
                     [&outcomes](const record::Outcome& o) { outcomes << o; });
    b.trigger("actionAuto_Write");
    QTRY_COMPARE(TestAccess::statusBatch(b.win())->text(),
                 QStringLiteral("Batch: 0 written, 0 failed, 0 other model"));

    using demodrivers::Kind;
    const QVector<Kind> kinds{Kind::Dt8, Kind::OtherModel, Kind::Dt8, Kind::Dt8, Kind::Dt8};
    QVector<std::shared_ptr<VirtualTag>> tags;
    for (int i = 0; i < kinds.size(); ++i) {
        tags << demodrivers::makeTag(kinds.at(i), 90 + i);
        QTRY_COMPARE(int(TestAccess::lastTip(b.win())), kTipNoDevice);
        b.field.layTag(tags.last());
        if (i == 3)
            b.field.removeTagsAfter(5); // inventory, model read, then part of the writes
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), i + 1, 5000);
        QVERIFY(waitBeeps(b, 0));
        b.field.removeTag(tags.last()->uidMsbFirst());
        // VANTORY_SHOTS_DIR keeps the status bar in the middle of the batch, both languages.
        const QString shots = qEnvironmentVariable("VANTORY_SHOTS_DIR");
        if (i == 2 && !shots.isEmpty() && reader == R321 && writable) {
            b.win().show();
            for (const char* name : {"batch-en.png", "batch-zh.png"}) {
                QTest::qWait(100);
                b.win().grab().save(QDir(shots).filePath(QString::fromLatin1(name)));
                b.trigger("actionLanguage");
            }
        }
    }
    QCOMPARE(TestAccess::statusBatch(b.win())->text(),
             QStringLiteral("Batch: 3 written, 1 failed, 1 other model"));
    // Switched off, the counts stay until the next Read or Write, in the chosen language.
    b.trigger("actionAuto_Write");
    b.trigger("actionLanguage");
    QCOMPARE(TestAccess::statusBatch(b.win())->text(),
             QStringLiteral("本批：已写入 3，失败 1，其他机型 1"));
    b.trigger("actionLanguage");
    for (const record::Outcome& o : outcomes)
        QVERIFY2(o.durationMs < 3000, qPrintable(QString::number(o.durationMs)));

    TestAccess::recordWriter(b.win())->drain();
    QFile file(QDir(folder).filePath(record::fileName(QDate::currentDate())));
    if (!writable) {
        QCOMPARE(failures, 1);
        QVERIFY(!TestAccess::statusRecord(b.win())->isHidden());
        QVERIFY(TestAccess::statusRecord(b.win())->text().contains(QStringLiteral("records")));
        QVERIFY(!file.exists());
        return;
    }
    QCOMPARE(failures, 0);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray all = file.readAll();
    QVERIFY(all.startsWith("\xEF\xBB\xBF" + record::headerLine()));
    QList<QByteArray> lines = all.mid(3).split('\n');
    QCOMPARE(lines.takeLast(), QByteArray()); // every line ends with CRLF
    QCOMPARE(lines.size(), 6);
    const QStringList results{"Written", "Other model refused", "Written", "No tag response",
                              "Written"};
    for (int i = 0; i < 5; ++i) {
        const QStringList cols = QString::fromUtf8(lines.at(i + 1).trimmed()).split(',');
        QCOMPARE(cols.size(), record::columnNames().size());
        QCOMPARE(cols.at(2), QString(reader == R321 ? "R321" : "FEIG"));
        QCOMPARE(cols.at(3), QStringLiteral("Auto write"));
        QCOMPARE(cols.at(4), QString::fromLatin1(tags.at(i)->uidMsbFirst().toHex().toUpper()));
        QCOMPARE(cols.at(14), results.at(i));
        // The refused driver and the one that did not answer were given no current.
        QCOMPARE(cols.at(10), i == 1 || i == 3 ? QString() : QStringLiteral("520"));
        QCOMPARE(cols.at(7), QString(tagfields::modelName(i == 1 ? [&] {
            TagImage t;
            std::copy_n(tags.at(1)->memory().constBegin(), 512, t.image_v2.begin());
            return t;
        }() : TestAccess::image(b.win()))));
    }
}

// Five wheel notches over the CH1 slider while the batch runs: the pane scrolls, the
// current stays, the panels are greyed out and the next driver gets the template's
// current. Switched off, everything can be edited again.
void TstWindowAutoWrite::wheelDuringBatch_changesNothing()
{
    QFETCH(int, reader);
    WindowBench b;
    QVERIFY(loadConfiguration(b, reader, 480));
    b.win().resize(900, 420); // small enough that the settings pane scrolls
    b.win().show();
    QVERIFY(QTest::qWaitForWindowExposed(&b.win()));
    const QStringList before = editable(b);
    QVERIFY(before.contains(QStringLiteral("Currentwidget_ch1")));
    QVERIFY(takesDrop(b));
    b.trigger("actionAuto_Write");
    QCOMPARE(editable(b), QStringList());
    QVERIFY(!takesDrop(b));

    auto* slider = currentWidget(b, 1)->findChild<QSlider*>(QStringLiteral("CurrentSlider"));
    QScrollBar* bar =
        b.w->findChild<QScrollArea*>(QStringLiteral("scrollArea"))->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    bar->setValue(0);
    turnWheel(slider, -5);
    QCOMPARE(currentWidget(b, 1)->value(), 480);
    QVERIFY(bar->value() > 0);

    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 7);
    b.field.layTag(tag);
    QTRY_COMPARE(int(TestAccess::lastTip(b.win())), kTipWriteOk);
    QCOMPARE(tag->memory().mid(264, 2), QByteArray::fromHex("01E0"));
    QVERIFY(waitBeeps(b, 2));

    b.trigger("actionAuto_Write");
    QCOMPARE(editable(b), before);
    QVERIFY(takesDrop(b));
}

// Outside a batch too, the wheel edits a slider or spin box only once it has the focus.
void TstWindowAutoWrite::wheelOverPane_editsOnlyFocusedControl()
{
    WindowBench b;
    b.win().show();
    QVERIFY(QTest::qWaitForWindowExposed(&b.win()));
    auto* slider = currentWidget(b, 1)->findChild<QSlider*>(QStringLiteral("CurrentSlider"));
    auto* box = b.w->findChild<QSpinBox*>(QStringLiteral("WormestspinBox"));
    const int current = currentWidget(b, 1)->value();
    const int warmest = box->value();
    turnWheel(slider, 3);
    turnWheel(box, 3);
    QCOMPARE(currentWidget(b, 1)->value(), current);
    QCOMPARE(box->value(), warmest);
    QVERIFY(!slider->hasFocus() && !box->hasFocus());

    slider->setFocus();
    turnWheel(slider, 3);
    QVERIFY(currentWidget(b, 1)->value() != current);
    box->setFocus();
    turnWheel(box, 1);
    QVERIFY(box->value() != warmest);
}

// A driver that fails stays named in red beside the counts, whatever the tips show
// meanwhile, until the next driver is handled; a good one is shown in green.
void TstWindowAutoWrite::failedDriver_staysInResultFieldUntilNext()
{
    WindowBench b;
    QVERIFY(loadConfiguration(b, R321));
    b.trigger("actionAuto_Write");
    QTRY_COMPARE(int(TestAccess::lastTip(b.win())), kTipNoDevice);
    QCOMPARE(lastDriverText(b), QString());

    const auto bad = demodrivers::makeTag(demodrivers::Kind::Dt8, 0x51);
    const QString badId = QString::fromLatin1(bad->uidMsbFirst().right(4).toHex().toUpper());
    // The first block write and its first piece of four: the write fails.
    b.field.armReplyFault(SimReplyFault::FailingStatus, 2, 0, 0x23);
    b.field.layTag(bad);
    // The R321 reports the refused block write as no tag response.
    const QString failed = QStringLiteral("Last …%1: no tag response").arg(badId);
    QTRY_COMPARE(lastDriverText(b), failed);
    QCOMPARE(lastDriverColour(b), QColor(Qt::red));
    QVERIFY(waitBeeps(b, 4));
    // Lying on the reader, then taken away: the tips move on, the field stays.
    QTest::qWait(1000);
    b.field.removeTag(bad->uidMsbFirst());
    QTRY_COMPARE(resultText(b), QStringLiteral("No device detected"));
    QCOMPARE(lastDriverText(b), failed);
    // VANTORY_SHOTS_DIR keeps the locked window with the failed driver, both languages.
    const QString shots = qEnvironmentVariable("VANTORY_SHOTS_DIR");
    if (!shots.isEmpty()) {
        QFont font(QStringLiteral("Tahoma"));
        font.setPixelSize(12);
        b.win().setFont(font);
        b.win().placeOnScreen(QRect(0, 0, 1366, 728), QRect(0, 0, 1366, 768));
        b.win().show();
        for (const char* lang : {"en", "zh"}) {
            QTest::qWait(100);
            b.win().grab().save(
                QDir(shots).filePath(QStringLiteral("batch-failed-driver-%1.png").arg(lang)));
            b.trigger("actionLanguage");
        }
    }
    b.trigger("actionLanguage");
    QCOMPARE(lastDriverText(b), QStringLiteral("上一个 …%1：没有标签响应").arg(badId));
    b.trigger("actionLanguage");

    const auto good = demodrivers::makeTag(demodrivers::Kind::Dt8, 0x52);
    b.field.layTag(good);
    QTRY_COMPARE(lastDriverText(b),
                 QStringLiteral("Last …%1: written")
                     .arg(QString::fromLatin1(good->uidMsbFirst().right(4).toHex().toUpper())));
    QCOMPARE(lastDriverColour(b), QColor(Qt::darkGreen));
    QVERIFY(waitBeeps(b, 6));
    b.trigger("actionAuto_Write");
    // Like the counts, it goes with the next Read.
    b.trigger("actionRead");
    QCOMPARE(lastDriverText(b), QString());
    QCOMPARE(resultText(b), QString()); // the Read's own result is still to come
}

// Right after start the window holds no configuration: Auto Scan says so and does not
// start; once a file is opened it starts.
void TstWindowAutoWrite::autoScanAtStart_refusedUntilConfiguration()
{
    WindowBench b;
    QVERIFY(b.connect(R321));
    b.field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 5));
    b.trigger("actionAuto_Write");
    QCOMPARE(TestAccess::engine(b.win()).autoWrite().auto_mode, uint8_t(0));
    const QString refusal =
        QStringLiteral("Read a driver or open a configuration file before Auto Scan");
    QCOMPARE(resultText(b), refusal);
    QCOMPARE(TestAccess::notice(b.win())->text(), refusal);
    QTest::qWait(700);
    QCOMPARE(tagCommands(b.field), QStringList());
    b.trigger("actionLanguage");
    QCOMPARE(resultText(b), QStringLiteral("自动扫描前请先读取驱动或打开配置文件"));
    b.trigger("actionLanguage");

    QVERIFY(openDemoConfiguration(b));
    b.trigger("actionAuto_Write");
    QCOMPARE(TestAccess::engine(b.win()).autoWrite().auto_mode, uint8_t(1));
    QTRY_COMPARE(int(TestAccess::lastTip(b.win())), kTipWriteOk);
    QVERIFY(waitBeeps(b, 2));
    b.trigger("actionAuto_Write");
    QVERIFY(b.boxes.isEmpty());
}

// A record folder that could not be written and then can: the red text goes with the
// first line written again.
void TstWindowAutoWrite::recordFolderBack_problemCleared()
{
    WindowBench b;
    QVERIFY(loadConfiguration(b, R321));
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("records"));
    QFile blocker(folder);
    QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    blocker.close();
    b.win().setRecordFolder(folder);
    QLabel* problem = TestAccess::statusRecord(b.win());
    b.trigger("actionAuto_Write");
    QTRY_COMPARE(int(TestAccess::lastTip(b.win())), kTipNoDevice);
    int n = 0;
    for (bool writable : {false, true}) {
        if (writable) {
            QVERIFY(blocker.remove());
            QVERIFY(QDir().mkpath(folder));
        }
        const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 0x60 + n);
        b.field.layTag(tag);
        QTRY_VERIFY(lastDriverText(b).endsWith(QStringLiteral("written")) &&
                    lastDriverText(b).contains(
                        QString::fromLatin1(tag->uidMsbFirst().right(4).toHex().toUpper())));
        n += 2;
        QVERIFY(waitBeeps(b, n));
        TestAccess::recordWriter(b.win())->drain();
        QCoreApplication::processEvents();
        QCOMPARE(problem->isHidden(), writable);
        b.field.removeTag(tag->uidMsbFirst());
        QTRY_COMPARE(int(TestAccess::lastTip(b.win())), kTipNoDevice);
    }
    b.trigger("actionAuto_Write");
}

QTEST_MAIN(TstWindowAutoWrite)
#include "tst_window_autowrite.moc"
