#pragma once

#include "cli/clirunner.h"
#include "engine/tagengine.h"
#include "model/productionrecord.h"
#include "model/recordstore.h"

#include <QStringList>
#include <QTimer>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>

// The pieces every vantory-cli command that talks to a reader is made of: one engine on
// one reader, its production record, and the blocking steps over them.
namespace cli
{

/// How long one read or write may take before the command gives up on the reader.
constexpr int kOperationLimitMs = 15000;

/// Waits, running the event loop, until `done` or `ms` have passed.
bool waitFor(const std::function<bool()>& done, int ms);
/// Bytes as upper-case hexadecimal digits.
QString hex(const QByteArray& bytes);
/// The model name the image's report shows.
QString modelOf(const TagImage& image);
/// Flushes standard output; false when what was written to it did not all go out (a closed
/// pipe, a full disk), with the message on standard error.
bool outputWritten(Environment& env);
/// `rc` as a JSON object {"result": result, "exit_code": rc} on standard output: a failure
/// under --json still prints one object.
int printJsonFailure(Environment& env, const QString& result, int rc);

/// One engine on one reader, with the blocking steps the commands are made of. It owns the
/// engine and the production record the engine's outcomes go into.
class Session
{
  public:
    explicit Session(Environment& env);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const TagImage& image() const { return m_engine.document().image(); }
    TagDocument& document() { return m_engine.document(); }
    TagEngine& engine() { return m_engine; }
    void onTip(std::function<void(ResultTip)> f) { m_onTip = std::move(f); }

    /// Connects to `reader` ("r321", "feig", or empty for the first that answers); with
    /// `device`, to the reader of that identity only. A reader held by another program is
    /// never opened: NoReader, with that reason.
    int connect(const QString& reader, const QString& device = QString());
    /// Reads the tag on the reader into the image.
    int read();
    /// The model of the driver read last; empty before a read.
    const QString& driverModel() const { return m_driverModel; }
    /// The last Write or auto-write operation the engine reported.
    const std::optional<record::Outcome>& lastOutcome() const { return m_lastOutcome; }
    /// Writes the image to the tag read last.
    int write();
    /// Waits until no sequence runs and the reader has switched its beeper off, so that
    /// leaving now never leaves the beeper sounding.
    void settle();
    /// Puts the record's last lines into the day file and the journal, and offers them to
    /// the server (at most 5 s and 10 s, plus one statement's time-out). Failure when a line
    /// is missing from the file or the journal; then the command does not exit 0.
    int closeRecord();

  private:
    int noSuchDevice(const QString& reader, const QString& device);
    void watchLeaveNow();
    [[noreturn]] void leaveNow(int signal);
    void startRecord();
    int runOperation(const std::function<void()>& start, const QVector<ResultTip>& success);
    int exitFor(bool ended, const QVector<ResultTip>& success);

    Environment& m_env;
    TagEngine m_engine;
    QVector<ResultTip> m_tips;
    QStringList m_notices;
    bool m_noReader = false;
    bool m_inUse = false;
    bool m_beepDone = false;
    std::function<void(ResultTip)> m_onTip;
    std::unique_ptr<record::Journal> m_record;
    QTimer m_leaveWatch;
    QString m_driverModel;
    std::optional<record::Outcome> m_lastOutcome;
};

} // namespace cli
