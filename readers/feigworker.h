#pragma once

#include <QByteArray>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

class FeusbApi;

/// The FEIG link: one worker thread that sends the queued requests one at a time over
/// a FeusbApi and emits each reply. The device is opened once and its handle reused;
/// it is reopened after a transceive reported a device error, and a request whose handle
/// had died at once (the reader was pulled and plugged back) is sent again on the new one.
class writeThreadFEIG1 : public QThread
{
    Q_OBJECT
  public:
    /// Largest request and reply the link handles, in bytes.
    static constexpr int kBufferSize = 400;
    /// Says whether this program may open the reader of that device ID now.
    using Claim = std::function<bool(const QString& deviceId)>;

    /// `api` must outlive this object.
    explicit writeThreadFEIG1(FeusbApi* api, QObject* parent = nullptr);
    /// Stops the worker (the request in flight finishes first) and closes the device.
    ~writeThreadFEIG1() override;

    /// Opens the reader unless a handle is already open; returns the handle, 0 on failure.
    int Feig_Open();
    /// Asks the library afresh whether the reader is there: drops the handle held (stale
    /// after an unplug) and opens the reader again. Returns the handle, 0 when there is none.
    int Feig_Reopen();
    /// Queues the first `length` bytes of `frame`; requests go out in order, one at a time.
    void Feig_Send(QByteArray frame, int length);
    /// 1 after a successful open, 0 at start and after an open failed while sending.
    uint8_t Feig_IsConnected() const;
    /// Closes the device handle, writing "关闭" to the log first.
    void Feig_Close();
    /// Closes the device handle without a log line.
    void Feig_CloseQuiet();

    /// Which reader to open: the one with `deviceId` (empty: the first that `claim`
    /// allows). Once one has been opened, reopening finds that one again.
    void setWanted(const QString& deviceId, const Claim& claim);
    /// The device ID of the reader opened (empty before, or when the library has no scan
    /// list).
    QString deviceId();
    /// True when the last open found the reader(s) but every one was held elsewhere.
    bool lastOpenInUse();
    /// The device IDs of the readers present, as the library's scan list gives them;
    /// empty when it has none.
    static QStringList deviceIds(FeusbApi* api);

  signals:
    void FeigDevReceive(QByteArray rxArray);
    /// One request has been through the library, answered or not; emitted after its
    /// FeigDevReceive (if any), so a receiver counting requests sees the reply first.
    void transceiveDone();

  protected:
    void run() override;

  private:
    int openLocked();
    void closeLocked();
    void transceiveOne(QByteArray frame);

    FeusbApi* const m_api;

    // Standard primitives rather than QMutex/QWaitCondition so that thread sanitizer
    // builds can follow the hand-over between the GUI thread and the worker.
    std::mutex m_queueMutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_queue;
    bool m_stopping = false;

    // Serialises every library call and handle change between the worker and the GUI thread.
    std::mutex m_deviceMutex;
    std::atomic<int> m_handle{-1};
    QString m_wantedId; // under m_deviceMutex, as the two below
    QString m_openId;
    Claim m_claim;
    bool m_inUse = false;
    std::atomic<uint8_t> m_connected{0};
};
