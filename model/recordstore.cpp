#include "model/recordstore.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSysInfo>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <QVariant>
#include <atomic>

namespace record
{

namespace
{

const QString kTable = QStringLiteral("production_record");
// Serialises table creation and migration among stations starting at once.
constexpr qint64 kMigrationLock = 0x5641'4E54'5245'43LL;

// The columns every line has besides the record's own.
QStringList keyColumns()
{
    return {QStringLiteral("id"), QStringLiteral("station"), QStringLiteral("seq"),
            QStringLiteral("time_utc")};
}

QStringList fieldColumns(int upToSchema = kSchemaVersion)
{
    QStringList names;
    for (const Field& f : fields())
        if (f.sinceSchema <= upToSchema)
            names << QString::fromLatin1(f.key);
    return names;
}

QString quoteOption(QString value)
{
    value.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    value.replace(QLatin1String("'"), QLatin1String("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

QString utcText(const QString& isoTime)
{
    const QDateTime t = QDateTime::fromString(isoTime, Qt::ISODate);
    return t.isValid() ? t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")) : isoTime;
}

std::atomic<int> g_connections{0};

// An empty column is bound as empty text: a null QString would go in as NULL.
QString bound(const QString& text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

} // namespace

QString localDatabasePath(const QString& folder)
{
    return QDir(folder).filePath(QStringLiteral("vantory-record.sqlite"));
}

QString stationName(const QString& configured)
{
    const QString name = configured.trimmed();
    if (!name.isEmpty())
        return name;
    const QString host = QSysInfo::machineHostName();
    return host.isEmpty() ? QStringLiteral("station") : host;
}

StoredLine newLine(const Entry& entry, const QString& station)
{
    StoredLine line;
    line.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    line.station = station;
    line.timeUtc = utcText(entry.time);
    line.entry = entry;
    return line;
}

QString libpqOptions(const QString& setting, QString* error)
{
    const QString text = setting.trimmed();
    error->clear();
    QStringList pairs;
    bool hasTimeout = false;
    const auto add = [&](const QString& key, const QString& value) {
        if (key.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0) {
            *error = QStringLiteral("holds a password; put it in ~/.pgpass, PGPASSFILE or a "
                                    "service file instead");
            return;
        }
        hasTimeout = hasTimeout || key == QLatin1String("connect_timeout");
        pairs << key + QLatin1Char('=') + quoteOption(value);
    };
    if (text.isEmpty()) {
        *error = QStringLiteral("is empty");
        return QString();
    }
    if (text.startsWith(QLatin1String("postgresql://")) ||
        text.startsWith(QLatin1String("postgres://"))) {
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid()) {
            *error = QStringLiteral("is not a valid URI (%1)").arg(url.errorString());
            return QString();
        }
        if (!url.password().isEmpty()) {
            add(QStringLiteral("password"), QString());
            return QString();
        }
        if (!url.host().isEmpty())
            add(QStringLiteral("host"), url.host());
        if (url.port() > 0)
            add(QStringLiteral("port"), QString::number(url.port()));
        if (!url.userName().isEmpty())
            add(QStringLiteral("user"), url.userName());
        const QString db = url.path().mid(1);
        if (!db.isEmpty())
            add(QStringLiteral("dbname"), db);
        const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
        for (const auto& item : items)
            add(item.first, item.second);
    } else if (text.contains(QLatin1Char('='))) {
        // keyword=value pairs, values quoted or plain, as libpq writes them.
        int i = 0;
        while (i < text.size() && error->isEmpty()) {
            while (i < text.size() && text.at(i).isSpace())
                ++i;
            if (i >= text.size())
                break;
            const int eq = text.indexOf(QLatin1Char('='), i);
            if (eq < 0) {
                *error = QStringLiteral("has '%1' without a value").arg(text.mid(i));
                break;
            }
            const QString key = text.mid(i, eq - i).trimmed();
            i = eq + 1;
            while (i < text.size() && text.at(i).isSpace())
                ++i;
            QString value;
            if (i < text.size() && text.at(i) == QLatin1Char('\'')) {
                ++i;
                bool closed = false;
                while (i < text.size()) {
                    const QChar c = text.at(i++);
                    if (c == QLatin1Char('\\') && i < text.size()) {
                        value += text.at(i++);
                    } else if (c == QLatin1Char('\'')) {
                        closed = true;
                        break;
                    } else {
                        value += c;
                    }
                }
                if (!closed)
                    *error = QStringLiteral("has an unclosed quote");
            } else {
                while (i < text.size() && !text.at(i).isSpace())
                    value += text.at(i++);
            }
            if (key.isEmpty() || key.contains(QLatin1Char(' ')))
                *error = QStringLiteral("has a value without a keyword");
            if (error->isEmpty())
                add(key, value);
        }
    } else if (!text.contains(QLatin1Char(' ')) && !text.contains(QLatin1Char('/'))) {
        add(QStringLiteral("service"), text);
    } else {
        *error = QStringLiteral("is neither a postgresql:// URI, keyword=value pairs nor a "
                                "service name");
    }
    if (!error->isEmpty())
        return QString();
    // An unreachable host must not hold the sender for long.
    if (!hasTimeout)
        pairs << QStringLiteral("connect_timeout=5");
    return pairs.join(QLatin1Char(' '));
}

// ------------------------------------------------------------------------------ Store

Store::Store() : m_name(QStringLiteral("vantory-record-%1").arg(++g_connections)) {}

Store::~Store()
{
    close();
}

void Store::close()
{
    if (!m_db.isValid())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

bool Store::isOpen() const
{
    return m_db.isValid() && m_db.isOpen();
}

bool Store::fail(const QString& what, const QString& detail)
{
    m_error = detail.trimmed().isEmpty() ? what : what + QStringLiteral(": ") + detail.trimmed();
    return false;
}

bool Store::openLocal(const QString& path)
{
    close();
    m_server = false;
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return fail(QStringLiteral("Qt's SQLite driver (QSQLITE) is not installed"), QString());
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_db.setDatabaseName(path);
    // Several programs on one station share the journal: wait for each other's writes.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!m_db.open())
        return fail(QStringLiteral("cannot open %1").arg(path), m_db.lastError().text());
    QSqlQuery q(m_db);
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
    return migrate();
}

bool Store::openServer(const QString& setting)
{
    close();
    m_server = true;
    QString error;
    const QString options = libpqOptions(setting, &error);
    if (options.isEmpty())
        return fail(QStringLiteral("the record server setting %1").arg(error), QString());
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return fail(QStringLiteral("Qt's PostgreSQL driver (QPSQL) is not installed"), QString());
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
    m_db.setConnectOptions(options);
    if (!m_db.open())
        return fail(QStringLiteral("the record server cannot be reached"),
                    m_db.lastError().databaseText().isEmpty() ? m_db.lastError().text()
                                                              : m_db.lastError().databaseText());
    // "already exists, skipping" notices would land on the terminal.
    QSqlQuery(m_db).exec(QStringLiteral("SET client_min_messages TO WARNING"));
    return migrate();
}

int Store::schemaVersion()
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT MAX(version) FROM record_schema")) || !q.next())
        return 0;
    return q.value(0).toInt();
}

bool Store::migrate()
{
    QSqlQuery q(m_db);
    const auto run = [&](const QString& sql) {
        if (q.exec(sql))
            return true;
        const QString detail = q.lastError().text();
        m_db.rollback();
        return fail(QStringLiteral("cannot set up the record table"), detail);
    };
    // SQLite: take the write lock at once, so that two programs never deadlock upgrading.
    if (m_server ? !m_db.transaction() : !q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return fail(QStringLiteral("cannot set up the record table"),
                    m_server ? m_db.lastError().text() : q.lastError().text());
    if (m_server && !run(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kMigrationLock)))
        return false;
    if (!run(QStringLiteral("CREATE TABLE IF NOT EXISTS record_schema (version INTEGER NOT NULL)")))
        return false;
    int version = 0;
    if (q.exec(QStringLiteral("SELECT MAX(version) FROM record_schema")) && q.next())
        version = q.value(0).toInt();
    if (version < kSchemaVersion) {
        QStringList columns;
        if (m_server)
            columns << QStringLiteral("id TEXT PRIMARY KEY")
                    << QStringLiteral("station TEXT NOT NULL")
                    << QStringLiteral("seq BIGINT NOT NULL");
        else
            columns << QStringLiteral("seq INTEGER PRIMARY KEY")
                    << QStringLiteral("id TEXT NOT NULL UNIQUE")
                    << QStringLiteral("station TEXT NOT NULL");
        columns << QStringLiteral("time_utc TEXT NOT NULL");
        for (const QString& c : fieldColumns())
            columns << c + QStringLiteral(" TEXT NOT NULL DEFAULT ''");
        if (!m_server)
            columns << QStringLiteral("sent INTEGER NOT NULL DEFAULT 0");
        if (!run(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2)")
                     .arg(kTable, columns.join(QStringLiteral(", ")))))
            return false;
        // A table of an earlier version lacks the columns that came since: they are added,
        // empty in the lines it holds.
        const QSqlRecord have = m_db.record(kTable);
        for (const QString& c : fieldColumns())
            if (!have.contains(c) &&
                !run(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 TEXT NOT NULL DEFAULT ''")
                         .arg(kTable, c)))
                return false;
        const QString prefix = kTable + QLatin1Char('_');
        if (!run(QStringLiteral("CREATE INDEX IF NOT EXISTS %1uid ON %2 (uid)")
                     .arg(prefix, kTable)) ||
            !run(QStringLiteral("CREATE INDEX IF NOT EXISTS %1time ON %2 (time_utc)")
                     .arg(prefix, kTable)) ||
            (!m_server && !run(QStringLiteral("CREATE INDEX IF NOT EXISTS %1unsent ON %2 (sent) "
                                              "WHERE sent = 0")
                                   .arg(prefix, kTable))) ||
            !run(QStringLiteral("DELETE FROM record_schema")) ||
            !run(QStringLiteral("INSERT INTO record_schema (version) VALUES (%1)")
                     .arg(kSchemaVersion)))
            return false;
    }
    // A table of a newer program is used as it is: its extra columns have defaults.
    if (!m_db.commit())
        return fail(QStringLiteral("cannot set up the record table"), m_db.lastError().text());
    return true;
}

bool Store::add(const StoredLine& line)
{
    const QStringList columns =
        QStringList{QStringLiteral("id"), QStringLiteral("station"), QStringLiteral("time_utc")} +
        fieldColumns();
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(kTable, columns.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    q.addBindValue(line.id);
    q.addBindValue(line.station);
    q.addBindValue(line.timeUtc);
    for (const Field& f : fields())
        q.addBindValue(bound(line.entry.*f.member));
    if (!q.exec())
        return fail(QStringLiteral("cannot add to the journal"), q.lastError().text());
    return true;
}

std::optional<QVector<StoredLine>> Store::select(const QString& where, const QString& order,
                                                 const QVariantList& values, int limit)
{
    m_error.clear();
    const QStringList columns = keyColumns() + fieldColumns();
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(columns.join(QLatin1Char(',')), kTable);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    sql += QStringLiteral(" ORDER BY ") + order;
    if (limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit);
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        fail(QStringLiteral("cannot read the record"), q.lastError().text());
        return std::nullopt;
    }
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        fail(QStringLiteral("cannot read the record"), q.lastError().text());
        return std::nullopt;
    }
    QVector<StoredLine> out;
    while (q.next()) {
        StoredLine line;
        line.id = q.value(0).toString();
        line.station = q.value(1).toString();
        line.seq = q.value(2).toLongLong();
        line.timeUtc = q.value(3).toString();
        int i = 4;
        for (const Field& f : fields())
            line.entry.*f.member = q.value(i++).toString();
        line.entry.day = QDate::fromString(line.entry.time.left(10), Qt::ISODate);
        out << line;
    }
    return out;
}

QVector<StoredLine> Store::unsent(int limit)
{
    return select(QStringLiteral("sent = 0"), QStringLiteral("seq"), {}, limit)
        .value_or(QVector<StoredLine>());
}

int Store::unsentCount()
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE sent = 0").arg(kTable)) || !q.next())
        return -1;
    return q.value(0).toInt();
}

bool Store::markSent(const QVector<StoredLine>& lines)
{
    if (!m_db.transaction())
        return fail(QStringLiteral("cannot mark lines sent"), m_db.lastError().text());
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("UPDATE %1 SET sent = 1 WHERE id = ?").arg(kTable));
    for (const StoredLine& line : lines) {
        q.addBindValue(line.id);
        if (!q.exec()) {
            const QString detail = q.lastError().text();
            m_db.rollback();
            return fail(QStringLiteral("cannot mark lines sent"), detail);
        }
    }
    return m_db.commit() || fail(QStringLiteral("cannot mark lines sent"), m_db.lastError().text());
}

