#include "cli/session.h"

#include "model/devicereport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <cstdlib>

namespace cli
{

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

bool outputWritten(Environment& env)
{
    env.out->flush();
    if (env.out->status() == QTextStream::Ok)
        return true;
    *env.err << "vantory-cli: cannot write to standard output: "
             << (env.out->device() ? env.out->device()->errorString() : QString()) << "\n";
    env.err->flush();
    return false;
}

int printJsonFailure(Environment& env, const QString& result, int rc)
{
    *env.out << QJsonDocument(QJsonObject{{QStringLiteral("result"), result},
                                          {QStringLiteral("exit_code"), rc}})
                    .toJson(QJsonDocument::Indented);
    env.out->flush();
    return rc;
}

Session::Session(Environment& env) : m_env(env), m_engine(env.hid, env.feusb)
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
    QObject::connect(&m_engine, &TagEngine::readerInUse, [this](const QString&) { m_inUse = true; });
    QObject::connect(&m_engine, &TagEngine::operationFinished,
                     [this](const record::Outcome& outcome) { m_lastOutcome = outcome; });
    if (!env.recordDir.isEmpty())
        startRecord();
    watchLeaveNow();
}

Session::~Session()
{
    if (closeRecord() != Ok)
        m_env.recordIncomplete = true;
}

// Watches for a second Ctrl-C while the commands wait in the event loop.
void Session::watchLeaveNow()
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

namespace
{

QString kindName(ReaderType type)
{
    return type == ReaderType::Feig ? QStringLiteral("feig") : QStringLiteral("r321");
}

} // namespace

int Session::connect(const QString& reader, const QString& device)
{
    QVector<ReaderChoice> order;
    if (!device.isEmpty()) {
        const ReaderChoice found = m_engine.findReader(device);
        if (found.type == ReaderType::None || (!reader.isEmpty() && kindName(found.type) != reader))
            return noSuchDevice(reader, device);
        order << found;
    } else {
        for (const QString& r : reader.isEmpty() ? QStringList{QStringLiteral("r321"),
                                                               QStringLiteral("feig")}
                                                 : QStringList{reader})
            order << ReaderChoice{r == QLatin1String("feig") ? ReaderType::Feig : ReaderType::R321,
                                  QString()};
    }
    m_inUse = false;
    bool inUse = false;
    for (const ReaderChoice& choice : order) {
        if (m_engine.connectReader(choice) && m_engine.readerConnected())
            return Ok;
        inUse = inUse || m_inUse;
    }
    if (inUse) {
        *m_env.err << "vantory-cli: "
                   << (device.isEmpty() ? QStringLiteral("every %1 reader is")
                                              .arg(reader.isEmpty() ? QStringLiteral("found")
                                                                    : reader)
                                        : QStringLiteral("the reader %1 is").arg(order.first().identity))
                   << " in use by another program\n";
    } else {
        *m_env.err << "vantory-cli: no reader"
                   << (reader.isEmpty() ? QString() : QLatin1String(" ") + reader)
                   << (device.isEmpty() ? QString() : QLatin1String(" ") + device)
                   << " found or it cannot be opened\n";
    }
    m_env.err->flush();
    return NoReader;
}

int Session::noSuchDevice(const QString& reader, const QString& device)
{
    QStringList present;
    for (const ReaderChoice& r : m_engine.readersPresent())
        present << kindName(r.type) + QLatin1Char(' ') + r.identity;
    *m_env.err << "vantory-cli: no " << (reader.isEmpty() ? QStringLiteral("reader") : reader)
               << " with the identity " << device << "; the readers present are: "
               << (present.isEmpty() ? QStringLiteral("none") : present.join(QStringLiteral(", ")))
               << "\n";
    m_env.err->flush();
    return NoReader;
}

int Session::read()
{
    const int rc = runOperation([this] { m_engine.startRead(); }, {ResultTip::ReadSucceed});
    if (rc == Ok)
        m_driverModel = modelOf(image());
    return rc;
}

int Session::write()
{
    return runOperation([this] { m_engine.startWrite(); }, {ResultTip::WriteSucceed});
}

void Session::settle()
{
    waitFor([this] { return m_engine.idle() && m_beepDone; }, 3000);
}

// The driver being programmed gets its line in the record before the program goes;
// nothing else waits.
void Session::leaveNow(int signal)
{
    m_engine.interruptOperation(record::signalCause(signal));
    if (m_record)
        m_record->drain();
    *m_env.err << "vantory-cli: interrupted\n";
    m_env.out->flush();
    m_env.err->flush();
    std::_Exit(128 + signal);
}

// Writes and auto writes go into the same production record as the window's. Each problem
// is told once, with its real reason and never a password.
void Session::startRecord()
{
    m_record =
        std::make_unique<record::Journal>(m_env.recordDir, m_env.recordServer, m_env.station);
    record::Journal* journal = m_record.get();
    const auto say = [this](const QString& text) {
        *m_env.err << "vantory-cli: " << text << "\n";
        m_env.err->flush();
    };
    QObject::connect(journal, &record::Journal::failed, journal,
                     [say](const QString& folder, const QString& reason) {
                         say(QStringLiteral("production record not written in %1: %2; the "
                                            "line waits and is written when it can be")
                                 .arg(folder, reason));
                     });
    QObject::connect(journal, &record::Journal::journalFailed, journal,
                     [say](const QString& reason) {
                         say(QStringLiteral("record journal behind: %1").arg(reason));
                     });
    QObject::connect(journal, &record::Journal::serverAway, journal,
                     [say](record::ServerProblem problem, const QString& detail) {
                         say(record::serverProblemText(problem, false).arg(detail));
                     });
    QObject::connect(&m_engine, &TagEngine::operationFinished, journal,
                     [journal](const record::Outcome& outcome) {
                         journal->append(record::entryFor(
                             outcome, QStringLiteral("vantory-cli " VANTORY_VERSION)));
                     });
}

int Session::closeRecord()
{
    if (!m_record)
        return Ok;
    const record::Journal::Backlog missing = m_record->settle(5000);
    const int left = m_record->flush(10000);
    QCoreApplication::sendPostedEvents(m_record.get(), QEvent::MetaCall);
    if (left > 0)
        *m_env.err << "vantory-cli: " << left
                   << " record line(s) held locally, sent by the next run that reaches "
                      "the server\n";
    if (!missing.empty())
        *m_env.err << "vantory-cli: production record incomplete: " << missing.notInFile
                   << " line(s) not in the day file, " << missing.notInJournal
                   << " not in the journal, " << missing.inNeither << " in neither\n";
    m_env.err->flush();
    m_record.reset();
    return missing.empty() ? Ok : Failure;
}

int Session::runOperation(const std::function<void()>& start, const QVector<ResultTip>& success)
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
    return exitFor(ended, success);
}

// The exit code of the operation that just ended (or did not, `ended` false), with its
// message on standard error.
int Session::exitFor(bool ended, const QVector<ResultTip>& success)
{
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
        *m_env.err << "vantory-cli: " << m_notices.first() << ": the driver is " << m_driverModel
                   << ", the file is for " << modelOf(image()) << "\n";
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
                       << (t == ResultTip::WriteFailed ? "write failure" : "read failure") << "\n";
            return TagError;
        }
    }
    return TagError;
}

} // namespace cli
