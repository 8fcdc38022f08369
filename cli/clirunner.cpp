#include "cli/clirunner.h"

#include "engine/tagengine.h"
#include "model/colortemp.h"
#include "model/configfile.h"
#include "model/currents.h"
#include "model/devicereport.h"
#include "model/productionrecord.h"
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
#include <QJsonDocument>
#include <QMap>
#include <QSaveFile>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace cli
{

namespace
{

constexpr uint8_t kReaderFeig = 1;
constexpr uint8_t kReaderR321 = 2;
// Result tips of the engine.
constexpr uint8_t kTipDifferentModel = 2;
constexpr uint8_t kTipReadOk = 3;
constexpr uint8_t kTipReadFailed = 4;
constexpr uint8_t kTipWriteOk = 5;
constexpr uint8_t kTipWriteFailed = 6;
constexpr uint8_t kTipNotIso = 8;
constexpr uint8_t kTipNoTag = 9;
constexpr uint8_t kTipWriting = 10;
constexpr uint8_t kTipVerifyFailed = 11;
constexpr int kOperationLimitMs = 15000;
constexpr int kAutoPassMs = 300;

const QString kExitCodes = QStringLiteral(
    "Exit codes: 0 success, 1 other failure, 2 bad arguments, 3 no reader, 4 no tag,\n"
    "5 tag error or write refused, 6 other model, 7 bad configuration file.");

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

// What the engine asks of its host, answered from the tag image as the window's panels
// would show it, with the currents given on the command line.
class CliHost : public EngineHost
{
  public:
    explicit CliHost(TagImage& image) : m_image(image) {}

    void setChipCode(uint8_t chip) { m_chip = chip; }
    QMap<int, uint16_t> overrides; // channel index 0..2 -> mA

    bool chinese() const override { return false; }
    uint8_t channelCount() const override { return currents::channelCount(m_image); }
    std::array<uint16_t, 3> channelCurrents() const override
    {
        const currents::ChannelDisplay shown =
            currents::displayCurrentChannel(m_image, channelCount(), m_chip);
        std::array<uint16_t, 3> values{};
        for (int i = 0; i < 3; ++i) {
            const currents::ChannelSetting& c = shown.channels[static_cast<size_t>(i)];
            // The window's current widgets hold their value inside the channel's range.
            values[static_cast<size_t>(i)] =
                overrides.contains(i)
                    ? overrides.value(i)
                    : (c.maximum >= c.minimum ? qBound(c.minimum, c.current, c.maximum)
                                              : c.current);
        }
        return values;
    }
    uint16_t pwmPeriod() const override
    {
        return currents::displayCurrentChannel(m_image, channelCount(), m_chip).pwmPeriod;
    }
    void storeColourTemperature() override
    {
        // Only a driver that offers the colour temperature gets it written, and then as the
        // window's boxes hold it: within 1000..12000 K, the warmest not above the coolest.
        const uint8_t type = m_image.image_v2[tagoffset::DriverType];
        if (!currents::changeParamEnable(m_image, type).showCct)
            return;
        const uint16_t coolest = qBound<uint16_t>(1000, colortemp::coolest(m_image), 12000);
        const uint16_t warmest =
            std::min(qBound<uint16_t>(1000, colortemp::warmest(m_image), 12000), coolest);
        colortemp::storeCct(m_image, warmest, coolest);
    }

  private:
    TagImage& m_image;
    uint8_t m_chip = tagfields::ChipP;
};

// One engine on one reader, with the blocking steps the commands are made of.
class Session
{
  public:
    explicit Session(Environment& env)
        : m_env(env), m_host(m_image), m_engine(m_image, m_host, env.hid, env.feusb)
    {
        m_engine.setReplyTimeout(3000);
        QObject::connect(&m_engine, &TagEngine::resultTip, [this](uint8_t code, bool) {
            m_tips.append(code);
            if (m_onTip)
                m_onTip(code);
        });
        QObject::connect(&m_engine, &TagEngine::warning,
                         [this](const QString&, const QString&) { m_noReader = true; });
        QObject::connect(&m_engine, &TagEngine::notice,
                         [this](const QString& text, int) { m_notices.append(text); });
        QObject::connect(&m_engine, &TagEngine::beepFinished, [this] { m_beepDone = true; });
        if (!env.recordDir.isEmpty()) {
            // Writes and auto writes go into the same production record as the window's.
            m_record = std::make_unique<record::Writer>(env.recordDir);
            QObject::connect(m_record.get(), &record::Writer::failed,
                             [this](const QString& folder, const QString& reason) {
                                 *m_env.err << "vantory-cli: production record not written in "
                                            << folder << ": " << reason << "\n";
                                 m_env.err->flush();
                             });
            QObject::connect(
                &m_engine, &TagEngine::operationFinished, [this](const record::Outcome& outcome) {
                    m_record->append(
                        record::entryFor(outcome, QStringLiteral("vantory-cli " VANTORY_VERSION)));
                });
        }
    }

    ~Session()
    {
        if (m_record)
            m_record->drain();
    }

    TagImage& image() { return m_image; }
    CliHost& host() { return m_host; }
    TagEngine& engine() { return m_engine; }
    void onTip(std::function<void(uint8_t)> f) { m_onTip = std::move(f); }

    /// Connects to `reader` ("r321", "feig", or empty for the first that answers).
    int connect(const QString& reader)
    {
        const QStringList order = reader.isEmpty()
                                      ? QStringList{QStringLiteral("r321"), QStringLiteral("feig")}
                                      : QStringList{reader};
        for (const QString& r : order) {
            if (r == QLatin1String("r321")) {
                m_engine.Set_Reader_Type(kReaderR321);
                m_engine.connectR321();
                if (m_engine.Detection_Usb_Statue(0)) {
                    // Let the reader's answer to its set-up command pass first.
                    waitFor([] { return false; }, 50);
                    return Ok;
                }
            } else if (r == QLatin1String("feig")) {
                m_engine.Set_Reader_Type(kReaderFeig);
                if (m_engine.connectFeig() && m_engine.Detection_Usb_Statue(0))
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
        const int rc = runOperation([this] { m_engine.startRead(); }, {kTipReadOk});
        if (rc == Ok)
            m_host.setChipCode(m_engine.chipCode());
        return rc;
    }

    /// Writes the image to the tag read last.
    int write()
    {
        return runOperation([this] { m_engine.startWrite(); }, {kTipWriteOk});
    }

    /// Waits until no sequence runs and the reader has switched its beeper off, so that
    /// leaving now never leaves the beeper sounding.
    void settle()
    {
        waitFor([this] { return m_engine.idle() && m_beepDone; }, 3000);
    }

  private:
    int runOperation(const std::function<void()>& start, const QVector<uint8_t>& success)
    {
        m_tips.clear();
        m_notices.clear();
        m_noReader = false;
        m_beepDone = false;
        start();
        const QVector<uint8_t> endings = {kTipReadOk,      kTipReadFailed, kTipWriteOk,
                                          kTipWriteFailed, kTipNotIso,     kTipNoTag,
                                          kTipVerifyFailed};
        const bool ended = waitFor(
            [&] {
                if (m_noReader || !m_notices.isEmpty())
                    return true;
                for (uint8_t t : m_tips)
                    if (endings.contains(t))
                        return true;
                return false;
            },
            kOperationLimitMs);
        if (m_noReader) {
            *m_env.err << "vantory-cli: the reader is not connected\n";
            return NoReader;
        }
        if (!m_notices.isEmpty()) {
            *m_env.err << "vantory-cli: " << m_notices.first()
                       << " (read a driver of the configuration's model)\n";
            return OtherModel;
        }
        settle();
        if (!ended) {
            *m_env.err << "vantory-cli: no result from the reader\n";
            return TagError;
        }
        for (uint8_t t : m_tips) {
            if (success.contains(t))
                return Ok;
            if (t == kTipNoTag) {
                *m_env.err << "vantory-cli: no tag response\n";
                return NoTag;
            }
            if (t == kTipVerifyFailed) {
                *m_env.err << "vantory-cli: verify failed at block " << m_engine.verifyFailedBlock()
                           << "\n";
                return TagError;
            }
            if (t == kTipReadFailed || t == kTipWriteFailed || t == kTipNotIso) {
                *m_env.err << "vantory-cli: "
                           << (t == kTipWriteFailed ? "write failure" : "read failure") << "\n";
                return TagError;
            }
        }
        return TagError;
    }

    Environment& m_env;
    TagImage m_image;
    CliHost m_host;
    TagEngine m_engine;
    QVector<uint8_t> m_tips;
    QStringList m_notices;
    bool m_noReader = false;
    bool m_beepDone = false;
    std::function<void(uint8_t)> m_onTip;
    std::unique_ptr<record::Writer> m_record;
};

// ------------------------------------------------------------------ argument helpers

struct Command {
    QString name;
    QString summary;
    QString usage;
};

const QVector<Command>& commands()
{
    static const QVector<Command> list = {
        {QStringLiteral("readers"), QStringLiteral("List the readers that can be seen."),
         QStringLiteral("readers")},
        {QStringLiteral("read"),
         QStringLiteral("Read the driver on the reader, print its data, save its image."),
         QStringLiteral("read [--reader r321|feig] [-o FILE.bin] [--json]")},
        {QStringLiteral("info"), QStringLiteral("Print the data of a configuration file."),
         QStringLiteral("info FILE.bin [--json]")},
        {QStringLiteral("write"),
         QStringLiteral("Write a configuration file to the driver on the reader."),
         QStringLiteral("write FILE.bin [--reader r321|feig] [--current CH=MA]... [--no-verify]")},
        {QStringLiteral("auto-write"),
         QStringLiteral("Program every driver laid on the reader with a configuration file."),
         QStringLiteral("auto-write FILE.bin [--reader r321|feig] [--current CH=MA]... "
                        "[--count N] [--no-verify]")},
    };
    return list;
}

QString mainHelp()
{
    QString text = QStringLiteral(
        "Usage: vantory-cli [--simulate] COMMAND [options]\n\n"
        "Reads and programs DALI-2 LED drivers through their NFC tag.\n\nCommands:\n");
    for (const Command& c : commands())
        text += QStringLiteral("  %1%2\n").arg(c.name.leftJustified(12), c.summary);
    text += QStringLiteral("\nOptions for every command:\n"
                           "  --simulate    use the built-in simulated readers with a demo driver\n"
                           "  -h, --help    help on the command\n\n");
    text += kExitCodes + QLatin1Char('\n');
    return text;
}

struct Parsed {
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help.")};
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
};

int badArguments(Environment& env, const QString& message)
{
    *env.err << "vantory-cli: " << message << "\nTry 'vantory-cli --help'.\n";
    env.err->flush();
    return BadArguments;
}

std::optional<TagImage> loadFile(Environment& env, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *env.err << "vantory-cli: cannot open " << path << ": " << file.errorString() << "\n";
        return std::nullopt;
    }
    const QByteArray bytes = file.read(configfile::FileSize);
    TagImage image;
    const configfile::LoadResult result = configfile::loadConfig(bytes, image);
    if (!result.ok()) {
        *env.err << "vantory-cli: " << path << " has " << bytes.size()
                 << " bytes; a configuration file has 512\n";
        return std::nullopt;
    }
    if (result.repaired)
        *env.err << "vantory-cli: constant lumen data error, automatic correction\n";
    tagfields::updateBankBuff(image);
    return image;
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
        if (ch < 1 || ch > count) {
            badArguments(
                env,
                QStringLiteral("the driver has %1 channel(s), not channel %2").arg(count).arg(ch));
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

void printReport(Environment& env, const TagImage& image, const devicereport::TagIdentity& tag,
                 bool json)
{
    if (json)
        *env.out << QJsonDocument(devicereport::toJson(image, tag)).toJson(QJsonDocument::Indented);
    else
        *env.out << devicereport::toText(image, tag);
    env.out->flush();
}

// ------------------------------------------------------------------ commands

int cmdReaders(Environment& env)
{
    HidBackend* hid = env.hid;
    FeusbApi* feusb = env.feusb;
    std::unique_ptr<HidapiBackend> ownHid;
    std::unique_ptr<FeusbLibrary> ownFeusb;
    if (!hid) {
        ownHid = std::make_unique<HidapiBackend>();
        hid = ownHid.get();
    }
    if (!feusb) {
        ownFeusb = std::make_unique<FeusbLibrary>();
        feusb = ownFeusb.get();
    }
    int found = 0;
    *env.out << "R321 (USB HID, vendor ID 0505):\n";
    for (const HidInterfaceInfo& info : hid->enumerate()) {
        if (info.vendorId != myhid::R321VendorId)
            continue;
        ++found;
        *env.out << "  " << info.path << "  " << info.product << " " << info.serial << "\n";
    }
    if (found == 0)
        *env.out << "  none\n";
    *env.out << "FEIG (FEIG's USB library):\n";
    if (!feusb->available()) {
        *env.out << "  library not loaded\n";
    } else {
        const int handle = feusb->ScanAndOpen(1, nullptr);
        if (handle > 0) {
            ++found;
            *env.out << "  library loaded, a reader answers\n";
            feusb->CloseDevice(handle);
        } else {
            *env.out << "  library loaded, no reader\n";
        }
    }
    env.out->flush();
    return found > 0 ? Ok : NoReader;
}

int cmdInfo(Environment& env, Parsed& p)
{
    const QStringList files = p.parser.positionalArguments().mid(1);
    if (files.size() != 1)
        return badArguments(env, QStringLiteral("info wants one configuration file"));
    const std::optional<TagImage> image = loadFile(env, files.first());
    if (!image)
        return BadFile;
    printReport(env, *image, {}, p.parser.isSet(p.json));
    return Ok;
}

int cmdRead(Environment& env, Parsed& p)
{
    if (p.parser.positionalArguments().size() != 1)
        return badArguments(env, QStringLiteral("read takes no file; use -o FILE.bin"));
    Session s(env);
    int rc = s.connect(p.parser.value(p.reader));
    if (rc != Ok)
        return rc;
    rc = s.read();
    if (rc != Ok)
        return rc;
    const devicereport::TagIdentity tag{s.engine().uidMsbFirst(), s.engine().chipCode()};
    printReport(env, s.image(), tag, p.parser.isSet(p.json));
    if (p.parser.isSet(p.output)) {
        // As Save File does: the panel values into the image, then the layout's copy.
        s.engine().Change_Current(s.host().channelCount());
        s.host().storeColourTemperature();
        const QString path = p.parser.value(p.output);
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(configfile::saveBytes(s.image())) != configfile::FileSize ||
            !file.commit()) {
            *env.err << "vantory-cli: cannot save " << path << ": " << file.errorString() << "\n";
            return Failure;
        }
    }
    return Ok;
}

// The configuration file of write and auto-write, with the currents of the command line.
struct Configuration {
    TagImage image;
    QMap<int, uint16_t> currents;
    QString fileName;
    bool verify = true;
    void applyTo(Session& s) const
    {
        s.engine().setVerifyAfterWrite(verify);
        s.image() = image;
        s.host().overrides = currents;
        s.engine().setTemplateSource(fileName);
    }
};

int loadConfiguration(Environment& env, Parsed& p, const QString& command, Configuration* out)
{
    const QStringList files = p.parser.positionalArguments().mid(1);
    if (files.size() != 1)
        return badArguments(env, QStringLiteral("%1 wants one configuration file").arg(command));
    const std::optional<TagImage> image = loadFile(env, files.first());
    if (!image)
        return BadFile;
    out->image = *image;
    out->fileName = QFileInfo(files.first()).fileName();
    out->verify = !p.parser.isSet(p.noVerify);
    if (!parseCurrents(env, p.parser.values(p.current), out->image, &out->currents))
        return BadArguments;
    return Ok;
}

int cmdWrite(Environment& env, Parsed& p)
{
    Configuration config;
    int rc = loadConfiguration(env, p, QStringLiteral("write"), &config);
    if (rc != Ok)
        return rc;

    Session s(env);
    rc = s.connect(p.parser.value(p.reader));
    if (rc != Ok)
        return rc;
    // As in the window: read the driver, open the file, write.
    rc = s.read();
    if (rc != Ok)
        return rc;
    config.applyTo(s);
    rc = s.write();
    if (rc == Ok) {
        *env.out << "written " << hex(s.engine().uidMsbFirst()) << "\n";
        env.out->flush();
    }
    return rc;
}

int cmdAutoWrite(Environment& env, Parsed& p)
{
    int limit = 0;
    if (p.parser.isSet(p.count)) {
        bool ok = false;
        limit = p.parser.value(p.count).toInt(&ok);
        if (!ok || limit < 1)
            return badArguments(env,
                                QStringLiteral("--count wants a number of drivers, 1 or more"));
    }
    Configuration config;
    int rc = loadConfiguration(env, p, QStringLiteral("auto-write"), &config);
    if (rc != Ok)
        return rc;

    Session s(env);
    config.applyTo(s);
    rc = s.connect(p.parser.value(p.reader));
    if (rc != Ok)
        return rc;

    TagEngine& engine = s.engine();
    int handled = 0;
    bool writing = false;
    bool relayPending = false;
    const auto line = [&](const QString& result) {
        ++handled;
        *env.out << handled << (limit > 0 ? QStringLiteral("/%1").arg(limit) : QString()) << "  "
                 << QDateTime::currentDateTime().toString(Qt::ISODate) << "  "
                 << hex(engine.uidMsbFirst()) << "  " << result << "\n";
        env.out->flush();
        relayPending = env.field != nullptr;
    };
    s.onTip([&](uint8_t code) {
        if (code == kTipWriting) {
            writing = true;
            // The tag kind decides the channel display and the PWM period.
            s.host().setChipCode(engine.chipCode());
        } else if (writing && code == kTipWriteOk) {
            writing = false;
            line(QStringLiteral("written"));
        } else if (writing && (code == kTipWriteFailed || code == kTipNoTag)) {
            writing = false;
            line(code == kTipNoTag ? QStringLiteral("write failed: no tag response")
                                   : QStringLiteral("write failed"));
        } else if (writing && code == kTipVerifyFailed) {
            writing = false;
            line(QStringLiteral("verify failed at block %1").arg(engine.verifyFailedBlock()));
        } else if (code == kTipDifferentModel) {
            line(QStringLiteral("other model, not written"));
        }
    });

    bool warned = false;
    QObject::connect(&engine, &TagEngine::warning, [&] { warned = true; });
    engine.toggleAutoWrite();
    if (warned || !engine.autoWriteOn()) {
        *env.err << "vantory-cli: the reader is not connected\n";
        return NoReader;
    }
    *env.out << "auto write on: lay the drivers on the reader"
             << (limit > 0 ? QStringLiteral(" (%1)").arg(limit) : QStringLiteral(", Ctrl-C stops"))
             << "\n";
    env.out->flush();

    // The loop's pass every 300 ms, as the window's clock runs it.
    QTimer pass;
    pass.setInterval(kAutoPassMs);
    QObject::connect(&pass, &QTimer::timeout, [&] {
        if (engine.autoScanning())
            engine.AutoWriteProcess();
    });
    pass.start();

    quint64 serial = 0x5A00000000ULL;
    const auto stopRequested = [&] {
        return (limit > 0 && handled >= limit) || (env.interrupted && env.interrupted->load());
    };
    while (!stopRequested()) {
        waitFor([&] { return stopRequested() || (relayPending && engine.idle()); }, 1000);
        if (relayPending && engine.idle() && !stopRequested()) {
            // Simulated line: the programmed driver is taken away and the next one laid.
            relayPending = false;
            env.field->clear();
            waitFor([] { return false; }, 400);
            env.field->layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, ++serial));
        }
    }
    // Never leave a write half done: the sequence and its beep end first.
    waitFor([&] { return !writing && engine.idle(); }, kOperationLimitMs);
    pass.stop();
    engine.toggleAutoWrite();
    *env.out << "auto write off after " << handled << " driver(s)\n";
    env.out->flush();
    return Ok;
}

} // namespace

int run(const QStringList& args, Environment& env)
{
    Parsed p;
    p.parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    p.parser.addOptions(
        {p.help, p.simulate, p.reader, p.output, p.json, p.current, p.count, p.noVerify});
    p.parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("the command"));
    if (!p.parser.parse(QStringList{QStringLiteral("vantory-cli")} + args))
        return badArguments(env, p.parser.errorText());
    const QString name = p.parser.positionalArguments().value(0);
    const Command* command = nullptr;
    for (const Command& c : commands())
        if (c.name == name)
            command = &c;

    if (p.parser.isSet(p.help) || name.isEmpty()) {
        if (command) {
            *env.out << "Usage: vantory-cli [--simulate] " << command->usage << "\n\n"
                     << command->summary << "\n\n"
                     << "Options:\n"
                     << "  --simulate        use the built-in simulated readers\n"
                     << "  --reader R        r321 or feig (default: the first that answers)\n"
                     << "  -o, --output F    read: save the 512-byte tag image to F\n"
                     << "  --json            read, info: print JSON\n"
                     << "  --current CH=MA   write, auto-write: set channel CH (1-3) first\n"
                     << "  --count N         auto-write: stop after N drivers\n"
                     << "  --no-verify       write, auto-write: do not read each write back\n\n"
                     << kExitCodes << "\n";
        } else {
            *env.out << mainHelp();
        }
        env.out->flush();
        return name.isEmpty() && !p.parser.isSet(p.help) ? BadArguments : Ok;
    }
    if (!command)
        return badArguments(env, QStringLiteral("unknown command '%1'").arg(name));

    // --simulate: the simulated readers with the demo driver on their field.
    std::unique_ptr<ReaderField> field;
    std::unique_ptr<SimR321> r321;
    std::unique_ptr<SimFeig> feig;
    Environment local = env;
    if (p.parser.isSet(p.simulate) && !env.hid && !env.feusb) {
        // Simulated drivers are no production; they leave the record alone.
        local.recordDir.clear();
        field = std::make_unique<ReaderField>();
        r321 = std::make_unique<SimR321>(field.get());
        feig = std::make_unique<SimFeig>(field.get());
        field->layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 0x5900000001ULL));
        local.hid = r321.get();
        local.feusb = feig.get();
        local.field = field.get();
    }

    if (name == QLatin1String("readers"))
        return cmdReaders(local);
    if (name == QLatin1String("info"))
        return cmdInfo(local, p);
    if (name == QLatin1String("read"))
        return cmdRead(local, p);
    if (name == QLatin1String("write"))
        return cmdWrite(local, p);
    return cmdAutoWrite(local, p);
}

} // namespace cli
