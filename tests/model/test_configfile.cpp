// Configuration file rules: proposed name, loading with repair, saving by layout, and
// damaged input.
#include "engine/crc32.h"
#include "model/codecs.h"
#include "model/configfile.h"
#include "model/constlumen.h"
#include "model/productionrecord.h"
#include "model/tagfields.h"
#include "model/tagimage.h"
#include "readers/sim/demodrivers.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace configfile;

namespace
{

QByteArray slice(const TagImage::Bytes& b, int from, int count)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()) + from, count);
}

// A plausible layout-2 DT8 image with a valid constant-lumen table.
QByteArray layout2File(uint8_t driverType)
{
    QByteArray f(512, 0);
    for (int i = 0; i < 512; ++i)
        f[i] = char((i * 13 + 1) & 0xFF);
    f[89] = 1;
    f[183] = 2;
    f[192] = char(driverType);
    f.replace(195, 32, QByteArray("ABC-1").leftJustified(32, '\0'));
    const auto t = constlumen::initialTimes();
    const auto l = constlumen::initialLevels();
    for (int i = 0; i < 16; ++i) {
        f[284 + i] = char(t[size_t(i)]);
        f[268 + i] = char(l[size_t(i)]);
    }
    return f;
}

bool sameImage(const TagImage& a, const TagImage& b)
{
    return a.image_v2 == b.image_v2 && a.image_legacy == b.image_legacy &&
           a.bank_buffer == b.bank_buffer;
}

} // namespace

class TestConfigFile : public QObject
{
    Q_OBJECT

  private slots:
    void proposedName_data();
    void proposedName();
    void filter();
    void saveThenLoad_roundTrips_data();
    void saveThenLoad_roundTrips();
    void load_fillsBothCopies_dropsPanelEdits();
    void save_legacyLayout_savesLegacyCopy();
    void save_otherLayoutCode_savesLegacyCopy_data();
    void save_otherLayoutCode_savesLegacyCopy();
    void load_layout2Dt8_badFirstTime_isRepairedInBothCopies();
    void load_repairOnlyForLayout2Dt6Dt8_data();
    void load_repairOnlyForLayout2Dt6Dt8();
    void load_extraBytes_areIgnored();
    void load_damagedFiles_data();
    void load_damagedFiles();
    void checks_passEveryRealConfiguration();
    void recordLine_data();
    void recordLine();
    void recordLine_verification_data();
    void recordLine_verification();
    void recordFile_twoProgramsAppendAtOnce();
};

void TestConfigFile::proposedName_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << QStringLiteral("ABC-1")
                           << QStringLiteral("ABC-1(2024-03-05,14-07-09)");
    QTest::newRow("slash") << QStringLiteral("A/B") << QStringLiteral("A-B(2024-03-05,14-07-09)");
    QTest::newRow("slashes") << QStringLiteral("/x//y/")
                             << QStringLiteral("-x--y-(2024-03-05,14-07-09)");
    QTest::newRow("empty") << QString() << QStringLiteral("(2024-03-05,14-07-09)");
}

void TestConfigFile::proposedName()
{
    QFETCH(QString, model);
    QFETCH(QString, expected);
    const QDateTime at(QDate(2024, 3, 5), QTime(14, 7, 9));
    QCOMPARE(proposedFileName(model, at), expected);
}

void TestConfigFile::filter()
{
    QCOMPARE(fileFilter(), QStringLiteral("Config Files(*.bin)"));
}

void TestConfigFile::saveThenLoad_roundTrips_data()
{
    QTest::addColumn<int>("layout");
    QTest::newRow("layout 2") << 2;
    QTest::newRow("layout 3") << 3;
    QTest::newRow("layout 0") << 0;
}

void TestConfigFile::saveThenLoad_roundTrips()
{
    QFETCH(int, layout);
    QByteArray f = layout2File(6);
    f[183] = char(layout);
    TagImage a;
    // An image of another layout code (a blank driver read) saves its legacy copy, but no
    // configuration file has such a code: opened, it is refused.
    QVERIFY(configfile::loadConfig(layout2File(6), a).ok());
    a.image_v2[183] = a.image_legacy[183] = uint8_t(layout);
    const QByteArray saved = saveBytes(a);
    if (layout == 0) {
        QCOMPARE(loadConfig(saved, a).error, LoadError::UnknownLayout);
        return;
    }
    QCOMPARE(saved.size(), 512);
    QCOMPARE(saved, f);

    TagImage b;
    const LoadResult r = loadConfig(saved, b);
    QVERIFY(r.ok());
    QVERIFY(!r.repaired);
    QCOMPARE(saveBytes(b), saved);
    QCOMPARE(b.image_v2, a.image_v2);
    QCOMPARE(b.image_legacy, a.image_legacy);
}

