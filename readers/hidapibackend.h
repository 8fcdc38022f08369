#pragma once

#include "readers/hidbackend.h"

#include <QReadWriteLock>
#include <atomic>

struct hid_device_;

/// HidBackend over hidapi (hidraw on Linux). Reads and writes share the device under a
/// read lock; close() takes the write lock, so the handle is released only after a
/// running read (bounded by its time-out) and write have returned.
class HidapiBackend : public HidBackend
{
  public:
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

  private:
    mutable QReadWriteLock m_lock;
    hid_device_* m_device = nullptr;
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_failed{false};
};
