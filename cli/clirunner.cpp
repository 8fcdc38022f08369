#include "cli/clirunner.h"

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/recordcommands.h"
#include "cli/session.h"
#include "readers/feusblibrary.h"
#include "readers/hidapibackend.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"

#include <QTimer>
#include <memory>
#include <optional>

namespace cli
{

namespace
{

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
    if (fault == Fault::VerifyFails) {
        // Block 101 holds other bytes than the configuration's, and the tag keeps them
        // through the next write that covers it: the read-back finds the difference.
        QByteArray old = tag->block(101);
        old[0] = char(old.at(0) ^ 0x5A);
        tag->setBlock(101, old);
        tag->dropNextWriteOf(101);
    }
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

// One command line's run: its options, the transports its command works through (made
// once for the command), and the command's exit code. The commands make the engine and the
// record over these transports (Session).
class Runner
{
  public:
    explicit Runner(Environment& env) : m_env(env), m_local(env) {}

    int run(const QStringList& args)
    {
        const std::optional<int> early = parse(args);
        if (early)
            return *early;
        if (const int rc = checkOptions(); rc != Ok)
            return rc;
        makeTransports();
        applyRecordArgs(m_p.parser, m_p.record, m_local);
        int rc = dispatch();
        // What was printed must have gone out, and every record line be kept.
        if (!outputWritten(m_local) && rc == Ok)
            rc = Failure;
        if (m_local.recordIncomplete && rc == Ok)
            rc = Failure;
        return rc;
    }

  private:
    // The command line read; a value when the run ends here (help, version, an error).
    std::optional<int> parse(const QStringList& args)
    {
        m_p.parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        m_p.parser.addOptions({m_p.help, m_p.version, m_p.simulate, m_p.verbose});
        for (const Parsed::Entry& e : m_p.table())
            m_p.parser.addOption(*e.option);
        m_p.parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("the command"));
        if (!m_p.parser.parse(QStringList{QStringLiteral("vantory-cli")} + args))
            return badArguments(m_env, m_p.parser.errorText());
        if (m_p.parser.isSet(m_p.version)) {
            *m_env.out << "vantory-cli " << VANTORY_VERSION << "\n";
            m_env.out->flush();
            return Ok;
        }
        m_name = m_p.parser.positionalArguments().value(0);
        for (const Command& c : commands())
            if (c.name == m_name)
                m_command = &c;
        if (m_p.parser.isSet(m_p.help) || m_name.isEmpty()) {
            *m_env.out << (m_command ? commandHelp(m_p, *m_command) : mainHelp());
            m_env.out->flush();
            return m_name.isEmpty() && !m_p.parser.isSet(m_p.help) ? BadArguments : Ok;
        }
        if (!m_command)
            return badArguments(m_env, QStringLiteral("unknown command '%1'").arg(m_name));
        return std::nullopt;
    }

    // The options the command does not take, an unknown reader or fault.
    int checkOptions()
    {
        const QStringList given = m_p.parser.optionNames();
        for (const Parsed::Entry& e : m_p.table()) {
            const QString name = e.option->names().constLast();
            if (!(m_command->options & e.bit) && m_p.parser.isSet(*e.option))
                return badArguments(m_env,
                                    QStringLiteral("%1 does not take --%2").arg(m_name, name));
            // The last of two would win without a word; only --current is a list.
            int times = 0;
            for (const QString& n : e.option->names())
                times += given.count(n);
            if (times > 1 && e.option != &m_p.current)
                return badArguments(m_env,
                                    QStringLiteral("--%1 is given more than once").arg(name));
        }
        if (m_p.parser.isSet(m_p.reader)) {
            m_p.readerName = m_p.parser.value(m_p.reader).toLower();
            if (!kReaderNames.contains(m_p.readerName))
                return badArguments(m_env, QStringLiteral("unknown reader '%1'; the readers are %2")
                                               .arg(m_p.parser.value(m_p.reader),
                                                    kReaderNames.join(QLatin1String(" and "))));
        }
        m_p.deviceId = m_p.parser.value(m_p.device).trimmed();
        if (m_p.parser.isSet(m_p.device) && m_p.deviceId.isEmpty())
            return badArguments(m_env, QStringLiteral("--device wants an identity, as readers "
                                                      "lists it"));
        if (!m_p.parser.isSet(m_p.fault))
            return Ok;
        QStringList names;
        for (const FaultKind& k : faultKinds()) {
            names << k.name;
            if (k.name == m_p.parser.value(m_p.fault))
                m_p.simulatedFault = k.fault;
        }
        if (!m_p.parser.isSet(m_p.simulate))
            return badArguments(m_env, QStringLiteral("--simulate-fault needs --simulate"));
        if (m_p.simulatedFault == Fault::None)
            return badArguments(
                m_env, QStringLiteral("unknown fault '%1'; the faults are %2")
                           .arg(m_p.parser.value(m_p.fault), names.join(QLatin1String(", "))));
        return Ok;
    }