void TestConfigFile::load_fillsBothCopies_dropsPanelEdits()
{
    TagImage img;
    img.image_legacy[266] = 0x77; // an earlier legacy-only edit must not survive a load
    img.image_v2[248] = 0x55;
    img.bank_buffer.fill(0xEE);
    const QByteArray f = layout2File(0);
    QVERIFY(loadConfig(f, img).ok());
    QCOMPARE(slice(img.image_v2, 0, 512), f);
    QCOMPARE(slice(img.image_legacy, 0, 512), f);
    // The bank buffer is the caller's to rebuild.
    QCOMPARE(img.bank_buffer[0], uint8_t(0xEE));
}

void TestConfigFile::save_legacyLayout_savesLegacyCopy()
{
    TagImage img;
    QByteArray f = layout2File(8);
    f[183] = 3;
    f[89] = 3;
    QVERIFY(loadConfig(f, img).ok());
    // Channel 2 and 3 currents edited in the panel live in the legacy copy only.
    codecs::writeU16(img.image_legacy, 266, 320);
    codecs::writeU16(img.image_legacy, 268, 330);
    const QByteArray saved = saveBytes(img);
    QCOMPARE(saved, slice(img.image_legacy, 0, 512));
    QCOMPARE(codecs::byteAt(saved, 267), uint8_t(320 & 0xFF));
    QCOMPARE(codecs::byteAt(saved, 269), uint8_t(330 & 0xFF));
    QVERIFY(saved != slice(img.image_v2, 0, 512));
}

void TestConfigFile::save_otherLayoutCode_savesLegacyCopy_data()
{
    QTest::addColumn<int>("layout");
    QTest::newRow("0") << 0;
    QTest::newRow("1") << 1;
    QTest::newRow("4") << 4;
    QTest::newRow("255") << 255;
}

void TestConfigFile::save_otherLayoutCode_savesLegacyCopy()
{
    QFETCH(int, layout);
    TagImage img;
    img.image_v2[183] = uint8_t(layout);
    img.image_legacy[183] = uint8_t(layout);
    img.image_legacy[300] = 0x42;
    img.image_v2[300] = 0x24;
    const QByteArray saved = saveBytes(img);
    QCOMPARE(saved.size(), 512);
    QCOMPARE(saved, slice(img.image_legacy, 0, 512));
}

void TestConfigFile::load_layout2Dt8_badFirstTime_isRepairedInBothCopies()
{
    QByteArray f = layout2File(8);
    f[284] = 9; // first time not 0
    f[287] = 2; // and a drop later on
    TagImage img;
    const LoadResult r = loadConfig(f, img);
    QVERIFY(r.ok());
    QVERIFY(r.repaired);
    QCOMPARE(int(img.image_v2[284]), 0);
    QCOMPARE(int(img.image_v2[287]), 11);
    QCOMPARE(slice(img.image_legacy, 256, 256), slice(img.image_v2, 256, 256));
    QCOMPARE(constlumen::times(img)[15], uint8_t(75));
    // Nothing but the times moved.
    f[284] = 0;
    f[287] = 11;
    QCOMPARE(slice(img.image_v2, 0, 512), f);
}

void TestConfigFile::load_repairOnlyForLayout2Dt6Dt8_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("repaired");
    QTest::newRow("v2 DT6") << 2 << 6 << true;
    QTest::newRow("v2 DT8") << 2 << 8 << true;
    QTest::newRow("v2 ONOFF") << 2 << 0 << false;
    QTest::newRow("v2 RGB") << 2 << 0x38 << false;
    QTest::newRow("legacy DT8") << 3 << 8 << false;
}

