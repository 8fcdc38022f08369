#include "cli/clirunner.h"

#include "cli/recordcommands.h"
#include "engine/tagengine.h"
#include "model/colortemp.h"
#include "model/configfile.h"
#include "model/currents.h"
#include "model/devicereport.h"
#include "model/productionrecord.h"
#include "model/recordstore.h"
#include "model/tagfields.h"
#include "readers/feigworker.h"
#include "readers/feusbapi.h"
#include "readers/feusblibrary.h"
#include "readers/hidapibackend.h"
#include "readers/hidbackend.h"
#include "readers/myhid.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSaveFile>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

namespace cli
{

namespace
{

// Result tips of the engine.
constexpr int kOperationLimitMs = 15000;
constexpr int kAutoPassMs = 300;
constexpr int kMaxChannels = 3;
constexpr int kReaderLostMs = 3000;

const QString kExitCodes = QStringLiteral(
    "Exit codes: 0 success, 1 other failure, 2 bad arguments, 3 no reader, 4 no tag,\n"
    "5 tag error or write refused, 6 other model, 7 bad configuration file.\n"
    "auto-write exits 0 only when every driver it handled was written; otherwise with the\n"
    "worst outcome of the batch: 3 reader lost, 5 a write failed, 6 other model.");

// Waits, running the event loop, until `done` or `ms` have passed.
bool waitFor(const std::function<bool()>& done, int ms)
{
    if (done())
        return true;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > ms)
            loop.quit();
    });
    poll.start();
    loop.exec();
    return done();
}

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex()).toUpper();
}

QString modelOf(const TagImage& image)
{
    return devicereport::toJson(image).value(QStringLiteral("model")).toString();
}

// One engine on one reader, with the blocking steps the commands are made of.
class Session
{
  public:
    explicit Session(Environment& env) : m_env(env), m_engine(env.hid, env.feusb)
    {
        m_engine.setReplyTimeout(3000);
        QObject::connect(&m_engine, &TagEngine::resultTip, [this](ResultTip code, bool) {
            m_tips.append(code);
            if (m_onTip)
                m_onTip(code);
        });
        QObject::connect(&m_engine, &TagEngine::warning,
                         [this](const QString&, const QString&) { m_noReader = true; });
        QObject::connect(&m_engine, &TagEngine::notice,
                         [this](const QString& text, int) { m_notices.append(text); });
        QObject::connect(&m_engine, &TagEngine::beepFinished, [this] { m_beepDone = true; });
        QObject::connect(&m_engine, &TagEngine::operationFinished,
                         [this](const record::Outcome& outcome) { m_lastOutcome = outcome; });
        if (!env.recordDir.isEmpty())
            startRecord();
        watchLeaveNow();
    }

    ~Session()
    {
        if (m_record)
            endRecord();
    }

  private:
    // Watches for a second Ctrl-C while the commands wait in the event loop.
    void watchLeaveNow()
    {
        if (!m_env.leaveNow)
            return;
        m_leaveWatch.setInterval(5);
        QObject::connect(&m_leaveWatch, &QTimer::timeout, [this] {
            if (const int signal = m_env.leaveNow->load())
                leaveNow(signal);
        });
        m_leaveWatch.start();
    }

  public:
    const TagImage& image() const { return m_engine.document().image(); }
    TagDocument& document() { return m_engine.document(); }
    TagEngine& engine() { return m_engine; }
    void onTip(std::function<void(ResultTip)> f) { m_onTip = std::move(f); }

    /// Connects to `reader` ("r321", "feig", or empty for the first that answers).
    int connect(const QString& reader)
    {
        const QStringList order = reader.isEmpty()
                                      ? QStringList{QStringLiteral("r321"), QStringLiteral("feig")}
                                      : QStringList{reader};
        for (const QString& r : order) {
            if (r == QLatin1String("r321")) {
                m_engine.Set_Reader_Type(ReaderType::R321);
                m_engine.connectR321();
                if (m_engine.readerConnected()) {
                    // Let the reader's answer to its set-up command pass first.
                    waitFor([] { return false; }, 50);
                    return Ok;
                }
            } else if (r == QLatin1String("feig")) {
                m_engine.Set_Reader_Type(ReaderType::Feig);
                if (m_engine.connectFeig() && m_engine.readerConnected())
                    return Ok;
            }
        }
        *m_env.err << "vantory-cli: no reader"
                   << (reader.isEmpty() ? QString() : QLatin1String(" ") + reader)
                   << " found or it cannot be opened\n";
        m_env.err->flush();
        return NoReader;
    }

    /// Reads the tag on the reader into the image.
    int read()
    {
        const int rc = runOperation([this] { m_engine.startRead(); }, {ResultTip::ReadSucceed});
        if (rc == Ok)
            m_driverModel = modelOf(image());
        return rc;
    }

    /// The model of the driver read last; empty before a read.
    const QString& driverModel() const { return m_driverModel; }
    /// The last Write or auto-write operation the engine reported.
    const std::optional<record::Outcome>& lastOutcome() const { return m_lastOutcome; }

