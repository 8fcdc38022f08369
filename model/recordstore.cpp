#include "model/recordstore.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
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
#include <algorithm>
#include <atomic>
#include <memory>

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
            // Qt's message quotes the whole setting, password and all.
            *error = QStringLiteral("is not a valid URI (%1)").arg(redacted(url.errorString()));
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

QString redacted(const QString& text)
{
    QString out = text;
    // user:password@ in a URI, and password=value (plain or quoted) in pairs or a query.
    static const QRegularExpression uri(QStringLiteral("(://[^/:@\\s]*:)[^@\\s]*@"));
    static const QRegularExpression pair(
        QStringLiteral("(password\\s*=\\s*)('(?:[^'\\\\]|\\\\.)*'?|[^\\s&]*)"),
        QRegularExpression::CaseInsensitiveOption);
    out.replace(uri, QStringLiteral("\\1***@"));
    out.replace(pair, QStringLiteral("\\1***"));
    return out;
}

QString serverProblemText(ServerProblem problem, bool chinese)
{
    struct Text {
        const char* zh;
        const char* en;
    };
    static const Text texts[] = {
        {"", ""},
        {"记录服务器设置被拒绝（%1）：生产记录只保存在本机",
         "Record server setting refused (%1): the production record is kept locally only"},
        {"记录服务器拒绝登录（%1）：生产记录暂存在本机，登录被接受后自动发送",
         "Record server refused the login (%1): the production record is held locally and "
         "sent once the login is accepted"},
        {"记录服务器拒绝访问记录表（%1）：生产记录暂存在本机，获得权限后自动发送",
         "Record server denied access to the record table (%1): the production record is "
         "held locally and sent once the rights are granted"},
        {"记录服务器上没有本版本的记录表（%1）：请管理员运行 vantory-cli record-setup；"
         "生产记录暂存在本机",
         "Record server has no record table for this version (%1): an administrator runs "
         "vantory-cli record-setup; the production record is held locally until then"},
        {"记录服务器未及时应答（%1）：生产记录暂存在本机，服务器应答后自动发送",
         "Record server did not answer in time (%1): the production record is held locally "
         "and sent when it answers"},
        {"无法连接记录服务器（%1）：生产记录暂存在本机，服务器恢复后自动发送",
         "Record server not reachable (%1): the production record is held locally and sent "
         "when it is back"},
    };
    const Text& t = texts[size_t(problem)];
    return QString::fromUtf8(chinese ? t.zh : t.en);
}

namespace
{

// The kind of a server failure, from its SQLSTATE where the driver gives one, else from
// libpq's message (a failed connection has no SQLSTATE).
ServerProblem classify(const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    const QString text = error.databaseText() + QLatin1Char(' ') + error.driverText();
    const auto has = [&](const char* words) {
        return text.contains(QLatin1String(words), Qt::CaseInsensitive);
    };
    if (code.startsWith(QLatin1String("28")) || has("authentication failed") ||
        has("no password supplied") || has("password authentication") ||
        (has("role") && has("does not exist")))
        return ServerProblem::Authentication;
    if (code == QLatin1String("42501") || has("permission denied"))
        return ServerProblem::Permission;
    if (code == QLatin1String("42P01") || (has("does not exist") && has("relation")))
        return ServerProblem::NoTable;
    if (code == QLatin1String("57014") || code == QLatin1String("55P03") ||
        has("statement timeout") || has("lock timeout"))
        return ServerProblem::Stalled;
    if (code == QLatin1String("3D000") || (has("database") && has("does not exist")))
        return ServerProblem::Setting;
    return ServerProblem::Unreachable;
}

// The server's own reason: libpq's message from its "FATAL:" or "ERROR:" on, first line.
QString shortDetail(const QSqlError& error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    static const QRegularExpression level(QStringLiteral("(FATAL|ERROR):\\s*"));
    const QRegularExpressionMatch m = level.match(text);
    if (m.hasMatch())
        text = text.mid(m.capturedEnd());
    return redacted(text.section(QLatin1Char('\n'), 0, 0).trimmed());
}

// A stalled server (a lock held, a network that stopped answering) must not hold a
// station's exit or a statement for long; every statement ends within these.
constexpr int kStatementTimeoutMs = 5000;
// libpq's own keep-alive and time-out settings, unless the setting names them.
const char* const kNetworkOptions[][2] = {
    {"keepalives", "1"},       {"keepalives_idle", "5"},      {"keepalives_interval", "2"},
    {"keepalives_count", "2"}, {"tcp_user_timeout", "10000"},
};

// The setting's options with the network time-outs it does not name itself.
QString withNetworkTimeouts(const QString& options)
{
    QString out = options;
    for (const auto& option : kNetworkOptions)
        if (!options.contains(QLatin1String(option[0]) + QLatin1Char('=')))
            out += QStringLiteral(" %1=%2").arg(QLatin1String(option[0]), QLatin1String(option[1]));
    return out;
}

} // namespace

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

