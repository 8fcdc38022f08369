#include "cli/clirunner.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "cli/tagfiles.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <algorithm>
#include <limits>
#include <memory>

// auto-write: every driver laid on the reader, as the window's Auto Scan does it.
namespace cli
{

namespace
{

constexpr int kAutoPassMs = 300;
constexpr int kReaderLostMs = 3000;

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
    QJsonObject toJson(int handled, int rc) const
    {
        return {{QStringLiteral("type"), QStringLiteral("summary")},
                {QStringLiteral("handled"), handled},
                {QStringLiteral("written"), written},
                {QStringLiteral("other_model"), otherModel},
                {QStringLiteral("failed"), failed},
                {QStringLiteral("reader_lost"), readerLost},
                {QStringLiteral("exit_code"), rc}};
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

// One auto-write command from its options to its summary.
class AutoWrite
{
  public:
    AutoWrite(Environment& env, Parsed& p)
        : m_env(env), m_p(p), m_json(p.parser.isSet(p.json)), m_talk(m_json ? *env.err : *env.out)
    {
    }

    int run()
    {
        if (const int rc = readOptions(); rc != Ok)
            return summaryOnly(rc);
        m_session = std::make_unique<Session>(m_env);
        m_config.applyTo(*m_session);
        if (const int rc = m_session->connect(m_p.readerName, m_p.deviceId); rc != Ok)
            return summaryOnly(rc);
        TagEngine& engine = m_session->engine();
        engine.setAutoWritePace(m_fast ? ::AutoWrite::Pace::Fast : ::AutoWrite::Pace::Described);
        QObject::connect(&engine, &TagEngine::operationFinished,
                         [this](const record::Outcome& outcome) { onOutcome(outcome); });
        QObject::connect(&engine, &TagEngine::beepFinished, [this] { m_beeping = false; });
        m_session->onTip([this](ResultTip code) { onTip(code); });
        QObject::connect(&engine, &TagEngine::warning, [this] { m_readerLost = true; });
        engine.toggleAutoWrite();
        if (m_readerLost || !engine.autoWriteOn()) {
            *m_env.err << "vantory-cli: the reader is not connected\n";
            return summaryOnly(NoReader);
        }
        m_talk << "auto write on" << (m_fast ? " (fast batch)" : "")
               << ": lay the drivers on the reader"
               << (m_limit > 0 ? QStringLiteral(" (%1)").arg(m_limit)
                               : QStringLiteral(", Ctrl-C stops"))
               << "\n";
        m_talk.flush();
        programDrivers();
        return finish();
    }

  private:
    // A batch that never began: under --json its summary still closes the output.
    int summaryOnly(int rc)
    {
        if (m_json) {
            *m_env.out << QJsonDocument(m_batch.toJson(0, rc)).toJson(QJsonDocument::Compact)
                       << "\n";
            m_env.out->flush();
        }
        return rc;
    }

    int readOptions()
    {
        if (m_p.parser.isSet(m_p.count)) {
            bool ok = false;
            m_limit = m_p.parser.value(m_p.count).toInt(&ok);
            if (!ok || m_limit < 1)
                return badArguments(m_env,
                                    QStringLiteral("--count wants a number of drivers from 1 to %1")
                                        .arg(std::numeric_limits<int>::max()));
        }
        if (m_p.parser.isSet(m_p.pace)) {
            const QString pace = m_p.parser.value(m_p.pace).toLower();
            if (pace != QLatin1String("fast") && pace != QLatin1String("described"))
                return badArguments(m_env, QStringLiteral("--pace wants fast or described"));
            m_fast = pace == QLatin1String("fast");
        } else {
            // The window's choice, kept in its settings file.
            const QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                                     QCoreApplication::applicationName(),
                                     QStringLiteral("settings"));
            m_fast = settings.value(QStringLiteral("fastBatch"), false).toBool();
        }
        return loadConfiguration(m_env, m_p, QStringLiteral("auto-write"), &m_config);
    }

    // One line per driver handled, on standard output.
    void line(const QString& text, const record::Outcome* outcome)
    {
        const QString time = QDateTime::currentDateTime().toString(Qt::ISODate);
        const QByteArray uid = outcome ? outcome->uidMsbFirst : m_session->engine().uidMsbFirst();
        if (m_json) {
            *m_env.out << QJsonDocument(jsonLine(time, uid, outcome)).toJson(QJsonDocument::Compact)
                       << "\n";
        } else {
            *m_env.out << m_handled
                       << (m_limit > 0 ? QStringLiteral("/%1").arg(m_limit) : QString()) << "  "
                       << time << "  " << hex(uid) << "  " << text << "\n";
        }
        // Nobody reads the lines any more (a closed pipe, a full disk): as after a first
        // Ctrl-C, the driver in progress is finished and recorded, and no next one begins.
        if (!m_outputBroken && !outputWritten(m_env))
            m_outputBroken = true;
    }

    QJsonObject jsonLine(const QString& time, const QByteArray& uid,
                         const record::Outcome* outcome) const
    {
        QJsonObject o{
            {QStringLiteral("type"), QStringLiteral("driver")},
            {QStringLiteral("n"), m_handled},
            {QStringLiteral("time"), time},
            {QStringLiteral("uid"), hex(uid)},
            {QStringLiteral("result"),
             outcome ? resultKey(outcome->result) : QStringLiteral("failed")},
            {QStringLiteral("currents_mA"), outcome ? currentsWritten(*outcome) : QJsonArray()},
            {QStringLiteral("duration_ms"),
             outcome ? QJsonValue(double(outcome->durationMs)) : QJsonValue()},
            {QStringLiteral("blocks_written"), outcome ? outcome->blocksWritten : 0}};
        o.insert(QStringLiteral("model"),
                 outcome ? textOrNull(record::entryFor(*outcome, QString()).model) : QJsonValue());
        return o;
    }

    void flushPending(const record::Outcome* outcome)
    {
        if (m_pendingText.isEmpty())
            return;
        line(m_pendingText, outcome);
        m_pendingText.clear();
    }

    // A driver's line waits for its operation's outcome, which follows its tip at once;
    // only a reader that stopped answering reports the outcome first.
    void handle(const QString& text)
    {
        flushPending(nullptr);
        ++m_handled;
        m_beeping = true;
        m_relayPending = m_env.field != nullptr;
        if (m_readerLostOutcome) {
            line(text, &*m_readerLostOutcome);
            m_readerLostOutcome.reset();
        } else {
            m_pendingText = text;
        }
    }

    void onOutcome(const record::Outcome& outcome)
    {
        if (m_pendingText.isEmpty() && outcome.result == record::Result::ReaderLost)
            m_readerLostOutcome = outcome;
        flushPending(&outcome);
    }

    void onTip(ResultTip code)
    {
        TagEngine& engine = m_session->engine();
        if (code == ResultTip::OpenScan) {
            m_writing = true;
            m_readerLostOutcome.reset();
        } else if (m_writing && code == ResultTip::WriteSucceed) {
            m_writing = false;
            ++m_batch.written;
            handle(QStringLiteral("written"));
        } else if (m_writing && (code == ResultTip::WriteFailed || code == ResultTip::NoLabel)) {
            m_writing = false;
            ++m_batch.failed;
            handle(code == ResultTip::NoLabel ? QStringLiteral("write failed: no tag response")
                                              : QStringLiteral("write failed"));
        } else if (m_writing && code == ResultTip::VerifyFailed) {
            m_writing = false;
            ++m_batch.failed;
            handle(QStringLiteral("verify failed at block %1").arg(engine.verifyFailedBlock()));
        } else if (code == ResultTip::DeviceDifferent) {
            ++m_batch.otherModel;
            handle(QStringLiteral("other model, not written"));
        } else if (!m_writing && code == ResultTip::WriteFailed) {
            // Refused before any write: the driver is of the other tag kind.
            ++m_batch.failed;
            handle(QStringLiteral("other tag kind, not written"));
        }
    }

    bool stopRequested() const
    {
        return m_readerLost || m_outputBroken || (m_limit > 0 && m_handled >= m_limit) ||
               (m_env.interrupted && m_env.interrupted->load());
    }

    // Runs the batch until its count, a stop or a lost reader.
    void programDrivers()
    {
        TagEngine& engine = m_session->engine();
        // The engine passes through the loop every 300 ms; a simulated line may be set to a
        // faster pace (VANTORY_SIM_PACE_MS) for tests that program thousands of drivers.
        bool paced = false;
        const int pace = qEnvironmentVariableIntValue("VANTORY_SIM_PACE_MS", &paced);
        paced = paced && m_env.field && pace >= 1;
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
                m_readerLost = true;
        });
        watch.start();
        while (!stopRequested()) {
            const auto driverDone = [&] { return m_relayPending && !m_writing && !m_beeping; };
            waitFor([&] { return stopRequested() || driverDone(); }, 1000);
            if (driverDone() && !stopRequested())
                nextSimulatedDriver(paced ? pace : 400);
        }
        // Never leave a write half done: the sequence and its beep end first.
        waitFor([&] { return m_readerLost || (!m_writing && !m_beeping); }, kOperationLimitMs);
    }

