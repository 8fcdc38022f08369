#include "readers/hidapibackend.h"

#include <hidapi/hidapi.h>

#include <QLoggingCategory>
#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#if defined(Q_OS_LINUX)
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{

Q_LOGGING_CATEGORY(lcHidapi, "vantory.hid")

using Clock = std::chrono::steady_clock;

// hid_init/hid_exit are process-wide; count the backends that use them.
int g_users = 0;
// hidapi's global calls share one error string too.
std::mutex g_globalMutex;

// How long a read waits before it retries after a passing error.
constexpr auto kRetryPause = std::chrono::milliseconds(2);
constexpr int kWriteAttempts = 3;
// How often a read waiting for the handle's lock looks whether the handle was closed.
constexpr auto kCallLockSlice = std::chrono::milliseconds(5);

QString fromWide(const wchar_t* s)
{
    return s ? QString::fromWCharArray(s) : QString();
}

QVector<HidInterfaceInfo> listInterfaces();

} // namespace

/// One open handle and the mutex every call on it is made under. The last owner closes
/// the handle: normally close(), or the thread whose call outlived close()'s wait.
struct HidapiBackend::Device {
    explicit Device(hid_device_* h, QString p) : handle(h), path(std::move(p))
    {
#if defined(Q_OS_LINUX)
        // hidraw hands every report to each open descriptor: this one only says when one
        // has come, so the wait happens outside the lock.
        doorbell = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        // Only a node that hands out reports can ring: a path that names an ordinary file
        // (or nothing) leaves the reads to look at hidapi in slices.
        struct stat node {
        };
        if (doorbell >= 0 &&
            (::fstat(doorbell, &node) != 0 || !(S_ISCHR(node.st_mode) || S_ISFIFO(node.st_mode)))) {
            ::close(doorbell);
            doorbell = -1;
        }
#endif
    }
    ~Device()
    {
        if (handle)
            hid_close(handle);
#if defined(Q_OS_LINUX)
        if (doorbell >= 0)
            ::close(doorbell);
#endif
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    hid_device_* handle;
    const QString path;
    std::timed_mutex call;
    // Without a doorbell the read loop sleeps between looks; a write wakes it.
    std::mutex wakeMutex;
    std::condition_variable wake;
    bool wrote = false;
    Clock::time_point lastWrite{};
    std::atomic<bool> closed{false};
    std::atomic<bool> failed{false};
    // Read thread only.
    int doorbell = -1;
    int owed = 0;      // reports the doorbell announced that hidapi has not yet given
    bool drain = true; // hidapi may hold more reports: take them before waiting again

    /// Waits at most `timeoutMs` for the doorbell and counts the reports it announces.
    void waitForReport(int timeoutMs);
    /// Without a doorbell: sleeps until the next look, or until a write goes out.
    void sleepBetweenLooks(int leftMs);
};

void HidapiBackend::Device::sleepBetweenLooks(int leftMs)
{
    std::unique_lock<std::mutex> lock(wakeMutex);
    const bool busy = Clock::now() - lastWrite < std::chrono::milliseconds(BusyAfterWriteMs);
    const int ms = std::min(leftMs, busy ? BusyLookMs : IdleLookMs);
    wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return wrote || closed.load(); });
    wrote = false;
}

void HidapiBackend::Device::waitForReport(int timeoutMs)
{
#if defined(Q_OS_LINUX)
    pollfd fd{doorbell, POLLIN, 0};
    const int ready = ::poll(&fd, 1, timeoutMs);
    if (ready <= 0)
        return; // time-out, or an interrupted wait: the caller looks at the clock again
    if (fd.revents & (POLLERR | POLLHUP | POLLNVAL)) {
        // Gone or failing: let hidapi say which, in the read that follows.
        ::close(doorbell);
        doorbell = -1;
        return;
    }
    std::array<unsigned char, 65> sink{};
    ssize_t got = 0;
    bool rang = false;
    while ((got = ::read(doorbell, sink.data(), sink.size())) > 0) {
        ++owed;
        rang = true;
    }
    if (got == 0 && !rang) {
        // End of file at once (/dev/null and the like): not a report node after all.
        ::close(doorbell);
        doorbell = -1;
    }
#else
    Q_UNUSED(timeoutMs);
#endif
}

HidapiBackend::HidapiBackend()
{
    std::lock_guard<std::mutex> global(g_globalMutex);
    if (g_users++ == 0 && hid_init() != 0)
        qCWarning(lcHidapi) << "hid_init failed";
}

HidapiBackend::~HidapiBackend()
{
    close();
    std::lock_guard<std::mutex> global(g_globalMutex);
    if (--g_users == 0)
        hid_exit();
}

std::shared_ptr<HidapiBackend::Device> HidapiBackend::current() const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_device;
}

QVector<HidInterfaceInfo> HidapiBackend::enumerate()
{
    return listInterfaces();
}