    /// Writes the image to the tag read last.
    int write()
    {
        return runOperation([this] { m_engine.startWrite(); }, {ResultTip::WriteSucceed});
    }

    /// Waits until no sequence runs and the reader has switched its beeper off, so that
    /// leaving now never leaves the beeper sounding.
    void settle()
    {
        waitFor([this] { return m_engine.idle() && m_beepDone; }, 3000);
    }

  private:
    // The driver being programmed gets its line in the record before the program goes;
    // nothing else waits.
    [[noreturn]] void leaveNow(int signal)
    {
        m_engine.interruptOperation(signalName(signal));
        if (m_record)
            m_record->drain();
        *m_env.err << "vantory-cli: interrupted\n";
        m_env.out->flush();
        m_env.err->flush();
        std::_Exit(128 + signal);
    }

    static QString signalName(int signal)
    {
        switch (signal) {
        case SIGINT:
            return QStringLiteral("SIGINT");
        case SIGTERM:
            return QStringLiteral("SIGTERM");
#ifdef SIGHUP
        case SIGHUP:
            return QStringLiteral("SIGHUP");
#endif
        default:
            return QStringLiteral("signal %1").arg(signal);
        }
    }

    // Writes and auto writes go into the same production record as the window's.
    void startRecord()
    {
        m_record =
            std::make_unique<record::Journal>(m_env.recordDir, m_env.recordServer, m_env.station);
        record::Journal* journal = m_record.get();
        const auto say = [this](const QString& text) {
            *m_env.err << "vantory-cli: " << text << "\n";
            m_env.err->flush();
        };
        QObject::connect(
            journal, &record::Journal::failed, journal,
            [say](const QString& folder, const QString& reason) {
                say(QStringLiteral("production record not written in %1: %2").arg(folder, reason));
            });
        QObject::connect(journal, &record::Journal::journalFailed, journal,
                         [say](const QString& reason) {
                             say(QStringLiteral("record journal not written: %1").arg(reason));
                         });
        QObject::connect(journal, &record::Journal::serverAway, journal,
                         [say](const QString& reason) {
                             say(QStringLiteral("%1; the record is held locally and sent when "
                                                "the server is back")
                                     .arg(reason));
                         });
        QObject::connect(&m_engine, &TagEngine::operationFinished, journal,
                         [journal](const record::Outcome& outcome) {
                             journal->append(record::entryFor(
                                 outcome, QStringLiteral("vantory-cli " VANTORY_VERSION)));
                         });
    }

    void endRecord()
    {
        const int left = m_record->flush(10000);
        QCoreApplication::sendPostedEvents(m_record.get(), QEvent::MetaCall);
        if (left > 0) {
            *m_env.err << "vantory-cli: " << left
                       << " record line(s) held locally, sent by the next run that reaches "
                          "the server\n";
            m_env.err->flush();
        }
    }

    int runOperation(const std::function<void()>& start, const QVector<ResultTip>& success)
    {
        m_tips.clear();
        m_notices.clear();
        m_noReader = false;
        m_beepDone = false;
        m_lastOutcome.reset();
        start();
        const QVector<ResultTip> endings = {ResultTip::ReadSucceed,  ResultTip::ReadFailed,
                                            ResultTip::WriteSucceed, ResultTip::WriteFailed,
                                            ResultTip::NoIso15693,   ResultTip::NoLabel,
                                            ResultTip::VerifyFailed};
        const bool ended = waitFor(
            [&] {
                if (m_noReader || !m_notices.isEmpty())
                    return true;
                for (ResultTip t : m_tips)
                    if (endings.contains(t))
                        return true;
                return false;
            },
            kOperationLimitMs);
        if (m_noReader) {
            // A write under way still gets its record line: the engine reports it lost
            // once its reply is overdue.
            waitFor([this] { return !m_engine.operationPending(); }, kOperationLimitMs);
            *m_env.err << "vantory-cli: the reader is not connected\n";
            return NoReader;
        }
        if (!m_notices.isEmpty() && m_lastOutcome &&
            (m_lastOutcome->result == record::Result::OtherLayout ||
             m_lastOutcome->result == record::Result::OtherKind)) {
            // Same model, other layout or tag kind: the notice names both.
            *m_env.err << "vantory-cli: " << m_notices.first() << "\n";
            return TagError;
        }
        if (!m_notices.isEmpty()) {
            *m_env.err << "vantory-cli: " << m_notices.first() << ": the driver is "
                       << m_driverModel << ", the file is for " << modelOf(image()) << "\n";
            return OtherModel;
        }
        settle();
        // A write's outcome, as its record line has it, says more than the tip: a reader
        // that stopped answering is lost, a driver that stopped answering a failed write.
        if (m_lastOutcome && m_lastOutcome->result == record::Result::ReaderLost) {
            *m_env.err << "vantory-cli: the reader is not connected\n";
            return NoReader;
        }
        if (m_lastOutcome && m_lastOutcome->result == record::Result::NoTagResponse) {
            *m_env.err << "vantory-cli: write failed: no tag response\n";
            return TagError;
        }
        if (!ended) {
            *m_env.err << "vantory-cli: no result from the reader\n";
            return TagError;
        }
        for (ResultTip t : m_tips) {
            if (success.contains(t))
                return Ok;
            if (t == ResultTip::NoLabel) {
                *m_env.err << "vantory-cli: no tag response\n";
                return NoTag;
            }
            if (t == ResultTip::VerifyFailed) {
                *m_env.err << "vantory-cli: verify failed at block " << m_engine.verifyFailedBlock()
                           << "\n";
                return TagError;
            }
            if (t == ResultTip::ReadFailed || t == ResultTip::WriteFailed ||
                t == ResultTip::NoIso15693) {
                *m_env.err << "vantory-cli: "
                           << (t == ResultTip::WriteFailed ? "write failure" : "read failure")
                           << "\n";
                return TagError;
            }
        }
        return TagError;
    }

