#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>

// vantory-cli's side of the production record database: where the record goes (the options
// and environment variables) and the two commands that read it, history and records.
namespace cli
{

struct Environment;

/// The record options of the command line.
struct RecordArgs {
    QCommandLineOption recordDb{QStringLiteral("record-db"),
                                QStringLiteral("The record server: a postgresql:// URI, "
                                               "keyword=value pairs or a service name."),
                                QStringLiteral("CONNECTION")};
    QCommandLineOption recordDir{QStringLiteral("record-dir"),
                                 QStringLiteral("The record folder (also with --simulate)."),
                                 QStringLiteral("DIR")};
    QCommandLineOption since{QStringLiteral("since"),
                             QStringLiteral("records: from this day on (YYYY-MM-DD)."),
                             QStringLiteral("DATE")};
    QCommandLineOption until{QStringLiteral("until"),
                             QStringLiteral("records: up to and with this day (YYYY-MM-DD)."),
                             QStringLiteral("DATE")};
    QCommandLineOption station{QStringLiteral("station"),
                               QStringLiteral("records: only this station's lines."),
                               QStringLiteral("NAME")};

    void addTo(QCommandLineParser& parser) const
    {
        parser.addOptions({recordDb, recordDir, since, until, station});
    }
};

/// The help lines of the record options.
QString recordOptionsHelp();

/// Where the record goes: --record-dir or VANTORY_RECORD_DIR name the folder (the only way
/// to keep a record with --simulate), --record-db or VANTORY_RECORD_DB the server, and
/// VANTORY_STATION the station's name (default: the host name).
void applyRecordArgs(const QCommandLineParser& parser, const RecordArgs& args, Environment& env);

/// vantory-cli history UID [--json]
int cmdHistory(Environment& env, const QCommandLineParser& parser, bool json);
/// vantory-cli record-setup --record-db C: the server's tables, made by an administrator.
int cmdRecordSetup(Environment& env);
/// vantory-cli records [--since DATE] [--until DATE] [--station NAME] [-o FILE.csv]
int cmdRecords(Environment& env, const QCommandLineParser& parser, const RecordArgs& args,
               const QString& output);

} // namespace cli
