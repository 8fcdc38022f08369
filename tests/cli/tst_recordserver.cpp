// The production record on a real PostgreSQL server that this test starts itself (initdb
// and pg_ctl in a temporary folder, a unix socket there and no TCP port; as the user nobody
// when run as root). Several vantory-cli processes on simulated lines write to it at once;
// one at a time meets the faults of a production line. The stations log in as a role that
// may only SELECT and INSERT; an administrator's `vantory-cli record-setup` made the tables.
#include "model/recordstore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <pwd.h>
#include <sys/mount.h>
#include <unistd.h>

namespace
{

// A PostgreSQL server of the test's own, stopped when it goes.
class PgServer
{
  public:
    ~PgServer() { stop(); }

    bool start(QString* error)
    {
        if (!m_dir.isValid())
            return fail(error, QStringLiteral("no temporary folder"));
        const QStringList versions =
            QDir(QStringLiteral("/usr/lib/postgresql"))
                .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
        for (const QString& v : versions)
            if (QFile::exists(QStringLiteral("/usr/lib/postgresql/%1/bin/initdb").arg(v))) {
                m_bin = QStringLiteral("/usr/lib/postgresql/%1/bin/").arg(v);
                break;
            }
        if (m_bin.isEmpty())
            return fail(error, QStringLiteral("PostgreSQL is not installed (scripts/deps.sh)"));
        if (::geteuid() == 0) {
            // initdb and postgres refuse to run as root.
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::chown(QFile::encodeName(m_dir.path()).constData(), nobody->pw_uid,
                                   nobody->pw_gid) != 0)
                return fail(error, QStringLiteral("cannot hand the folder to nobody"));
            m_prefix = QStringList{"runuser", "-u", "nobody", "--"};
        }
        if (!run({m_bin + "initdb", "-D", data(), "-A", "trust", "-U", "vantory", "--no-sync", "-E",
                  "UTF8", "--locale", "C"},
                 error))
            return false;
        // The roles "line" and "clerk" log in with a password, as on a real server; the others are
        // trusted on the test's own socket.
        QFile hba(data() + QStringLiteral("/pg_hba.conf"));
        if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            hba.write("local all line,clerk scram-sha-256\nlocal all all trust\n") < 0)
            return fail(error, QStringLiteral("cannot write pg_hba.conf"));
        hba.close();
        if (!up(error))
            return false;
        QProcess createdb;
        createdb.start(m_bin + "createdb", {"-h", m_dir.path(), "-U", "vantory", "record"});
        if (!createdb.waitForFinished(30000) || createdb.exitCode() != 0)
            return fail(error, QString::fromLocal8Bit(createdb.readAllStandardError()));
        return true;
    }

    bool up(QString* error)
    {
        // Only the socket in the test's folder; fsync off, the data is thrown away.
        const QString options = QStringLiteral("-k %1 -c listen_addresses= -F").arg(m_dir.path());
        m_running = run({m_bin + "pg_ctl", "-D", data(), "-l", m_dir.filePath("log"), "-w", "-o",
                         options, "start"},
                        error);
        if (m_running && !m_watching) {
            // Should this test die, the server follows it within a second or two.
            m_watching = QProcess::startDetached(
                QStringLiteral("sh"),
                {"-c", QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 1; done; "
                                      "%2 %3pg_ctl -D %4 -m immediate stop >/dev/null 2>&1")
                           .arg(QCoreApplication::applicationPid())
                           .arg(m_prefix.join(QLatin1Char(' ')), m_bin, data())});
        }
        return m_running;
    }

    bool down(QString* error = nullptr)
    {
        QString ignored;
        const bool ok = run({m_bin + "pg_ctl", "-D", data(), "-m", "fast", "-w", "stop"},
                            error ? error : &ignored);
        m_running = !ok;
        return ok;
    }

    void stop()
    {
        if (m_running)
            down();
    }

    /// The stations' setting (a role with SELECT and INSERT only); `user` another role.
    QString setting(const QString& user = QStringLiteral("station")) const
    {
        return QStringLiteral("postgresql:///record?host=%1&user=%2&connect_timeout=2")
            .arg(m_dir.path(), user);
    }

    QString socketFolder() const { return m_dir.path(); }

    /// Runs SQL as the superuser; false with the reason in `error`.
    bool sql(const QString& statements, QString* error) const
    {
        QProcess psql;
        psql.setProcessChannelMode(QProcess::MergedChannels);
        psql.start(QStringLiteral("psql"), {"-v", "ON_ERROR_STOP=1", "-q", "-h", m_dir.path(), "-U",
                                            "vantory", "-d", "record", "-c", statements});
        if (psql.waitForFinished(30000) && psql.exitCode() == 0)
            return true;
        *error = QString::fromLocal8Bit(psql.readAll());
        return false;
    }

    /// A psql session that holds `statements` open in a transaction until it is closed.
    std::unique_ptr<QProcess> hold(const QString& statements) const
    {
        auto psql = std::make_unique<QProcess>();
        psql->start(QStringLiteral("psql"),
                    {"-q", "-h", m_dir.path(), "-U", "vantory", "-d", "record"});
        psql->waitForStarted();
        psql->write(("BEGIN; " + statements + "; SELECT 'held';\n").toUtf8());
        psql->waitForReadyRead(10000);
        return psql;
    }

  private:
    QString data() const { return m_dir.filePath(QStringLiteral("data")); }

    static bool fail(QString* error, const QString& text)
    {
        *error = text;
        return false;
    }

    bool run(QStringList command, QString* error)
    {
        command = m_prefix + command;
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(m_dir.path());
        p.start(command.takeFirst(), command);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0)
            return fail(error, QString::fromLocal8Bit(p.readAll()));
        return true;
    }

    QTemporaryDir m_dir;
    QString m_bin;
    QStringList m_prefix;
    bool m_running = false;
    bool m_watching = false;
};