bool Store::openLocal(const QString& path, bool create)
{
    close();
    m_server = false;
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return fail(QStringLiteral("Qt's SQLite driver (QSQLITE) is not installed"), QString());
    // A look-up in a mistyped folder must not leave an empty record there.
    if (!create && !QFileInfo::exists(path))
        return fail(QStringLiteral("no record in %1")
                        .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath())),
                    QString());
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

bool Store::failServer(const QString& what, const QSqlError& error)
{
    m_problem = classify(error);
    const QString detail = shortDetail(error);
    return fail(detail.isEmpty() ? what : detail, QString());
}

bool Store::connectServer(const QString& setting)
{
    close();
    m_server = true;
    m_problem = ServerProblem::Setting;
    QString error;
    const QString options = libpqOptions(setting, &error);
    if (options.isEmpty())
        return fail(QStringLiteral("the record server setting %1").arg(error), QString());
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return fail(QStringLiteral("Qt's PostgreSQL driver (QPSQL) is not installed"), QString());
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
    m_db.setConnectOptions(withNetworkTimeouts(options));
    if (!m_db.open())
        return failServer(QStringLiteral("the record server cannot be reached"), m_db.lastError());
    // "already exists, skipping" notices would land on the terminal; a held lock or a
    // stalled server ends a statement instead of holding the station.
    QSqlQuery q(m_db);
    for (const QString& set :
         {QStringLiteral("SET client_min_messages TO WARNING"),
          QStringLiteral("SET statement_timeout TO %1").arg(kStatementTimeoutMs),
          QStringLiteral("SET lock_timeout TO %1").arg(kStatementTimeoutMs)})
        if (!q.exec(set))
            return failServer(QStringLiteral("the record server cannot be used"), q.lastError());
    m_problem = ServerProblem::None;
    return true;
}

bool Store::openServer(const QString& setting)
{
    if (!connectServer(setting))
        return false;
    // A station only checks the table: creating it is the administrator's step.
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT MAX(version) FROM record_schema")) || !q.next())
        return failServer(QStringLiteral("the record table cannot be read"), q.lastError());
    const int version = q.value(0).toInt();
    if (version < kSchemaVersion) {
        m_problem = ServerProblem::NoTable;
        return fail(QStringLiteral("the record table is at version %1, this program needs %2")
                        .arg(version)
                        .arg(kSchemaVersion),
                    QString());
    }
    return true;
}

