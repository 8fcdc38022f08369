#include "cli/tagfiles.h"

#include "cli/clirunner.h"
#include "cli/session.h"
#include "model/configfile.h"
#include "model/currents.h"
#include "model/tagfields.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace cli
{

namespace
{

// A driver has three channels at most.
constexpr int kMaxChannels = 3;

} // namespace

std::optional<ConfigFile> loadFile(Environment& env, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *env.err << "vantory-cli: cannot open " << path << ": " << file.errorString() << "\n";
        return std::nullopt;
    }
    ConfigFile config;
    config.bytes = file.read(configfile::FileSize);
    const configfile::LoadResult result = configfile::loadConfig(config.bytes, config.image);
    if (result.error == configfile::LoadError::TooShort) {
        *env.err << "vantory-cli: " << path << " has " << config.bytes.size()
                 << " bytes; a configuration file has 512\n";
        return std::nullopt;
    }
    if (!result.ok()) {
        *env.err << "vantory-cli: " << path << " is not a configuration file of this program: "
                 << configfile::refusalReason(result, false) << "\n";
        return std::nullopt;
    }
    if (result.repaired)
        *env.err << "vantory-cli: constant lumen data error, automatic correction\n";
    tagfields::updateBankBuff(config.image);
    config.kind = configfile::kindFromContent(config.bytes);
    return config;
}

bool parseCurrents(Environment& env, const QStringList& values, const TagImage& image,
                   QMap<int, uint16_t>* out)
{
    const uint8_t count = currents::channelCount(image);
    const currents::ChannelDisplay shown =
        currents::displayCurrentChannel(image, count, tagfields::ChipP);
    for (const QString& v : values) {
        const QStringList parts = v.split(QLatin1Char('='));
        bool okCh = false;
        bool okMa = false;
        const int ch = parts.value(0).toInt(&okCh);
        const int ma = parts.value(1).toInt(&okMa);
        if (parts.size() != 2 || !okCh || !okMa) {
            badArguments(env, QStringLiteral("--current wants CH=MA, not '%1'").arg(v));
            return false;
        }
        // Byte 89 comes from the file and may say anything up to 255; a driver has three
        // channels at most.
        const int channels = std::min<int>(count, kMaxChannels);
        if (ch < 1 || ch > channels) {
            const QString valid =
                channels == 1 ? QStringLiteral("the driver has channel 1 only")
                              : QStringLiteral("the driver's channels are 1-%1").arg(channels);
            badArguments(
                env, QStringLiteral("--current: channel %1 does not exist; %2").arg(ch).arg(valid));
            return false;
        }
        const currents::ChannelSetting& range = shown.channels[static_cast<size_t>(ch - 1)];
        if (ma < range.minimum || ma > range.maximum) {
            badArguments(env, QStringLiteral("%1 mA is outside channel %2's range %3-%4 mA")
                                  .arg(ma)
                                  .arg(ch)
                                  .arg(range.minimum)
                                  .arg(range.maximum));
            return false;
        }
        out->insert(ch - 1, static_cast<uint16_t>(ma));
    }
    return true;
}

void printReport(QTextStream& to, const TagImage& image, const devicereport::TagIdentity& tag,
                 bool json)
{
    if (json)
        to << QJsonDocument(devicereport::toJson(image, tag)).toJson(QJsonDocument::Indented);
    else
        to << devicereport::toText(image, tag);
    to.flush();
}

bool saveAll(const QString& path, const QByteArray& bytes, QString* error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
            file.write(bytes) != bytes.size()) {
            *error = file.errorString();
            return false;
        }
        return true;
    }
    QSaveFile file(path);
    // commit() misses a failure of the buffered bytes' final write (a full disk) and
    // would link the short file in: the bytes go out and are checked first. Without
    // commit the temporary file is removed.
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() ||
        !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

QString resultKey(record::Result result)
{
    switch (result) {
    case record::Result::Written:
        return QStringLiteral("written");
    case record::Result::WriteFailed:
        return QStringLiteral("write_failed");
    case record::Result::NoTagResponse:
        return QStringLiteral("no_tag_response");
    case record::Result::OtherModel:
        return QStringLiteral("other_model");
    case record::Result::ReaderLost:
        return QStringLiteral("reader_lost");
    case record::Result::Interrupted:
        return QStringLiteral("interrupted");
    case record::Result::OtherLayout:
        return QStringLiteral("other_layout");
    case record::Result::VerifyFailed:
        return QStringLiteral("verify_failed");
    case record::Result::OtherKind:
        return QStringLiteral("other_kind");
    }
    return QString();
}

// The currents an operation wrote, as its record line has them.
QJsonArray currentsWritten(const record::Outcome& outcome)
{
    QJsonArray list;
    const QString text = record::entryFor(outcome, QString()).currents;
    for (const QString& mA : text.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        list.append(mA.toInt());
    return list;
}

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

void Configuration::applyTo(Session& s) const
{
    s.engine().setVerifyAfterWrite(verify);
    s.engine().openConfiguration(bytes, fileName);
    applyCurrents(s);
}

void Configuration::applyCurrents(Session& s) const
{
    for (auto it = currents.cbegin(); it != currents.cend(); ++it)
        s.document().setChannelCurrent(it.key(), it.value());
}

int loadConfiguration(Environment& env, Parsed& p, const QString& command, Configuration* out)
{
    const QStringList files = p.parser.positionalArguments().mid(1);
    if (files.size() != 1)
        return badArguments(env, QStringLiteral("%1 wants one configuration file").arg(command));
    const std::optional<ConfigFile> config = loadFile(env, files.first());
    if (!config)
        return BadFile;
    out->bytes = config->bytes;
    out->image = config->image;
    out->fileName = QFileInfo(files.first()).fileName();
    out->verify = !p.parser.isSet(p.noVerify);
    if (!parseCurrents(env, p.parser.values(p.current), out->image, &out->currents))
        return BadArguments;
    return Ok;
}

} // namespace cli