bool Store::deliver(const QVector<StoredLine>& lines)
{
    const QStringList columns = keyColumns() + fieldColumns();
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    if (!m_db.transaction())
        return fail(QStringLiteral("cannot send to the record server"), m_db.lastError().text());
    QSqlQuery q(m_db);
    // The id makes a resend harmless: a line the server has stays as it is.
    if (!q.prepare(
            QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT (id) DO NOTHING")
                .arg(kTable, columns.join(QLatin1Char(',')), marks.join(QLatin1Char(','))))) {
        const QString detail = q.lastError().text();
        m_db.rollback();
        return fail(QStringLiteral("cannot send to the record server"), detail);
    }
    for (const StoredLine& line : lines) {
        q.addBindValue(line.id);
        q.addBindValue(line.station);
        q.addBindValue(line.seq);
        q.addBindValue(line.timeUtc);
        for (const Field& f : fields())
            q.addBindValue(bound(line.entry.*f.member));
        if (!q.exec()) {
            const QString detail = q.lastError().text();
            m_db.rollback();
            return fail(QStringLiteral("cannot send to the record server"), detail);
        }
    }
    return m_db.commit() ||
           fail(QStringLiteral("cannot send to the record server"), m_db.lastError().text());
}

std::optional<QVector<StoredLine>> Store::history(const QString& uid)
{
    return select(QStringLiteral("uid = ?"), QStringLiteral("time_utc DESC, seq DESC"),
                  {uid.trimmed().toUpper()});
}