void TestConfigFile::load_repairOnlyForLayout2Dt6Dt8()
{
    QFETCH(int, layout);
    QFETCH(int, type);
    QFETCH(bool, repaired);
    QByteArray f = layout2File(uint8_t(type));
    f[183] = char(layout);
    f[286] = 3; // 0, 5, 3, 15 ...
    TagImage img;
    const LoadResult r = loadConfig(f, img);
    QVERIFY(r.ok());
    QCOMPARE(r.repaired, repaired);
    QCOMPARE(int(img.image_v2[286]), repaired ? 6 : 3);
    QCOMPARE(img.image_legacy[286], img.image_v2[286]);
}

void TestConfigFile::load_extraBytes_areIgnored()
{
    const QByteArray f = layout2File(0);
    TagImage img;
    QVERIFY(loadConfig(f + QByteArray(100, char(0xFF)), img).ok());
    QCOMPARE(slice(img.image_v2, 0, 512), f);
}

void TestConfigFile::load_damagedFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("accepted");
    QRandomGenerator rng(20240305);
    auto garbage = [&rng](int n) {
        QByteArray b(n, 0);
        for (int i = 0; i < n; ++i)
            b[i] = char(rng.bounded(256));
        return b;
    };
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("1 byte") << QByteArray(1, char(2)) << false;
    QTest::newRow("255") << garbage(255) << false;
    QTest::newRow("511") << garbage(511) << false;
    QTest::newRow("511 of a good file") << layout2File(8).left(511) << false;
    // Garbage is no configuration: the layout code or the model name gives it away.
    QTest::newRow("512 garbage") << garbage(512) << false;
    QTest::newRow("513 garbage") << garbage(513) << false;
    QTest::newRow("4096 garbage") << garbage(4096) << false;
    QByteArray hostile = garbage(512);
    hostile[183] = 2;
    hostile[192] = 8;
    hostile[195] = 0; // an empty model name
    for (int i = 284; i < 300; ++i)
        hostile[i] = char(0xFF - (i - 284)); // times falling from 255
    QTest::newRow("layout 2 DT8 falling times") << hostile << true;
    QTest::newRow("all 0xFF") << QByteArray(512, char(0xFF)) << false;
}

void TestConfigFile::load_damagedFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, accepted);
    TagImage img;
    img.image_legacy[10] = 0x5A;
    const TagImage before = img;
    // Hold the bytes in a buffer of exactly their size so a sanitizer sees overreads.
    const QByteArray exact(file.constData(), file.size());
    const LoadResult r = loadConfig(exact, img);
    QCOMPARE(r.ok(), accepted);
    if (!accepted) {
        QCOMPARE(r.error == LoadError::TooShort, exact.size() < 512);
        QVERIFY(!r.repaired);
        QVERIFY(sameImage(img, before));
        return;
    }
    QCOMPARE(slice(img.image_legacy, 0, 256), exact.left(256));
    QCOMPARE(slice(img.image_legacy, 256, 256), slice(img.image_v2, 256, 256));
    QCOMPARE(saveBytes(img).size(), 512);
    if (img.isLayout2() && (img.image_v2[192] == 6 || img.image_v2[192] == 8)) {
        // After a repair the times never fall.
        const auto t = constlumen::times(img);
        QCOMPARE(int(t[0]), 0);
        for (int i = 1; i < 16; ++i)
            QVERIFY2(t[size_t(i)] >= t[size_t(i - 1)] || t[size_t(i - 1)] > 100,
                     qPrintable(QStringLiteral("time %1").arg(i)));
    }
}

// Every configuration the program saves passes the checks: the demo drivers' as saved
// after their read, and the start image; the file fuzzer's seeds in tst_fuzzcorpus.
void TestConfigFile::checks_passEveryRealConfiguration()
{
    QVector<QByteArray> files{saveBytes(TagImage())};
    for (const demodrivers::Info& driver : demodrivers::all())
        files << demodrivers::configurationFile(driver.kind);
    for (const QByteArray& file : files)
        QCOMPARE(int(checkConfig(file).error), int(LoadError::None));
}

