#include "readers/feigworker.h"

#include "readers/feusbapi.h"
#include "readers/myfeigusb.h"

#include <QMutexLocker>
#include <algorithm>
#include <array>

namespace {

// FEUSB handles carry bit 28; anything else was never a handle of the library.
constexpr int kFeusbHandleBit = 0x10000000;
constexpr int kTimeoutMs = 5000;

} // namespace

writeThreadFEIG1::writeThreadFEIG1(FeusbApi* api, QObject* parent) : QThread(parent), m_api(api)
{
}

writeThreadFEIG1::~writeThreadFEIG1()
{
    {
        QMutexLocker lock(&m_queueMutex);
        m_stopping = true;
        m_wake.wakeAll();
    }
    wait();
    QMutexLocker device(&m_deviceMutex);
    closeLocked();
}

int writeThreadFEIG1::Feig_Open()
{
    QMutexLocker device(&m_deviceMutex);
    return openLocked();
}

int writeThreadFEIG1::openLocked()
{
    const int current = m_handle.load();
    if (current > 0) {
        m_connected = 1;
        return current;
    }
    if (!m_api || !m_api->available())
        return 0;
    const int handle = m_api->ScanAndOpen(1, nullptr);
    if (handle <= 0)
        return 0;
    qCDebug(lcFeig) << "FEUSB SCAN";
    QByteArray para("TIMEOUT");
    QByteArray value = QByteArray::number(kTimeoutMs); // the decimal text "%i" would give
    m_api->SetDevicePara(handle, para.data(), value.data());
    m_handle = handle;
    m_connected = 1;
    return handle;
}

void writeThreadFEIG1::closeLocked()
{
    const int handle = m_handle.load();
    if (handle < 0)
        return;
    if (m_api && (handle & kFeusbHandleBit))
        m_api->CloseDevice(handle);
    m_handle = -1;
}

void writeThreadFEIG1::Feig_Close()
{
    qCDebug(lcFeig) << "关闭";
    Feig_CloseQuiet();
}

void writeThreadFEIG1::Feig_CloseQuiet()
{
    QMutexLocker device(&m_deviceMutex);
    closeLocked();
}

uint8_t writeThreadFEIG1::Feig_IsConnected() const { return m_connected.load(); }

void writeThreadFEIG1::Feig_Send(QByteArray frame, int length)
{
    if (length <= 0 || length > frame.size() || length > kBufferSize) {
        qCWarning(lcFeig) << "request refused: length" << length << "of a" << frame.size()
                          << "byte frame";
        return;
    }
    frame.truncate(length);
    {
        QMutexLocker lock(&m_queueMutex);
        if (m_stopping)
            return;
        m_queue.enqueue(frame);
        m_wake.wakeOne();
    }
    if (!isRunning())
        start();
}

void writeThreadFEIG1::run()
{
    for (;;) {
        QByteArray frame;
        {
            QMutexLocker lock(&m_queueMutex);
            while (m_queue.isEmpty() && !m_stopping)
                m_wake.wait(&m_queueMutex);
            if (m_stopping)
                return;
            frame = m_queue.dequeue();
        }
        transceiveOne(frame);
    }
}

void writeThreadFEIG1::transceiveOne(QByteArray frame)
{
    std::array<unsigned char, kBufferSize> rx{};
    int received = 0;
    {
        QMutexLocker device(&m_deviceMutex);
        const int handle = openLocked();
        if (handle == 0) {
            qCDebug(lcFeig) << "close";
            m_connected = 0;
            return;
        }
        char interfaceName[] = "OBID-RCI2";
        received = m_api->Transceive(handle, interfaceName, 0,
                                     reinterpret_cast<unsigned char*>(frame.data()),
                                     frame.size(), rx.data(), kBufferSize);
        if (received < 0) {
            // The handle may be dead (reader unplugged); the next request opens afresh.
            qCWarning(lcFeig) << "transceive failed with" << received << "- reopening next time";
            closeLocked();
        }
    }
    // Signals go out without the device lock so that a directly connected receiver may
    // call back into the link.
    if (received == 0)
        return;
    if (received < 0) {
        emit FeigDevReceive(QByteArray());
        return;
    }
    const int size = std::min(received, kBufferSize);
    emit FeigDevReceive(QByteArray(reinterpret_cast<const char*>(rx.data()), size));
}