std::optional<StoredLine> Store::lastWrite(const QString& uid)
{
    const auto found = select(QStringLiteral("uid = ? AND operation IN (?, ?)"),
                              QStringLiteral("time_utc DESC, seq DESC"),
                              {uid.trimmed().toUpper(), operationText(Operation::Write),
                               operationText(Operation::AutoWrite)},
                              1);
    if (!found || found->isEmpty())
        return std::nullopt;
    return found->first();
}

std::optional<QVector<StoredLine>> Store::lines(const LineFilter& filter)
{
    QStringList where;
    QVariantList values;
    // The time column starts with the station's local day, as the file names do.
    if (filter.since.isValid()) {
        where << QStringLiteral("time >= ?");
        values << filter.since.toString(Qt::ISODate);
    }
    if (filter.until.isValid()) {
        where << QStringLiteral("time < ?");
        values << filter.until.addDays(1).toString(Qt::ISODate);
    }
    if (!filter.station.isEmpty()) {
        where << QStringLiteral("station = ?");
        values << filter.station;
    }
    return select(where.join(QStringLiteral(" AND ")), QStringLiteral("time_utc, station, seq"),
                  values);
}

// ---------------------------------------------------------------------------- Journal

/// Lives on the journal's thread: the CSV file, then the local journal.
class JournalWorker : public QObject
{
  public:
    JournalWorker(Journal* owner, QString folder, QString station)
        : m_owner(owner), m_folder(std::move(folder)), m_station(std::move(station))
    {
    }

