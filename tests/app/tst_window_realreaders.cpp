// The window on its real transports (no simulated backends handed in): hidapi is the
// stand-in libhidapi-hidraw.so.0 that CTest puts first on LD_LIBRARY_PATH, FEIG's library
// the stand-in libfeusb.so lying next to this program. A technician connects through the
// dialog, reads the driver, sets a current and writes; the stand-in tag's file then holds it.
#include "app/signalquit.h"
#include "app/stationview.h"
#include "app/vantory.h"
#include "model/recordstore.h"
#include "readers/hidapibackend.h"
#include "standin/standintags.h"
#include "testaccess.h"
#include "widgets/myslider.h"
#include "widgets/noticewidget.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

using namespace standintags;

namespace
{
constexpr int kTipReadOk = 3;
constexpr int kTipWriteOk = 5;
} // namespace

class TstWindowRealReaders : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase();
    void connectReadWrite_data();
    void connectReadWrite();
    void pwmDriverThenPFile_autoWriteProgramsTheFile_data();
    void pwmDriverThenPFile_autoWriteProgramsTheFile();
    void startConnectsTheReaderChosenLast_data();
    void startConnectsTheReaderChosenLast();
    void station_data();
    void station();

  private:
    // Connects the window through the dialog and reads the driver on the reader.
    static void connectAndRead(Vantory& w, const QString& brand, const QString& connected);
    QTemporaryDir m_dir;
};

void TstWindowRealReaders::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Nothing of the user's: settings and records go to the temporary folder.
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtimeFolder().toLocal8Bit());
    for (const char* name : {"r321", "feig"}) {
        const QString reader = QLatin1String(name);
        const QString tag = m_dir.filePath(reader + QStringLiteral(".tag"));
        QVERIFY(
            writeTagFile(tag, uid(reader == QLatin1String("feig") ? 0x21 : 0x20), driverOnLine()));
        qputenv(tagVariable(reader).toLatin1(), tag.toLocal8Bit());
    }
    // The hidapi this program runs on is the stand-in (CTest sets LD_LIBRARY_PATH).
    HidapiBackend hid;
    bool standin = false;
    for (const HidInterfaceInfo& i : hid.enumerate())
        standin = standin || i.path == QLatin1String("/dev/vantory-standin/hidraw1");
    QVERIFY2(standin, "run through CTest: LD_LIBRARY_PATH must start with " STANDIN_HIDAPI_DIR);
}

void TstWindowRealReaders::connectReadWrite_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("brand");
    QTest::addColumn<QString>("connected");
    QTest::addColumn<bool>("sigterm"); // SIGTERM reaches the program mid-write
    QTest::newRow("R321") << "r321"
                          << "CHENKON"
                          << "Connected: R321" << false;
    QTest::newRow("FEIG") << "feig"
                          << "FEIG"
                          << "Connected: Feig Reader" << false;
    QTest::newRow("R321, SIGTERM mid-write") << "r321"
                                             << "CHENKON"
                                             << "Connected: R321" << true;
}

void TstWindowRealReaders::connectReadWrite()
{
    QFETCH(QString, reader);
    QFETCH(QString, brand);
    QFETCH(QString, connected);
    QFETCH(bool, sigterm);
    const QString tag = m_dir.filePath(reader + QStringLiteral(".tag"));

    Vantory w; // the real HidapiBackend and FeusbLibrary
    const QString records = m_dir.filePath(QStringLiteral("records-") + QTest::currentDataTag());
    w.setRecordFolder(records);
    // As the program's main sets it up.
    bool quit = false;
    SignalQuit signalQuit([&](int signal) {
        w.closeForSignal(SignalQuit::name(signal));
        quit = true;
    });
    QStringList boxes;
    w.setModalHook([&](const QString&, const QString& text) { boxes << text; });
    connectAndRead(w, brand, connected);
    if (QTest::currentTestFailed())
        return;
    auto* box = w.findChild<QWidget*>(QStringLiteral("Currentwidget_ch1"))
                    ->findChild<QSpinBox*>(QStringLiteral("CurrentspinBox"));
    QVERIFY(box && box->isEnabled());
    if (!sigterm) // the R321 row before wrote its current already
        QCOMPARE(box->value(), 350);
    QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, QString::number(kCurrent));
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(box->value(), kCurrent);

    w.findChild<QAction*>(QStringLiteral("actionWrite"))->trigger();
    if (sigterm) {
        // Mid-write: the program finishes the write or records it as interrupted, puts the
        // record on disk, and only then leaves; one line in the day file, one journal row.
        QTRY_VERIFY(TestAccess::engine(w).operationPending());
        ::raise(SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(quit, 5000);
        QVERIFY(!w.isVisible());
        const QStringList days = QDir(records).entryList({QStringLiteral("*.csv")}, QDir::Files);
        QCOMPARE(days.size(), 1);
        const QList<QByteArray> lines =
            readFile(QDir(records).filePath(days.first())).trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.last().contains(",Written,") ||
                     lines.last().contains(",Interrupted (SIGTERM),"),
                 lines.last().constData());
        record::Store journal;
        QVERIFY(journal.openLocal(record::localDatabasePath(records), false));
        QCOMPARE(journal.lines({}).value_or(QVector<record::StoredLine>()).size(), 1);
        if (!lines.last().contains(",Written,"))
            return;
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(int(TestAccess::lastTip(w)), kTipWriteOk, 10000);
    }
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join('\n')));

    // The stand-in tag: the current written, the driver's own counters untouched.
    QByteArray expected = driverOnLine();
    expected[kCurrentByte] = char(kCurrent >> 8);
    expected[kCurrentByte + 1] = char(kCurrent & 0xFF);
    const QByteArray memory = tagMemory(tag);
    QCOMPARE(memory.mid(kCurrentByte, 2), expected.mid(kCurrentByte, 2));
    QCOMPARE(memory.mid(counterByte(), counterBytes()),
             driverOnLine().mid(counterByte(), counterBytes()));
}

