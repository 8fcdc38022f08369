// The built vantory-cli, run as its own process as a station script runs it. Without
// --simulate it is on the real reader transports: hidapi is the stand-in
// libhidapi-hidraw.so.0 that the dynamic linker finds first on LD_LIBRARY_PATH, FEIG's
// library the stand-in libfeusb.so that the program finds next to itself. Behind each a
// simulated reader keeps its tags in files (standinfield.h), so the bytes a command left on
// a driver are checked after the process has ended. With --simulate: output files, JSON,
// arguments and the rehearsed faults.
#include "engine/writeplan.h"
#include "model/tagfields.h"
#include "readers/sim/demodrivers.h"
#include "standin/standintags.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

using namespace standintags;

class TstCliRealReaders : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase();
    void command_data();
    void command();
    void secondInterrupt_recordsTheWriteAndLeaves_data();
    void secondInterrupt_recordsTheWriteAndLeaves();
    void firstSignal_autoWriteFinishesTheWrite_data();
    void firstSignal_autoWriteFinishesTheWrite();
    void station_data();
    void station();
    void fastBatch_writesOnlyWhatDiffers_data();
    void fastBatch_writesOnlyWhatDiffers();
    void twoReaders_data();
    void twoReaders();

  private:
    // Lays one driver (UID ending in `last`) on `reader`'s stand-in field, writes the
    // configuration beside it and starts the program with `command` on it, writing the
    // record under the folder; returns the tag file, empty when a step failed.
    QString startOnOneDriver(QProcess& cli, const QTemporaryDir& dir, const QString& reader,
                             quint8 last, const QString& command);
    // The lines of the one day file of the record kept under `dir`, header first.
    static QList<QByteArray> recordLines(const QTemporaryDir& dir);
    QTemporaryDir m_bin;
    QString m_cli;
};

void TstCliRealReaders::initTestCase()
{
    // The program and FEIG's library side by side, as a technician installs them.
    QVERIFY(m_bin.isValid());
    m_cli = m_bin.filePath(QStringLiteral("vantory-cli"));
    QVERIFY(QFile::copy(QStringLiteral(VANTORY_CLI_PATH), m_cli));
    QVERIFY(QFile::copy(QStringLiteral(STANDIN_FEUSB_PATH), m_bin.filePath("libfeusb.so")));
    QVERIFY(QFile::setPermissions(m_cli, QFile::permissions(m_cli) | QFile::ExeOwner));
}

void TstCliRealReaders::command_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("command");
    for (const char* reader : {"r321", "feig"})
        for (const char* command : {"readers", "read", "write", "auto-write"})
            QTest::addRow("%s %s", reader, command) << reader << command;
}

