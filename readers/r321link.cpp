#include "readers/r321link.h"

#include "readers/myhid.h"
#include "readers/myreader.h"

#include <QLoggingCategory>

namespace
{

Q_LOGGING_CATEGORY(lcR321Link, "vantory.hid")

constexpr int kDeviceNameFrom = 11;
constexpr int kDeviceNameLength = 17;

} // namespace

R321Link::R321Link(const ReaderChoice& choice, HidBackend* backend, QObject* parent)
    : ReaderLink(choice, parent), m_systemWide(backend && backend->systemWide())
{
    m_myhid = new myhid(backend, this);
    m_myreader = new myreader(m_myhid, this);
    m_myhid->setMessageHook([this](const QString& text) {
        qCWarning(lcR321Link) << text;
        if (!m_quiet)
            emit openFailed(text, m_myhid->openFailedPath());
    });
    connect(m_myhid, &myhid::usbConnect, this, &R321Link::in_usbConnect);
    connect(m_myhid, &myhid::linkLost, this, [this] {
        emit disconnected();
        emit answerLost();
    });
    // Stamped where the report arrives, so that a reply received before a command went
    // out is never taken for that command's, however late the GUI thread gets to it.
    connect(
        m_myhid->readThread(), &readThreadEP1::hidDevReceive, this,
        [this](const QByteArray& rx) {
            const qint64 at = replies::clock();
            QMetaObject::invokeMethod(
                this, [this, rx, at] { in_hidDevReceive_usbDebug(rx, at); }, Qt::QueuedConnection);
        },
        Qt::DirectConnection);
    connect(m_myhid->writeThread(), &writeThreadEP1::hidDevSend, m_myreader,
            &myreader::in_hidDevSend_Myreader);
}

R321Link::~R321Link()
{
    // The threads first: nothing may arrive for a link half gone.
    delete m_myhid;
    m_myhid = nullptr;
}

bool R321Link::open()
{
    // The outcome arrives through myhid::usbConnect (in_usbConnect).
    if (m_myhid->Is_Connected() != 0)
        return true;
    m_myhid->Connect(choice().identity, [this](const QString& id) {
        return m_claim.take(QStringLiteral("r321 ") + id, m_systemWide);
    });
    if (isConnected())
        return true;
    // Never connected: nothing to hold for a reconnection.
    if (m_wanted.vendorId == 0)
        m_claim.release();
    if (m_myhid->lastConnectInUse())
        emit inUse(choice().identity);
    return false;
}

bool R321Link::isConnected() const
{
    return m_myhid->Is_Connected() != 0;
}

void R321Link::watch()
{
    // Only the R321 connected before, or the one chosen by its identity; success arrives
    // at in_usbConnect.
    if (isConnected())
        return;
    if (m_wanted.vendorId != 0)
        m_myhid->Reconnect(m_wanted);
    else if (!choice().identity.isEmpty()) {
        // Looked for every second until it comes: why it cannot be opened was told once.
        m_quiet = true;
        open();
        m_quiet = false;
    }
}

void R321Link::in_usbConnect(const QString& curUSBInfo)
{
    if (curUSBInfo.isEmpty()) {
        m_device_name.clear();
        emit cleared();
        return;
    }
    // A replaced write thread (a stuck one retired) has to drive the frames as well.
    connect(m_myhid->writeThread(), &writeThreadEP1::hidDevSend, m_myreader,
            &myreader::in_hidDevSend_Myreader, Qt::UniqueConnection);
    m_crc.reset(); // a new reader: learn its CRC anew
    m_wanted = m_myhid->connectedInterface();
    setIdentity(myhid::identityOf(m_wanted));
    m_device_name = curUSBInfo.mid(kDeviceNameFrom, kDeviceNameLength);
    emit connected();
    sendFrame(m_myreader->Cmd_Init());
}

void R321Link::in_hidDevReceive_usbDebug(QByteArray rxArray, qint64 receivedAt)
{
    if (rxArray.isEmpty())
        return;
    replies::Reply reply = replies::fromR321(rxArray, &m_crc);
    reply.receivedAt = receivedAt >= 0 ? receivedAt : replies::clock();
    emit replied(reply);
}

void R321Link::sendFrame(const QByteArray& frame)
{
    m_myreader->Send_Frame(frame);
}

void R321Link::inventory()
{
    sendFrame(m_myreader->Cmd_Inventory());
}

void R321Link::readBlocks(const QByteArray& uid, uint8_t first, uint8_t count)
{
    sendFrame(m_myreader->Cmd_ReadBlocks(uid, first, count));
}

void R321Link::writeBlocks(const QByteArray& uid, uint8_t first, const QByteArray& data,
                           uint8_t count)
{
    sendFrame(m_myreader->Cmd_WriteBlocks(uid, first, data, count));
}

void R321Link::customCommand(const QByteArray& uid, uint8_t isoCommand,
                             const QByteArray& parameters)
{
    sendFrame(m_myreader->Cmd_Transparent(uid, isoCommand, parameters, parameters.size()));
}

void R321Link::beep(bool on)
{
    beep_cmd[1] = on ? 1 : 0;
    const QByteArray record(reinterpret_cast<const char*>(beep_cmd.data()),
                            static_cast<int>(beep_cmd.size()));
    sendFrame(m_myreader->Cmd_Raw(record, record.size()));
}

QByteArray R321Link::uidMsbFirst(const QByteArray& uid) const
{
    // The R321 reports the UID least significant byte first.
    return replies::feInverted(uid);
}