// vantory-cli run to its end: its exit code (-1 when it did not end by itself), output
// and messages.
struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run runCli(const QStringList& args,
           const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(VANTORY_CLI_PATH), args);
    Run r;
    if (cli.waitForFinished(60000) && cli.exitStatus() == QProcess::NormalExit)
        r.code = cli.exitCode();
    r.out = QString::fromUtf8(cli.readAllStandardOutput());
    r.err = QString::fromUtf8(cli.readAllStandardError());
    return r;
}

// One station: a vantory-cli auto-write on a simulated line, its output timed as it comes.
struct Station {
    QString name;
    QProcess process;
    QVector<qint64> writtenAt; // ms on the test's clock
    QStringList uids;
    QByteArray pending;
};

} // namespace

class TstRecordServer : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase();
    void fourStations_serverStoppedAndBack();
    void faultMidBatch_nothingLost_data();
    void faultMidBatch_nothingLost();
    void serverRefuses_realReasonOnce_data();
    void serverRefuses_realReasonOnce();
    void readmeSetUp_worksAsWritten();

  private:
    PgServer m_server;
    QTemporaryDir m_dir;
};

void TstRecordServer::initTestCase()
{
    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
    // The administrator's step, then a role with the rights the README lists.
    const Run setup = runCli({"record-setup", "--record-db", m_server.setting("vantory")});
    QVERIFY2(setup.code == 0, qPrintable(setup.err));
    QVERIFY2(m_server.sql("CREATE ROLE station LOGIN; GRANT SELECT, INSERT ON production_record, "
                          "record_schema TO station; CREATE ROLE reader LOGIN; "
                          "CREATE ROLE clerk LOGIN PASSWORD 'right'",
                          &error) &&
                 m_server.sql("CREATE DATABASE empty", &error),
             qPrintable(error));
}

