#include "readers/myhid.h"

#include "readers/hidpath.h"
#include "readers/r321frames.h"

#include <QLoggingCategory>
#include <QMutexLocker>

namespace
{

Q_LOGGING_CATEGORY(lcHid, "vantory.hid")

// How long an idle read thread sleeps before it looks at its flags again; the
// wake condition normally ends the wait earlier.
constexpr unsigned long kIdleWaitMs = 200;

} // namespace

readThreadEP1::readThreadEP1(myhid* hid) : m_hid(hid) {}

void readThreadEP1::run()
{
    myhid& h = *m_hid;
    while (!h.m_stop.load()) {
        if (!h.m_connected.load()) {
            QMutexLocker lock(&h.m_lock);
            if (!h.m_stop.load() && !h.m_connected.load())
                h.m_wake.wait(&h.m_lock, kIdleWaitMs);
            continue;
        }
        const quint64 generation = h.m_generation.load();
        QByteArray report;
        const int n = h.m_backend->read(&report, myhid::ReadTimeoutMs);
        if (h.m_stop.load())
            break;
        if (n < 0) {
            // The device went away under us: say so once, instead of spinning on errors.
            if (h.m_generation.load() == generation && h.m_connected.exchange(0)) {
                h.m_removedGeneration.store(generation);
                qCWarning(lcHid) << "read failed, device removed";
                emit h.hidDevRemoved();
            }
            continue;
        }
        if (n == 0 || !h.m_connected.load() || h.m_generation.load() != generation)
            continue;
        emit hidDevReceive(r321::fitted(report, myhid::ReportSize));
    }
}

writeThreadEP1::writeThreadEP1(myhid* hid) : m_hid(hid) {}

void writeThreadEP1::run()
{
    myhid& h = *m_hid;
    for (;;) {
        QByteArray report;
        quint64 generation = 0;
        {
            QMutexLocker lock(&h.m_lock);
            while (!h.m_stop.load() && !h.m_outPending)
                h.m_wake.wait(&h.m_lock);
            if (h.m_stop.load())
                return;
            report = h.m_outReport;
            generation = h.m_outGeneration;
            h.m_outPending = false;
        }
        // A report from before the last reconnect must not reach the new device.
        if (generation != h.m_generation.load()) {
            h.m_writeBusy.store(0);
            continue;
        }
        const int written = h.m_backend->write(report);
        if (written < 0) {
            // Gone: the GUI thread closes the handle, as for a failed read.
            if (h.m_generation.load() == generation && h.m_connected.exchange(0)) {
                h.m_removedGeneration.store(generation);
                qCWarning(lcHid) << "write failed, link not connected";
                emit h.hidDevRemoved();
            }
            h.m_writeBusy.store(0);
            continue;
        }
        h.m_writeBusy.store(0);
        emit hidDevSend();
    }
}

myhid::myhid(HidBackend* backend, QObject* parent) : QObject(parent), m_backend(backend)
{
    m_messageHook = [](const QString& text) { qCWarning(lcHid) << text; };
    connect(this, &myhid::hidDevRemoved, this, &myhid::inHidDevRemoved);
    m_watchdog.setSingleShot(true);
    m_watchdog.setInterval(WriteCompletionTimeoutMs);
    connect(&m_watchdog, &QTimer::timeout, this, &myhid::onWriteWatchdog);
    m_readThread = new readThreadEP1(this);
    m_writeThread = new writeThreadEP1(this);
    m_readThread->start();
    m_writeThread->start();
}

myhid::~myhid()
{
    stopThreads();
    delete m_readThread;
    delete m_writeThread;
}

void myhid::stopThreads()
{
    {
        QMutexLocker lock(&m_lock);
        m_stop.store(true);
        m_connected.store(0);
        m_wake.wakeAll();
    }
    // Closing makes a running read or a stalled write return, so both threads can end.
    if (m_backend)
        m_backend->close();
    m_readThread->wait();
    m_writeThread->wait();
}

void myhid::setMessageHook(MessageHook hook)
{
    if (hook)
        m_messageHook = std::move(hook);
}

void myhid::showMessage(const QString& text)
{
    m_messageHook(text);
}

void myhid::Connect()
{
    m_selVendorId = 0;
    m_selProductId = 0;
    m_selInterface = 0;
    const int n = findAndOpen(true);
    const QVector<HidInterfaceInfo> found = m_searchResult;
    for (int i = 0; i < n && i < found.size(); ++i) {
        if (found.at(i).vendorId != R321VendorId)
            continue;
        Close_Device();
        qCDebug(lcHid) << "R321 candidate" << i;
        m_selVendorId = found.at(i).vendorId;
        m_selProductId = found.at(i).productId;
        m_selInterface = found.at(i).interfaceNumber;
        if (Find_And_Open() == i) {
            m_writeBusy.store(0);
            emit usbConnect(QStringLiteral("Connected: R321"));
        }
        break;
    }
}

