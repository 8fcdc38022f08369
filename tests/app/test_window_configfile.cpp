// Opening and saving configuration files through the window's Read File and Save File
// actions, with the file dialogs answered by the test.
#include "app/panelbench.h"

#include "widgets/myslider.h"

#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QFileInfo>
#include <QSpinBox>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace panels;

class TestWindowConfigFile : public QObject
{
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void dialogs_captionsFilterAndProposedName_data();
    void dialogs_captionsFilterAndProposedName();
    void open_loadsBothCopiesAndRefreshesPanels();
    void saveThenOpen_sameBytes_data();
    void saveThenOpen_sameBytes();
    void save_layout2_pullsPanelValues();
    void save_legacy_writesLegacyCopyWithChannelCurrents();
    void save_otherLayoutCode_writesLegacyCopy();
    void save_replacesExistingFile();
    void save_nameGetsBinSuffix_data();
    void save_nameGetsBinSuffix();
    void open_shortFile_refused_data();
    void open_shortFile_refused();
    void open_longFile_ignoresTail();
    void open_unopenable_reported_data();
    void open_unopenable_reported();
    void save_unwritableTarget_reportedOldFileIntact_data();
    void save_unwritableTarget_reportedOldFileIntact();
    void save_writeFailure_reportedOldFileIntact();
    void save_failureInChinese();
    void cancelledDialogs_silent();
    void drop_opensAsReadFile_data();
    void drop_opensAsReadFile();

  private:
    std::unique_ptr<panels::Bench> m_b;
    panels::Bench& b() { return *m_b; }
    myslider* channel(const char* name) { return b().child<myslider>(name); }
};

void TestWindowConfigFile::init()
{
    m_b = std::make_unique<panels::Bench>();
    QVERIFY(b().start());
}

void TestWindowConfigFile::cleanup()
{
    m_b.reset();
}

void TestWindowConfigFile::dialogs_captionsFilterAndProposedName_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QString>("proposed");
    QTest::newRow("plain") << QByteArray("ABC-1") << "ABC-1(2024-03-05,14-07-09)";
    QTest::newRow("slash") << QByteArray("A/B") << "A-B(2024-03-05,14-07-09)";
    QTest::newRow("two slashes") << QByteArray("X/Y/Z 40W") << "X-Y-Z 40W(2024-03-05,14-07-09)";
}

void TestWindowConfigFile::dialogs_captionsFilterAndProposedName()
{
    QFETCH(QByteArray, model);
    QFETCH(QString, proposed);

    QByteArray img = layout2Image();
    putModel(img, model);
    b().openBytes(img);
    QCOMPARE(b().dialogs.size(), 1);
    QCOMPARE(b().dialogs[0].mode, Vantory::FileDialogMode::Open);
    QCOMPARE(b().dialogs[0].caption, QStringLiteral("打开文件"));
    QCOMPARE(b().dialogs[0].proposed, QString());
    QCOMPARE(b().dialogs[0].filter, QStringLiteral("Config Files(*.bin)"));

    // The clock is stopped so that the stored time stays the test's.
    TestAccess::clockTimer(b().win())->stop();
    TestAccess::setCurrentTime(b().win(), QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
    b().savePath(QString()); // cancelled
    QCOMPARE(b().dialogs.size(), 2);
    QCOMPARE(b().dialogs[1].mode, Vantory::FileDialogMode::Save);
    QCOMPARE(b().dialogs[1].caption, QStringLiteral("保存文件"));
    QCOMPARE(b().dialogs[1].proposed, proposed);
    QCOMPARE(b().dialogs[1].filter, QStringLiteral("Config Files(*.bin)"));
}

void TestWindowConfigFile::open_loadsBothCopiesAndRefreshesPanels()
{
    const QByteArray img = demodrivers::memory(demodrivers::Kind::Dt8);
    b().openBytes(img);
    QVERIFY(b().boxes.isEmpty());
    QCOMPARE(bytesOf(b().image().image_v2), img);
    QCOMPARE(bytesOf(b().image().image_legacy), img);
    QCOMPARE(bytesOf(b().image().bank_buffer), img);
    QCOMPARE(b().text("Productlabel"), QStringLiteral("VDR-40-700 DALI-2 DT8 TW"));
    QCOMPARE(b().text("labelDeviceType"), QStringLiteral("DT8"));
    QCOMPARE(b().text("label_GearOperatingTime"), QStringLiteral("12345h"));
    QCOMPARE(b().child<QSpinBox>("CoolestspinBox")->value(), 6500);
    QCOMPARE(b().child<QSpinBox>("WormestspinBox")->value(), 2700);
    QCOMPARE(channel("Currentwidget_ch1")->value(), 350);
    QVERIFY(!TestAccess::notice(b().win())->isTicking());
}

void TestWindowConfigFile::saveThenOpen_sameBytes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("cctShownClamped");
    QTest::newRow("DT8 layout 2") << int(demodrivers::Kind::Dt8) << false;
    // The DT6 driver has no colour temperatures (zero) and no panel for them: kept as zero.
    QTest::newRow("DT6 layout 2") << int(demodrivers::Kind::Dt6) << false;
    QTest::newRow("legacy three channels") << int(demodrivers::Kind::Legacy3Ch) << false;
}