    /// Returns true when the line went into the journal.
    bool write(const Entry& entry)
    {
        const bool hadProblem = m_csvReported || m_journalReported;
        const QString reason = appendLine(m_folder, entry);
        if (reason.isEmpty()) {
            m_csvReported = false;
        } else if (!m_csvReported) {
            m_csvReported = true;
            emit m_owner->failed(m_folder, reason);
        }
        if (!m_store.isOpen() && !m_store.openLocal(localDatabasePath(m_folder)))
            return report();
        if (!m_store.add(newLine(entry, m_station))) {
            m_store.close(); // opened again for the next line
            return report();
        }
        m_journalReported = false;
        if (hadProblem && !m_csvReported)
            emit m_owner->recovered(m_folder);
        return true;
    }

  private:
    bool report()
    {
        if (!m_journalReported) {
            m_journalReported = true;
            emit m_owner->journalFailed(m_store.error());
        }
        return false;
    }

    Journal* m_owner;
    QString m_folder;
    QString m_station;
    Store m_store;
    bool m_csvReported = false;
    bool m_journalReported = false;
};

/// Lives on the sender's thread: unsent journal lines to the server, and look-ups.
class SenderWorker : public QObject
{
  public:
    SenderWorker(Journal* owner, QString folder, QString server, int retryMs)
        : m_owner(owner), m_folder(std::move(folder)), m_setting(std::move(server)),
          m_retryMs(retryMs)
    {
    }