int myhid::Find_And_Open()
{
    return findAndOpen(false);
}

int myhid::findAndOpen(bool listOnly)
{
    m_searchResult.clear();
    if (!m_backend)
        return 0;
    const QVector<HidInterfaceInfo> list = m_backend->enumerate();
    for (int k = 0; k < list.size(); ++k) {
        HidInterfaceInfo info = list.at(k);
        // Windows-style paths carry the interface number; hidapi usually knows it anyway.
        if (info.interfaceNumber < 0)
            info.interfaceNumber = hidpath::interfaceNumber(info.path);
        m_searchResult.append(info);
        if (listOnly || info.vendorId != m_selVendorId || info.productId != m_selProductId ||
            info.interfaceNumber != m_selInterface)
            continue;
        if (!openInterface(info)) {
            showMessage(QStringLiteral("open device failure with reading"));
            return -1;
        }
        return k;
    }
    return list.size();
}

bool myhid::openInterface(const HidInterfaceInfo& info)
{
    m_openFailedPath.clear();
    if (!m_backend->open(info.path)) {
        qCWarning(lcHid) << "open failed" << info.path;
        m_openFailedPath = info.path;
        return false;
    }
    m_connectedInterface = info;
    {
        QMutexLocker lock(&m_lock);
        m_generation.fetch_add(1);
        m_connected.store(1);
        m_wake.wakeAll();
    }
    qCDebug(lcHid) << "opened" << info.path;
    return true;
}

bool myhid::Reconnect(const HidInterfaceInfo& wanted)
{
    if (m_connected.load())
        return true;
    if (!m_backend || wanted.vendorId == 0)
        return false;
    const QVector<HidInterfaceInfo> list = m_backend->enumerate();
    for (HidInterfaceInfo info : list) {
        if (info.interfaceNumber < 0)
            info.interfaceNumber = hidpath::interfaceNumber(info.path);
        const bool same =
            info.vendorId == wanted.vendorId && info.productId == wanted.productId &&
            info.interfaceNumber == wanted.interfaceNumber &&
            (wanted.serial.isEmpty() ? info.path == wanted.path : info.serial == wanted.serial);
        if (!same)
            continue;
        Close_Device();
        if (!openInterface(info))
            return false;
        m_writeBusy.store(0);
        emit usbConnect(QStringLiteral("Connected: R321"));
        return true;
    }
    return false;
}

uint8_t myhid::Hid_Write(const QByteArray& piece)
{
    QByteArray report(1, '\0');
    report += r321::fitted(piece, ReportSize);
    if (!m_connected.load())
        return 0;
    if (!m_backend || !m_backend->isOpen())
        return 0;
    if (m_writeBusy.load()) {
        // The previous report never completed: a removed or hung reader.
        markNotConnected("second write before the previous completed");
        return 0;
    }
    m_writeBusy.store(1);
    {
        QMutexLocker lock(&m_lock);
        m_outReport = report;
        m_outGeneration = m_generation.load();
        m_outPending = true;
        m_wake.wakeAll();
    }
    m_watchdog.start();
    return 1;
}

uint8_t myhid::Is_Connected() const
{
    return m_connected.load() ? 1 : 0;
}

void myhid::Close_Device()
{
    {
        QMutexLocker lock(&m_lock);
        m_connected.store(0);
        if (m_outPending) {
            // Never handed to the device, so it will never complete.
            m_outPending = false;
            m_writeBusy.store(0);
        }
    }
    m_watchdog.stop();
    if (m_backend)
        m_backend->close();
}

void myhid::markNotConnected(const char* why)
{
    if (m_connected.exchange(0))
        qCWarning(lcHid) << "link not connected:" << why;
}

void myhid::inHidDevRemoved()
{
    // A removal the read thread saw on an earlier connection must not close a newer one.
    const quint64 reported = m_removedGeneration.exchange(0);
    if (reported != 0 && reported != m_generation.load())
        return;
    Close_Device();
    if (reported != 0)
        emit linkLost();
}

void myhid::onWriteWatchdog()
{
    // Only one report is in flight and the timer restarts with each, so a busy flag
    // here means the current report has been pending for the whole interval.
    if (m_writeBusy.load())
        markNotConnected("output report did not complete in time");
}