void TestWindowConfigFile::saveThenOpen_sameBytes()
{
    QFETCH(int, kind);
    QFETCH(bool, cctShownClamped);
    QByteArray img = demodrivers::memory(demodrivers::Kind(kind));
    b().openBytes(img);
    const QString saved = b().path(QStringLiteral("saved.bin"));
    b().savePath(saved);
    QVERIFY2(b().boxes.isEmpty(), qPrintable(b().boxes.join(QLatin1Char('\n'))));
    if (cctShownClamped) {
        putU16(img, 302, 1000);
        putU16(img, 304, 1000);
    }
    QCOMPARE(panels::Bench::readFile(saved), img);

    // A fresh window opening the file gets the same image.
    panels::Bench other;
    QVERIFY(other.start());
    other.openPath(saved);
    QCOMPARE(bytesOf(other.image().image_v2), img);
    QCOMPARE(bytesOf(other.image().image_legacy), img);
    const QString again = other.path(QStringLiteral("again.bin"));
    other.savePath(again);
    QCOMPARE(panels::Bench::readFile(again), img);
}

void TestWindowConfigFile::save_layout2_pullsPanelValues()
{
    b().openBytes(demodrivers::memory(demodrivers::Kind::Dt8));
    channel("Currentwidget_ch1")->setValue(500);
    b().child<QSpinBox>("CoolestspinBox")->setValue(5000);
    b().child<QSpinBox>("WormestspinBox")->setValue(3000);
    const QString p = b().path(QStringLiteral("l2.bin"));
    b().savePath(p);

    const QByteArray file = panels::Bench::readFile(p);
    QCOMPARE(file.size(), 512);
    QCOMPARE(u16(file, 264), uint16_t(500));
    QCOMPARE(u16(file, 302), uint16_t(5000));
    QCOMPARE(u16(file, 304), uint16_t(3000));
    // The last-current word is saved as it was; the bank buffer is not rebuilt for a save.
    QCOMPARE(u16(file, 490), uint16_t(349));
    QCOMPARE(file, bytesOf(b().image().image_v2));
    // A one-channel current goes into both copies.
    QCOMPARE(u16(b().image().image_legacy, 264), uint16_t(500));
}

void TestWindowConfigFile::save_legacy_writesLegacyCopyWithChannelCurrents()
{
    b().openBytes(demodrivers::memory(demodrivers::Kind::Legacy3Ch));
    channel("Currentwidget_ch2")->setValue(200);
    channel("Currentwidget_ch3")->setValue(333);
    // Colour temperatures live in the layout-2 copy and never reach a legacy file.
    b().child<QSpinBox>("CoolestspinBox")->setValue(6000);
    const QString p = b().path(QStringLiteral("legacy.bin"));
    b().savePath(p);

    const QByteArray file = panels::Bench::readFile(p);
    QCOMPARE(file.size(), 512);
    QCOMPARE(int(uint8_t(file.at(183))), 3);
    QCOMPARE(u16(file, 264), uint16_t(300));
    QCOMPARE(u16(file, 266), uint16_t(200));
    QCOMPARE(u16(file, 268), uint16_t(333));
    QCOMPARE(u16(file, 302), uint16_t(0));
    QCOMPARE(file, bytesOf(b().image().image_legacy));
    // Multi-channel currents, and the hidden colour-temperature panel, leave the layout-2
    // copy as it was.
    QCOMPARE(u16(b().image().image_v2, 266), uint16_t(250));
    QCOMPARE(u16(b().image().image_v2, 302), uint16_t(0));
}