void TstCliRealReaders::command()
{
    QFETCH(QString, reader);
    QFETCH(QString, command);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString config = dir.filePath(QStringLiteral("config.bin"));
    QVERIFY(writeFile(config, configuration()));
    const int drivers = command == QLatin1String("auto-write") ? 2 : 1;
    QStringList tagFiles;
    for (int i = 0; i < drivers; ++i) {
        tagFiles << dir.filePath(QStringLiteral("tag%1").arg(i));
        QVERIFY(writeTagFile(tagFiles.last(), uid(0x10 + i), driverOnLine()));
    }

    QStringList args{command};
    const QString saved = dir.filePath(QStringLiteral("saved.bin"));
    if (command == QLatin1String("read"))
        args << "--reader" << reader << "--json"
             << "-o" << saved;
    else if (command == QLatin1String("write"))
        args << config << "--reader" << reader << "--current"
             << QStringLiteral("1=%1").arg(kCurrent);
    else if (command == QLatin1String("auto-write"))
        args << config << "--reader" << reader << "--current"
             << QStringLiteral("1=%1").arg(kCurrent) << "--count" << QString::number(drivers);

    QProcess cli;
    QProcessEnvironment env = environmentFor(reader, tagFiles.join(QLatin1Char(':')));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    cli.setProcessEnvironment(env);
    cli.start(m_cli, args);
    QVERIFY(cli.waitForFinished(60000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0,
             qPrintable(QStringLiteral("exit %1\n%2\n%3").arg(cli.exitCode()).arg(out, err)));

    if (command == QLatin1String("readers")) {
        // Found through the transports the program was given, not a simulator of its own.
        QVERIFY2(out.contains(QStringLiteral("R321-0042  /dev/vantory-standin/hidraw1  R321\n  "
                                             "R321-0043  /dev/vantory-standin/hidraw2  R321\n")),
                 qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("library loaded, a reader answers")), qPrintable(out));
        QCOMPARE(tagMemory(tagFiles.first()), driverOnLine());
        return;
    }
    if (command == QLatin1String("read")) {
        const QJsonObject report = QJsonDocument::fromJson(out.toUtf8()).object();
        QCOMPARE(report.value("uid").toString(), QString::fromLatin1(uid(0x10).toHex()).toUpper());
        QCOMPARE(report.value("model").toString(), QStringLiteral("VDR-40-700 DALI-2 DT8 TW"));
        QCOMPARE(readFile(saved), driverOnLine());
        QCOMPARE(tagMemory(tagFiles.first()), driverOnLine()); // a read writes nothing
        return;
    }
    if (command == QLatin1String("write"))
        QVERIFY(out.contains(QStringLiteral("written ") + uid(0x10).toHex().toUpper()));
    else
        QCOMPARE(out.trimmed().split(QLatin1Char('\n')).last(),
                 QStringLiteral("2 written, 0 other model, 0 failed"));
    for (int i = 0; i < drivers; ++i)
        QVERIFY(holdsConfiguration(tagMemory(tagFiles.at(i))));

    // Writes go into the production record under XDG_DATA_HOME, never the user's own.
    const QDir records(dir.filePath(QStringLiteral("data/vantory/records")));
    const QStringList files = records.entryList({QStringLiteral("*.csv")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    const QString csv = QString::fromUtf8(readFile(records.filePath(files.first())));
    QCOMPARE(csv.count(QStringLiteral(",Written,")), drivers);
    for (int i = 0; i < drivers; ++i)
        QVERIFY(csv.contains(QString::fromLatin1(uid(0x10 + i).toHex()).toUpper()));
}

void TstCliRealReaders::secondInterrupt_recordsTheWriteAndLeaves_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<int>("signal");
    QTest::newRow("r321, Ctrl-C twice") << "r321" << int(SIGINT);
    QTest::newRow("feig, SIGTERM twice") << "feig" << int(SIGTERM);
    QTest::newRow("r321, SIGHUP twice") << "r321" << int(SIGHUP);
}

// A second Ctrl-C while a driver is written: the write is recorded as interrupted, and
// the program leaves at once instead of finishing it.
void TstCliRealReaders::secondInterrupt_recordsTheWriteAndLeaves()
{
    QFETCH(QString, reader);
    QFETCH(int, signal);
    QTemporaryDir dir;
    QProcess cli;
    const QString tag = startOnOneDriver(cli, dir, reader, 0x20, QStringLiteral("write"));
    QVERIFY(!tag.isEmpty());
    // The first block of the drive area has reached the tag: the write is under way.
    QTRY_VERIFY_WITH_TIMEOUT(tagMemory(tag) != driverOnLine(), 20000);
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(cli.processId()), signal);
    QTest::qWait(20);
    ::kill(pid_t(cli.processId()), signal);
    QVERIFY(cli.waitForFinished(5000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(cli.exitCode(), 128 + signal);

    const QList<QByteArray> lines = recordLines(dir);
    QCOMPARE(lines.size(), 2);
    const QByteArray name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
    QVERIFY2(lines.last().contains(",Interrupted (" + name + "),"), lines.last().constData());
}

void TstCliRealReaders::firstSignal_autoWriteFinishesTheWrite_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl-C") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP: the terminal closed") << int(SIGHUP);
}

// One signal while auto write programs a driver: that driver is finished and recorded,
// then the batch ends with its summary.
void TstCliRealReaders::firstSignal_autoWriteFinishesTheWrite()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    QProcess cli;
    const QString tag =
        startOnOneDriver(cli, dir, QStringLiteral("r321"), 0x30, QStringLiteral("auto-write"));
    QVERIFY(!tag.isEmpty());
    // The first block has reached the driver: its write is under way.
    QTRY_VERIFY_WITH_TIMEOUT(tagMemory(tag) != driverOnLine(), 20000);
    ::kill(pid_t(cli.processId()), signal);
    QVERIFY(cli.waitForFinished(20000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(out.trimmed().split(QLatin1Char('\n')).last(),
             QStringLiteral("1 written, 0 other model, 0 failed"));
    QVERIFY(holdsConfiguration(tagMemory(tag)));
    const QList<QByteArray> lines = recordLines(dir);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.last().contains(",Written,"), lines.last().constData());
}

