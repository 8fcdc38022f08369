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

    /// Connects to `reader` ("r321", "feig", or empty for the first that answers).
    int connect(const QString& reader);
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

  private:
    void watchLeaveNow();
    [[noreturn]] void leaveNow(int signal);
    static QString signalName(int signal);
    void startRecord();
    void endRecord();
    int runOperation(const std::function<void()>& start, const QVector<ResultTip>& success);
    int exitFor(bool ended, const QVector<ResultTip>& success);

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

} // namespace cli
