#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QSocketNotifier;

/// SIGTERM, SIGHUP and SIGINT as a call on the event loop (through a pipe the handler
/// writes to), so that a stopped service or a closed terminal takes the same path as
/// closing the window: the operation under way ends or is recorded as interrupted, the
/// record is put on disk, then the program leaves. A second signal while that runs leaves
/// at once. One at a time per process (Unix; a no-op elsewhere).
class SignalQuit : public QObject
{
  public:
    explicit SignalQuit(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~SignalQuit() override;

    /// "SIGTERM", "SIGHUP", "SIGINT": the cause the record gives.
    static QString name(int signal);

  private:
    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};
