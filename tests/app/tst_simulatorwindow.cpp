#include "app/simulatorwindow.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

namespace
{

template <typename T> T* child(QObject* parent, const char* name)
{
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qWarning("no child %s", name);
    return found;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qWarning("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

class TstSimulatorWindow : public QObject
{
    Q_OBJECT

  private slots:
    void start_dt8DriverOnReader();
    void layDemo_fromCombo_data();
    void layDemo_fromCombo();
    void remove_andRemoveAll();
    void layFile_refusesShortFile();
    void layFile_acceptsImage_data();
    void layFile_acceptsImage();
    void layFile_missingFile();
    void plugChecks_unplugAndReplugReaders();
    void latencyCheck_togglesAirTime();
    void strictCheck_tagsRefuseLongWrites();
    void fieldChangeOnOtherThread_refreshesList();
    void panel_doesNotKeepProgramAlive();
    void showBeside_rightOfWindowOrAtScreenEdge();
};

void TstSimulatorWindow::start_dt8DriverOnReader()
{
    SimulatorWindow w;
    QCOMPARE(w.field()->tagCount(), 1);
    const auto tag = w.field()->tags().first();
    QCOMPARE(tag->memory(), demodrivers::memory(demodrivers::Kind::Dt8));
    auto* list = child<QListWidget>(&w, "listTags");
    QCOMPARE(list->count(), 1);
    QVERIFY(list->item(0)->text().contains(demodrivers::info(demodrivers::Kind::Dt8).model));
    QVERIFY(list->item(0)->text().contains(QStringLiteral("E0 02 50")));
    // Both readers are present and answer.
    QVERIFY(child<QCheckBox>(&w, "checkR321")->isChecked());
    QVERIFY(child<QCheckBox>(&w, "checkFeig")->isChecked());
    QCOMPARE(w.r321()->enumerate().size(), 1);
    QVERIFY(w.feig()->ScanAndOpen(0, nullptr) > 0);
}

void TstSimulatorWindow::layDemo_fromCombo_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("product");
    for (const demodrivers::Info& d : demodrivers::all())
        QTest::newRow(qPrintable(d.name))
            << int(d.kind) << (d.kind == demodrivers::Kind::Pwm ? 0x38 : 0x50);
}

void TstSimulatorWindow::layDemo_fromCombo()
{
    QFETCH(int, row);
    QFETCH(int, product);
    SimulatorWindow w;
    auto* combo = child<QComboBox>(&w, "comboDemo");
    combo->setCurrentIndex(row);
    QTest::mouseClick(child<QPushButton>(&w, "buttonLay"), Qt::LeftButton);

    QCOMPARE(w.field()->tagCount(), 2);
    const auto laid = w.field()->tags().last();
    const auto kind = static_cast<demodrivers::Kind>(row);
    QCOMPARE(int(laid->productByte()), product);
    QCOMPARE(laid->memory(), demodrivers::memory(kind));
    // A new UID even when the same driver lies there already.
    QVERIFY(laid->uidMsbFirst() != w.field()->tags().first()->uidMsbFirst());
    QCOMPARE(child<QListWidget>(&w, "listTags")->count(), 2);
    QVERIFY(w.message().contains(demodrivers::info(kind).name));
}

void TstSimulatorWindow::remove_andRemoveAll()
{
    SimulatorWindow w;
    w.layDemo(demodrivers::Kind::Pwm);
    w.layDemo(demodrivers::Kind::Dt6);
    auto* list = child<QListWidget>(&w, "listTags");
    QCOMPARE(list->count(), 3);

    list->setCurrentRow(0);
    QTest::mouseClick(child<QPushButton>(&w, "buttonRemove"), Qt::LeftButton);
    QCOMPARE(w.field()->tagCount(), 2);
    QCOMPARE(w.field()->tags().first()->kind(), VirtualTag::Kind::Pwm);
    QCOMPARE(list->count(), 2);

    QVERIFY(!w.removeRow(5));
    QVERIFY(!w.removeRow(-1));
    QCOMPARE(w.field()->tagCount(), 2);

    QTest::mouseClick(child<QPushButton>(&w, "buttonClear"), Qt::LeftButton);
    QCOMPARE(w.field()->tagCount(), 0);
    QCOMPARE(list->count(), 0);
    QVERIFY(!child<QPushButton>(&w, "buttonRemove")->isEnabled());
}

void TstSimulatorWindow::layFile_refusesShortFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimulatorWindow w;
    const QString path = writeFile(dir, QStringLiteral("short.bin"), QByteArray(511, '\x11'));
    QVERIFY(!w.layFile(path));
    QCOMPARE(w.field()->tagCount(), 1);
    QVERIFY(w.message().contains(QStringLiteral("short.bin")));
    QVERIFY(w.message().contains(QStringLiteral("512")));
    QVERIFY(child<QLabel>(&w, "labelMessage")->styleSheet().contains(QStringLiteral("red")));
}

void TstSimulatorWindow::layFile_acceptsImage_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("512") << 512;
    QTest::newRow("longer") << 700;
}

