#include "readers/myhid.h"

#include "readers/hidpath.h"
#include "readers/r321frames.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QMutexLocker>

namespace
{

Q_LOGGING_CATEGORY(lcHid, "vantory.hid")

// How long an idle read thread sleeps before it looks at its flags again; the
// wake condition normally ends the wait earlier.
constexpr unsigned long kIdleWaitMs = 200;

} // namespace

readThreadEP1::readThreadEP1(std::shared_ptr<HidLinkState> link) : m_link(std::move(link)) {}

void readThreadEP1::run()
{
    HidLinkState& h = *m_link;
    while (!h.stop.load()) {
        if (!h.connected.load()) {
            QMutexLocker lock(&h.lock);
            if (!h.stop.load() && !h.connected.load())
                h.wake.wait(&h.lock, kIdleWaitMs);
            continue;
        }
        const quint64 generation = h.generation.load();
        QByteArray report;
        const int n = h.backend->read(&report, myhid::ReadTimeoutMs);
        if (h.stop.load())
            break;
        if (n < 0) {
            // The device went away under us: say so once, instead of spinning on errors.
            if (h.generation.load() == generation && h.connected.exchange(0)) {
                h.removedGeneration.store(generation);
                qCWarning(lcHid) << "read failed, device removed";
                emit deviceRemoved();
            }
            continue;
        }
        if (n == 0 || !h.connected.load() || h.generation.load() != generation)
            continue;
        emit hidDevReceive(r321::fitted(report, myhid::ReportSize));
    }
}

writeThreadEP1::writeThreadEP1(std::shared_ptr<HidLinkState> link) : m_link(std::move(link)) {}

void writeThreadEP1::run()
{
    HidLinkState& h = *m_link;
    for (;;) {
        QByteArray report;
        quint64 generation = 0;
        {
            QMutexLocker lock(&h.lock);
            while (!h.stop.load() && !h.outPending && !m_retired.load())
                h.wake.wait(&h.lock);
            if (h.stop.load() || m_retired.load())
                return;
            report = h.outReport;
            generation = h.outGeneration;
            h.outPending = false;
        }
        // A report from before the last reconnect must not reach the new device.
        if (generation != h.generation.load()) {
            h.writeBusy.store(0);
            continue;
        }
        const int written = h.backend->write(report);
        if (h.stop.load() || m_retired.load())
            return; // left or replaced while the call ran: nobody waits for its outcome
        if (written < 0) {
            // Gone: the GUI thread closes the handle, as for a failed read.
            if (h.generation.load() == generation && h.connected.exchange(0)) {
                h.removedGeneration.store(generation);
                qCWarning(lcHid) << "write failed, link not connected";
                emit deviceRemoved();
            }
            h.writeBusy.store(0);
            continue;
        }
        h.writeBusy.store(0);
        emit hidDevSend();
    }
}

void writeThreadEP1::retire()
{
    QMutexLocker lock(&m_link->lock);
    m_retired.store(true);
    m_link->wake.wakeAll();
}

namespace
{

// Link threads that did not end in time on leaving. Kept reachable until they have
// ended (a QThread must not be deleted while it runs); swept at the next leave.
QMutex g_leftThreadsLock;
QVector<QThread*>* leftThreads()
{
    static auto* threads = new QVector<QThread*>();
    return threads;
}

void releaseThread(QThread* thread, bool ended)
{
    QMutexLocker lock(&g_leftThreadsLock);
    QVector<QThread*>& left = *leftThreads();
    for (int i = left.size() - 1; i >= 0; --i) {
        if (left.at(i)->isFinished()) {
            left.at(i)->wait();
            delete left.takeAt(i);
        }
    }
    if (ended) {
        delete thread;
        return;
    }
    qCWarning(lcHid) << "a link thread is still inside a call; left to end by itself";
    left.append(thread);
}

} // namespace

myhid::myhid(HidBackend* backend, QObject* parent)
    : QObject(parent), m_backend(backend), m_link(std::make_shared<HidLinkState>())
{
    m_link->backend = backend;
    m_messageHook = [](const QString& text) { qCWarning(lcHid) << text; };
    connect(this, &myhid::hidDevRemoved, this, &myhid::inHidDevRemoved);
    m_watchdog.setSingleShot(true);
    m_watchdog.setInterval(WriteCompletionTimeoutMs);
    connect(&m_watchdog, &QTimer::timeout, this, &myhid::onWriteWatchdog);
    m_readThread = new readThreadEP1(m_link);
    m_writeThread = new writeThreadEP1(m_link);
    connect(m_readThread, &readThreadEP1::deviceRemoved, this, &myhid::hidDevRemoved);
    connect(m_writeThread, &writeThreadEP1::deviceRemoved, this, &myhid::hidDevRemoved);
    m_readThread->start();
    m_writeThread->start();
}

myhid::~myhid()
{
    stopThreads();
}

void myhid::stopThreads()
{
    {
        QMutexLocker lock(&m_link->lock);
        m_link->stop.store(true);
        m_link->connected.store(0);
        m_link->wake.wakeAll();
    }
    // Closing makes a running read or a stalled write return, so both threads can end;
    // a call hung inside the device may not, and leaving must not hang with it.
    if (m_backend)
        m_backend->close();
    QDeadlineTimer deadline(StopWaitMs);
    const bool readEnded = m_readThread->wait(deadline);
    const bool writeEnded = m_writeThread->wait(deadline);
    m_readThread->disconnect();
    m_writeThread->disconnect();
    releaseThread(m_readThread, readEnded);
    releaseThread(m_writeThread, writeEnded);
    m_readThread = nullptr;
    m_writeThread = nullptr;
}

