#pragma once

#include "model/productionrecord.h"

#include <QDate>
#include <QMetaType>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>
#include <optional>

class QSqlError;
class QThread;

/// The production record's database: a local SQLite journal in the record folder on every
/// station, and optionally a PostgreSQL server that the journal's lines are sent to.
namespace record
{

/// The schema version this program creates; older tables are migrated up to it.
constexpr int kSchemaVersion = 3;

/// One line of the record as the database holds it.
struct StoredLine {
    QString id;      ///< unique over every station (a UUID)
    QString station; ///< the station that wrote it
    qint64 seq = 0;  ///< the station's own running number
    QString timeUtc; ///< the line's time in UTC, for ordering
    Entry entry;
};

/// The local journal's file in the record folder.
QString localDatabasePath(const QString& folder);
/// `configured` when set, else the host name.
QString stationName(const QString& configured);
/// A new line for `entry`, with a fresh id.
StoredLine newLine(const Entry& entry, const QString& station);

/// Turns a record server setting into libpq's keyword/value form: a URI
/// ("postgresql://host:port/db?sslmode=require"), keyword/value pairs ("host=h dbname=d"),
/// or a bare service name from pg_service.conf. A password is refused: libpq takes it from
/// ~/.pgpass, PGPASSFILE or the service file. Empty with `error` set when not usable.
QString libpqOptions(const QString& setting, QString* error);

/// The setting with every password in it (a URI's user:password@, password=...) replaced by
/// "***": what may be printed or logged of a setting or of a message that quotes it.
QString redacted(const QString& text);

/// Why the record server takes no lines, as the people at the line are told it.
enum class ServerProblem : uint8_t {
    None,
    Setting,        ///< the setting is refused (a password in it, not a connection setting)
    Authentication, ///< the server refused the login (wrong or missing password)
    Permission,     ///< the role may not insert into or read the record table
    NoTable,        ///< the record table is missing or older than this program
    Stalled,        ///< a statement did not end within its time-out
    Unreachable,    ///< no connection (host, port, network, the server down)
};

/// The problem's text for the status bar and the terminal, with the detail for `%1`.
QString serverProblemText(ServerProblem problem, bool chinese);

/// Which lines `records` exports.
struct LineFilter {
    QDate since; ///< from this local day on, when valid
    QDate until; ///< up to and with this local day, when valid
    QString station;
};

/// One database connection, used on the thread that opened it. Every statement is prepared
/// and takes its values bound; no text of a tag or a file ever becomes SQL.
class Store
{
  public:
    Store();
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    /// The SQLite journal at `path`, created and migrated as needed; with `create` false a
    /// missing journal is an error.
    bool openLocal(const QString& path, bool create = true);
    /// The server named by `setting` (see libpqOptions). Its table must be there at this
    /// program's schema version (setUpServer): a station needs only SELECT and INSERT.
    bool openServer(const QString& setting);
    /// Creates or migrates the server's tables (an administrator's step, once per version).
    bool setUpServer(const QString& setting);
    bool isOpen() const;
    bool isServer() const { return m_server; }
    void close();
    /// Why the last step failed, without any password.
    QString error() const { return m_error; }
    /// With a server: what kind of problem the last failure was.
    ServerProblem problem() const { return m_problem; }

    /// Local journal: commits one line, not yet sent.
    bool add(const StoredLine& line);
    /// Local journal: the oldest lines not yet on the server.
    QVector<StoredLine> unsent(int limit);
    /// Local journal: how many lines are not yet on the server; -1 when unknown.
    int unsentCount();
    bool markSent(const QVector<StoredLine>& lines);
    /// Server: inserts the lines in one transaction; a line already there stays as it is.
    bool deliver(const QVector<StoredLine>& lines);

    /// Every line of one driver, newest first.
    std::optional<QVector<StoredLine>> history(const QString& uid);
    /// The newest Write or Auto write line of one driver that was not refused.
    std::optional<StoredLine> lastWrite(const QString& uid);
    /// Lines in the order they were recorded.
    std::optional<QVector<StoredLine>> lines(const LineFilter& filter);
    /// The schema version the table is at, 0 when unknown.
    int schemaVersion();

  private:
    bool connectServer(const QString& setting);
    bool migrate();
    bool fail(const QString& what, const QString& detail);
    bool failServer(const QString& what, const QSqlError& error);
    std::optional<QVector<StoredLine>> select(const QString& where, const QString& order,
                                              const QVariantList& values, int limit = -1);

    QString m_name;
    QSqlDatabase m_db;
    bool m_server = false;
    QString m_error;
    ServerProblem m_problem = ServerProblem::None;
};

class JournalWorker;
class SenderWorker;

/// The record as programming writes it: the day's CSV file and the local journal on one
/// thread, and on another the sender, which takes unsent journal lines to the server and
/// marks them sent. Programming never waits for either; a server that is away only delays
/// the sending, and a resent line is ignored by the server, so each arrives once.
class Journal : public QObject
{
    Q_OBJECT

  public:
    /// `server` empty: the local journal only. `retryMs`: how often an absent server is tried.
    Journal(const QString& folder, const QString& server, const QString& station,
            QObject* parent = nullptr, int retryMs = 2000);
    ~Journal() override;

    QString folder() const { return m_folder; }
    QString server() const { return m_serverSetting; }
    QString station() const { return m_station; }
    /// Queues one line; returns at once.
    void append(const Entry& entry);
    /// Blocks until every queued line has been offered to the CSV file and the journal once.
    void drain();
    /// Lines not yet where they go: not in the day file, not in the journal, in neither.
    struct Backlog {
        int notInFile = 0;
        int notInJournal = 0;
        int inNeither = 0;
        bool empty() const { return notInFile == 0 && notInJournal == 0; }
    };
    /// Offers the waiting lines to the file and the journal again until they are in or
    /// `ms` have passed; what is still missing.
    Backlog settle(int ms);
    /// Offers the journal's unsent lines to the server once more, at most `ms` (the event
    /// loop runs meanwhile); returns how many are still unsent. A statement already under
    /// way when the time is up ends within the server's statement time-out.
    int flush(int ms);
    /// Looks the driver's last write up on the sender's thread (the server when it is
    /// there, else the journal) and calls `done` on `context`'s thread.
    void findLastWrite(const QString& uid, QObject* context,
                       std::function<void(const QString& uid, std::optional<StoredLine>)> done);

  signals:
    /// The CSV file could not be written; emitted once until a line is written again.
    void failed(const QString& folder, const QString& reason);
    /// The journal could not be written: its lines wait and are tried again in order.
    /// Once until the journal takes lines again.
    void journalFailed(const QString& reason);
    /// A line went into the CSV file and the journal again after a failure.
    void recovered(const QString& folder);
    /// The server takes no lines, for `problem` (the detail has no password): lines are held
    /// locally. Once until it is back.
    void serverAway(record::ServerProblem problem, const QString& detail);
    /// The server takes lines again.
    void serverBack();

  private:
    friend class JournalWorker;
    /// New lines are in the journal: the sender takes them on.
    void nudgeSender();

    QString m_folder;
    QString m_serverSetting;
    QString m_station;
    QThread* m_journalThread = nullptr;
    QThread* m_senderThread = nullptr;
    JournalWorker* m_journal = nullptr;
    SenderWorker* m_sender = nullptr;
};

} // namespace record

Q_DECLARE_METATYPE(record::ServerProblem)