void TstWindowRealReaders::pwmDriverThenPFile_autoWriteProgramsTheFile_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("brand");
    QTest::addColumn<QString>("connected");
    QTest::addColumn<bool>("fast"); // a fast batch, chosen in the dialog
    QTest::newRow("R321") << "r321"
                          << "CHENKON"
                          << "Connected: R321" << false;
    QTest::newRow("FEIG, fast batch") << "feig"
                                      << "FEIG"
                                      << "Connected: Feig Reader" << true;
}

// After a PWM driver ('8') has been read, a configuration file of a 512-byte driver ('P')
// at 480 mA shows 480 mA, and auto write programs the next 'P' driver with it.
void TstWindowRealReaders::pwmDriverThenPFile_autoWriteProgramsTheFile()
{
    QFETCH(QString, reader);
    QFETCH(QString, brand);
    QFETCH(QString, connected);
    QFETCH(bool, fast);
    const QString pwm = m_dir.filePath(reader + QStringLiteral("-pwm.tag"));
    const QString p = m_dir.filePath(reader + QStringLiteral("-p.tag"));
    QVERIFY(writeTagFile(pwm, QByteArray::fromHex("E002380000000031"),
                         demodrivers::memory(demodrivers::Kind::Pwm)));
    QVERIFY(writeTagFile(p, uid(0x32), driverOnLine()));
    // The stand-in lays the PWM driver first and the 'P' one once the first has left.
    qputenv(tagVariable(reader).toLatin1(), (pwm + QLatin1Char(':') + p).toLocal8Bit());
    QByteArray bytes = configuration();
    bytes[kCurrentByte] = char(kCurrent >> 8);
    bytes[kCurrentByte + 1] = char(kCurrent & 0xFF);
    const QString file = m_dir.filePath(QStringLiteral("p-480.bin"));
    QVERIFY(writeFile(file, bytes));

    const QString saved = file + QStringLiteral(".saved.bin");
    Vantory w;
    QStringList boxes;
    w.setModalHook([&](const QString&, const QString& text) { boxes << text; });
    w.setFileDialogHook(
        [&](Vantory::FileDialogMode mode, const QString&, const QString&, const QString&) {
            return mode == Vantory::FileDialogMode::Open ? file : saved;
        });
    w.findChild<QCheckBox*>(QStringLiteral("checkBox_FastBatch"))->setChecked(fast);
    connectAndRead(w, brand, connected);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("Productlabel"))->text(),
             QStringLiteral("VPW-20-700 PWM"));
    w.findChild<QAction*>(QStringLiteral("actionOpen_BIN_configure"))->trigger();
    QCOMPARE(w.findChild<myslider*>(QStringLiteral("Currentwidget_ch1"))->value(), kCurrent);
    w.findChild<QAction*>(QStringLiteral("actionSave_BIN_configure"))->trigger();
    QCOMPARE(readFile(saved).mid(kCurrentByte, 2), bytes.mid(kCurrentByte, 2));
    w.findChild<QAction*>(QStringLiteral("actionAuto_Write"))->trigger();
    // The window says at which pace the batch runs.
    QVERIFY(w.findChild<QLabel*>(QStringLiteral("status_batch"))
                ->text()
                .startsWith(fast ? QStringLiteral("Fast batch: ") : QStringLiteral("Batch: ")));
    QTRY_VERIFY_WITH_TIMEOUT(holdsConfiguration(tagMemory(p)), 20000);
    w.findChild<QAction*>(QStringLiteral("actionAuto_Write"))->trigger();
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join('\n')));
    QCOMPARE(tagMemory(pwm), demodrivers::memory(demodrivers::Kind::Pwm));
}