    void makeTransports()
    {
        if (m_name == QLatin1String("info") || m_name == QLatin1String("history") ||
            m_name == QLatin1String("records") || m_name == QLatin1String("record-setup")) {
            // Works on files or the record only: no reader is needed.
        } else if (!m_p.parser.isSet(m_p.simulate)) {
            // The real transports, as the window has them.
            if (!m_local.hid) {
                m_hidapi = std::make_unique<HidapiBackend>();
                m_local.hid = m_hidapi.get();
            }
            if (!m_local.feusb) {
                m_feusb = std::make_unique<FeusbLibrary>();
                m_local.feusb = m_feusb.get();
            }
        } else if (!m_env.hid && !m_env.feusb) {
            // --simulate: the simulated readers with the demo driver on their field.
            // Simulated drivers are no production: they leave the record alone, unless a
            // test station names a record folder of its own.
            m_local.recordDir = qEnvironmentVariable("VANTORY_RECORD_DIR");
            m_field = std::make_unique<ReaderField>();
            m_r321 = std::make_unique<SimR321>(m_field.get());
            m_feig = std::make_unique<SimFeig>(m_field.get());
            m_local.hid = m_r321.get();
            m_local.feusb = m_feig.get();
            m_local.field = m_field.get();
            layDemoDriver(*m_field, m_p.simulatedFault, &m_pullReader);
        }
    }

    int dispatch()
    {
        if (m_name == QLatin1String("readers"))
            return cmdReaders(m_local, m_p);
        if (m_name == QLatin1String("info"))
            return cmdInfo(m_local, m_p);
        if (m_name == QLatin1String("read"))
            return cmdRead(m_local, m_p);
        if (m_name == QLatin1String("write"))
            return cmdWrite(m_local, m_p);
        if (m_name == QLatin1String("history"))
            return cmdHistory(m_local, m_p.parser, m_p.parser.isSet(m_p.json));
        if (m_name == QLatin1String("records"))
            return cmdRecords(m_local, m_p.parser, m_p.record, m_p.parser.value(m_p.output));
        if (m_name == QLatin1String("record-setup"))
            return cmdRecordSetup(m_local);
        return cmdAutoWrite(m_local, m_p);
    }

    Environment& m_env;
    /// The environment the command gets: the caller's with the transports made here.
    Environment m_local;
    Parsed m_p;
    QString m_name;
    const Command* m_command = nullptr;
    std::unique_ptr<ReaderField> m_field;
    std::unique_ptr<SimR321> m_r321;
    std::unique_ptr<SimFeig> m_feig;
    std::unique_ptr<HidapiBackend> m_hidapi;
    std::unique_ptr<FeusbLibrary> m_feusb;
    QTimer m_pullReader;
};

} // namespace

int run(const QStringList& args, Environment& env)
{
    return Runner(env).run(args);
}

} // namespace cli