void TestWindowConfigFile::save_otherLayoutCode_writesLegacyCopy()
{
    // No file has such a code, but a driver read may: the image takes it as a read would.
    b().openBytes(demodrivers::memory(demodrivers::Kind::Legacy3Ch));
    TestAccess::editImage(b().win(), [](TagImage& image) {
        image.image_v2[183] = 7;
        image.image_legacy[183] = 7;
    });
    channel("Currentwidget_ch3")->setValue(480);
    b().child<QSpinBox>("CoolestspinBox")->setValue(6000);
    const QString p = b().path(QStringLiteral("seven.bin"));
    b().savePath(p);
    QVERIFY(b().boxes.isEmpty());
    const QByteArray file = panels::Bench::readFile(p);
    QCOMPARE(file.size(), 512);
    QCOMPARE(file, bytesOf(b().image().image_legacy));
    QCOMPARE(int(uint8_t(file.at(183))), 7);
    QCOMPARE(u16(file, 268), uint16_t(480));
    QCOMPARE(u16(file, 302), uint16_t(0));
}

void TestWindowConfigFile::save_replacesExistingFile()
{
    const QString p = b().writeFile(QStringLiteral("old.bin"), QByteArray(900, 'x'));
    b().openBytes(demodrivers::memory(demodrivers::Kind::Dt8));
    b().savePath(p);
    QVERIFY(b().boxes.isEmpty());
    QCOMPARE(panels::Bench::readFile(p), demodrivers::memory(demodrivers::Kind::Dt8));
}

void TestWindowConfigFile::save_nameGetsBinSuffix_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("saved");
    QTest::newRow("dot in the model name")
        << "VDR-1.5A(2024-03-05,14-07-09)" << "VDR-1.5A(2024-03-05,14-07-09).bin";
    QTest::newRow("no dot") << "batch" << "batch.bin";
    QTest::newRow("already .bin") << "batch.bin" << "batch.bin";
    QTest::newRow("upper case") << "batch.BIN" << "batch.BIN";
    QTest::newRow("other suffix") << "batch.bin.old" << "batch.bin.old.bin";
}

void TestWindowConfigFile::save_nameGetsBinSuffix()
{
    QFETCH(QString, chosen);
    QFETCH(QString, saved);
    b().openBytes(demodrivers::memory(demodrivers::Kind::Dt8));
    b().savePath(b().path(chosen));
    QVERIFY(b().boxes.isEmpty());
    QCOMPARE(panels::Bench::readFile(b().path(saved)),
             demodrivers::memory(demodrivers::Kind::Dt8));
    if (saved != chosen)
        QVERIFY(!QFile::exists(b().path(chosen)));
}

void TestWindowConfigFile::open_shortFile_refused_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("lang");
    QTest::addColumn<QString>("needle");
    QTest::newRow("empty") << 0 << 0 << "is only 0 bytes long";
    QTest::newRow("one byte") << 1 << 0 << "is only 1 bytes long";
    QTest::newRow("256 bytes") << 256 << 0 << "is only 256 bytes long";
    QTest::newRow("511 bytes") << 511 << 0 << "is only 511 bytes long";
    QTest::newRow("511 bytes, Chinese") << 511 << 1 << "只有 511 字节";
}

void TestWindowConfigFile::open_shortFile_refused()
{
    QFETCH(int, size);
    QFETCH(int, lang);
    QFETCH(QString, needle);

    b().openBytes(demodrivers::memory(demodrivers::Kind::Dt8));
    const TagImage before = b().image();
    const QString model = b().text("Productlabel");
    const int current = channel("Currentwidget_ch1")->value();

    TestAccess::setLanguageFlag(b().win(), lang != 0);
    QByteArray shortFile = demodrivers::memory(demodrivers::Kind::Legacy3Ch).left(size);
    b().openBytes(shortFile, QStringLiteral("short.bin"));

    QCOMPARE(b().boxes.size(), 1);
    const QString box = b().boxes.first();
    QVERIFY2(box.contains(needle), qPrintable(box));
    QVERIFY2(box.contains(QStringLiteral("short.bin")), qPrintable(box));
    QVERIFY(box.startsWith(lang ? QStringLiteral("警告！|") : QStringLiteral("Warning!|")));
    QVERIFY(b().image().image_v2 == before.image_v2);
    QVERIFY(b().image().image_legacy == before.image_legacy);
    QVERIFY(b().image().bank_buffer == before.bank_buffer);
    QCOMPARE(b().text("Productlabel"), model);
    QCOMPARE(b().text("labelDeviceType"), QStringLiteral("DT8"));
    QCOMPARE(channel("Currentwidget_ch1")->value(), current);
    QVERIFY(!b().visible("Currentwidget_ch2"));
}

