#include "cli/clirunner.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "cli/tagfiles.h"

#include <QJsonDocument>
#include <QJsonObject>

// write: one driver, as the window's Write does it.
namespace cli
{

namespace
{

// write --json: the driver, what became of it and what it got.
QJsonObject writeResult(Session& s, int rc)
{
    static const QMap<int, QString> beforeWrite = {
        {NoReader, QStringLiteral("no_reader")},
        {NoTag, QStringLiteral("no_tag")},
        {TagError, QStringLiteral("read_failed")},
    };
    const std::optional<record::Outcome>& outcome = s.lastOutcome();
    const QByteArray uid = outcome ? outcome->uidMsbFirst : s.engine().uidMsbFirst();
    return QJsonObject{
        {QStringLiteral("uid"), s.driverModel().isEmpty() ? QJsonValue() : QJsonValue(hex(uid))},
        {QStringLiteral("model"), textOrNull(s.driverModel())},
        {QStringLiteral("result"),
         outcome ? resultKey(outcome->result) : beforeWrite.value(rc, QStringLiteral("failed"))},
        {QStringLiteral("currents_mA"), outcome ? currentsWritten(*outcome) : QJsonArray()},
        {QStringLiteral("duration_ms"),
         outcome ? QJsonValue(double(outcome->durationMs)) : QJsonValue()},
        {QStringLiteral("exit_code"), rc},
    };
}

} // namespace

int cmdWrite(Environment& env, Parsed& p)
{
    const bool json = p.parser.isSet(p.json);
    Configuration config;
    int rc = loadConfiguration(env, p, QStringLiteral("write"), &config);
    if (rc != Ok)
        return json ? printJsonFailure(env,
                                       rc == BadFile ? QStringLiteral("bad_file")
                                                     : QStringLiteral("bad_arguments"),
                                       rc)
                    : rc;

    Session s(env);
    rc = s.connect(p.readerName, p.deviceId);
    // As in the window: read the driver, open the file, write.
    if (rc == Ok)
        rc = s.read();
    if (rc == Ok) {
        config.applyTo(s);
        rc = s.write();
    }
    // The line is in the record before the result is told.
    if (s.closeRecord() != Ok && rc == Ok)
        rc = Failure;
    if (json)
        *env.out << QJsonDocument(writeResult(s, rc)).toJson(QJsonDocument::Indented);
    else if (rc == Ok)
        *env.out << "written " << hex(s.engine().uidMsbFirst()) << "\n";
    env.out->flush();
    return rc;
}

} // namespace cli
