#include "readers/hidapibackend.h"

#include <hidapi/hidapi.h>

#include <QLoggingCategory>
#include <array>

namespace
{

Q_LOGGING_CATEGORY(lcHidapi, "vantory.hid")

// hid_init/hid_exit are process-wide; count the backends that use them.
std::atomic<int> g_users{0};

QString fromWide(const wchar_t* s)
{
    return s ? QString::fromWCharArray(s) : QString();
}

} // namespace

HidapiBackend::HidapiBackend()
{
    if (g_users.fetch_add(1) == 0 && hid_init() != 0)
        qCWarning(lcHidapi) << "hid_init failed";
}

HidapiBackend::~HidapiBackend()
{
    close();
    if (g_users.fetch_sub(1) == 1)
        hid_exit();
}

QVector<HidInterfaceInfo> HidapiBackend::enumerate()
{
    QVector<HidInterfaceInfo> list;
    hid_device_info* all = hid_enumerate(0, 0);
    for (const hid_device_info* d = all; d; d = d->next) {
        HidInterfaceInfo info;
        info.path = QString::fromLocal8Bit(d->path ? d->path : "");
        info.vendorId = d->vendor_id;
        info.productId = d->product_id;
        info.releaseNumber = d->release_number;
        info.interfaceNumber = d->interface_number;
        info.manufacturer = fromWide(d->manufacturer_string);
        info.product = fromWide(d->product_string);
        info.serial = fromWide(d->serial_number);
        list.append(info);
    }
    hid_free_enumeration(all);
    return list;
}

bool HidapiBackend::open(const QString& path)
{
    close();
    QWriteLocker lock(&m_lock);
    m_device = hid_open_path(path.toLocal8Bit().constData());
    m_failed.store(false);
    if (!m_device) {
        qCWarning(lcHidapi) << "hid_open_path failed" << path << fromWide(hid_error(nullptr));
        return false;
    }
    return true;
}

bool HidapiBackend::isOpen() const
{
    QReadLocker lock(&m_lock);
    return m_device && !m_failed.load() && !m_closing.load();
}

int HidapiBackend::write(const QByteArray& report)
{
    if (m_closing.load())
        return -1;
    QReadLocker lock(&m_lock);
    if (!m_device || m_failed.load())
        return -1;
    const int n = hid_write(m_device, reinterpret_cast<const unsigned char*>(report.constData()),
                            static_cast<size_t>(report.size()));
    if (n < 0) {
        m_failed.store(true);
        qCWarning(lcHidapi) << "hid_write failed" << fromWide(hid_error(m_device));
    }
    return n;
}

int HidapiBackend::read(QByteArray* report, int timeoutMs)
{
    if (m_closing.load())
        return -1;
    QReadLocker lock(&m_lock);
    if (!m_device || m_failed.load())
        return -1;
    // Room for a numbered report too; the R321's reports are 64 bytes without an ID.
    std::array<unsigned char, 65> buffer{};
    const int n = hid_read_timeout(m_device, buffer.data(), buffer.size(), timeoutMs);
    if (n < 0) {
        // Device gone: report it so the link stops instead of spinning on errors.
        m_failed.store(true);
        qCWarning(lcHidapi) << "hid_read failed" << fromWide(hid_error(m_device));
        return -1;
    }
    if (report)
        *report = QByteArray(reinterpret_cast<const char*>(buffer.data()), n);
    return n;
}

void HidapiBackend::close()
{
    m_closing.store(true);
    {
        QWriteLocker lock(&m_lock);
        if (m_device)
            hid_close(m_device);
        m_device = nullptr;
        m_failed.store(false);
    }
    m_closing.store(false);
}