    Environment& m_env;
    TagEngine m_engine;
    QVector<ResultTip> m_tips;
    QStringList m_notices;
    bool m_noReader = false;
    bool m_beepDone = false;
    std::function<void(ResultTip)> m_onTip;
    std::unique_ptr<record::Journal> m_record;
    QTimer m_leaveWatch;
    QString m_driverModel;
    std::optional<record::Outcome> m_lastOutcome;
};

// ------------------------------------------------------------------ argument helpers

// Options beyond --simulate and --help; each command accepts those in its mask. A new
// option: a bit here, its entry in Parsed::table(), and the bit in the commands that take it.
enum OptionBit : unsigned {
    OptReader = 1u << 0,
    OptOutput = 1u << 1,
    OptJson = 1u << 2,
    OptCurrent = 1u << 3,
    OptCount = 1u << 4,
    OptQuiet = 1u << 5,
    OptFault = 1u << 6,
    OptRecordDb = 1u << 7,
    OptRecordDir = 1u << 8,
    OptSince = 1u << 9,
    OptUntil = 1u << 10,
    OptStation = 1u << 11,
    OptNoVerify = 1u << 12,
};

struct Command {
    QString name;
    QString summary;
    QString usage;
    unsigned options;
};

const QVector<Command>& commands()
{
    static const QVector<Command> list = {
        {QStringLiteral("readers"), QStringLiteral("List the readers that can be seen."),
         QStringLiteral("readers [--json]"), OptJson},
        {QStringLiteral("read"),
         QStringLiteral("Read the driver on the reader, print its data, save its image."),
         QStringLiteral("read [--reader r321|feig] [-o FILE.bin|-] [--json] [--quiet]"),
         OptReader | OptOutput | OptJson | OptQuiet | OptFault},
        {QStringLiteral("info"), QStringLiteral("Print the data of a configuration file."),
         QStringLiteral("info FILE.bin [--json]"), OptJson},
        {QStringLiteral("write"),
         QStringLiteral("Write a configuration file to the driver on the reader."),
         QStringLiteral("write FILE.bin [--reader r321|feig] [--current CH=MA]... [--json] "
                        "[--no-verify] [--record-db C] [--record-dir DIR]"),
         OptReader | OptCurrent | OptJson | OptFault | OptNoVerify | OptRecordDb | OptRecordDir},
        {QStringLiteral("auto-write"),
         QStringLiteral("Program every driver laid on the reader with a configuration file."),
         QStringLiteral("auto-write FILE.bin [--reader r321|feig] [--current CH=MA]... "
                        "[--count N] [--json] [--no-verify] [--record-db C] [--record-dir DIR]"),
         OptReader | OptCurrent | OptCount | OptJson | OptFault | OptNoVerify | OptRecordDb |
             OptRecordDir},
        {QStringLiteral("history"),
         QStringLiteral("List every recorded operation on one driver, newest first."),
         QStringLiteral("history UID [--json] [--record-db C] [--record-dir DIR]"),
         OptJson | OptRecordDb | OptRecordDir},
        {QStringLiteral("records"),
         QStringLiteral("Export record lines as the day files hold them."),
         QStringLiteral("records [--since DATE] [--until DATE] [--station NAME] [-o FILE.csv] "
                        "[--record-db C] [--record-dir DIR]"),
         OptSince | OptUntil | OptStation | OptOutput | OptRecordDb | OptRecordDir},
    };
    return list;
}

// Faults --simulate-fault lays on the simulated readers, each as the real one shows.
enum class Fault { None, NoTag, WriteFails, ReaderLost, OtherModel };

struct FaultKind {
    QString name;
    Fault fault;
};

const QVector<FaultKind>& faultKinds()
{
    static const QVector<FaultKind> list = {
        {QStringLiteral("no-tag"), Fault::NoTag},
        {QStringLiteral("write-fails"), Fault::WriteFails},
        {QStringLiteral("reader-lost"), Fault::ReaderLost},
        {QStringLiteral("other-model"), Fault::OtherModel},
    };
    return list;
}

const QStringList kReaderNames = {QStringLiteral("r321"), QStringLiteral("feig")};