bool Store::setUpServer(const QString& setting)
{
    if (!connectServer(setting))
        return false;
    if (migrate())
        return true;
    m_problem = ServerProblem::Permission;
    return false;
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
    // A refused driver was not written: its line is no write.
    const auto found =
        select(QStringLiteral("uid = ? AND operation IN (?, ?) AND result NOT IN (?, ?)"),
               QStringLiteral("time_utc DESC, seq DESC"),
               {uid.trimmed().toUpper(), operationText(Operation::Write),
                operationText(Operation::AutoWrite), resultText(Result::OtherModel),
                resultText(Result::OtherLayout)},
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

/// Lives on the journal's thread: the CSV file, then the local journal. A line either
/// store does not take waits in that store's queue, in order, and is offered again with
/// the next line and every second, so that a full disk or a locked journal loses nothing
/// that comes back before the program ends.
class JournalWorker : public QObject
{
  public:
    JournalWorker(Journal* owner, QString folder, QString station)
        : m_owner(owner), m_folder(std::move(folder)), m_station(std::move(station))
    {
    }

    void add(const Entry& entry)
    {
        const StoredLine line = newLine(entry, m_station);
        m_toFile.append(line);
        m_toJournal.append(line);
        pump();
    }

    /// Offers the waiting lines to both stores; true when the journal took new lines.
    bool pump()
    {
        const bool hadProblem = m_fileReported || m_journalReported;
        writeFile();
        const bool wrote = writeJournal();
        if (hadProblem && !m_fileReported && !m_journalReported)
            emit m_owner->recovered(m_folder);
        if (!m_toFile.isEmpty() || !m_toJournal.isEmpty())
            retryLater();
        if (wrote)
            m_owner->nudgeSender();
        return wrote;
    }

    Journal::Backlog backlog() const
    {
        Journal::Backlog b;
        b.notInFile = m_toFile.size();
        b.notInJournal = m_toJournal.size();
        for (const StoredLine& line : m_toFile)
            for (const StoredLine& waiting : m_toJournal)
                if (waiting.id == line.id)
                    ++b.inNeither;
        return b;
    }

  private:
    void writeFile()
    {
        while (!m_toFile.isEmpty()) {
            const QString reason = appendLine(m_folder, m_toFile.first().entry);
            if (!reason.isEmpty()) {
                if (!m_fileReported)
                    emit m_owner->failed(m_folder, reason);
                m_fileReported = true;
                return;
            }
            m_toFile.removeFirst();
            m_fileReported = false;
        }
    }

    bool writeJournal()
    {
        bool wrote = false;
        while (!m_toJournal.isEmpty()) {
            if ((!m_store.isOpen() && !m_store.openLocal(localDatabasePath(m_folder))) ||
                !m_store.add(m_toJournal.first())) {
                m_store.close(); // opened again for the next try
                if (!m_journalReported)
                    emit m_owner->journalFailed(
                        QStringLiteral("%1; %2 line(s) wait and are tried again")
                            .arg(m_store.error())
                            .arg(m_toJournal.size()));
                m_journalReported = true;
                return wrote;
            }
            m_toJournal.removeFirst();
            m_journalReported = false;
            wrote = true;
        }
        return wrote;
    }

    void retryLater()
    {
        if (!m_retry) {
            m_retry = new QTimer(this);
            m_retry->setSingleShot(true);
            m_retry->setInterval(1000);
            QObject::connect(m_retry, &QTimer::timeout, this, [this] { pump(); });
        }
        if (!m_retry->isActive())
            m_retry->start();
    }

    Journal* m_owner;
    QString m_folder;
    QString m_station;
    Store m_store;
    QVector<StoredLine> m_toFile;
    QVector<StoredLine> m_toJournal;
    QTimer* m_retry = nullptr;
    bool m_fileReported = false;
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
                away(m_server.problem(), m_server.error());
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

    void away(ServerProblem problem, const QString& reason)
    {
        m_server.close();
        if (!m_retry) {
            m_retry = new QTimer(this);
            m_retry->setSingleShot(true);
            QObject::connect(m_retry, &QTimer::timeout, this, [this] { sendAll(); });
        }
        m_retry->start(m_retryMs);
        // Told once; again only when the server, now answering, refuses for a reason of
        // its own (a login, a right, a table) that someone has to mend.
        const bool transient =
            problem == ServerProblem::Unreachable || problem == ServerProblem::Stalled;
        if (m_away && (problem == m_problem || transient))
            return;
        m_away = true;
        m_problem = problem;
        emit m_owner->serverAway(
            problem == ServerProblem::None ? ServerProblem::Unreachable : problem, reason);
    }

    void back()
    {
        if (!m_away)
            return;
        m_away = false;
        m_problem = ServerProblem::None;
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
    ServerProblem m_problem = ServerProblem::None;
    bool m_passQueued = false;
};

Journal::Journal(const QString& folder, const QString& server, const QString& station,
                 QObject* parent, int retryMs)
    : QObject(parent), m_folder(folder), m_serverSetting(server.trimmed()),
      m_station(stationName(station)), m_journalThread(new QThread(this)),
      m_senderThread(new QThread(this)), m_journal(new JournalWorker(this, folder, m_station)),
      m_sender(new SenderWorker(this, folder, m_serverSetting, retryMs))
{
    qRegisterMetaType<record::ServerProblem>();
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
    // Lines a full disk or a locked journal held back get a last chance.
    settle(3000);
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
    QMetaObject::invokeMethod(
        journal, [journal, entry] { journal->add(entry); }, Qt::QueuedConnection);
}

void Journal::nudgeSender()
{
    SenderWorker* sender = m_sender;
    QMetaObject::invokeMethod(
        sender, [sender] { sender->nudge(); }, Qt::QueuedConnection);
}

void Journal::drain()
{
    QMetaObject::invokeMethod(
        m_journal, [] {}, Qt::BlockingQueuedConnection);
}

Journal::Backlog Journal::settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    Backlog left;
    JournalWorker* journal = m_journal;
    for (;;) {
        QMetaObject::invokeMethod(
            journal,
            [journal, &left] {
                journal->pump();
                left = journal->backlog();
            },
            Qt::BlockingQueuedConnection);
        if (left.empty() || clock.elapsed() >= ms)
            return left;
        QThread::msleep(200);
    }
}

int Journal::flush(int ms)
{
    drain();
    if (m_serverSetting.isEmpty())
        return 0;
    // The sender may sit in a statement for up to its time-out: the caller's thread keeps
    // its event loop (a second Ctrl-C) meanwhile.
    struct Pass {
        std::atomic<bool> done{false};
        std::atomic<bool> sent{false};
        std::atomic<int> left{-1};
    };
    QElapsedTimer clock;
    clock.start();
    int left = -1;
    do {
        const auto pass = std::make_shared<Pass>();
        SenderWorker* sender = m_sender;
        QMetaObject::invokeMethod(
            sender,
            [sender, pass] {
                pass->sent = sender->sendAll();
                pass->left = sender->unsentCount();
                pass->done = true;
            },
            Qt::QueuedConnection);
        QEventLoop wait;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &wait, [&] {
            if (pass->done || clock.elapsed() >= ms)
                wait.quit();
        });
        look.start(5);
        wait.exec();
        if (!pass->done)
            return std::max(left, 1);
        left = pass->left;
        if (left == 0 || !pass->sent)
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