QTEST_GUILESS_MAIN(TestConfigFile)
// One production-record line per outcome: RFC 4180 quoting, the UID most significant
// byte first, the currents only when the drive area went out.
void TestConfigFile::recordLine_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("driveArea");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("foundModel");
    QTest::addColumn<QString>("expected");
    const QString head = QStringLiteral("2026-03-05T14:07:09+08:00,Vantory 1.1.2,R321,Write,"
                                        "E0045001020304AA,P,2,");
    const QByteArray xyz = "XYZ-9";
    QTest::newRow("written") << int(record::Result::Written) << true << "AB12EF" << xyz
                             << head + "ABC-1,0,0-0,520,on,2700-6500,AB12EF,Written,812";
    // Nothing was given to the driver: no currents, no lumen state, no colour temperature.
    QTest::newRow("quoted source")
        << int(record::Result::NoTagResponse) << true << "灯具,\"新\".bin" << xyz
        << head + "ABC-1,0,0-0,,,,\"灯具,\"\"新\"\".bin\","
                  "No tag response,812";
    QTest::newRow("8 tag, product area only") << int(record::Result::WriteFailed) << false << ""
                                              << xyz << head + "ABC-1,0,0-0,,,,,Write failed,812";
    QTest::newRow("other model") << int(record::Result::OtherModel) << true << "" << xyz
                                 << head + "XYZ-9,,,,,,,Other model refused,812";
    QTest::newRow("interrupted") << int(record::Result::Interrupted) << true << "a.bin" << xyz
                                 << head + "ABC-1,0,0-0,,,,a.bin,"
                                           "Interrupted (window closed),812";
    // Text from a tag or a file name that a spreadsheet would run as a formula shows as text.
    QTest::newRow("formula model")
        << int(record::Result::OtherModel) << true << "" << QByteArray("=2+5+cmd|' /C calc'!A0")
        << head + "\"'=2+5+cmd|' /C calc'!A0\",,,,,,,"
                  "Other model refused,812";
    QTest::newRow("plus model, at source")
        << int(record::Result::OtherModel) << true << "@SUM(A1).bin" << QByteArray("+1")
        << head + "\"'+1\",,,,,,\"'@SUM(A1).bin\","
                  "Other model refused,812";
    QTest::newRow("minus source") << int(record::Result::Written) << true << "-2+3,x.bin" << xyz
                                  << head + "ABC-1,0,0-0,520,on,2700-6500,\"'-2+3,x.bin\","
                                            "Written,812";
    QTest::newRow("tab model") << int(record::Result::OtherModel) << true << ""
                               << QByteArray("\t=1")
                               << head + "\"'\t=1\",,,,,,,Other model refused,812";
    // Byte 267 of the legacy layout belongs to channel 2's current: no lumen state.
    QTest::newRow("legacy layout") << int(record::Result::Written) << true << "l.bin" << xyz
                                   << "legacy";
}

void TestConfigFile::recordLine()
{
    QFETCH(int, result);
    QFETCH(bool, driveArea);
    QFETCH(QString, source);
    QFETCH(QByteArray, foundModel);
    QFETCH(QString, expected);
    record::Outcome o;
    o.started = QDateTime(QDate(2026, 3, 5), QTime(14, 7, 9), Qt::OffsetFromUTC, 8 * 3600);
    o.readerType = ReaderType::R321;
    o.readerId = QStringLiteral("R321-0042");
    o.uidMsbFirst = QByteArray::fromHex("E0045001020304AA");
    o.chipCode = tagfields::ChipP;
    QByteArray image(512, '\0');
    image[183] = 2;
    image[192] = 8; // DT8: constant lumen and colour temperature
    image.replace(195, 5, "ABC-1");
    image[264] = 0x02; // 520 mA
    image[265] = 0x08;
    image[267] = 1;
    image[302] = 0x19; // 6500 K coolest, 2700 K warmest
    image[303] = 0x64;
    image[304] = 0x0A;
    image[305] = 0x8C;
    o.image = image;
    o.driveAreaSent = driveArea;
    o.foundModel = foundModel.leftJustified(32, '\0');
    o.cause = QStringLiteral("window closed");
    o.templateSource = source;
    o.result = static_cast<record::Result>(result);
    o.durationMs = 812;
    if (expected == QLatin1String("legacy")) {
        o.image[183] = 3;
        const record::Entry e = record::entryFor(o, QString());
        QCOMPARE(e.currents + e.constantLumen + e.cctRange, QStringLiteral("520"));
        return;
    }
    const record::Entry e = record::entryFor(o, QStringLiteral("Vantory 1.1.2"));
    // Nothing read back: not proven, no CRC, no block acknowledged; the reader's identity last.
    QCOMPARE(QString::fromUtf8(record::csvLine(e)),
             expected + QStringLiteral(",no,,0,R321-0042\r\n"));
    QCOMPARE(record::fileName(e.day), QStringLiteral("vantory-record-2026-03-05.csv"));
}