void TestWindowConfigFile::open_longFile_ignoresTail()
{
    const QByteArray img = demodrivers::memory(demodrivers::Kind::Dt6);
    b().openBytes(img + QByteArray(4096, char(0xEE)));
    QVERIFY(b().boxes.isEmpty());
    QCOMPARE(bytesOf(b().image().image_v2), img);
    QCOMPARE(bytesOf(b().image().image_legacy), img);
    QCOMPARE(b().text("labelDeviceType"), QStringLiteral("DT6"));
}

void TestWindowConfigFile::open_unopenable_reported_data()
{
    QTest::addColumn<QString>("which");
    QTest::newRow("missing file") << "missing";
    QTest::newRow("a directory") << "directory";
}

void TestWindowConfigFile::open_unopenable_reported()
{
    QFETCH(QString, which);
    b().openBytes(demodrivers::memory(demodrivers::Kind::Dt8));
    const TagImage before = b().image();

    QString p = b().path(QStringLiteral("nothing-here.bin"));
    if (which == QLatin1String("directory")) {
        p = b().path(QStringLiteral("folder.bin"));
        QVERIFY(QDir().mkpath(p));
    }
    b().openPath(p);
    QCOMPARE(b().boxes.size(), 1);
    QVERIFY2(b().boxes.first().startsWith(QStringLiteral("Warning!|Cannot open the file")),
             qPrintable(b().boxes.first()));
    QVERIFY(b().image().image_v2 == before.image_v2);
    QVERIFY(b().image().image_legacy == before.image_legacy);
}

void TestWindowConfigFile::save_unwritableTarget_reportedOldFileIntact_data()
{
    QTest::addColumn<QString>("which");
    // Works for any user, root included: the temporary file beside a name of the longest
    // length the file system allows cannot be created.
    QTest::newRow("no room for the temporary file") << "longname";
    QTest::newRow("target is a directory") << "directory";
    QTest::newRow("missing directory") << "missing";
}