void TstWindowRealReaders::startConnectsTheReaderChosenLast_data()
{
    QTest::addColumn<int>("kind"); // as the settings keep it
    QTest::addColumn<QString>("identity");
    QTest::addColumn<QString>("connected");
    QTest::addColumn<QString>("listed");    // the dialog's entry for it
    QTest::addColumn<bool>("held");         // another program holds it
    QTest::addColumn<QByteArray>("pulled"); // a reader that is not plugged in
    QTest::newRow("the second R321") << 2 << "R321-0043"
                                     << "Connected: R321"
                                     << "CHENKON  R321-0043" << false << QByteArray();
    QTest::newRow("the second FEIG reader") << 1 << "0A1B2C02"
                                            << "Connected: Feig Reader"
                                            << "FEIG  0A1B2C02" << false << QByteArray();
    QTest::newRow("the R321 held by another program")
        << 2 << "R321-0043"
        << "Please selcet usb device"
        << "CHENKON  R321-0043" << true << QByteArray();
    // Settings of an earlier version keep only the kind.
    QTest::newRow("only the kind, one FEIG reader present")
        << 1 << ""
        << "Connected: Feig Reader"
        << "FEIG  0A1B2C01" << false << QByteArray("VANTORY_STANDIN_FEIG_TAGS_2");
    QTest::newRow("only the kind, two R321 present") << 2 << ""
                                                     << "Please selcet usb device"
                                                     << "" << false << QByteArray();
}

// The reader chosen last is connected at start by its identity, without the dialog, and
// the dialog lists every reader present by kind and identity with that one chosen.
void TstWindowRealReaders::startConnectsTheReaderChosenLast()
{
    QFETCH(int, kind);
    QFETCH(QString, identity);
    QFETCH(QString, connected);
    QFETCH(QString, listed);
    QFETCH(bool, held);
    QFETCH(QByteArray, pulled);
    const QString marker = m_dir.filePath(QStringLiteral("pulled"));
    QVERIFY(writeFile(marker, "out"));
    if (!pulled.isEmpty())
        qputenv(pulled + "_PULLED", marker.toLocal8Bit());
    const auto plugBack = qScopeGuard([&] {
        if (!pulled.isEmpty())
            qunsetenv(pulled + "_PULLED");
    });
    // Another program's session on the reader, over transports of its own.
    HidapiBackend otherHid;
    TagEngine other(&otherHid, nullptr);
    if (held)
        QVERIFY(other.connectReader(ReaderChoice{ReaderType::R321, identity}));
    const QString ini =
        m_dir.filePath(QStringLiteral("chosen-%1.ini").arg(QTest::currentDataTag()));
    {
        QSettings settings(ini, QSettings::IniFormat);
        settings.setValue(QStringLiteral("reader"), kind);
        if (!identity.isEmpty())
            settings.setValue(QStringLiteral("readerId"), identity);
    }
    Vantory w;
    w.useSettings(std::make_unique<QSettings>(ini, QSettings::IniFormat));
    QTRY_COMPARE(TestAccess::statusLink(w)->text(), connected);
    if (held) {
        QTRY_COMPARE(TestAccess::notice(w)->text(),
                     QStringLiteral("The reader R321-0043 is in use by another program."));
        return;
    }
    if (listed.isEmpty()) { // which one is meant is not known: none is taken
        QTest::qWait(300);
        QCOMPARE(TestAccess::statusLink(w)->text(), connected);
        QCOMPARE(TestAccess::engine(w).readerIdentity(), QString());
        return;
    }
    const QString found = listed.section(QLatin1Char(' '), -1);
    QCOMPARE(TestAccess::engine(w).readerIdentity(), found);
    QCOMPARE(QSettings(ini, QSettings::IniFormat).value("readerId").toString(), found);
    auto* dialog = w.findChild<QDialog*>(QStringLiteral("ConnectionConfig"));
    QVERIFY(!dialog->isVisible());
    w.findChild<QAction*>(QStringLiteral("actionselect"))->trigger();
    auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("comboBox_Reader"));
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries << combo->itemText(i);
    QStringList present{
        "FEIG",           "CHENKON",       "CHENKON  R321-0042", "CHENKON  R321-0043",
        "FEIG  0A1B2C01", "FEIG  0A1B2C02"};
    if (!pulled.isEmpty())
        present.removeOne(QStringLiteral("FEIG  0A1B2C02"));
    QCOMPARE(entries, present);
    QCOMPARE(combo->currentText(), listed);
    // Another reader chosen in the dialog is the one remembered for the next start.
    combo->setCurrentIndex(combo->findText(QStringLiteral("CHENKON  R321-0042")));
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("pushButton_Connect")),
                      Qt::LeftButton);
    QTRY_COMPARE(TestAccess::engine(w).readerIdentity(), QStringLiteral("R321-0042"));
    QCOMPARE(QSettings(ini, QSettings::IniFormat).value("readerId").toString(),
             QStringLiteral("R321-0042"));
}

