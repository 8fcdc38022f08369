// The production record on a real PostgreSQL server that this test starts itself (initdb
// and pg_ctl in a temporary folder, a unix socket there and no TCP port; as the user nobody
// when run as root). Several vantory-cli processes on simulated lines write to it at once.
#include "model/recordstore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <pwd.h>
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
                 error) ||
            !up(error))
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

    QString setting() const
    {
        return QStringLiteral("postgresql:///record?host=%1&user=vantory&connect_timeout=2")
            .arg(m_dir.path());
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

  private:
    PgServer m_server;
    QTemporaryDir m_dir;
};

void TstRecordServer::initTestCase()
{
    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
}

void TstRecordServer::fourStations_serverStoppedAndBack()
{
    constexpr int kStations = 4;
    constexpr int kDrivers = 625;
    constexpr int kOutageMs = 8000;
    const QString config = m_dir.filePath(QStringLiteral("c.bin"));
    QProcess read;
    read.start(QStringLiteral(VANTORY_CLI_PATH), {"--simulate", "read", "-o", config});
    QVERIFY(read.waitForFinished(30000) && read.exitCode() == 0);

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
    QProcess history;
    history.start(QStringLiteral(VANTORY_CLI_PATH),
                  {"history", uid, "--json", "--record-db", m_server.setting()});
    QVERIFY(history.waitForFinished(30000));
    QCOMPARE(history.exitCode(), 0);
    const QJsonArray found = QJsonDocument::fromJson(history.readAllStandardOutput()).array();
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

QTEST_GUILESS_MAIN(TstRecordServer)
#include "tst_recordserver.moc"