void TstRecordServer::fourStations_serverStoppedAndBack()
{
    constexpr int kStations = 4;
    constexpr int kDrivers = 625;
    constexpr int kOutageMs = 8000;
    const QString config = m_dir.filePath(QStringLiteral("c.bin"));
    QCOMPARE(runCli({"--simulate", "read", "-o", config}).code, 0);

    QElapsedTimer clock;
    clock.start();
    std::array<Station, kStations> stations;
    for (int i = 0; i < kStations; ++i) {
        Station& s = stations[size_t(i)];
        s.name = QStringLiteral("station-%1").arg(i + 1);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VANTORY_STATION"), s.name);
        env.insert(QStringLiteral("VANTORY_SIM_PACE_MS"), QStringLiteral("10"));
        env.remove(QStringLiteral("VANTORY_RECORD_DB"));
        s.process.setProcessEnvironment(env);
        QObject::connect(&s.process, &QProcess::readyReadStandardOutput, [&s, &clock] {
            s.pending += s.process.readAllStandardOutput();
            int end;
            while ((end = s.pending.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(s.pending.left(end));
                s.pending.remove(0, end + 1);
                if (line.endsWith(QLatin1String("  written"))) {
                    s.writtenAt << clock.elapsed();
                    s.uids << line.split(QLatin1Char(' '), Qt::SkipEmptyParts).value(2);
                }
            }
        });
        s.process.start(QStringLiteral(VANTORY_CLI_PATH),
                        {"--simulate", "--record-dir", m_dir.filePath(s.name), "--record-db",
                         m_server.setting(), "auto-write", config, "--count",
                         QString::number(kDrivers)});
    }
    const auto written = [&] {
        int n = 0;
        for (const Station& s : stations)
            n += s.writtenAt.size();
        return n;
    };

    // A third of the way in, the server goes away for a while and comes back.
    QTRY_VERIFY_WITH_TIMEOUT(written() >= kStations * kDrivers / 3, 120000);
    const qint64 downAt = clock.elapsed();
    QString error;
    QVERIFY2(m_server.down(&error), qPrintable(error));
    QTest::qWait(kOutageMs);
    const qint64 upAt = clock.elapsed();
    QVERIFY2(m_server.up(&error), qPrintable(error));
    for (Station& s : stations) {
        QVERIFY(s.process.state() == QProcess::NotRunning || s.process.waitForFinished(300000));
        QCOMPARE(s.process.exitCode(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(s.writtenAt.size(), kDrivers);
        const QString err = QString::fromUtf8(s.process.readAllStandardError());
        QCOMPARE(err.count(QStringLiteral("held locally")), 1);
        QVERIFY2(!err.contains(QStringLiteral("line(s) held locally")), qPrintable(err));
    }

    // Every line of every journal is on the server once, and nothing else is.
    QSet<QString> journalIds;
    for (const Station& s : stations) {
        record::Store local;
        QVERIFY(local.openLocal(record::localDatabasePath(m_dir.filePath(s.name))));
        QCOMPARE(local.unsentCount(), 0);
        const QVector<record::StoredLine> lines =
            local.lines({}).value_or(QVector<record::StoredLine>());
        QCOMPARE(lines.size(), kDrivers);
        for (const record::StoredLine& line : lines)
            journalIds << line.id;
    }
    record::Store server;
    QVERIFY2(server.openServer(m_server.setting()), qPrintable(server.error()));
    const QVector<record::StoredLine> lines =
        server.lines({}).value_or(QVector<record::StoredLine>());
    QCOMPARE(lines.size(), kStations * kDrivers);
    QSet<QString> ids;
    QSet<QString> driversPerStation;
    for (const record::StoredLine& line : lines) {
        ids << line.id;
        driversPerStation << line.station + QLatin1Char('/') + line.entry.uid;
    }
    QCOMPARE(ids.size(), kStations * kDrivers);
    QCOMPARE(ids, journalIds);
    QCOMPARE(driversPerStation.size(), kStations * kDrivers);

    // The pace while the server was away against the pace around it (all four lines).
    int during = 0;
    int outside = 0;
    qint64 first = std::numeric_limits<qint64>::max();
    qint64 last = 0;
    for (const Station& s : stations) {
        first = std::min(first, s.writtenAt.first());
        last = std::max(last, s.writtenAt.last());
        for (qint64 t : s.writtenAt)
            (t >= downAt && t < upAt ? during : outside)++;
    }
    const double rateDuring = during * 1000.0 / double(upAt - downAt);
    const double rateOutside = outside * 1000.0 / double(last - first - (upAt - downAt));
    const double slowdown = 100.0 * (1.0 - rateDuring / rateOutside);
    qInfo("%d drivers on %d stations in %.1f s; %.1f drivers/s with the server, %.1f without "
          "it for %.1f s: %.1f %% slower",
          kStations * kDrivers, kStations, double(last - first) / 1000.0, rateOutside, rateDuring,
          double(upAt - downAt) / 1000.0, slowdown);
    QVERIFY2(slowdown < 10.0, qPrintable(QStringLiteral("%1 % slower").arg(slowdown)));

    // One driver laid at every station: its history holds the four, newest first.
    const QString uid = stations[0].uids.value(10);
    const Run history = runCli({"history", uid, "--json", "--record-db", m_server.setting()});
    QCOMPARE(history.code, 0);
    const QJsonArray found = QJsonDocument::fromJson(history.out.toUtf8()).array();
    QCOMPARE(found.size(), kStations);
    QSet<QString> where;
    QString previous = QStringLiteral("9");
    for (const QJsonValue& v : found) {
        where << v.toObject().value("station").toString();
        QCOMPARE(v.toObject().value("uid").toString(), uid);
        QVERIFY(v.toObject().value("time").toString() <= previous);
        previous = v.toObject().value("time").toString();
    }
    QCOMPARE(where.size(), kStations);
}

namespace
{

// A station's record as it is left: every whole line of its day files by UID, with the
// lines that are not whole, and its journal's rows by UID.
struct LocalRecord {
    QMap<QString, int> fileLines;
    int tornLines = 0;
    QMap<QString, int> journalRows;
};

LocalRecord localRecord(const QString& folder)
{
    LocalRecord r;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("*.csv")}, QDir::Files)) {
        QFile f(dir.filePath(name));
        f.open(QIODevice::ReadOnly);
        const QList<QByteArray> lines = f.readAll().split('\n');
        const int columns = lines.value(0).count(',');
        for (const QByteArray& line : lines.mid(1)) {
            if (line.isEmpty())
                continue;
            // The fields of these lines hold no commas of their own.
            if (line.count(',') != columns || !line.endsWith('\r'))
                ++r.tornLines;
            else
                ++r.fileLines[QString::fromLatin1(line.split(',').value(4))];
        }
    }
    record::Store journal;
    if (journal.openLocal(record::localDatabasePath(folder), false))
        for (const record::StoredLine& l :
             journal.lines({}).value_or(QVector<record::StoredLine>()))
            ++r.journalRows[l.entry.uid];
    return r;
}

// Fills the disk of `folder` with a file until no byte more fits.
bool fillDisk(const QString& path)
{
    QFile filler(path);
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size()) {
    }
    while (filler.write(block.left(1)) == 1) {
    }
    return true;
}

} // namespace

