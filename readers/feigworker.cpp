#include "readers/feigworker.h"

#include "readers/feusbapi.h"
#include "readers/myfeigusb.h"

#include <QElapsedTimer>
#include <algorithm>
#include <array>

namespace
{

// FEUSB handles carry bit 28; anything else was never a handle of the library.
constexpr int kFeusbHandleBit = 0x10000000;
constexpr int kTimeoutMs = 5000;
// A transceive that fails sooner than this had a dead handle; a reader that does not
// answer takes the library's whole time-out.
constexpr qint64 kDeadHandleMs = 1000;
// FEUSB's scan option for every reader present.
constexpr int kScanAll = 0x08;
constexpr int kParaSize = 128;

} // namespace

writeThreadFEIG1::writeThreadFEIG1(FeusbApi* api, QObject* parent) : QThread(parent), m_api(api) {}

writeThreadFEIG1::~writeThreadFEIG1()
{
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    wait();
    std::lock_guard<std::mutex> device(m_deviceMutex);
    closeLocked();
}

int writeThreadFEIG1::Feig_Open()
{
    // An open handle is reused at once, without waiting for a transceive in flight.
    if (const int current = m_handle.load(); current > 0) {
        m_connected = 1;
        return current;
    }
    std::lock_guard<std::mutex> device(m_deviceMutex);
    return openLocked();
}

int writeThreadFEIG1::Feig_Reopen()
{
    std::lock_guard<std::mutex> device(m_deviceMutex);
    closeLocked();
    const int handle = openLocked();
    if (handle == 0)
        m_connected = 0;
    return handle;
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
    m_inUse = false;
    int handle = 0;
    const QStringList present = deviceIds(m_api);
    if (!present.isEmpty()) {
        for (const QString& id : present) {
            if (!m_wantedId.isEmpty() && id != m_wantedId)
                continue;
            if (m_claim && !m_claim(id)) {
                m_inUse = true;
                continue;
            }
            bool ok = false;
            handle = m_api->OpenDevice(static_cast<long>(id.toULongLong(&ok, 16)));
            if (handle > 0) {
                m_inUse = false;
                m_openId = id;
                m_wantedId = id; // from now on this reader, never another
            }
            break;
        }
    } else if (m_wantedId.isEmpty() && (!m_claim || m_claim(QString()))) {
        // No scan list: the library opens the first reader it finds.
        handle = m_api->ScanAndOpen(1, nullptr);
    }
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

QStringList writeThreadFEIG1::deviceIds(FeusbApi* api)
{
    QStringList ids;
    if (!api || !api->available() || api->Scan(kScanAll, nullptr) < 0)
        return ids;
    const int n = api->GetScanListSize();
    for (int i = 0; i < n; ++i) {
        char para[] = "Device-ID";
        char value[kParaSize] = {};
        if (api->GetScanListPara(i, para, value) < 0)
            continue;
        value[kParaSize - 1] = '\0';
        const QString id = QString::fromLatin1(value).trimmed().toUpper();
        if (!id.isEmpty() && !ids.contains(id))
            ids << id;
    }
    return ids;
}

void writeThreadFEIG1::setWanted(const QString& deviceId, const Claim& claim)
{
    std::lock_guard<std::mutex> device(m_deviceMutex);
    m_wantedId = deviceId.trimmed().toUpper();
    m_claim = claim;
}

QString writeThreadFEIG1::deviceId()
{
    std::lock_guard<std::mutex> device(m_deviceMutex);
    return m_openId;
}

bool writeThreadFEIG1::lastOpenInUse()
{
    std::lock_guard<std::mutex> device(m_deviceMutex);
    return m_inUse;
}

void writeThreadFEIG1::Feig_Close()
{
    qCDebug(lcFeig) << "关闭";
    Feig_CloseQuiet();
}

void writeThreadFEIG1::Feig_CloseQuiet()
{
    std::lock_guard<std::mutex> device(m_deviceMutex);
    closeLocked();
}

uint8_t writeThreadFEIG1::Feig_IsConnected() const
{
    return m_connected.load();
}

void writeThreadFEIG1::Feig_Send(QByteArray frame, int length)
{
    if (length <= 0 || length > frame.size() || length > kBufferSize) {
        qCWarning(lcFeig) << "request refused: length" << length << "of a" << frame.size()
                          << "byte frame";
        return;
    }
    frame.truncate(length);
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_stopping)
            return;
        m_queue.push_back(frame);
    }
    m_wake.notify_one();
    if (!isRunning())
        start();
}

void writeThreadFEIG1::run()
{
    for (;;) {
        QByteArray frame;
        {
            std::unique_lock<std::mutex> lock(m_queueMutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            frame = m_queue.front();
            m_queue.pop_front();
        }
        transceiveOne(frame);
        emit transceiveDone();
    }
}

void writeThreadFEIG1::transceiveOne(QByteArray frame)
{
    std::array<unsigned char, kBufferSize> rx{};
    int received = 0;
    {
        std::lock_guard<std::mutex> device(m_deviceMutex);
        const int handle = openLocked();
        if (handle == 0) {
            qCDebug(lcFeig) << "close";
            m_connected = 0;
            return;
        }
        char interfaceName[] = "OBID-RCI2";
        const auto transceive = [&](int h) {
            return m_api->Transceive(h, interfaceName, 0,
                                     reinterpret_cast<unsigned char*>(frame.data()), frame.size(),
                                     rx.data(), kBufferSize);
        };
        QElapsedTimer clock;
        clock.start();
        received = transceive(handle);
        if (received < 0) {
            // The handle may be dead (reader unplugged); the next request opens afresh.
            qCWarning(lcFeig) << "transceive failed with" << received << "- reopening";
            closeLocked();
            if (clock.elapsed() < kDeadHandleMs) {
                // Pulled and plugged back since the last request: one more try on a new handle.
                const int fresh = openLocked();
                if (fresh != 0)
                    received = transceive(fresh);
                else
                    m_connected = 0;
                if (received < 0)
                    closeLocked();
            }
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