void myhid::replaceStuckWriter()
{
    // A report of the old connection is still inside the device call (a hung reader that
    // was pulled): the new connection gets a write thread of its own instead of waiting
    // behind that call. The old one ends when its call returns.
    if (!m_link->writeBusy.load())
        return;
    writeThreadEP1* stuck = m_writeThread;
    stuck->disconnect();
    stuck->retire();
    releaseThread(stuck, stuck->wait(0));
    m_link->writeBusy.store(0);
    m_writeThread = new writeThreadEP1(m_link);
    connect(m_writeThread, &writeThreadEP1::deviceRemoved, this, &myhid::hidDevRemoved);
    m_writeThread->start();
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

QString myhid::identityOf(const HidInterfaceInfo& info)
{
    return info.serial.isEmpty() ? hidpath::location(info.path) : info.serial;
}

void myhid::Connect(const QString& identity, const Claim& claim)
{
    m_selVendorId = 0;
    m_selProductId = 0;
    m_selInterface = 0;
    m_selIdentity.clear();
    m_inUse = false;
    const int n = findAndOpen(true);
    const QVector<HidInterfaceInfo> found = m_searchResult;
    for (int i = 0; i < n && i < found.size(); ++i) {
        if (found.at(i).vendorId != R321VendorId)
            continue;
        const QString id = identityOf(found.at(i));
        if (!identity.isEmpty() && id != identity)
            continue;
        if (claim && !claim(id)) {
            m_inUse = true;
            continue;
        }
        m_inUse = false;
        Close_Device();
        qCDebug(lcHid) << "R321 candidate" << i;
        m_selVendorId = found.at(i).vendorId;
        m_selProductId = found.at(i).productId;
        m_selInterface = found.at(i).interfaceNumber;
        m_selIdentity = id;
        if (Find_And_Open() == i) {
            m_link->writeBusy.store(0);
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
            info.interfaceNumber != m_selInterface ||
            (!m_selIdentity.isEmpty() && identityOf(info) != m_selIdentity))
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
    replaceStuckWriter();
    {
        QMutexLocker lock(&m_link->lock);
        m_link->generation.fetch_add(1);
        m_link->connected.store(1);
        m_link->wake.wakeAll();
    }
    qCDebug(lcHid) << "opened" << info.path;
    return true;
}

bool myhid::Reconnect(const HidInterfaceInfo& wanted)
{
    if (m_link->connected.load())
        return true;
    if (!m_backend || wanted.vendorId == 0)
        return false;
    const QVector<HidInterfaceInfo> list = m_backend->enumerate();
    for (HidInterfaceInfo info : list) {
        if (info.interfaceNumber < 0)
            info.interfaceNumber = hidpath::interfaceNumber(info.path);
        const bool same =
            info.vendorId == wanted.vendorId && info.productId == wanted.productId &&
            info.interfaceNumber == wanted.interfaceNumber && identityOf(info) == identityOf(wanted);
        if (!same)
            continue;
        Close_Device();
        if (!openInterface(info))
            return false;
        m_link->writeBusy.store(0);
        emit usbConnect(QStringLiteral("Connected: R321"));
        return true;
    }
    return false;
}

uint8_t myhid::Hid_Write(const QByteArray& piece)
{
    QByteArray report(1, '\0');
    report += r321::fitted(piece, ReportSize);
    if (!m_link->connected.load())
        return 0;
    if (!m_backend || !m_backend->isOpen())
        return 0;
    if (m_link->writeBusy.load()) {
        // The previous report never completed: a removed or hung reader.
        markNotConnected("second write before the previous completed");
        return 0;
    }
    m_link->writeBusy.store(1);
    {
        QMutexLocker lock(&m_link->lock);
        m_link->outReport = report;
        m_link->outGeneration = m_link->generation.load();
        m_link->outPending = true;
        m_link->wake.wakeAll();
    }
    m_watchdog.start();
    return 1;
}

uint8_t myhid::Is_Connected() const
{
    return m_link->connected.load() ? 1 : 0;
}

void myhid::Close_Device()
{
    {
        QMutexLocker lock(&m_link->lock);
        m_link->connected.store(0);
        if (m_link->outPending) {
            // Never handed to the device, so it will never complete.
            m_link->outPending = false;
            m_link->writeBusy.store(0);
        }
    }
    m_watchdog.stop();
    if (m_backend)
        m_backend->close();
}

void myhid::markNotConnected(const char* why)
{
    if (m_link->connected.exchange(0))
        qCWarning(lcHid) << "link not connected:" << why;
}

void myhid::inHidDevRemoved()
{
    // A removal the read thread saw on an earlier connection must not close a newer one.
    const quint64 reported = m_link->removedGeneration.exchange(0);
    if (reported != 0 && reported != m_link->generation.load())
        return;
    Close_Device();
    if (reported != 0)
        emit linkLost();
}

void myhid::onWriteWatchdog()
{
    // Only one report is in flight and the timer restarts with each, so a busy flag
    // here means the current report has been pending for the whole interval.
    // The link is taken as lost, as when a read or write finds the device gone, so that
    // an operation waiting on it ends now rather than at its reply time-out.
    if (m_link->writeBusy.load() && m_link->connected.load()) {
        markNotConnected("output report did not complete in time");
        emit linkLost();
    }
}