    // Simulated line: the programmed driver is taken away and the next one laid.
    void nextSimulatedDriver(int pauseMs)
    {
        m_relayPending = false;
        m_env.field->clear();
        waitFor([] { return false; }, pauseMs);
        m_env.field->layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, ++m_serial));
    }

    int finish()
    {
        flushPending(nullptr);
        m_batch.readerLost = m_readerLost;
        if (m_batch.readerLost)
            *m_env.err << "vantory-cli: the reader is not connected\n";
        else
            m_session->engine().toggleAutoWrite();
        m_talk << "auto write off after " << m_handled << " driver(s)\n";
        // Every line of the batch is in the record before its summary is told.
        int rc = m_batch.exitCode();
        if ((m_session->closeRecord() != Ok || m_outputBroken) && rc == Ok)
            rc = Failure;
        if (m_json)
            *m_env.out
                << QJsonDocument(m_batch.toJson(m_handled, rc)).toJson(QJsonDocument::Compact)
                << "\n";
        else
            *m_env.out << m_batch.summary() << "\n";
        m_env.out->flush();
        m_env.err->flush();
        return rc;
    }

    Environment& m_env;
    Parsed& m_p;
    const bool m_json;
    // JSON Lines on standard output; the words for the operator go to standard error.
    QTextStream& m_talk;
    int m_limit = 0;
    bool m_fast = false;
    Configuration m_config;
    std::unique_ptr<Session> m_session;
    int m_handled = 0;
    Batch m_batch;
    bool m_writing = false;
    // A handled driver's beep; after a failed write the engine's sequence stays where it
    // stopped, so the beep's end marks the driver done.
    bool m_beeping = false;
    bool m_relayPending = false;
    QString m_pendingText;
    std::optional<record::Outcome> m_readerLostOutcome;
    bool m_readerLost = false;
    bool m_outputBroken = false;
    quint64 m_serial = 0x5A00000000ULL;
};

} // namespace

int cmdAutoWrite(Environment& env, Parsed& p)
{
    return AutoWrite(env, p).run();
}

} // namespace cli
