#pragma once

#include "readers/hidbackend.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

struct hid_device_;

/// HidBackend over hidapi (hidraw on Linux).
///
/// hidapi before 0.15 frees and replaces a handle's error string in every call, so no two
/// calls on one handle may run at the same time, closing included. Every call on the
/// handle is made under its own mutex, and reads never wait inside hidapi, so a write
/// never waits for a read: where the device is a node that can be polled (hidraw), the
/// read thread waits on a second descriptor of its own outside the lock and then takes
/// the report (each read looks at hidapi once first, in case the path names some other
/// node that never rings); elsewhere it looks for a report every millisecond while replies are
/// expected and every 20 ms when idle. Calls on hidapi's global state (enumerate, open,
/// init, exit) are serialised process-wide.
class HidapiBackend : public HidBackend
{
  public:
    /// Without a device node: the pause between two looks for a report while a reply is
    /// expected (a write went out less than BusyAfterWriteMs ago and has not been answered),
    /// and while idle.
    static constexpr int BusyLookMs = 1;
    static constexpr int IdleLookMs = 20;
    static constexpr int BusyAfterWriteMs = 500;
    /// How long close() waits for a call in progress (a write to a hung reader can take
    /// seconds) before it leaves the handle to be closed by that call when it returns.
    static constexpr int CloseWaitMs = 250;
    /// A read error on a device that is still listed is retried; only when errors go on
    /// for this long is the device taken as gone.
    static constexpr int PersistentErrorMs = 1000;

    HidapiBackend();
    ~HidapiBackend() override;

    HidapiBackend(const HidapiBackend&) = delete;
    HidapiBackend& operator=(const HidapiBackend&) = delete;

    QVector<HidInterfaceInfo> enumerate() override;
    bool open(const QString& path) override;
    bool isOpen() const override;
    int write(const QByteArray& report) override;
    int read(QByteArray* report, int timeoutMs) override;
    void close() override;
    bool systemWide() const override { return true; }

  private:
    struct Device;
    std::shared_ptr<Device> current() const;
    // Static: a write left running after close() may still ask, with the backend gone.
    static bool stillListed(const Device& device);

    mutable std::mutex m_stateMutex; // guards m_device only, never held during a call
    std::shared_ptr<Device> m_device;
};
