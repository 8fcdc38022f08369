#pragma once

// A scriptable HidBackend for link tests: records every output report, can hold writes
// until the test releases them, and hands out input reports the test queues.

#include "readers/hidbackend.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QQueue>
#include <QWaitCondition>

class FakeHidBackend : public HidBackend
{
  public:
    QVector<HidInterfaceInfo> interfaces;
    bool openFails = false;

    static HidInterfaceInfo iface(const QString& path, uint16_t vid, int number = 0)
    {
        HidInterfaceInfo i;
        i.path = path;
        i.vendorId = vid;
        i.productId = 0x1234;
        i.interfaceNumber = number;
        return i;
    }

    QVector<HidInterfaceInfo> enumerate() override { return interfaces; }

    bool open(const QString& path) override
    {
        QMutexLocker lock(&m_mutex);
        if (openFails)
            return false;
        for (const auto& i : qAsConst(interfaces)) {
            if (i.path == path) {
                m_open = true;
                m_path = path;
                ++m_opens;
                return true;
            }
        }
        return false;
    }

    bool isOpen() const override
    {
        QMutexLocker lock(&m_mutex);
        return m_open && !m_failed;
    }

    int write(const QByteArray& report) override
    {
        QMutexLocker lock(&m_mutex);
        if (!m_open || m_failed)
            return -1;
        m_written.append(report);
        m_cond.wakeAll();
        while (m_hold && m_released < m_written.size()) {
            m_cond.wait(&m_mutex);
            if (!m_open)
                return -1;
        }
        return report.size();
    }

    int read(QByteArray* report, int timeoutMs) override
    {
        QDeadlineTimer deadline(timeoutMs);
        QMutexLocker lock(&m_mutex);
        for (;;) {
            if (!m_open || m_failed)
                return -1;
            if (!m_inputs.isEmpty()) {
                *report = m_inputs.dequeue();
                return report->size();
            }
            if (deadline.hasExpired())
                return 0;
            m_cond.wait(&m_mutex, deadline);
        }
    }

    void close() override
    {
        QMutexLocker lock(&m_mutex);
        m_open = false;
        m_cond.wakeAll();
    }

    /// Writes block until released one by one.
    void setHoldWrites(bool hold)
    {
        QMutexLocker lock(&m_mutex);
        m_hold = hold;
        m_released = hold ? m_written.size() : 1 << 30;
        m_cond.wakeAll();
    }
    /// Lets the oldest held write complete.
    void releaseOne()
    {
        QMutexLocker lock(&m_mutex);
        ++m_released;
        m_cond.wakeAll();
    }
    /// Makes every further read and write fail (device gone).
    void fail()
    {
        QMutexLocker lock(&m_mutex);
        m_failed = true;
        m_cond.wakeAll();
    }
    void queueInput(const QByteArray& report)
    {
        QMutexLocker lock(&m_mutex);
        m_inputs.enqueue(report);
        m_cond.wakeAll();
    }
    QVector<QByteArray> written() const
    {
        QMutexLocker lock(&m_mutex);
        return m_written;
    }
    QString openPath() const
    {
        QMutexLocker lock(&m_mutex);
        return m_open ? m_path : QString();
    }
    int opens() const
    {
        QMutexLocker lock(&m_mutex);
        return m_opens;
    }

  private:
    mutable QMutex m_mutex;
    QWaitCondition m_cond;
    bool m_open = false;
    bool m_failed = false;
    bool m_hold = false;
    int m_released = 0;
    int m_opens = 0;
    QString m_path;
    QVector<QByteArray> m_written;
    QQueue<QByteArray> m_inputs;
};