QString mainHelp()
{
    QString text = QStringLiteral(
        "Usage: vantory-cli [--simulate] COMMAND [options]\n\n"
        "Reads and programs DALI-2 LED drivers through their NFC tag.\n\nCommands:\n");
    for (const Command& c : commands())
        text += QStringLiteral("  %1%2\n").arg(c.name.leftJustified(12), c.summary);
    text += QStringLiteral("\nOptions for every command:\n"
                           "  --simulate    use the built-in simulated readers with a demo driver\n"
                           "  -h, --help    help on the command\n"
                           "  --version     the program's version\n\n");
    text += kExitCodes + QLatin1Char('\n');
    return text;
}

struct Parsed {
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help.")};
    QCommandLineOption version{QStringLiteral("version"),
                               QStringLiteral("Show the program's version.")};
    QCommandLineOption simulate{QStringLiteral("simulate"),
                                QStringLiteral("Use the built-in simulated readers.")};
    QCommandLineOption reader{QStringLiteral("reader"),
                              QStringLiteral("The reader: r321 or feig (default: the first "
                                             "that answers, R321 first)."),
                              QStringLiteral("r321|feig")};
    QCommandLineOption output{{QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("Save the tag image to FILE (512 bytes)."),
                              QStringLiteral("FILE")};
    QCommandLineOption json{QStringLiteral("json"), QStringLiteral("Print JSON.")};
    QCommandLineOption current{QStringLiteral("current"),
                               QStringLiteral("Set channel CH (1 to 3) to MA milliamperes, "
                                              "within the channel's range."),
                               QStringLiteral("CH=MA")};
    QCommandLineOption count{QStringLiteral("count"),
                             QStringLiteral("Stop after N drivers (default: until Ctrl-C)."),
                             QStringLiteral("N")};
    QCommandLineOption noVerify{QStringLiteral("no-verify"),
                                QStringLiteral("Do not read each write back to verify it.")};
    QCommandLineOption quiet{QStringLiteral("quiet"), QStringLiteral("Print no report.")};
    QCommandLineOption fault{QStringLiteral("simulate-fault"),
                             QStringLiteral("With --simulate: rehearse a fault."),
                             QStringLiteral("KIND")};
    RecordArgs record;
    /// The reader asked for, in lower case; empty: the first that answers.
    QString readerName;
    Fault simulatedFault = Fault::None;

    struct Entry {
        OptionBit bit;
        const QCommandLineOption* option;
        const char* help;
    };
    QVector<Entry> table() const
    {
        return {
            {OptReader, &reader,
             "  --reader R          r321 or feig, any case (default: the first "
             "that answers)"},
            {OptOutput, &output,
             "  -o, --output F      save the 512-byte tag image to F; - is "
             "standard output\n"
             "                      (the report then goes to standard error)"},
            {OptJson, &json, "  --json              print JSON"},
            {OptQuiet, &quiet, "  --quiet             print no report"},
            {OptCurrent, &current, "  --current CH=MA     set channel CH (1-3) to MA first"},
            {OptCount, &count, "  --count N           stop after N drivers (1 to 2147483647)"},
            {OptFault, &fault,
             "  --simulate-fault K  with --simulate: no-tag, write-fails, "
             "reader-lost or other-model"},
            {OptNoVerify, &noVerify,
             "  --no-verify         do not read each write back to verify it"},
            {OptRecordDb, &record.recordDb,
             "  --record-db C       the record server: a postgresql:// URI, keyword=value\n"
             "                      pairs or a service name (also VANTORY_RECORD_DB)"},
            {OptRecordDir, &record.recordDir,
             "  --record-dir DIR    the record folder, also with --simulate\n"
             "                      (also VANTORY_RECORD_DIR)"},
            {OptSince, &record.since, "  --since DATE        from this day on (YYYY-MM-DD)"},
            {OptUntil, &record.until, "  --until DATE        up to and with this day"},
            {OptStation, &record.station, "  --station NAME      only this station's lines"},
        };
    }
};

QString commandHelp(const Parsed& p, const Command& command)
{
    QString text = QStringLiteral("Usage: vantory-cli [--simulate] %1\n\n%2\n\nOptions:\n"
                                  "  --simulate          use the built-in simulated readers\n")
                       .arg(command.usage, command.summary);
    for (const Parsed::Entry& e : p.table())
        if (command.options & e.bit)
            text += QLatin1String(e.help) + QLatin1Char('\n');
    text += QStringLiteral("  -h, --help          this help\n\n") + kExitCodes + QLatin1Char('\n');
    return text;
}

int badArguments(Environment& env, const QString& message)
{
    *env.err << "vantory-cli: " << message << "\nTry 'vantory-cli --help'.\n";
    env.err->flush();
    return BadArguments;
}

// A configuration file: its bytes, its image and the tag kind its bytes tell (0: none).
struct ConfigFile {
    QByteArray bytes;
    TagImage image;
    uint8_t kind = 0;
};

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

// --current CH=MA, checked against the channel ranges of the configuration.
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

// Saves the 512-byte image, all of it or nothing. An existing FIFO or device is written
// in place: replacing it with a file would break whatever reads it.
bool saveImage(const QString& path, const QByteArray& bytes, QString* error)
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

// An operation's result as JSON gives it.
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

// Lays the demo driver for --simulate, with the fault asked for on the first driver (auto
// write lays sound ones after it): none at all, another model, a tag that refuses writes,
// or a reader pulled once the first block write has gone out.
void layDemoDriver(ReaderField& field, Fault fault, QTimer* pull)
{
    if (fault == Fault::NoTag)
        return;
    const std::shared_ptr<VirtualTag> tag = demodrivers::makeTag(
        fault == Fault::OtherModel ? demodrivers::Kind::OtherModel : demodrivers::Kind::Dt8,
        0x5900000001ULL);
    if (fault == Fault::WriteFails)
        tag->setRfa1ss(0x0C); // area 1 never writable
    field.layTag(tag);
    if (fault != Fault::ReaderLost)
        return;
    pull->setInterval(1);
    QObject::connect(pull, &QTimer::timeout, [&field, pull, seen = 0]() mutable {
        const QVector<SimCommandRecord> log = field.commandLog();
        for (; seen < log.size(); ++seen) {
            const int iso = log.at(seen).isoCommand;
            if (iso == VirtualTag::CmdWriteSingle || iso == VirtualTag::CmdWriteMultiple) {
                field.setUnplugged(SimReaderKind::R321, true);
                field.setUnplugged(SimReaderKind::Feig, true);
                pull->stop();
                return;
            }
        }
    });
    pull->start();
}

// ------------------------------------------------------------------ commands

int cmdReaders(Environment& env, Parsed& p)
{
    HidBackend* hid = env.hid;
    FeusbApi* feusb = env.feusb;
    QJsonArray r321;
    for (const HidInterfaceInfo& info : hid->enumerate()) {
        if (info.vendorId != myhid::R321VendorId)
            continue;
        r321.append(QJsonObject{{QStringLiteral("path"), info.path},
                                {QStringLiteral("product"), info.product},
                                {QStringLiteral("serial"), info.serial}});
    }
    const bool loaded = feusb->available();
    bool answers = false;
    if (loaded) {
        const int handle = feusb->ScanAndOpen(1, nullptr);
        if (handle > 0) {
            answers = true;
            feusb->CloseDevice(handle);
        }
    }
    if (p.parser.isSet(p.json)) {
        const QJsonObject feig{{QStringLiteral("library_loaded"), loaded},
                               {QStringLiteral("reader_answers"), answers}};
        *env.out << QJsonDocument(
                        QJsonObject{{QStringLiteral("r321"), r321}, {QStringLiteral("feig"), feig}})
                        .toJson(QJsonDocument::Indented);
    } else {
        *env.out << "R321 (USB HID, vendor ID 0505):\n";
        for (const QJsonValue& r : r321)
            *env.out << "  " << r[QLatin1String("path")].toString() << "  "
                     << r[QLatin1String("product")].toString() << " "
                     << r[QLatin1String("serial")].toString() << "\n";
        if (r321.isEmpty())
            *env.out << "  none\n";
        *env.out << "FEIG (FEIG's USB library):\n"
                 << (!loaded   ? "  library not loaded\n"
                     : answers ? "  library loaded, a reader answers\n"
                               : "  library loaded, no reader\n");
    }
    env.out->flush();
    return !r321.isEmpty() || answers ? Ok : NoReader;
}

int cmdInfo(Environment& env, Parsed& p)
{
    const QStringList files = p.parser.positionalArguments().mid(1);
    if (files.size() != 1)
        return badArguments(env, QStringLiteral("info wants one configuration file"));
    const std::optional<ConfigFile> config = loadFile(env, files.first());
    if (!config)
        return BadFile;
    // Decoded as the kind its bytes tell, as the window shows it; 'P' when they tell none.
    const devicereport::TagIdentity tag{
        {}, config->kind ? config->kind : tagfields::ChipP, config->kind == 0};
    printReport(*env.out, config->image, tag, p.parser.isSet(p.json));
    return Ok;
}

int cmdRead(Environment& env, Parsed& p)
{
    if (p.parser.positionalArguments().size() != 1)
        return badArguments(env, QStringLiteral("read takes no file; use -o FILE.bin"));
    Session s(env);
    int rc = s.connect(p.readerName);
    if (rc != Ok)
        return rc;
    rc = s.read();
    if (rc != Ok)
        return rc;
    const devicereport::TagIdentity tag{s.engine().uidMsbFirst(), s.engine().chipCode()};
    const QString path = p.parser.value(p.output);
    const bool toStdout = path == QLatin1String("-");
    // The image alone goes to standard output; the report makes way for it.
    if (!p.parser.isSet(p.quiet))
        printReport(toStdout ? *env.err : *env.out, s.image(), tag, p.parser.isSet(p.json));
    if (!p.parser.isSet(p.output))
        return Ok;
    // As Save File does: the panel values into the image, then the layout's copy.
    const QByteArray bytes = s.engine().configurationToSave();
    QString error;
    bool saved = false;
    if (toStdout) {
        QFile stdoutFile;
        QIODevice* sink = env.binaryOut;
        if (!sink) {
            stdoutFile.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
            sink = &stdoutFile;
        }
        env.out->flush();
        saved = sink->write(bytes) == bytes.size();
        if (!saved)
            error = sink->errorString();
    } else {
        saved = saveImage(path, bytes, &error);
    }
    if (!saved) {
        *env.err << "vantory-cli: cannot save "
                 << (toStdout ? QStringLiteral("the image to standard output") : path) << ": "
                 << error << "\n";
        env.err->flush();
        return Failure;
    }
    return Ok;
}

// The configuration file of write and auto-write, with the currents of the command line.
struct Configuration {
    QByteArray bytes;
    TagImage image;
    QMap<int, uint16_t> currents;
    QString fileName;
    bool verify = true;
    // Opened as the window opens a file: of the kind its bytes tell, else of the driver
    // read before (write) or 'P' (auto-write, no driver yet).
    void applyTo(Session& s) const
    {
        s.engine().setVerifyAfterWrite(verify);
        s.engine().openConfiguration(bytes, fileName);
        applyCurrents(s);
    }
    // The currents of the command line over what the configuration holds.
    void applyCurrents(Session& s) const
    {
        for (auto it = currents.cbegin(); it != currents.cend(); ++it)
            s.document().setChannelCurrent(it.key(), it.value());
    }
};

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

int cmdWrite(Environment& env, Parsed& p)
{
    Configuration config;
    int rc = loadConfiguration(env, p, QStringLiteral("write"), &config);
    if (rc != Ok)
        return rc;

    Session s(env);
    rc = s.connect(p.readerName);
    // As in the window: read the driver, open the file, write.
    if (rc == Ok)
        rc = s.read();
    if (rc == Ok) {
        config.applyTo(s);
        rc = s.write();
    }
    if (p.parser.isSet(p.json))
        *env.out << QJsonDocument(writeResult(s, rc)).toJson(QJsonDocument::Indented);
    else if (rc == Ok)
        *env.out << "written " << hex(s.engine().uidMsbFirst()) << "\n";
    env.out->flush();
    return rc;
}

// What became of the drivers of one auto write.
struct Batch {
    int written = 0;
    int otherModel = 0;
    int failed = 0;
    bool readerLost = false;