QString TstCliRealReaders::startOnOneDriver(QProcess& cli, const QTemporaryDir& dir,
                                            const QString& reader, quint8 last,
                                            const QString& command)
{
    const QString config = dir.filePath(QStringLiteral("config.bin"));
    const QString tag = dir.filePath(QStringLiteral("tag"));
    if (!dir.isValid() || !writeFile(config, configuration()) ||
        !writeTagFile(tag, uid(last), driverOnLine()))
        return QString();
    QProcessEnvironment env = environmentFor(reader, tag);
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    cli.setProcessEnvironment(env);
    cli.start(m_cli, {command, config, QStringLiteral("--reader"), reader,
                      QStringLiteral("--current"), QStringLiteral("1=%1").arg(kCurrent)});
    return cli.waitForStarted() ? tag : QString();
}

void TstCliRealReaders::fastBatch_writesOnlyWhatDiffers_data()
{
    QTest::addColumn<QString>("reader");
    QTest::newRow("r321") << "r321";
    QTest::newRow("feig") << "feig";
}

// A fast batch over drivers that hold the template already or differ from it in one
// channel current or one lumen point: each is left as the described write leaves it, with
// only the differing block sent, and each has one verified line in the record.
void TstCliRealReaders::fastBatch_writesOnlyWhatDiffers()
{
    QFETCH(QString, reader);
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("config.bin"));
    QVERIFY(writeFile(config, configuration()));
    const QString writes = dir.filePath(QStringLiteral("writes.log"));
    const auto batch = [&](const QString& pace, const QList<QByteArray>& memories) {
        QStringList files;
        for (int i = 0; i < memories.size(); ++i) {
            files << dir.filePath(QStringLiteral("%1-%2").arg(pace).arg(i));
            writeTagFile(files.last(), uid(quint8(0x40 + i)), memories.at(i));
        }
        QFile::remove(writes);
        QProcess cli;
        QProcessEnvironment env = environmentFor(reader, files.join(QLatin1Char(':')));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(pace));
        env.insert(QStringLiteral("VANTORY_STANDIN_WRITES"), writes);
        cli.setProcessEnvironment(env);
        cli.start(m_cli,
                  {"auto-write", config, "--reader", reader, "--pace", pace, "--current",
                   QStringLiteral("1=%1").arg(kCurrent), "--count", QString::number(files.size())});
        const bool done = cli.waitForFinished(60000) && cli.exitCode() == 0;
        QList<QByteArray> after;
        for (const QString& f : files)
            after << (done ? tagMemory(f) : QByteArray());
        return after;
    };
    // What the described write leaves on a driver of the line: the template.
    const QByteArray held = batch(QStringLiteral("described"), {driverOnLine()}).value(0);
    QVERIFY(holdsConfiguration(held));
    QByteArray current = held;
    current[tagoffset::Current1 + 1] = char(current[tagoffset::Current1 + 1] ^ 0x10);
    QByteArray lumen = held;
    lumen[tagoffset::CloLevels + 5] = char(lumen[tagoffset::CloLevels + 5] - 1);
    // Other counters of its own, which no write touches.
    const QByteArray counters = withCounters(held, char(0x51));
    const QList<QByteArray> after = batch(QStringLiteral("fast"), {counters, current, lumen});
    QCOMPARE(after, (QList<QByteArray>{counters, held, held}));
    QCOMPARE(readFile(writes), QByteArray("66 1\n68 1\n"));

    QVERIFY(QFile::rename(dir.filePath("fast"), dir.filePath("data")));
    const QList<QByteArray> lines = recordLines(dir);
    QCOMPARE(lines.size(), 4);
    const QList<QByteArray> header = lines.first().trimmed().split(',');
    const int blocks = header.indexOf("Blocks written");
    const int verified = header.indexOf("Verified");
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> cells = lines.at(i).trimmed().split(',');
        QVERIFY2(lines.at(i).contains(",Written,"), lines.at(i).constData());
        QCOMPARE(cells.value(verified), QByteArray("yes"));
        QCOMPARE(cells.value(blocks), QByteArray(i == 1 ? "0" : "1"));
    }
}

QList<QByteArray> TstCliRealReaders::recordLines(const QTemporaryDir& dir)
{
    const QDir records(dir.filePath(QStringLiteral("data/vantory/records")));
    const QStringList files = records.entryList({QStringLiteral("*.csv")}, QDir::Files);
    if (files.size() != 1)
        return {};
    return readFile(records.filePath(files.first())).trimmed().split('\n');
}

namespace
{

// The last JSON object printed: the whole output, or the last of JSON Lines.
QJsonObject lastObject(const QByteArray& out)
{
    const QJsonDocument whole = QJsonDocument::fromJson(out);
    if (whole.isObject())
        return whole.object();
    QJsonObject last;
    for (const QByteArray& line : out.trimmed().split('\n')) {
        QJsonParseError error{};
        const QJsonDocument d = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !d.isObject())
            return {}; // JSON Lines: every line one object
        last = d.object();
    }
    return last;
}

