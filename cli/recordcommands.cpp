#include "cli/recordcommands.h"

#include "cli/clirunner.h"
#include "cli/tagfiles.h"
#include "model/recordstore.h"

#include <algorithm>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace cli
{

namespace
{

int fail(Environment& env, int code, const QString& message)
{
    *env.err << "vantory-cli: " << message << "\n";
    env.err->flush();
    return code;
}

// The station's own journal, which must be there: a look-up never makes one.
bool openJournal(Environment& env, record::Store& store)
{
    if (env.recordDir.isEmpty()) {
        *env.err << "vantory-cli: no record folder (with --simulate, name one with "
                    "--record-dir)\n";
        return false;
    }
    if (!store.openLocal(record::localDatabasePath(env.recordDir), false)) {
        *env.err << "vantory-cli: " << store.error() << "\n";
        return false;
    }
    return true;
}

// The server when one is set and reachable, else the station's own journal.
bool openRecord(Environment& env, record::Store& store)
{
    if (!env.recordServer.isEmpty()) {
        if (store.openServer(env.recordServer))
            return true;
        *env.err << "vantory-cli: "
                 << record::serverProblemText(store.problem(), false).arg(store.error())
                 << "; showing this station's local record only\n";
    }
    return openJournal(env, store);
}

// The server's lines of one driver with this station's own lines that have not reached
// it yet, newest first.
QVector<record::StoredLine> withUnsent(QVector<record::StoredLine> lines, Environment& env,
                                       const QString& uid)
{
    record::Store journal;
    if (env.recordDir.isEmpty() ||
        !journal.openLocal(record::localDatabasePath(env.recordDir), false))
        return lines;
    for (const record::StoredLine& own : journal.history(uid).value_or(lines)) {
        const bool there = std::any_of(lines.cbegin(), lines.cend(),
                                       [&](const record::StoredLine& l) { return l.id == own.id; });
        if (!there)
            lines << own;
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const record::StoredLine& a, const record::StoredLine& b) {
                         return a.timeUtc > b.timeUtc;
                     });
    return lines;
}

QJsonObject toJson(const record::StoredLine& line)
{
    QJsonObject o;
    o.insert(QStringLiteral("id"), line.id);
    o.insert(QStringLiteral("station"), line.station);
    o.insert(QStringLiteral("seq"), double(line.seq));
    o.insert(QStringLiteral("time_utc"), line.timeUtc);
    for (const record::Field& f : record::fields())
        o.insert(QString::fromLatin1(f.key), line.entry.*f.member);
    return o;
}

} // namespace

QString recordOptionsHelp()
{
    return QStringLiteral(
        "  --record-db C     the record server (postgresql:// URI, keyword=value pairs or a\n"
        "                    service name; VANTORY_RECORD_DB); no password: use ~/.pgpass\n"
        "  --record-dir D    the record folder (VANTORY_RECORD_DIR); also with --simulate\n"
        "  --since, --until  records: first and last day (YYYY-MM-DD)\n"
        "  --station NAME    records: only this station (a station's own name: VANTORY_STATION)\n");
}

void applyRecordArgs(const QCommandLineParser& parser, const RecordArgs& args, Environment& env)
{
    const QString dir = parser.isSet(args.recordDir) ? parser.value(args.recordDir)
                                                     : qEnvironmentVariable("VANTORY_RECORD_DIR");
    if (!dir.isEmpty())
        env.recordDir = dir;
    const QString server = parser.isSet(args.recordDb) ? parser.value(args.recordDb)
                                                       : qEnvironmentVariable("VANTORY_RECORD_DB");
    if (!server.trimmed().isEmpty())
        env.recordServer = server.trimmed();
    env.station = record::stationName(qEnvironmentVariable("VANTORY_STATION"));
}