void TstWindowRealReaders::station_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<bool>("fast");
    QTest::newRow("English") << false << false;
    QTest::newRow("Chinese, fast batch") << true << true;
}

// The station view runs one batch per reader present, all from the window's template: each
// reader programs its own drivers and beeps its own results, each record line names its
// reader, and a refused driver or a pulled reader on one leaves the others going.
void TstWindowRealReaders::station()
{
    QFETCH(bool, chinese);
    QFETCH(bool, fast);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString config = dir.filePath(QStringLiteral("config.bin"));
    QByteArray bytes = configuration();
    bytes[kCurrentByte] = char(kCurrent >> 8);
    bytes[kCurrentByte + 1] = char(kCurrent & 0xFF);
    QVERIFY(writeFile(config, bytes));
    const QString pulled = dir.filePath(QStringLiteral("pulled"));
    // Two drivers per reader; the second R321's first is of another model, and the second
    // FEIG reader is pulled after its first.
    QMap<QString, QStringList> tags;
    quint8 last = 0x60;
    for (const auto& [id, variable] : standinReaders()) {
        for (int i = 0; i < 2; ++i) {
            tags[id] << dir.filePath(QStringLiteral("%1-%2").arg(id).arg(i));
            QVERIFY(writeTagFile(tags[id].last(), uid(last++),
                                 id == QLatin1String("R321-0043") && i == 0
                                     ? demodrivers::memory(demodrivers::Kind::OtherModel)
                                     : driverOnLine()));
        }
        qputenv(variable.toLatin1(), tags[id].join(QLatin1Char(':')).toLocal8Bit());
        qputenv(variable.toLatin1() + "_PULLED",
                id == QLatin1String("0A1B2C02") ? pulled.toLocal8Bit() : QByteArray());
    }

    Vantory w;
    const QString records = dir.filePath(QStringLiteral("records"));
    w.setRecordFolder(records);
    QStringList boxes;
    w.setModalHook([&](const QString&, const QString& text) { boxes << text; });
    w.setFileDialogHook([&](Vantory::FileDialogMode, const QString&, const QString&,
                            const QString&) { return config; });
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    if (chinese)
        w.findChild<QAction*>(QStringLiteral("actionLanguage"))->trigger();
    w.findChild<QCheckBox*>(QStringLiteral("checkBox_FastBatch"))->setChecked(fast);
    w.findChild<QAction*>(QStringLiteral("actionOpen_BIN_configure"))->trigger();
    w.findChild<QAction*>(QStringLiteral("actionStation"))->trigger();
    StationView* station = w.station();
    QVERIFY(station && station->isVisible());
    QTest::mouseClick(station->findChild<QPushButton*>(QStringLiteral("pushButton_StationStart")),
                      Qt::LeftButton);
    QTRY_VERIFY(station->running());
    auto* table = station->findChild<QTableWidget*>(QStringLiteral("tableWidget_Station"));
    QCOMPARE(table->rowCount(), 4);

    // The last reader is pulled once its first driver is programmed; the others go on.
    QTRY_VERIFY_WITH_TIMEOUT(holdsConfiguration(tagMemory(tags["0A1B2C02"].first())), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(table->item(3, 1)->text(), QStringLiteral("1"), 10000);
    QVERIFY(writeFile(pulled, "out"));
    for (const QString& tag : tags["R321-0042"] + tags["0A1B2C01"] + tags["R321-0043"].mid(1))
        QTRY_VERIFY_WITH_TIMEOUT(holdsConfiguration(tagMemory(tag)), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(table->item(1, 2)->text(), QStringLiteral("1"), 10000); // refused
    QCOMPARE(tagMemory(tags["R321-0043"].first()),
             demodrivers::memory(demodrivers::Kind::OtherModel));
    // Reader, written, refused, failed, last UID; the last result green.
    const QStringList expected[] = {{"R321  R321-0042", "2", "0", "0"},
                                    {"R321  R321-0043", "1", "1", "0"},
                                    {"FEIG  0A1B2C01", "2", "0", "0"},
                                    {"FEIG  0A1B2C02", "1", "0", "0"}};
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column)
            QTRY_COMPARE_WITH_TIMEOUT(table->item(row, column)->text(), expected[row].at(column),
                                      10000);
        const QString id = expected[row].first().section(QLatin1Char(' '), -1);
        QCOMPARE(table->item(row, 4)->text(),
                 QString::fromLatin1(readFile(tags[id].at(row == 3 ? 0 : 1)).left(kUidSize).toHex())
                     .toUpper());
        if (row != 3)
            QCOMPARE(table->item(row, 5)->foreground().color(), QColor(0x1E, 0x8E, 0x3E));
    }
    // The pulled reader's row says so in red.
    QTRY_COMPARE_WITH_TIMEOUT(table->item(3, 5)->foreground().color(), QColor(0xD9, 0x30, 0x25),
                              10000);
    if (const QByteArray shots = qgetenv("VANTORY_SHOTS_DIR"); !shots.isEmpty()) {
        const QString language = chinese ? QStringLiteral("zh") : QStringLiteral("en");
        const QDir folder(QString::fromLocal8Bit(shots));
        station->grab().save(folder.filePath(QStringLiteral("station-%1.png").arg(language)));
    }
    QTest::mouseClick(station->findChild<QPushButton*>(QStringLiteral("pushButton_StationStop")),
                      Qt::LeftButton);
    QVERIFY(!station->running());
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join('\n')));

    // Every line in the record names the reader that handled the driver.
    const QStringList days = QDir(records).entryList({QStringLiteral("*.csv")}, QDir::Files);
    QCOMPARE(days.size(), 1);
    QMap<QString, int> lines;
    for (const QByteArray& line :
         readFile(QDir(records).filePath(days.first())).trimmed().split('\n').mid(1)) {
        const QString id = QString::fromUtf8(line.split(',').last()).trimmed();
        const QByteArray uidText = line.split(',').at(4);
        QVERIFY2(tags.contains(id), line.constData());
        QVERIFY2(readFile(tags[id].first()).left(kUidSize).toHex().toUpper() == uidText ||
                     readFile(tags[id].last()).left(kUidSize).toHex().toUpper() == uidText,
                 line.constData());
        lines[id] += line.contains(",Written,") ? 1 : 0;
        // Each batch runs at the window's pace: a fast one sends only what differs.
        const QByteArray blocks = line.split(',').at(line.split(',').size() - 2);
        if (line.contains(",Written,"))
            QVERIFY2((blocks == "62") != fast, line.constData());
    }
    QCOMPARE(lines.value("R321-0042"), 2);
    QCOMPARE(lines.value("R321-0043"), 1);
    QCOMPARE(lines.value("0A1B2C01"), 2);
    QCOMPARE(lines.value("0A1B2C02"), 1);
    for (const auto& [id, variable] : standinReaders()) {
        qunsetenv(variable.toLatin1());
        qunsetenv(variable.toLatin1() + "_PULLED");
    }
}

void TstWindowRealReaders::connectAndRead(Vantory& w, const QString& brand,
                                          const QString& connected)
{
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    auto* dialog = w.findChild<QDialog*>(QStringLiteral("ConnectionConfig"));
    QVERIFY(dialog);
    w.findChild<QAction*>(QStringLiteral("actionselect"))->trigger();
    QTRY_VERIFY(dialog->isVisible());
    auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("comboBox_Reader"));
    QVERIFY(combo);
    combo->setCurrentIndex(combo->findText(brand));
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("pushButton_Connect")),
                      Qt::LeftButton);
    QTRY_COMPARE(TestAccess::statusLink(w)->text(), connected);

    w.findChild<QAction*>(QStringLiteral("actionRead"))->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(int(TestAccess::lastTip(w)), kTipReadOk, 10000);
}

QTEST_MAIN(TstWindowRealReaders)
#include "tst_window_realreaders.moc"