// A value at a dotted path, as compact JSON text (a string without its quotes).
QString valueAt(const QJsonObject& object, const QString& path)
{
    QJsonValue v = object;
    for (const QString& key : path.split(QLatin1Char('.')))
        v = v.isArray() ? v.toArray().at(key.toInt()) : v.toObject().value(key);
    if (v.isString())
        return v.toString();
    const QByteArray text = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(text.mid(1, text.size() - 2));
}

} // namespace

void TstCliRealReaders::station_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("setup"); // steps, separated by commas
    QTest::addColumn<int>("code");
    // "-": nothing on standard error; else texts joined by "&&", each there, or with "!"
    // before it not there, or with "=" before it the whole of it.
    QTest::addColumn<QString>("errHas");
    QTest::addColumn<QString>("outHas");    // "image", "json:k=v;k.k=v" or a text
    QTest::addColumn<QString>("recordHas"); // the record's last line; "none": no record
    const QString model = QStringLiteral("VDR-40-700 DALI-2 DT8 TW");

    // Output files: all 512 bytes or nothing, a FIFO or a device written in place.
    QTest::newRow("full disk (file size limit)")
        << QStringList{"read", "-o", "@saved", "--quiet"} << "fsize" << 1 << "File too large"
        << ""
        << "";
    QTest::newRow("FIFO") << QStringList{"read", "-o", "@fifo", "--quiet"} << "fifo" << 0 << "-"
                          << ""
                          << "";
    QTest::newRow("/dev/full") << QStringList{"read", "-o", "/dev/full", "--quiet"} << "" << 1
                               << "/dev/full: No space left on device"
                               << ""
                               << "";
    QTest::newRow("-o -: the report on standard error")
        << QStringList{"read", "-o", "-"} << "" << 0 << "Model               " + model << "image"
        << "";
    QTest::newRow("-o - --quiet") << QStringList{"read", "-o", "-", "--quiet"} << "" << 0 << "-"
                                  << "image"
                                  << "";

    // JSON from every command.
    QTest::newRow("readers --json") << QStringList{"readers", "--json"} << "" << 0 << "-"
                                    << "json:feig.reader_answers=true;feig.library_loaded=true"
                                    << "";
    QTest::newRow("info --json") << QStringList{"info", "@config", "--json"} << "" << 0 << "-"
                                 << "json:model=" + model << "";
    QTest::newRow("read --json") << QStringList{"read", "--json"} << "" << 0 << "-"
                                 << "json:uid=E002505900000001;channels.0.channel=1"
                                 << "";
    QTest::newRow("write --json") << QStringList{"write", "@config", "--current", "1=480", "--json"}
                                  << "" << 0 << "-"
                                  << "json:result=written;uid=E002505900000001;model=" + model +
                                         ";currents_mA=[480];exit_code=0"
                                  << ",Written,";
    QTest::newRow("auto-write --json")
        << QStringList{"auto-write", "@config", "--count", "2", "--json"} << "" << 0 << ""
        << "json:type=summary;handled=2;written=2;failed=0;exit_code=0"
        << ",Written,";
    QTest::newRow("auto-write summary in text")
        << QStringList{"auto-write", "@config", "--count", "1"} << "" << 0 << "-"
        << "1 written, 0 other model, 0 failed\n"
        << ",Written,";

    // Arguments.
    QTest::newRow("--reader FEIG")
        << QStringList{"read", "--reader", "FEIG", "--quiet"} << "" << 0 << "-"
        << ""
        << "";
    QTest::newRow("unknown reader") << QStringList{"read", "--reader", "foo"} << "" << 2
                                    << "unknown reader 'foo'; the readers are r321 and feig"
                                    << ""
                                    << "none";
    QTest::newRow("an option of another command")
        << QStringList{"info", "@config", "--current", "1=300"} << "" << 2
        << "info does not take --current"
        << ""
        << "";
    QTest::newRow("--count out of range")
        << QStringList{"auto-write", "@config", "--count", "99999999999"} << "" << 2
        << "from 1 to 2147483647"
        << ""
        << "none";
    QTest::newRow("--version") << QStringList{"--version"} << "" << 0 << "-"
                               << "vantory-cli 1."
                               << "";
    QTest::newRow("unknown fault") << QStringList{"read", "--simulate-fault", "fire"} << "" << 2
                                   << "the faults are no-tag, write-fails, reader-lost, other-model"
                                   << ""
                                   << "";

    // A file is decoded as the tag kind it is, refused when it is no configuration, and
    // never written to a driver of the other kind; a write that wrote nothing lists no
    // currents.
    QTest::newRow("info of an 8 file: the PWM block's current")
        << QStringList{"info", "@pwm", "--json"} << "" << 0 << "-"
        << "json:tag_kind=8;channels.0.current_mA=350"
        << "";
    QTest::newRow("info of 512 zero bytes")
        << QStringList{"info", "@zeros"} << "" << 7
        << "is not a configuration file of this program: the layout code 0 is not known"
        << ""
        << "";
    QTest::newRow("write an 8 file to a P driver")
        << QStringList{"write", "@pwmdt8"} << "" << 5
        << "The configuration is for an 8 tag (PWM), but the driver has a P tag (512 bytes). "
           "Nothing was written."
        << ""
        << ",Other tag kind refused,";
    QTest::newRow("fault write-fails, write --json: no currents")
        << QStringList{"--simulate-fault", "write-fails", "write", "@config", "--json"} << "" << 5
        << ""
        << "json:result=no_tag_response;currents_mA=[]"
        << ",No tag response,";
    // Exports and look-ups that tell the truth; output that cannot be written fails.
    const QString uid1 = QStringLiteral("E002505900000001");
    QTest::newRow("records to a FIFO")
        << QStringList{"records", "-o", "@fifo"} << "recorded,fifo" << 0 << ""
        << ""
        << "";
    QTest::newRow("records on /dev/full")
        << QStringList{"records"} << "recorded,devfull" << 1 << "standard output"
        << ""
        << "";
    QTest::newRow("history on /dev/full")
        << QStringList{"history", uid1} << "recorded,devfull" << 1 << "standard output"
        << ""
        << "";
    QTest::newRow("write --json on /dev/full")
        << QStringList{"write", "@config", "--json"} << "devfull" << 1 << "standard output"
        << ""
        << ",Written,";
    QTest::newRow("records name the station") << QStringList{"records"} << "recorded" << 0 << "-"
                                              << ",Station\r\n&&,station-7\r\n"
                                              << "";
    QTest::newRow("history, a folder without a record")
        << QStringList{"history", uid1, "--record-dir", "@typo"} << "" << 1 << "no record in"
        << ""
        << "typo";
    QTest::newRow("records, a folder without a record")
        << QStringList{"records", "--record-dir", "@typo"} << "" << 1 << "no record in"
        << ""
        << "typo";
    QTest::newRow("repeated --count")
        << QStringList{"auto-write", "@config", "--count", "1", "--count", "2"} << "" << 2
        << "--count is given more than once"
        << ""
        << "none";
    QTest::newRow("repeated -o") << QStringList{"read", "-o", "@saved", "-o", "@saved"} << "" << 2
                                 << "--output is given more than once"
                                 << ""
                                 << "";
    QTest::newRow("write --json, unreadable file")
        << QStringList{"write", "@typo", "--json"} << "" << 7 << "cannot open"
        << "json:result=bad_file;exit_code=7"
        << "none";
    QTest::newRow("read --json, no tag")
        << QStringList{"--simulate-fault", "no-tag", "read", "--json"} << "" << 4
        << "no tag response"
        << "json:result=no_tag;exit_code=4"
        << "none";
    QTest::newRow("auto-write --json, no reader")
        << QStringList{"auto-write", "@config", "--json"} << "noreader" << 3
        << "=vantory-cli: no reader found or it cannot be opened\n"
        << "json:type=summary;handled=0;exit_code=3"
        << "none";
    QTest::newRow("a password in the setting is refused, never printed")
        << QStringList{"write", "@config", "--record-db", "postgresql://line:s3cr%et@db/x"} << ""
        << 0 << "Record server setting refused&&!s3cr"
        << ""
        << ",Written,";
    QTest::newRow("a password pair is refused, never printed")
        << QStringList{"write", "@config", "--record-db", "host=db password='s3cr et'"} << "" << 0
        << "Record server setting refused&&!s3cr"
        << ""
        << ",Written,";
    QTest::newRow("verify-fails, write")
        << QStringList{"--simulate-fault", "verify-fails", "write", "@config", "--json"} << "" << 5
        << "=vantory-cli: verify failed at block 101\n"
        << "json:result=verify_failed;exit_code=5"
        << ",Verify failed (block 101),";
    QTest::newRow("verify-fails, auto-write") << QStringList{"--simulate-fault",
                                                             "verify-fails",
                                                             "auto-write",
                                                             "@config",
                                                             "--count",
                                                             "1",
                                                             "--json"}
                                              << "" << 5 << "!<"
                                              << "json:type=summary;failed=1;exit_code=5"
                                              << ",Verify failed (block 101),";

    // Rehearsed faults: the real fault's exit code, message and record line.
    const struct {
        const char* kind;
        const char* command;
        int code;
        const char* says;
        const char* record;
    } faults[] = {
        {"no-tag", "read", 4, "no tag response", "none"},
        {"no-tag", "write", 4, "no tag response", "none"},
        {"write-fails", "write", 5, "write failed: no tag response", ",No tag response,"},
        {"reader-lost", "write", 3, "the reader is not connected", ",Reader lost,"},
        {"other-model", "write", 6,
         "Write failed: the driver is VDR-60-1050 DALI-2 DT8 TW, the file is for "
         "VDR-40-700 DALI-2 DT8 TW",
         ",Other model refused,"},
        {"write-fails", "auto-write", 5, "", ",No tag response,"},
        {"reader-lost", "auto-write", 3, "the reader is not connected", ",Reader lost,"},
        {"other-model", "auto-write", 6, "", ",Other model refused,"},
    };
    for (const auto& f : faults) {
        QStringList args{"--simulate-fault", f.kind, f.command};
        QString out;
        if (QLatin1String(f.command) != QLatin1String("read"))
            args << "@config";
        if (QLatin1String(f.command) == QLatin1String("auto-write")) {
            args << "--count"
                 << "1"
                 << "--json";
            out = QStringLiteral("json:type=summary;handled=1;exit_code=%1").arg(f.code);
        }
        QTest::addRow("fault %s, %s", f.kind, f.command)
            << args << "" << f.code << f.says << out << f.record;
    }
}