int cmdHistory(Environment& env, const QCommandLineParser& parser, bool json)
{
    const QStringList args = parser.positionalArguments().mid(1);
    QString uid = args.value(0).toUpper();
    uid.remove(QRegularExpression(QStringLiteral("[\\s:-]")));
    if (args.size() != 1 ||
        !QRegularExpression(QStringLiteral("^[0-9A-F]{16}$")).match(uid).hasMatch()) {
        *env.err << "vantory-cli: history wants one UID of 16 hex digits\n"
                    "Try 'vantory-cli --help'.\n";
        return BadArguments;
    }
    record::Store store;
    if (!openRecord(env, store))
        return Failure;
    auto lines = store.history(uid);
    if (!lines)
        return fail(env, Failure, store.error());
    if (store.isServer())
        lines = withUnsent(*lines, env, uid);
    if (json) {
        QJsonArray list;
        for (const record::StoredLine& line : *lines)
            list.append(toJson(line));
        *env.out << QJsonDocument(list).toJson(QJsonDocument::Indented);
    } else if (lines->isEmpty()) {
        *env.out << "no recorded operation on " << uid << "\n";
    } else {
        for (const record::StoredLine& l : *lines) {
            const record::Entry& e = l.entry;
            // The reader by its kind and, since lines name it, its identity.
            const QString reader =
                e.readerId.isEmpty() ? e.reader : e.reader + QLatin1Char(' ') + e.readerId;
            *env.out << e.time << "  " << l.station << "  " << reader << "  " << e.operation
                     << "  " << e.result
                     << "  " << e.source << "  " << e.model << "\n";
        }
    }
    env.out->flush();
    return Ok;
}

int cmdRecords(Environment& env, const QCommandLineParser& parser, const RecordArgs& args,
               const QString& output)
{
    if (parser.positionalArguments().size() != 1) {
        *env.err << "vantory-cli: records takes no file; use -o FILE.csv\n";
        return BadArguments;
    }
    record::LineFilter filter;
    for (const auto& [option, day] :
         {std::pair{&args.since, &filter.since}, std::pair{&args.until, &filter.until}}) {
        if (!parser.isSet(*option))
            continue;
        *day = QDate::fromString(parser.value(*option), Qt::ISODate);
        if (!day->isValid()) {
            *env.err << "vantory-cli: --" << option->names().first()
                     << " wants a day as YYYY-MM-DD, not '" << parser.value(*option) << "'\n";
            return BadArguments;
        }
    }
    filter.station = parser.value(args.station);
    record::Store store;
    if (!openRecord(env, store))
        return Failure;
    const auto lines = store.lines(filter);
    if (!lines)
        return fail(env, Failure, store.error());
    // The lines as the day files hold them, with the station that wrote each last (one
    // driver programmed at two stations is two lines); a file also gets the byte-order mark.
    const auto withStation = [](QByteArray line, const QString& station) {
        line.insert(line.size() - 2, "," + record::csvField(station).toUtf8());
        return line;
    };
    QByteArray bytes = withStation(record::headerLine(), QStringLiteral("Station"));
    for (const record::StoredLine& line : *lines)
        bytes += withStation(record::csvLine(line.entry), line.station);
    if (output.isEmpty()) {
        env.out->flush();
        *env.out << QString::fromUtf8(bytes);
        env.out->flush();
        return Ok;
    }
    QString error;
    if (!saveAll(output, "\xEF\xBB\xBF" + bytes, &error))
        return fail(env, Failure, QStringLiteral("cannot save %1: %2").arg(output, error));
    *env.err << lines->size() << " line(s) saved in " << output << "\n";
    return Ok;
}

int cmdRecordSetup(Environment& env)
{
    if (env.recordServer.isEmpty())
        return fail(env, BadArguments,
                    QStringLiteral("record-setup wants the server: --record-db or "
                                   "VANTORY_RECORD_DB"));
    record::Store store;
    if (!store.setUpServer(env.recordServer))
        return fail(env, Failure, store.error());
    *env.out << "the record tables are ready at schema version " << record::kSchemaVersion
             << "; give the stations' role SELECT and INSERT on production_record and "
                "record_schema\n";
    return Ok;
}

} // namespace cli