    QString summary() const
    {
        return QStringLiteral("%1 written, %2 other model, %3 failed%4")
            .arg(written)
            .arg(otherModel)
            .arg(failed)
            .arg(readerLost ? QStringLiteral(", reader lost") : QString());
    }
    QJsonObject toJson(int handled) const
    {
        return {{QStringLiteral("type"), QStringLiteral("summary")},
                {QStringLiteral("handled"), handled},
                {QStringLiteral("written"), written},
                {QStringLiteral("other_model"), otherModel},
                {QStringLiteral("failed"), failed},
                {QStringLiteral("reader_lost"), readerLost},
                {QStringLiteral("exit_code"), exitCode()}};
    }
    /// 0 only when every driver handled was written; else the worst outcome.
    int exitCode() const
    {
        if (readerLost)
            return NoReader;
        if (failed > 0)
            return TagError;
        if (otherModel > 0)
            return OtherModel;
        return Ok;
    }
};

int cmdAutoWrite(Environment& env, Parsed& p)
{
    int limit = 0;
    if (p.parser.isSet(p.count)) {
        bool ok = false;
        limit = p.parser.value(p.count).toInt(&ok);
        if (!ok || limit < 1)
            return badArguments(env,
                                QStringLiteral("--count wants a number of drivers from 1 to %1")
                                    .arg(std::numeric_limits<int>::max()));
    }
    Configuration config;
    int rc = loadConfiguration(env, p, QStringLiteral("auto-write"), &config);
    if (rc != Ok)
        return rc;

    Session s(env);
    config.applyTo(s);
    rc = s.connect(p.readerName);
    if (rc != Ok)
        return rc;

    const bool json = p.parser.isSet(p.json);
    // JSON Lines on standard output; the words for the operator go to standard error.
    QTextStream& talk = json ? *env.err : *env.out;
    TagEngine& engine = s.engine();
    int handled = 0;
    Batch batch;
    bool writing = false;
    // A handled driver's beep; after a failed write the engine's sequence stays where it
    // stopped, so the beep's end marks the driver done.
    bool beeping = false;
    bool relayPending = false;
    // A driver's line waits for its operation's outcome, which follows its tip at once;
    // only a reader that stopped answering reports the outcome first.
    QString pendingText;
    std::optional<record::Outcome> readerLostOutcome;
    const auto line = [&](const QString& text, const record::Outcome* outcome) {
        const QString time = QDateTime::currentDateTime().toString(Qt::ISODate);
        const QByteArray uid = outcome ? outcome->uidMsbFirst : engine.uidMsbFirst();
        if (json) {
            const QByteArray found = outcome ? outcome->foundModel : QByteArray();
            QJsonObject o{
                {QStringLiteral("type"), QStringLiteral("driver")},
                {QStringLiteral("n"), handled},
                {QStringLiteral("time"), time},
                {QStringLiteral("uid"), hex(uid)},
                {QStringLiteral("result"),
                 outcome ? resultKey(outcome->result) : QStringLiteral("failed")},
                {QStringLiteral("currents_mA"), outcome ? currentsWritten(*outcome) : QJsonArray()},
                {QStringLiteral("duration_ms"),
                 outcome ? QJsonValue(double(outcome->durationMs)) : QJsonValue()}};
            o.insert(QStringLiteral("model"),
                     outcome ? textOrNull(record::entryFor(*outcome, QString()).model)
                             : QJsonValue());
            *env.out << QJsonDocument(o).toJson(QJsonDocument::Compact) << "\n";
        } else {
            *env.out << handled << (limit > 0 ? QStringLiteral("/%1").arg(limit) : QString())
                     << "  " << time << "  " << hex(uid) << "  " << text << "\n";
        }
        env.out->flush();
    };
    const auto flushPending = [&](const record::Outcome* outcome) {
        if (pendingText.isEmpty())
            return;
        line(pendingText, outcome);
        pendingText.clear();
    };
    const auto handle = [&](const QString& text) {
        flushPending(nullptr);
        ++handled;
        beeping = true;
        relayPending = env.field != nullptr;
        if (readerLostOutcome) {
            line(text, &*readerLostOutcome);
            readerLostOutcome.reset();
        } else {
            pendingText = text;
        }
    };
    QObject::connect(&engine, &TagEngine::operationFinished, [&](const record::Outcome& outcome) {
        if (pendingText.isEmpty() && outcome.result == record::Result::ReaderLost)
            readerLostOutcome = outcome;
        flushPending(&outcome);
    });
    QObject::connect(&engine, &TagEngine::beepFinished, [&] { beeping = false; });
    s.onTip([&](ResultTip code) {
        if (code == ResultTip::OpenScan) {
            writing = true;
            readerLostOutcome.reset();
        } else if (writing && code == ResultTip::WriteSucceed) {
            writing = false;
            ++batch.written;
            handle(QStringLiteral("written"));
        } else if (writing && (code == ResultTip::WriteFailed || code == ResultTip::NoLabel)) {
            writing = false;
            ++batch.failed;
            handle(code == ResultTip::NoLabel ? QStringLiteral("write failed: no tag response")
                                              : QStringLiteral("write failed"));
        } else if (writing && code == ResultTip::VerifyFailed) {
            writing = false;
            ++batch.failed;
            handle(QStringLiteral("verify failed at block %1").arg(engine.verifyFailedBlock()));
        } else if (code == ResultTip::DeviceDifferent) {
            ++batch.otherModel;
            handle(QStringLiteral("other model, not written"));
        } else if (!writing && code == ResultTip::WriteFailed) {
            // Refused before any write: the driver is of the other tag kind.
            ++batch.failed;
            handle(QStringLiteral("other tag kind, not written"));
        }
    });

    bool readerLost = false;
    QObject::connect(&engine, &TagEngine::warning, [&] { readerLost = true; });
    engine.toggleAutoWrite();
    if (readerLost || !engine.autoWriteOn()) {
        *env.err << "vantory-cli: the reader is not connected\n";
        return NoReader;
    }
    talk << "auto write on: lay the drivers on the reader"
         << (limit > 0 ? QStringLiteral(" (%1)").arg(limit) : QStringLiteral(", Ctrl-C stops"))
         << "\n";
    talk.flush();

    // The engine passes through the loop every 300 ms; a simulated line may be set to a
    // faster pace (VANTORY_SIM_PACE_MS) for tests that program thousands of drivers.
    bool paced = false;
    const int pace = qEnvironmentVariableIntValue("VANTORY_SIM_PACE_MS", &paced);
    paced = paced && env.field && pace >= 1;
    // Passes closer than 20 ms would queue inventories faster than the reader answers.
    if (paced)
        engine.setAutoWritePass(std::clamp(pace, 20, kAutoPassMs));
    // A reader that stays away while the engine tries to open it again is lost.
    QTimer watch;
    watch.setInterval(kAutoPassMs);
    QElapsedTimer away;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (engine.readerConnected()) {
            away.invalidate();
            return;
        }
        if (!away.isValid())
            away.start();
        else if (away.elapsed() >= kReaderLostMs)
            readerLost = true;
    });
    watch.start();

    quint64 serial = 0x5A00000000ULL;
    const auto stopRequested = [&] {
        return readerLost || (limit > 0 && handled >= limit) ||
               (env.interrupted && env.interrupted->load());
    };
    while (!stopRequested()) {
        const auto driverDone = [&] { return relayPending && !writing && !beeping; };
        waitFor([&] { return stopRequested() || driverDone(); }, 1000);
        if (driverDone() && !stopRequested()) {
            // Simulated line: the programmed driver is taken away and the next one laid.
            relayPending = false;
            env.field->clear();
            waitFor([] { return false; }, paced ? pace : 400);
            env.field->layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, ++serial));
        }
    }
    // Never leave a write half done: the sequence and its beep end first.
    waitFor([&] { return readerLost || (!writing && !beeping); }, kOperationLimitMs);
    watch.stop();
    flushPending(nullptr);
    batch.readerLost = readerLost;
    if (batch.readerLost)
        *env.err << "vantory-cli: the reader is not connected\n";
    else
        engine.toggleAutoWrite();
    talk << "auto write off after " << handled << " driver(s)\n";
    if (json)
        *env.out << QJsonDocument(batch.toJson(handled)).toJson(QJsonDocument::Compact) << "\n";
    else
        *env.out << batch.summary() << "\n";
    env.out->flush();
    env.err->flush();
    return batch.exitCode();
}

} // namespace