void TstCliRealReaders::station()
{
    QFETCH(QStringList, args);
    QFETCH(QString, setup);
    QFETCH(int, code);
    QFETCH(QString, errHas);
    QFETCH(QString, outHas);
    QFETCH(QString, recordHas);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString config = dir.filePath(QStringLiteral("config.bin"));
    QVERIFY(writeFile(config, demodrivers::memory(demodrivers::Kind::Dt8)));
    const QString saved = dir.filePath(QStringLiteral("saved.bin"));
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    args.replaceInStrings(QStringLiteral("@config"), config);
    const QByteArray pwm = demodrivers::configurationFile(demodrivers::Kind::Pwm);
    QByteArray pwmDt8 = pwm;
    pwmDt8.replace(195, 24, "VDR-40-700 DALI-2 DT8 TW");
    // The longer name first: "@pwm" begins "@pwmdt8".
    for (const auto& [name, bytes] : {std::pair<const char*, QByteArray>{"@pwmdt8", pwmDt8},
                                      {"@pwm", pwm},
                                      {"@zeros", QByteArray(512, '\0')}}) {
        const QString path = dir.filePath(QLatin1String(name + 1) + QStringLiteral(".bin"));
        QVERIFY(writeFile(path, bytes));
        args.replaceInStrings(QLatin1String(name), path);
    }
    args.replaceInStrings(QStringLiteral("@saved"), saved);
    args.replaceInStrings(QStringLiteral("@fifo"), fifo);
    const QString typo = dir.filePath(QStringLiteral("typo"));
    args.replaceInStrings(QStringLiteral("@typo"), typo);
    const QStringList steps = setup.split(QLatin1Char(','), Qt::SkipEmptyParts);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VANTORY_RECORD_DIR"), dir.filePath(QStringLiteral("records")));
    env.insert(QStringLiteral("VANTORY_STATION"), QStringLiteral("station-7"));
    env.remove(QStringLiteral("VANTORY_RECORD_DB"));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    if (steps.contains(QStringLiteral("recorded"))) { // one driver in the record first
        QProcess write;
        write.setProcessEnvironment(env);
        write.start(m_cli, {"--simulate", "write", config});
        QVERIFY(write.waitForFinished(60000) && write.exitCode() == 0);
    }
    int fifoFd = -1;
    if (steps.contains(QStringLiteral("fifo"))) {
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        fifoFd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(fifoFd >= 0);
    }

    QProcess cli;
    QString program = m_cli;
    if (steps.contains(QStringLiteral("noreader"))) // the real transports, no reader, no FEUSB
        program = QStringLiteral(VANTORY_CLI_PATH);
    else
        args.prepend(QStringLiteral("--simulate"));
    cli.setProcessEnvironment(env);
    if (steps.contains(QStringLiteral("devfull")))
        cli.setStandardOutputFile(QStringLiteral("/dev/full"));
    if (steps.contains(QStringLiteral("fsize"))) // a disk with no room left
        cli.start(QStringLiteral("/bin/sh"),
                  QStringList{"-c", "ulimit -f 0 && exec \"$0\" \"$@\"", m_cli} + args);
    else
        cli.start(program, args);
    QVERIFY(cli.waitForFinished(60000));
    const QByteArray out = cli.readAllStandardOutput();
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == code,
             qPrintable(QStringLiteral("exit %1\n%2\n%3").arg(cli.exitCode()).arg(out, err)));

    if (errHas == QLatin1String("-"))
        QVERIFY2(err.isEmpty(), qPrintable(err));
    for (const QString& want : errHas.split(QStringLiteral("&&"))) {
        if (want.startsWith(QLatin1Char('!')))
            QVERIFY2(!err.contains(want.mid(1)), qPrintable(err));
        else if (want.startsWith(QLatin1Char('=')))
            QCOMPARE(err, want.mid(1));
        else if (want != QLatin1String("-"))
            QVERIFY2(err.contains(want), qPrintable(err));
    }
    if (outHas == QLatin1String("image")) {
        QCOMPARE(out, demodrivers::memory(demodrivers::Kind::Dt8));
    } else if (outHas.startsWith(QLatin1String("json:"))) {
        const QJsonObject o = lastObject(out);
        QVERIFY2(!o.isEmpty(), out.constData());
        for (const QString& pair : outHas.mid(5).split(QLatin1Char(';'))) {
            const QString key = pair.section(QLatin1Char('='), 0, 0);
            QCOMPARE(valueAt(o, key), pair.section(QLatin1Char('='), 1));
        }
    } else {
        for (const QString& want : outHas.split(QStringLiteral("&&")))
            QVERIFY2(QString::fromUtf8(out).contains(want), out.constData());
    }

    if (steps.contains(QStringLiteral("fsize"))) // nothing half written is left
        QVERIFY(!QFile::exists(saved));
    if (recordHas == QLatin1String("typo")) { // a look-up leaves no record behind
        QVERIFY(!QFile::exists(typo));
        return;
    }
    if (steps.contains(QStringLiteral("fifo"))) {
        QByteArray got(4096, '\0');
        const ssize_t n = ::read(fifoFd, got.data(), size_t(got.size()));
        ::close(fifoFd);
        if (args.contains(QStringLiteral("records")))
            QVERIFY2(got.left(int(n)).contains(",Written,"), got.constData());
        else
            QCOMPARE(got.left(int(n)), demodrivers::memory(demodrivers::Kind::Dt8));
        struct stat st {
        };
        QCOMPARE(::lstat(QFile::encodeName(fifo).constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode)); // written in place, not replaced
    }
    if (recordHas.isEmpty())
        return;
    const QDir records(dir.filePath(QStringLiteral("records")));
    const QStringList files = records.entryList({QStringLiteral("*.csv")}, QDir::Files);
    if (recordHas == QLatin1String("none")) {
        QVERIFY2(files.isEmpty(), qPrintable(files.join(' ')));
        return;
    }
    QCOMPARE(files.size(), 1);
    const QByteArray last = readFile(records.filePath(files.first())).trimmed().split('\n').last();
    QVERIFY2(last.contains(recordHas.toUtf8()), last.constData());
}