void TestConfigFile::recordLine_verification_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("verification");
    QTest::addColumn<int>("block");
    QTest::addColumn<bool>("readBack");
    QTest::addColumn<QString>("tail");
    using record::Result;
    using record::Verification;
    QTest::newRow("proven") << int(Result::Written) << int(Verification::Proven) << -1 << true
                            << "Written,5,yes,CBF43926";
    QTest::newRow("off") << int(Result::Written) << int(Verification::Off) << -1 << false
                         << "Written,5,off,";
    QTest::newRow("differs") << int(Result::VerifyFailed) << int(Verification::NotProven) << 101
                             << true << "Verify failed (block 101),5,no,CBF43926";
    QTest::newRow("unanswered") << int(Result::VerifyFailed) << int(Verification::NotProven) << 64
                                << false << "Verify failed (block 64),5,no,";
}

void TestConfigFile::recordLine_verification()
{
    QFETCH(int, result);
    QFETCH(int, verification);
    QFETCH(int, block);
    QFETCH(bool, readBack);
    QFETCH(QString, tail);
    record::Outcome o;
    o.started = QDateTime(QDate(2026, 3, 5), QTime(14, 7, 9));
    o.result = static_cast<record::Result>(result);
    o.verification = static_cast<record::Verification>(verification);
    o.verifyBlock = block;
    o.durationMs = 5;
    if (readBack)
        o.writtenCrc = crc32::ieee("123456789"); // the check value of the CRC
    o.blocksWritten = 7;
    const QString line = QString::fromUtf8(record::csvLine(record::entryFor(o, "V")));
    QVERIFY2(line.endsWith(tail + QStringLiteral(",7,\r\n")), qPrintable(line));
    // New columns come last, so that older files keep their columns in place.
    QCOMPARE(record::columnNames().mid(16),
             (QStringList{QStringLiteral("Verified"), QStringLiteral("Written CRC-32"),
                          QStringLiteral("Blocks written"), QStringLiteral("Reader ID")}));
    QCOMPARE(line.count(QLatin1Char(',')) + 1, record::columnNames().size());
}

// Two programs that start a batch of new day files at the same moment: each file gets one
// byte-order mark and one header, and every line arrives whole, once.
void TestConfigFile::recordFile_twoProgramsAppendAtOnce()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    constexpr int kLines = 1200;
    constexpr int kDays = 200;
    const qint64 start = QDateTime::currentMSecsSinceEpoch() + 500;
    QProcess a;
    QProcess b;
    for (QProcess* p : {&a, &b})
        p->start(QStringLiteral(RECORD_APPENDER_PATH),
                 {dir.path(), p == &a ? QStringLiteral("A") : QStringLiteral("B"),
                  QString::number(kLines), QString::number(kDays), QString::number(start)});
    for (QProcess* p : {&a, &b}) {
        QVERIFY(p->waitForFinished(120000));
        QCOMPARE(p->exitCode(), 0);
    }
    QSet<QString> seen;
    const QByteArray bom = "\xEF\xBB\xBF";
    for (int d = 0; d < kDays; ++d) {
        QFile file(QDir(dir.path()).filePath(record::fileName(QDate(2031, 1, 1).addDays(d))));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray all = file.readAll();
        QVERIFY2(all.startsWith(bom + record::headerLine()), qPrintable(file.fileName()));
        QCOMPARE(all.count(bom), 1);
        QCOMPARE(all.count(record::headerLine()), 1);
        QVERIFY(all.endsWith("\r\n"));
        const QList<QByteArray> lines = all.mid(bom.size()).split('\n');
        for (int i = 1; i < lines.size() - 1; ++i) {
            const QStringList cells = QString::fromUtf8(lines.at(i)).trimmed().split(',');
            QCOMPARE(cells.size(), record::columnNames().size());
            QCOMPARE(cells.at(14), QStringLiteral("Written"));
            QVERIFY2(!seen.contains(cells.at(13)), qPrintable(cells.at(13)));
            seen.insert(cells.at(13));
        }
    }
    QCOMPARE(seen.size(), 2 * kLines);
}

#include "test_configfile.moc"