namespace
{

QVector<HidInterfaceInfo> listInterfaces()
{
    QVector<HidInterfaceInfo> list;
    std::lock_guard<std::mutex> global(g_globalMutex);
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

} // namespace

bool HidapiBackend::stillListed(const Device& device)
{
    const QVector<HidInterfaceInfo> list = listInterfaces();
    return std::any_of(list.cbegin(), list.cend(),
                       [&](const HidInterfaceInfo& i) { return i.path == device.path; });
}

bool HidapiBackend::open(const QString& path)
{
    close();
    hid_device_* handle = nullptr;
    {
        std::lock_guard<std::mutex> global(g_globalMutex);
        handle = hid_open_path(path.toLocal8Bit().constData());
        if (!handle) {
            qCWarning(lcHidapi) << "hid_open_path failed" << path << fromWide(hid_error(nullptr));
            return false;
        }
    }
    auto device = std::make_shared<Device>(handle, path);
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_device = std::move(device);
    return true;
}

bool HidapiBackend::isOpen() const
{
    const std::shared_ptr<Device> d = current();
    return d && !d->failed.load() && !d->closed.load();
}

int HidapiBackend::write(const QByteArray& report)
{
    const std::shared_ptr<Device> d = current();
    if (!d)
        return -1;
    for (int attempt = 1;; ++attempt) {
        if (d->closed.load() || d->failed.load())
            return -1;
        std::unique_lock<std::timed_mutex> call(d->call);
        if (d->closed.load())
            return -1;
        const int n =
            hid_write(d->handle, reinterpret_cast<const unsigned char*>(report.constData()),
                      static_cast<size_t>(report.size()));
        const QString error = n < 0 ? fromWide(hid_error(d->handle)) : QString();
        call.unlock();
        if (n >= 0) {
            // A reply is on its way: the read loop looks for it at its busy pace.
            {
                std::lock_guard<std::mutex> lock(d->wakeMutex);
                d->lastWrite = Clock::now();
                d->wrote = true;
            }
            d->wake.notify_all();
            return n;
        }
        qCWarning(lcHidapi) << "hid_write failed" << error;
        if (!stillListed(*d) || attempt >= kWriteAttempts) {
            d->failed.store(true);
            return -1;
        }
    }
}

int HidapiBackend::read(QByteArray* report, int timeoutMs)
{
    const std::shared_ptr<Device> d = current();
    if (!d)
        return -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    Clock::time_point firstError{};
    // Room for a numbered report too; the R321's reports are 64 bytes without an ID.
    std::array<unsigned char, 65> buffer{};
    // Every call looks at hidapi once before it waits for the doorbell, so that a node
    // that stays silent (not the device's own after all) only slows replies down.
    bool looked = false;
    for (;;) {
        if (d->closed.load() || d->failed.load())
            return -1;
        const auto now = Clock::now();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        const int leftMs = int(std::clamp<qint64>(left.count(), 0, timeoutMs));
        const bool bell = d->doorbell >= 0;
        if (bell && looked && !d->drain && d->owed == 0) {
            if (leftMs <= 0)
                return 0;
            d->waitForReport(leftMs);
            continue;
        }
        // hidapi is only asked for what is there, so that a write never waits for a read
        // (an announced report may reach hidapi's own descriptor a moment later).
        const int wait = bell && d->owed > 0 ? 1 : 0;
        int n = 0;
        QString error;
        {
            // A write hung in the device holds the lock; once the handle is closed the read
            // gives up, so that the link can go on with a new handle.
            std::unique_lock<std::timed_mutex> call(d->call, std::defer_lock);
            while (!call.try_lock_for(kCallLockSlice)) {
                if (d->closed.load())
                    return -1;
            }
            if (d->closed.load())
                return -1;
            n = hid_read_timeout(d->handle, buffer.data(), buffer.size(), wait);
            if (n < 0)
                error = fromWide(hid_error(d->handle));
        }
        looked = true;
        if (bell) {
            d->owed = n > 0 ? std::max(0, d->owed - 1) : 0;
            d->drain = n != 0;
        }
        if (n > 0) {
            if (!bell) {
                // The reply is in: one command is answered at a time, so the busy pace can
                // end here instead of half a second after the write.
                std::lock_guard<std::mutex> lock(d->wakeMutex);
                d->lastWrite = Clock::time_point{};
            }
            if (report)
                *report = QByteArray(reinterpret_cast<const char*>(buffer.data()), n);
            return n;
        }
        if (n < 0) {
            // An interrupted wait or a passing fault is retried; the device is gone only
            // when it has left the list, or when it keeps failing.
            const auto errorAt = Clock::now();
            if (firstError == Clock::time_point{})
                firstError = errorAt;
            const bool persistent =
                errorAt - firstError >= std::chrono::milliseconds(PersistentErrorMs);
            if (persistent || !stillListed(*d)) {
                qCWarning(lcHidapi) << "hid_read failed, device gone:" << error;
                d->failed.store(true);
                return -1;
            }
            qCDebug(lcHidapi) << "hid_read failed, retrying:" << error;
            std::this_thread::sleep_for(kRetryPause);
            continue;
        }
        firstError = {};
        if (bell)
            continue; // wait on the doorbell, or drain what it announced
        if (leftMs <= 0)
            return 0;
        d->sleepBetweenLooks(leftMs);
    }
}

void HidapiBackend::close()
{
    std::shared_ptr<Device> d;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        d = std::move(m_device);
        m_device.reset();
    }
    if (!d)
        return;
    d->closed.store(true);
    d->wake.notify_all();
    std::unique_lock<std::timed_mutex> call(d->call, std::defer_lock);
    if (call.try_lock_for(std::chrono::milliseconds(CloseWaitMs))) {
        hid_close(d->handle);
        d->handle = nullptr;
        return;
    }
    // A call hangs (a write to a reader that does not take its report): do not freeze
    // the caller. The handle closes when that call returns and drops the last reference.
    qCWarning(lcHidapi) << "a call on" << d->path << "is still running; closing it afterwards";
}