void TstCliRealReaders::twoReaders_data()
{
    QTest::addColumn<QString>("first");  // --device of the first process
    QTest::addColumn<QString>("second"); // --device of the second
    QTest::addColumn<QString>("fault");  // what happens on the second reader
    QTest::addColumn<int>("secondCode");
    QTest::addColumn<QString>("secondSays");
    QTest::newRow("two R321") << "R321-0042"
                              << "r321-0043"
                              << "" << 0 << "";
    QTest::newRow("two FEIG") << "0A1B2C01"
                              << "0A1B2C02"
                              << "" << 0 << "";
    QTest::newRow("R321 and FEIG") << "R321-0043"
                                   << "0A1B2C01"
                                   << "" << 0 << "";
    QTest::newRow("a driver of another model on the second") << "R321-0042"
                                                             << "R321-0043"
                                                             << "other-model" << 6 << "";
    QTest::newRow("the second reader pulled") << "0A1B2C02"
                                              << "R321-0043"
                                              << "pull" << 3 << "the reader is not connected";
    QTest::newRow("both on one reader: the second is refused")
        << "R321-0042"
        << "R321-0042"
        << "same" << 3 << "vantory-cli: the reader R321-0042 is in use by another program\n";
    QTest::newRow("an identity not present")
        << "0A1B2C01"
        << "R321-9999"
        << "absent" << 3
        << "vantory-cli: no reader with the identity R321-9999; the readers present are: "
           "r321 R321-0042, r321 R321-0043, feig 0A1B2C01, feig 0A1B2C02\n";
}