void TstRecordServer::faultMidBatch_nothingLost_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("full disk") << "disk";
    QTest::newRow("journal locked past its time-out") << "journal";
    QTest::newRow("server stopped") << "stopped";
    QTest::newRow("server stalled") << "stalled";
    QTest::newRow("SIGPIPE on standard output") << "pipe";
}

void TstRecordServer::faultMidBatch_nothingLost()
{
    QFETCH(QString, fault);
    // Each exit within its stated time: after Ctrl-C the write in progress, the record's
    // last lines (10 s for the server) and one statement's time-out (5 s).
    constexpr int kExitMs = 16000;
    QElapsedTimer exit;
    const QString folder = m_dir.filePath(QStringLiteral("fault-") + fault);
    QVERIFY(QDir().mkpath(folder));
    if (fault == QLatin1String("disk")) {
        if (::geteuid() != 0 ||
            ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=16m") != 0)
            QSKIP("a small tmpfs needs root");
    }
    const auto unmount = qScopeGuard([&] {
        if (fault == QLatin1String("disk"))
            ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
    });
    const QString config = m_dir.filePath(QStringLiteral("c.bin"));
    QVERIFY(QFile::exists(config) || runCli({"--simulate", "read", "-o", config}).code == 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VANTORY_STATION"), fault);
    env.insert(QStringLiteral("VANTORY_SIM_PACE_MS"), QStringLiteral("50"));
    env.remove(QStringLiteral("VANTORY_RECORD_DB"));
    const QStringList args{"--simulate",       "--record-dir", folder, "--record-db",
                           m_server.setting(), "auto-write",   config, "--json"};
    QProcess cli;
    cli.setProcessEnvironment(env);
    QStringList seen;
    QByteArray pending;
    QObject::connect(&cli, &QProcess::readyReadStandardOutput, [&] {
        pending += cli.readAllStandardOutput();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QJsonObject o = QJsonDocument::fromJson(pending.left(end)).object();
            pending.remove(0, end + 1);
            if (o.value("result").toString() == QLatin1String("written"))
                seen << o.value("uid").toString();
        }
    });
    if (fault == QLatin1String("pipe")) {
        // `| head -n 1`: the pipe closes after the first driver's line.
        exit.start();
        cli.start(QStringLiteral("bash"),
                  QStringList{"-c", "\"$0\" \"$@\" | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}",
                              QStringLiteral(VANTORY_CLI_PATH)} +
                      args);
    } else {
        cli.start(QStringLiteral(VANTORY_CLI_PATH), args);
    }
    const auto drivers = [&](int more) {
        const int want = seen.size() + more;
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= want || cli.state() == QProcess::NotRunning, 60000);
    };
    if (fault != QLatin1String("pipe"))
        drivers(3);

    std::unique_ptr<QProcess> holder;
    QSqlDatabase journal;
    const QString filler = folder + QStringLiteral("/filler");
    if (fault == QLatin1String("disk")) {
        QVERIFY(fillDisk(filler));
        drivers(3);
        QFile::remove(filler);
    } else if (fault == QLatin1String("journal")) {
        journal = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lock"));
        journal.setDatabaseName(record::localDatabasePath(folder));
        QVERIFY(journal.open());
        QVERIFY(QSqlQuery(journal).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QTest::qWait(12000); // past the journal's busy time-out of 10 s
        QSqlQuery(journal).exec(QStringLiteral("ROLLBACK"));
        journal.close();
        journal = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("lock"));
    } else if (fault == QLatin1String("stopped")) {
        QVERIFY(m_server.down());
        drivers(3);
        QString error;
        QVERIFY2(m_server.up(&error), qPrintable(error));
    } else if (fault == QLatin1String("stalled")) {
        // A table lock held far past the stations' statement time-out, through their exit.
        holder = m_server.hold(QStringLiteral("LOCK TABLE production_record"));
        drivers(3);
    }
    if (fault != QLatin1String("pipe")) {
        drivers(3);
        exit.start();
        ::kill(pid_t(cli.processId()), SIGINT);
    }
    QVERIFY(cli.waitForFinished(60000));
    const qint64 exitMs = exit.elapsed();
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() < 128, qPrintable(err)); // not killed by SIGPIPE
    QVERIFY2(exitMs < kExitMs, qPrintable(QStringLiteral("left after %1 ms").arg(exitMs)));
    QVERIFY2((cli.exitCode() == 0) == (fault != QLatin1String("pipe")),
             qPrintable(QStringLiteral("exit %1\n%2").arg(cli.exitCode()).arg(err)));
    if (holder) { // the server answers again; the next start sends what waits
        holder->write("ROLLBACK;\n");
        holder->closeWriteChannel();
        holder->waitForFinished(10000);
        runCli(args.mid(0, 5) + QStringList{"--simulate-fault", "no-tag", "write", config}, env);
    }

    // The invariant: every driver written has one whole line in the day file, one row in
    // the journal and one on the server; nothing else is there.
    const LocalRecord local = localRecord(folder);
    QCOMPARE(local.tornLines, 0);
    QVERIFY(local.fileLines.size() >= seen.size());
    for (const QString& uid : seen)
        QVERIFY2(local.fileLines.value(uid) == 1, qPrintable(uid + "\n" + err));
    for (auto it = local.fileLines.cbegin(); it != local.fileLines.cend(); ++it) {
        QCOMPARE(it.value(), 1);
        QVERIFY2(local.journalRows.value(it.key()) == 1, qPrintable(it.key() + "\n" + err));
    }
    QCOMPARE(local.journalRows.size(), local.fileLines.size());
    record::Store server;
    QVERIFY2(server.openServer(m_server.setting()), qPrintable(server.error()));
    record::LineFilter station;
    station.station = fault;
    QMap<QString, int> serverRows;
    for (const record::StoredLine& l :
         server.lines(station).value_or(QVector<record::StoredLine>()))
        ++serverRows[l.entry.uid];
    QCOMPARE(serverRows, local.journalRows);
}