    /// New lines are in the journal; sends them unless a pass is already due.
    void nudge()
    {
        if (m_setting.isEmpty() || m_passQueued || (m_away && m_retry && m_retry->isActive()))
            return;
        m_passQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_passQueued = false;
                sendAll();
            },
            Qt::QueuedConnection);
    }

    /// Sends until the journal has nothing unsent or the server fails; false on failure.
    bool sendAll()
    {
        if (m_setting.isEmpty())
            return true;
        if (!openLocal())
            return false;
        for (;;) {
            const QVector<StoredLine> batch = m_local.unsent(500);
            if (batch.isEmpty())
                return true;
            if ((!m_server.isOpen() && !m_server.openServer(m_setting)) ||
                !m_server.deliver(batch)) {
                away(m_server.error());
                return false;
            }
            if (!m_local.markSent(batch)) {
                // Sent all the same; the next pass offers them again and the server ignores
                // them.
                m_local.close();
                return false;
            }
            back();
        }
    }

    int unsentCount()
    {
        if (m_setting.isEmpty() || !openLocal())
            return 0;
        return std::max(0, m_local.unsentCount());
    }

    /// The newer of the journal's and the server's answers: the server knows the other
    /// stations, the journal the lines not sent yet.
    std::optional<StoredLine> lastWrite(const QString& uid)
    {
        std::optional<StoredLine> found;
        if (openLocal())
            found = m_local.lastWrite(uid);
        if (!m_setting.isEmpty() && !m_away &&
            (m_server.isOpen() || m_server.openServer(m_setting))) {
            const std::optional<StoredLine> there = m_server.lastWrite(uid);
            if (!there && !m_server.error().isEmpty())
                m_server.close();
            if (there && (!found || there->timeUtc > found->timeUtc))
                found = there;
        }
        return found;
    }

  private:
    bool openLocal() { return m_local.isOpen() || m_local.openLocal(localDatabasePath(m_folder)); }

    void away(const QString& reason)
    {
        m_server.close();
        if (!m_retry) {
            m_retry = new QTimer(this);
            m_retry->setSingleShot(true);
            QObject::connect(m_retry, &QTimer::timeout, this, [this] { sendAll(); });
        }
        m_retry->start(m_retryMs);
        if (m_away)
            return;
        m_away = true;
        emit m_owner->serverAway(reason);
    }

    void back()
    {
        if (!m_away)
            return;
        m_away = false;
        emit m_owner->serverBack();
    }

    Journal* m_owner;
    QString m_folder;
    QString m_setting;
    int m_retryMs;
    Store m_local;
    Store m_server;
    QTimer* m_retry = nullptr;
    bool m_away = false;
    bool m_passQueued = false;
};