// Two auto-write processes at once, each on its own reader through the real transports:
// each programs its own drivers and names its reader in every record line, and what
// happens on one reader leaves the other alone.
void TstCliRealReaders::twoReaders()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, fault);
    QFETCH(int, secondCode);
    QFETCH(QString, secondSays);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString config = dir.filePath(QStringLiteral("config.bin"));
    QVERIFY(writeFile(config, configuration()));
    const int drivers = 2;
    QProcessEnvironment env = environmentFor(QStringLiteral("r321"), QString());
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    const QString pulled = dir.filePath(QStringLiteral("pulled"));
    QMap<QString, QStringList> tags;
    quint8 last = 0x40;
    for (const QString& device : {first, second.toUpper()}) {
        if (tags.contains(device) || tagVariableOf(device).isEmpty())
            continue;
        for (int i = 0; i < drivers; ++i) {
            tags[device] << dir.filePath(QStringLiteral("%1-%2").arg(device).arg(i));
            const bool other = fault == QLatin1String("other-model") && device != first && i == 0;
            QVERIFY(writeTagFile(tags[device].last(), uid(last++),
                                 other ? demodrivers::memory(demodrivers::Kind::OtherModel)
                                       : driverOnLine()));
        }
        env.insert(tagVariableOf(device), tags[device].join(QLatin1Char(':')));
        if (device != first)
            env.insert(tagVariableOf(device) + QStringLiteral("_PULLED"), pulled);
    }
    QProcess one;
    QProcess two;
    for (QProcess* p : {&one, &two}) {
        p->setProcessEnvironment(env);
        p->start(m_cli,
                 {"auto-write", config, "--device", p == &one ? first : second, "--current",
                  QStringLiteral("1=%1").arg(kCurrent), "--count", QString::number(drivers)});
        QVERIFY(p->waitForStarted());
        if (fault == QLatin1String("same") &&
            p == &one) // it holds its reader before the other asks
            QTRY_VERIFY_WITH_TIMEOUT(tagMemory(tags[first].first()) != driverOnLine(), 30000);
    }
    if (fault == QLatin1String("pull")) { // once the second has written a driver
        QTRY_VERIFY_WITH_TIMEOUT(recordLines(dir).join('\n').contains(",Written,") &&
                                     recordLines(dir).join('\n').contains(second.toUtf8()),
                                 30000);
        QVERIFY(writeFile(pulled, "out"));
    }
    QVERIFY(one.waitForFinished(60000));
    QVERIFY(two.waitForFinished(60000));
    const QString err = QString::fromUtf8(two.readAllStandardError());
    QVERIFY2(one.exitStatus() == QProcess::NormalExit && one.exitCode() == 0,
             qPrintable(QString::fromUtf8(one.readAllStandardError())));
    QVERIFY2(two.exitCode() == secondCode, qPrintable(err));
    QVERIFY2(err.contains(secondSays), qPrintable(err));

    // The first reader's drivers are all programmed; the second's as far as it got.
    for (const QString& tag : tags.value(first))
        QVERIFY(holdsConfiguration(tagMemory(tag)));
    QMap<QString, int> written;
    for (const QByteArray& line : recordLines(dir).mid(1)) {
        const QString reader = QString::fromUtf8(line.split(',').last()).trimmed();
        QVERIFY2(reader == first || reader == second.toUpper(), line.constData());
        written[reader] += line.contains(",Written,") ? 1 : 0;
        const QString uidText = QString::fromUtf8(line.split(',').at(4));
        bool onThatReader = false;
        for (const QString& tag : tags.value(reader))
            onThatReader = onThatReader ||
                           readFile(tag).left(kUidSize).toHex().toUpper() == uidText.toLatin1();
        QVERIFY2(onThatReader, line.constData()); // named after the reader that wrote it
    }
    QCOMPARE(written.value(first), drivers);
    const int secondWritten =
        fault.isEmpty()                                                           ? drivers
        : fault == QLatin1String("other-model") || fault == QLatin1String("pull") ? 1
                                                                                  : 0;
    if (first != second.toUpper())
        QCOMPARE(written.value(second.toUpper()), secondWritten);

    // history names the reader too.
    QProcess history;
    history.setProcessEnvironment(env);
    history.start(m_cli,
                  {"history", QString::fromLatin1(
                                  readFile(tags[first].first()).left(kUidSize).toHex().toUpper())});
    QVERIFY(history.waitForFinished(20000));
    const QString said = QString::fromUtf8(history.readAllStandardOutput());
    QVERIFY2(
        said.contains(QStringLiteral("  %1 %2  Auto write  Written")
                          .arg(first.startsWith(QLatin1String("R321")) ? "R321" : "FEIG", first)),
        qPrintable(said));
}

QTEST_GUILESS_MAIN(TstCliRealReaders)
#include "tst_cli_realreaders.moc"