void TstRecordServer::serverRefuses_realReasonOnce_data()
{
    QTest::addColumn<QString>("setting"); // @ is the server's socket folder
    QTest::addColumn<QString>("pgpass");  // the password file's line, if any
    QTest::addColumn<QString>("says");
    QTest::newRow("wrong password")
        << "postgresql:///record?host=@&user=line"
        << "*:*:*:line:wrong"
        << "Record server refused the login (password authentication failed for user \"line\")";
    QTest::newRow("no password") << "postgresql:///record?host=@&user=line"
                                 << ""
                                 << "Record server refused the login (";
    QTest::newRow("no rights") << "postgresql:///record?host=@&user=reader"
                               << ""
                               << "Record server denied access to the record table (permission "
                                  "denied for table record_schema)";
    QTest::newRow("no tables") << "postgresql:///empty?host=@&user=station"
                               << ""
                               << "Record server has no record table for this version (";
    QTest::newRow("no such database")
        << "host=@ dbname=nosuch user=station"
        << ""
        << "Record server setting refused (database \"nosuch\" does not exist)";
}

// The write goes on, the real reason is told once and never as "not reachable", the line
// waits in the journal, and history shows it beside the server's lines.
void TstRecordServer::serverRefuses_realReasonOnce()
{
    QFETCH(QString, setting);
    QFETCH(QString, pgpass);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("c.bin"));
    const QString passFile = dir.filePath(QStringLiteral("pgpass"));
    QFile pass(passFile);
    QVERIFY(pass.open(QIODevice::WriteOnly) && pass.write(pgpass.toUtf8() + "\n") > 0);
    pass.close();
    QFile::setPermissions(passFile, QFile::ReadOwner | QFile::WriteOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSFILE"), passFile);
    env.remove(QStringLiteral("VANTORY_RECORD_DB"));
    env.insert(QStringLiteral("VANTORY_RECORD_DIR"), dir.filePath("records"));
    QCOMPARE(runCli({"--simulate", "read", "-o", config}, env).code, 0);
    const Run batch = runCli({"--simulate", "auto-write", config, "--count", "2", "--record-db",
                              setting.replace(QLatin1Char('@'), m_server.socketFolder())},
                             env);
    const QString err = batch.err;
    QCOMPARE(batch.code, 0);
    QCOMPARE(err.count(QStringLiteral("Record server")), 1);
    QVERIFY2(err.contains(says), qPrintable(err));
    QVERIFY2(!err.contains(QStringLiteral("not reachable")), qPrintable(err));
    record::Store journal;
    QVERIFY(journal.openLocal(record::localDatabasePath(dir.filePath("records")), false));
    QCOMPARE(journal.unsentCount(), 2);
    const QString uid = journal.lines({})->constFirst().entry.uid;
    const Run history = runCli({"history", uid, "--record-db", m_server.setting()}, env);
    QVERIFY2(history.out.contains(QStringLiteral("Auto write  Written")), qPrintable(history.err));
}