void TestWindowConfigFile::save_unwritableTarget_reportedOldFileIntact()
{
    QFETCH(QString, which);
    const QByteArray old = QByteArray("previous configuration") + QByteArray(490, '\x5A');

    QString p;
    if (which == QLatin1String("longname")) {
        p = b().writeFile(QString(251, QLatin1Char('c')) + QStringLiteral(".bin"), old);
        QCOMPARE(panels::Bench::readFile(p), old);
    } else if (which == QLatin1String("directory")) {
        p = b().path(QStringLiteral("adir.bin"));
        QVERIFY(QDir().mkpath(p));
    } else {
        p = b().path(QStringLiteral("no/such/dir/x.bin"));
    }
    const QStringList before =
        QDir(b().dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    b().openBytes(demodrivers::memory(demodrivers::Kind::Dt8), QStringLiteral("src.bin"));
    const QStringList withSource =
        QDir(b().dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    b().savePath(p);

    QCOMPARE(b().boxes.size(), 1);
    QVERIFY2(b().boxes.first().startsWith(QStringLiteral("Warning!|Cannot save the file")),
             qPrintable(b().boxes.first()));
    QVERIFY(b().boxes.first().contains(QDir::toNativeSeparators(p)));
    if (which == QLatin1String("longname"))
        QCOMPARE(panels::Bench::readFile(p), old);
    if (which == QLatin1String("directory"))
        QVERIFY(QFileInfo(p).isDir());
    if (which == QLatin1String("missing"))
        QVERIFY(!QFileInfo::exists(p));
    // No temporary file is left behind.
    QCOMPARE(QDir(b().dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), withSource);
    QCOMPARE(withSource.size(), before.size() + 1);
}

void TestWindowConfigFile::save_writeFailure_reportedOldFileIntact()
{
#ifdef Q_OS_LINUX
    // A file-size limit below 512 bytes makes the write itself fail, as a full disk does.
    const QByteArray old = QByteArray(512, '\x33');
    const QString p = b().writeFile(QStringLiteral("kept.bin"), old);
    b().openBytes(demodrivers::memory(demodrivers::Kind::Dt8), QStringLiteral("src.bin"));
    const QStringList files = QDir(b().dir.path()).entryList(QDir::Files);

    rlimit saved{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
    rlimit small = saved;
    small.rlim_cur = 100;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    b().savePath(p);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    QCOMPARE(b().boxes.size(), 1);
    QVERIFY2(b().boxes.first().startsWith(QStringLiteral("Warning!|Cannot save the file")),
             qPrintable(b().boxes.first()));
    QCOMPARE(panels::Bench::readFile(p), old);
    QCOMPARE(QDir(b().dir.path()).entryList(QDir::Files), files);
#else
    QSKIP("needs a file-size limit (Linux)");
#endif
}

void TestWindowConfigFile::save_failureInChinese()
{
    TestAccess::setLanguageFlag(b().win(), true);
    b().savePath(b().path(QStringLiteral("no/dir/x.bin")));
    QCOMPARE(b().boxes.size(), 1);
    QVERIFY2(b().boxes.first().startsWith(QStringLiteral("警告！|无法保存文件")),
             qPrintable(b().boxes.first()));
}

void TestWindowConfigFile::cancelledDialogs_silent()
{
    b().openBytes(demodrivers::memory(demodrivers::Kind::Dt8));
    const TagImage before = b().image();
    const QStringList files = QDir(b().dir.path()).entryList(QDir::Files);

    channel("Currentwidget_ch1")->setValue(600);
    b().child<QSpinBox>("CoolestspinBox")->setValue(7000);
    b().openPath(QString());
    b().savePath(QString());

    QCOMPARE(b().dialogs.size(), 3);
    QVERIFY(b().boxes.isEmpty());
    QVERIFY(!TestAccess::notice(b().win())->isTicking());
    // Nothing was pulled into the image, nothing written.
    QVERIFY(b().image().image_v2 == before.image_v2);
    QVERIFY(b().image().image_legacy == before.image_legacy);
    QCOMPARE(QDir(b().dir.path()).entryList(QDir::Files), files);
    QCOMPARE(channel("Currentwidget_ch1")->value(), 600);
}

QTEST_MAIN(TestWindowConfigFile)
// A file dropped on the window: one .bin file opens as Read File does, with the same
// checks and messages; anything else is not taken.
void TestWindowConfigFile::drop_opensAsReadFile_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("box");
    QTest::newRow(".bin") << QStringList{"dt8.bin"} << 512 << true << QString();
    QTest::newRow(".BIN") << QStringList{"DT8.BIN"} << 512 << true << QString();
    QTest::newRow("short .bin") << QStringList{"short.bin"} << 100 << true
                                << QStringLiteral("only 100 bytes");
    QTest::newRow(".txt") << QStringList{"dt8.txt"} << 512 << false << QString();
    QTest::newRow("two files") << QStringList{"a.bin", "b.bin"} << 512 << false << QString();
}

void TestWindowConfigFile::drop_opensAsReadFile()
{
    QFETCH(QStringList, names);
    QFETCH(int, size);
    QFETCH(bool, accepted);
    QFETCH(QString, box);
    const QByteArray dt8 = demodrivers::memory(demodrivers::Kind::Dt8);
    QList<QUrl> urls;
    for (const QString& name : names)
        urls << QUrl::fromLocalFile(b().writeFile(name, dt8.left(size)));
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&b().win(), &enter);
    QCOMPARE(enter.isAccepted(), accepted);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&b().win(), &drop);

    QVERIFY(b().dialogs.isEmpty());
    QCOMPARE(b().boxes.size(), box.isEmpty() ? 0 : 1);
    if (!box.isEmpty())
        QVERIFY2(b().boxes.first().contains(box), qPrintable(b().boxes.first()));
    const bool loaded = accepted && box.isEmpty();
    const auto& v2 = b().image().image_v2;
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(v2.data()), 256) == dt8.left(256), loaded);
    QCOMPARE(b().text("labelDeviceType") == QStringLiteral("DT8"), loaded);
}

#include "test_window_configfile.moc"