Journal::Journal(const QString& folder, const QString& server, const QString& station,
                 QObject* parent, int retryMs)
    : QObject(parent), m_folder(folder), m_serverSetting(server.trimmed()),
      m_station(stationName(station)), m_journalThread(new QThread(this)),
      m_senderThread(new QThread(this)), m_journal(new JournalWorker(this, folder, m_station)),
      m_sender(new SenderWorker(this, folder, m_serverSetting, retryMs))
{
    m_journalThread->setObjectName(QStringLiteral("recordJournal"));
    m_senderThread->setObjectName(QStringLiteral("recordSender"));
    m_journal->moveToThread(m_journalThread);
    m_sender->moveToThread(m_senderThread);
    m_journalThread->start(QThread::LowPriority);
    m_senderThread->start(QThread::LowPriority);
    // Lines a run left unsent go as soon as the server is there.
    SenderWorker* sender = m_sender;
    QMetaObject::invokeMethod(
        sender, [sender] { sender->nudge(); }, Qt::QueuedConnection);
}

Journal::~Journal()
{
    drain();
    // The sender's objects belong to its thread: they go with it.
    SenderWorker* sender = m_sender;
    QMetaObject::invokeMethod(
        sender, [sender] { delete sender; }, Qt::BlockingQueuedConnection);
    JournalWorker* journal = m_journal;
    QMetaObject::invokeMethod(
        journal, [journal] { delete journal; }, Qt::BlockingQueuedConnection);
    m_senderThread->quit();
    m_journalThread->quit();
    m_senderThread->wait();
    m_journalThread->wait();
}

void Journal::append(const Entry& entry)
{
    JournalWorker* journal = m_journal;
    SenderWorker* sender = m_sender;
    QMetaObject::invokeMethod(
        journal,
        [journal, sender, entry] {
            if (journal->write(entry))
                QMetaObject::invokeMethod(
                    sender, [sender] { sender->nudge(); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void Journal::drain()
{
    QMetaObject::invokeMethod(
        m_journal, [] {}, Qt::BlockingQueuedConnection);
}

int Journal::flush(int ms)
{
    drain();
    if (m_serverSetting.isEmpty())
        return 0;
    QElapsedTimer clock;
    clock.start();
    int left = 0;
    do {
        bool sent = false;
        SenderWorker* sender = m_sender;
        QMetaObject::invokeMethod(
            sender,
            [sender, &sent, &left] {
                sent = sender->sendAll();
                left = sender->unsentCount();
            },
            Qt::BlockingQueuedConnection);
        if (left == 0 || !sent)
            return left;
    } while (clock.elapsed() < ms);
    return left;
}

void Journal::findLastWrite(const QString& uid, QObject* context,
                            std::function<void(const QString&, std::optional<StoredLine>)> done)
{
    SenderWorker* sender = m_sender;
    QPointer<QObject> guard(context);
    QMetaObject::invokeMethod(
        sender,
        [sender, uid, guard, done] {
            const std::optional<StoredLine> found = sender->lastWrite(uid);
            if (!guard)
                return;
            QMetaObject::invokeMethod(
                guard.data(),
                [guard, done, uid, found] {
                    if (guard)
                        done(uid, found);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

} // namespace record