// The README's set-up of a record server, followed literally: the administrator's
// commands (with this test's superuser for `sudo -u postgres`, and the vantory-cli just
// built), then a station with the password file and the setting the README shows (the
// host being this test's socket).
void TstRecordServer::readmeSetUp_worksAsWritten()
{
    QFile readme(QStringLiteral(VANTORY_README));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const auto block = [&](const QString& after, const QString& fence) {
        const int start = text.indexOf(fence, text.indexOf(after)) + fence.size();
        return text.mid(start, text.indexOf(QStringLiteral("```"), start) - start).trimmed();
    };
    const QStringList admin = block(QStringLiteral("On the server, once"), "```sh").split('\n');
    const QStringList station =
        block(QStringLiteral("On each station, the password"), "```ini").split('\n');
    QVERIFY(admin.size() >= 3 && station.size() >= 5);
    QTemporaryDir dir;
    QVERIFY(QFile::link(QStringLiteral(VANTORY_CLI_PATH), dir.filePath("vantory-cli")));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGHOST"), m_server.socketFolder());
    env.insert(QStringLiteral("PGUSER"), QStringLiteral("vantory"));
    env.insert(QStringLiteral("PGDATABASE"), QStringLiteral("record"));
    env.insert(QStringLiteral("PATH"), dir.path() + ':' + env.value(QStringLiteral("PATH")));
    for (QString command : admin) {
        command.remove(QStringLiteral("sudo -u postgres "));
        QProcess sh;
        sh.setProcessEnvironment(env);
        sh.setProcessChannelMode(QProcess::MergedChannels);
        sh.start(QStringLiteral("bash"), {"-c", command});
        QVERIFY(sh.waitForFinished(30000));
        QVERIFY2(sh.exitCode() == 0, qPrintable(command + '\n' + sh.readAll()));
    }

    const QString pgpass = dir.filePath(QStringLiteral("pgpass"));
    QFile pass(pgpass);
    QVERIFY(pass.open(QIODevice::WriteOnly));
    // libpq matches a socket folder other than its default by the folder's path.
    pass.write(station.at(1).trimmed().replace("db.factory.lan", m_server.socketFolder()).toUtf8() +
               '\n');
    pass.close();
    QFile::setPermissions(pgpass, QFile::ReadOwner | QFile::WriteOwner);
    QString setting = station.at(4).trimmed().section(QLatin1Char('='), 1);
    setting.replace(QStringLiteral("db.factory.lan"), QString());
    setting += QStringLiteral("?host=") + m_server.socketFolder();
    for (const char* name : {"PGHOST", "PGUSER", "PGDATABASE", "VANTORY_RECORD_DB"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("PGPASSFILE"), pgpass);
    env.insert(QStringLiteral("VANTORY_STATION"), station.at(5).section(QLatin1Char('='), 1));
    env.insert(QStringLiteral("VANTORY_RECORD_DIR"), dir.filePath(QStringLiteral("records")));
    const QString config = dir.filePath(QStringLiteral("c.bin"));
    for (const QStringList& args :
         {QStringList{"--simulate", "read", "-o", config},
          QStringList{"--simulate", "write", config, "--record-db", setting}}) {
        const Run r = runCli(args, env);
        QVERIFY2(r.code == 0 && r.err.isEmpty(), qPrintable(r.err));
    }
    record::Store server;
    QVERIFY2(server.openServer(QStringLiteral("postgresql:///vantory_record?host=%1&user=vantory")
                                   .arg(m_server.socketFolder())),
             qPrintable(server.error()));
    const auto lines = server.lines({});
    QVERIFY(lines && lines->size() == 1);
    QCOMPARE(lines->first().station, QStringLiteral("Line 2 left"));
}

QTEST_GUILESS_MAIN(TstRecordServer)
#include "tst_recordserver.moc"