int run(const QStringList& args, Environment& env)
{
    Parsed p;
    p.parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    p.parser.addOptions({p.help, p.version, p.simulate});
    for (const Parsed::Entry& e : p.table())
        p.parser.addOption(*e.option);
    p.parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("the command"));
    if (!p.parser.parse(QStringList{QStringLiteral("vantory-cli")} + args))
        return badArguments(env, p.parser.errorText());
    if (p.parser.isSet(p.version)) {
        *env.out << "vantory-cli " << VANTORY_VERSION << "\n";
        env.out->flush();
        return Ok;
    }
    const QString name = p.parser.positionalArguments().value(0);
    const Command* command = nullptr;
    for (const Command& c : commands())
        if (c.name == name)
            command = &c;

    if (p.parser.isSet(p.help) || name.isEmpty()) {
        *env.out << (command ? commandHelp(p, *command) : mainHelp());
        env.out->flush();
        return name.isEmpty() && !p.parser.isSet(p.help) ? BadArguments : Ok;
    }
    if (!command)
        return badArguments(env, QStringLiteral("unknown command '%1'").arg(name));
    for (const Parsed::Entry& e : p.table()) {
        if (!(command->options & e.bit) && p.parser.isSet(*e.option))
            return badArguments(
                env,
                QStringLiteral("%1 does not take --%2").arg(name, e.option->names().constLast()));
    }
    if (p.parser.isSet(p.reader)) {
        p.readerName = p.parser.value(p.reader).toLower();
        if (!kReaderNames.contains(p.readerName))
            return badArguments(
                env, QStringLiteral("unknown reader '%1'; the readers are %2")
                         .arg(p.parser.value(p.reader), kReaderNames.join(QLatin1String(" and "))));
    }
    if (p.parser.isSet(p.fault)) {
        QStringList names;
        for (const FaultKind& k : faultKinds()) {
            names << k.name;
            if (k.name == p.parser.value(p.fault))
                p.simulatedFault = k.fault;
        }
        if (!p.parser.isSet(p.simulate))
            return badArguments(env, QStringLiteral("--simulate-fault needs --simulate"));
        if (p.simulatedFault == Fault::None)
            return badArguments(env,
                                QStringLiteral("unknown fault '%1'; the faults are %2")
                                    .arg(p.parser.value(p.fault), names.join(QLatin1String(", "))));
    }

    // --simulate: the simulated readers with the demo driver on their field.
    std::unique_ptr<ReaderField> field;
    std::unique_ptr<SimR321> r321;
    std::unique_ptr<SimFeig> feig;
    // Otherwise the real transports, as the window has them, made once for the command.
    std::unique_ptr<HidapiBackend> hidapi;
    std::unique_ptr<FeusbLibrary> feusb;
    QTimer pullReader;
    Environment local = env;
    if (name == QLatin1String("info") || name == QLatin1String("history") ||
        name == QLatin1String("records")) {
        // Works on files or the record only: no reader is needed.
    } else if (!p.parser.isSet(p.simulate)) {
        if (!local.hid) {
            hidapi = std::make_unique<HidapiBackend>();
            local.hid = hidapi.get();
        }
        if (!local.feusb) {
            feusb = std::make_unique<FeusbLibrary>();
            local.feusb = feusb.get();
        }
    } else if (!env.hid && !env.feusb) {
        // Simulated drivers are no production: they leave the record alone, unless a test
        // station names a record folder of its own.
        local.recordDir = qEnvironmentVariable("VANTORY_RECORD_DIR");
        field = std::make_unique<ReaderField>();
        r321 = std::make_unique<SimR321>(field.get());
        feig = std::make_unique<SimFeig>(field.get());
        local.hid = r321.get();
        local.feusb = feig.get();
        local.field = field.get();
        layDemoDriver(*field, p.simulatedFault, &pullReader);
    }
    applyRecordArgs(p.parser, p.record, local);

    if (name == QLatin1String("readers"))
        return cmdReaders(local, p);
    if (name == QLatin1String("info"))
        return cmdInfo(local, p);
    if (name == QLatin1String("read"))
        return cmdRead(local, p);
    if (name == QLatin1String("write"))
        return cmdWrite(local, p);
    if (name == QLatin1String("history"))
        return cmdHistory(local, p.parser, p.parser.isSet(p.json));
    if (name == QLatin1String("records"))
        return cmdRecords(local, p.parser, p.record, p.parser.value(p.output));
    return cmdAutoWrite(local, p);
}

} // namespace cli
