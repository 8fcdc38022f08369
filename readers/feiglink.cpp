#include "readers/feiglink.h"

#include "readers/feigworker.h"
#include "readers/feusbapi.h"
#include "readers/myfeigusb.h"

namespace
{

constexpr uint8_t kIsoPresentPassword = 0xB3;
constexpr uint8_t kIsoWritePassword = 0xB1;
constexpr uint8_t kIsoWriteConfiguration = 0xA1;

} // namespace

FeigLink::FeigLink(const ReaderChoice& choice, FeusbApi* api, QObject* parent)
    : ReaderLink(choice, parent)
{
    m_feig = new MyFeigUsb(this);
    m_feig_thread = new writeThreadFEIG1(api);
    const bool systemWide = api && api->systemWide();
    // Asked on the worker thread as well (a reopen after an unplug); the claim is safe there.
    m_feig_thread->setWanted(choice.identity, [this, systemWide](const QString& id) {
        return m_claim.take(QStringLiteral("feig ") + id, systemWide);
    });
    // Stamped on the worker as the library hands the reply over.
    connect(
        m_feig_thread, &writeThreadFEIG1::FeigDevReceive, this,
        [this](const QByteArray& rx) {
            const qint64 at = replies::clock();
            QMetaObject::invokeMethod(
                this, [this, rx, at] { in_FeigDevReceive_Debug(rx, at); }, Qt::QueuedConnection);
        },
        Qt::DirectConnection);
    connect(m_feig_thread, &writeThreadFEIG1::transceiveDone, this, [this] {
        if (m_feig_outstanding > 0)
            --m_feig_outstanding;
    });
}

FeigLink::~FeigLink()
{
    // Stops the worker (the request in flight finishes first) before the link goes.
    delete m_feig_thread;
    m_feig_thread = nullptr;
}

bool FeigLink::open()
{
    if (m_feig_thread->Feig_Reopen() == 0) {
        const bool held = m_feig_thread->lastOpenInUse();
        if (!m_feig_wanted)
            m_claim.release();
        if (held)
            emit inUse(choice().identity);
        return false;
    }
    setIdentity(m_feig_thread->deviceId());
    m_feig_wanted = true;
    m_feig_outstanding = 0;
    emit connected();
    return true;
}

bool FeigLink::isConnected() const
{
    return m_feig_thread->Feig_IsConnected() != 0;
}

void FeigLink::watch()
{
    // A reader connected before, or the one chosen by its identity (it may come later).
    if (!m_feig_wanted && choice().identity.isEmpty())
        return;
    if (isConnected()) {
        m_feig_lost_shown = false;
        return;
    }
    if (!m_feig_lost_shown) {
        emit disconnected();
        m_feig_lost_shown = true;
    }
    // Not while the library still holds a request: opening waits for it.
    if (m_feig_outstanding == 0 && open())
        m_feig_lost_shown = false;
}

void FeigLink::in_FeigDevReceive_Debug(QByteArray rxArray, qint64 receivedAt)
{
    if (rxArray.isEmpty()) {
        // The library could not reach the reader: the request's answer is lost.
        emit answerLost();
        return;
    }
    replies::Reply reply = replies::fromFeig(rxArray);
    reply.receivedAt = receivedAt >= 0 ? receivedAt : replies::clock();
    emit replied(reply);
}

void FeigLink::send(const QByteArray& frame)
{
    m_feig_thread->Feig_Send(frame, frame.size());
    ++m_feig_outstanding;
}

void FeigLink::inventory()
{
    send(m_feig->Feig_Inventory());
}

void FeigLink::readBlocks(const QByteArray& uid, uint8_t first, uint8_t count)
{
    send(m_feig->Feig_ReadBlocks(uid, first, count));
}

void FeigLink::writeBlocks(const QByteArray& uid, uint8_t first, const QByteArray& data,
                           uint8_t count)
{
    // The reader takes each block's bytes in reverse order.
    const QByteArray reversed = feigframe::reverseEachBlock(data);
    send(m_feig->Feig_WriteBlocks(uid, first, count, reversed, reversed.size()));
}

void FeigLink::customCommand(const QByteArray& uid, uint8_t isoCommand,
                             const QByteArray& parameters)
{
    const QByteArray uid_reversed = FEInverted(uid);
    const uint8_t first = parameters.isEmpty() ? 0 : static_cast<uint8_t>(parameters.at(0));
    switch (isoCommand) {
    case kIsoPresentPassword:
        send(m_feig->Feig_PresentPassword(uid_reversed, first, parameters.mid(1)));
        break;
    case kIsoWritePassword:
        send(m_feig->Feig_WritePassword(uid_reversed, first, parameters.mid(1)));
        break;
    case kIsoWriteConfiguration:
        // The register pointer is the frame's own (RFA1SS); the value follows it.
        send(m_feig->Feig_WriteConfig(uid_reversed, parameters.size() > 1
                                                        ? static_cast<uint8_t>(parameters.at(1))
                                                        : uint8_t(0)));
        break;
    default:
        qCWarning(lcFeig) << "no FEIG frame for custom command" << isoCommand;
        break;
    }
}

void FeigLink::beep(bool on)
{
    send(m_feig->Feig_SetOutput(on ? 1 : 0));
}