void TstSimulatorWindow::layFile_acceptsImage()
{
    QFETCH(int, size);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QByteArray bytes = demodrivers::memory(demodrivers::Kind::Legacy3Ch);
    bytes.append(QByteArray(size - bytes.size(), '\x5A'));
    const QString path = writeFile(dir, QStringLiteral("driver.bin"), bytes);

    SimulatorWindow w;
    QVERIFY(w.layFile(path));
    QCOMPARE(w.field()->tagCount(), 2);
    QCOMPARE(w.field()->tags().last()->memory(), bytes.left(512));
    QCOMPARE(w.message().contains(QStringLiteral("first 512")), size > 512);
    QVERIFY(!child<QLabel>(&w, "labelMessage")->styleSheet().contains(QStringLiteral("red")));
    QCOMPARE(child<QListWidget>(&w, "listTags")->count(), 2);
}

void TstSimulatorWindow::layFile_missingFile()
{
    QTemporaryDir dir;
    SimulatorWindow w;
    QVERIFY(!w.layFile(dir.filePath(QStringLiteral("absent.bin"))));
    QCOMPARE(w.field()->tagCount(), 1);
    QVERIFY(w.message().contains(QStringLiteral("absent.bin")));
}

void TstSimulatorWindow::plugChecks_unplugAndReplugReaders()
{
    SimulatorWindow w;
    auto* r321 = child<QCheckBox>(&w, "checkR321");
    auto* feig = child<QCheckBox>(&w, "checkFeig");

    r321->setChecked(false);
    QVERIFY(w.field()->isUnplugged(SimReaderKind::R321));
    QVERIFY(!w.field()->isUnplugged(SimReaderKind::Feig));
    QVERIFY(w.r321()->enumerate().isEmpty());

    feig->setChecked(false);
    QVERIFY(w.field()->isUnplugged(SimReaderKind::Feig));
    QVERIFY(w.feig()->ScanAndOpen(0, nullptr) < 0);

    r321->setChecked(true);
    feig->setChecked(true);
    QVERIFY(!w.field()->isUnplugged(SimReaderKind::R321));
    QVERIFY(!w.field()->isUnplugged(SimReaderKind::Feig));
    QCOMPARE(w.r321()->enumerate().size(), 1);
    QVERIFY(w.feig()->ScanAndOpen(0, nullptr) > 0);
}

void TstSimulatorWindow::latencyCheck_togglesAirTime()
{
    SimulatorWindow w;
    auto* latency = child<QCheckBox>(&w, "checkLatency");
    QVERIFY(!latency->isChecked());
    QVERIFY(!w.field()->latencyEnabled());
    latency->setChecked(true);
    QVERIFY(w.field()->latencyEnabled());
    latency->setChecked(false);
    QVERIFY(!w.field()->latencyEnabled());
}

void TstSimulatorWindow::strictCheck_tagsRefuseLongWrites()
{
    SimulatorWindow w;
    auto* strict = child<QCheckBox>(&w, "checkStrictSt25dv");
    QVERIFY(!strict->isChecked());
    const QByteArray five(20, '\x11');
    const auto laid = w.field()->tags().first();
    QCOMPARE(laid->writeBlocks(0, 5, five), uint8_t(0));
    strict->setChecked(true);
    // The tag on the reader and one laid later both take at most four blocks at a time.
    const auto later = demodrivers::makeTag(demodrivers::Kind::Dt8, 77);
    w.field()->layTag(later);
    for (const auto& tag : {laid, later}) {
        QCOMPARE(tag->writeBlocks(0, 5, five), VirtualTag::ErrGeneric);
        QCOMPARE(tag->writeBlocks(0, 4, five.left(16)), uint8_t(0));
    }
    strict->setChecked(false);
    QCOMPARE(later->writeBlocks(0, 5, five), uint8_t(0));
}

void TstSimulatorWindow::fieldChangeOnOtherThread_refreshesList()
{
    SimulatorWindow w;
    auto* list = child<QListWidget>(&w, "listTags");
    QCOMPARE(list->count(), 1);
    // A reader thread takes the tag away (a removal armed mid-sequence).
    std::thread remover([&w] { w.field()->clear(); });
    remover.join();
    QTRY_COMPARE(list->count(), 0);
}

void TstSimulatorWindow::panel_doesNotKeepProgramAlive()
{
    SimulatorWindow w;
    QVERIFY(!w.testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(w.isWindow());
}

void TstSimulatorWindow::showBeside_rightOfWindowOrAtScreenEdge()
{
    QWidget main;
    main.setGeometry(0, 0, 100, 100);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    const QRect screen = main.screen()->availableGeometry();

    SimulatorWindow w;
    w.showBeside(&main);
    QVERIFY(w.isVisible());
    QVERIFY(w.width() + 101 <= screen.right());
    QCOMPARE(w.x(), main.frameGeometry().right() + 1);

    // No room on the right: the panel keeps to the screen.
    main.setGeometry(0, 0, screen.width() - 50, 100);
    w.showBeside(&main);
    QCOMPARE(w.x(), screen.right() - w.width());
}

QTEST_MAIN(TstSimulatorWindow)
#include "tst_simulatorwindow.moc"
