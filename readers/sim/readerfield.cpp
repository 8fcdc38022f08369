#include "readers/sim/readerfield.h"

#include <QLoggingCategory>
#include <QMutexLocker>
#include <algorithm>

namespace
{

Q_LOGGING_CATEGORY(lcSim, "vantory.sim")

int idx(SimReaderKind reader)
{
    return reader == SimReaderKind::R321 ? 0 : 1;
}

// Request sizes with CRC: flags, command, UID, parameters.
constexpr int kAddressedHead = 1 + 1 + 8;
constexpr int kCrc = 2;

} // namespace

ReaderField::ReaderField(QObject* parent) : QObject(parent)
{
    m_clock.start();
}

void ReaderField::layTag(std::shared_ptr<VirtualTag> tag)
{
    if (!tag)
        return;
    {
        QMutexLocker lock(&m_mutex);
        const QByteArray uid = tag->uidMsbFirst();
        auto same = std::find_if(m_tags.begin(), m_tags.end(),
                                 [&uid](const auto& t) { return t->uidMsbFirst() == uid; });
        if (same != m_tags.end())
            *same = tag;
        else
            m_tags.append(tag);
        if (m_strict)
            tag->setStrictWriteLimit(true);
    }
    qCDebug(lcSim) << "tag laid" << tag->uidMsbFirst().toHex(' ');
    emit tagsChanged();
}

bool ReaderField::removeTag(const QByteArray& uidMsbFirst)
{
    std::shared_ptr<VirtualTag> removed;
    {
        QMutexLocker lock(&m_mutex);
        for (int i = 0; i < m_tags.size(); ++i) {
            if (m_tags.at(i)->uidMsbFirst() == uidMsbFirst) {
                removed = m_tags.takeAt(i);
                break;
            }
        }
    }
    if (!removed)
        return false;
    removed->leaveField();
    emit tagsChanged();
    return true;
}

void ReaderField::clearLocked()
{
    for (const auto& t : qAsConst(m_tags))
        t->leaveField();
    m_tags.clear();
}

void ReaderField::clear()
{
    {
        QMutexLocker lock(&m_mutex);
        clearLocked();
    }
    emit tagsChanged();
}

QList<std::shared_ptr<VirtualTag>> ReaderField::tags() const
{
    QMutexLocker lock(&m_mutex);
    return m_tags;
}

int ReaderField::tagCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_tags.size();
}

std::shared_ptr<VirtualTag> ReaderField::findByUidMsbFirst(const QByteArray& uid) const
{
    QMutexLocker lock(&m_mutex);
    for (const auto& t : m_tags)
        if (t->uidMsbFirst() == uid)
            return t;
    return nullptr;
}

std::shared_ptr<VirtualTag> ReaderField::findByUidLsbFirst(const QByteArray& uid) const
{
    QByteArray msb = uid;
    std::reverse(msb.begin(), msb.end());
    return findByUidMsbFirst(msb);
}

QByteArray ReaderField::transceiveRaw(const QByteArray& request)
{
    const QList<std::shared_ptr<VirtualTag>> present = tags();
    if (request.size() < 2 || present.isEmpty())
        return {};
    const bool addressed = static_cast<uint8_t>(request.at(0)) & 0x20;
    if (!addressed) {
        // Two tags answering a non-addressed request collide; the reader hears nothing.
        return present.size() == 1 ? present.first()->transceiveRaw(request) : QByteArray();
    }
    // Each tag checks the UID itself; at most one of them answers.
    for (const auto& t : present) {
        const QByteArray r = t->transceiveRaw(request);
        if (!r.isEmpty())
            return r;
    }
    return {};
}

void ReaderField::armReplyFault(SimReplyFault fault, int count, int skip, int onlyCommand)
{
    QMutexLocker lock(&m_mutex);
    m_fault = ArmedFault{fault, count, std::max(0, skip), onlyCommand};
}

void ReaderField::removeTagsAfter(int commands)
{
    QMutexLocker lock(&m_mutex);
    m_removeCountdown = std::max(0, commands);
}

void ReaderField::setUnplugged(SimReaderKind reader, bool unplugged)
{
    QMutexLocker lock(&m_mutex);
    if (unplugged && !m_unplugged[idx(reader)])
        ++m_unplugCount[idx(reader)];
    m_unplugged[idx(reader)] = unplugged;
}

bool ReaderField::isUnplugged(SimReaderKind reader) const
{
    QMutexLocker lock(&m_mutex);
    return m_unplugged[idx(reader)];
}

quint64 ReaderField::unplugCount(SimReaderKind reader) const
{
    QMutexLocker lock(&m_mutex);
    return m_unplugCount[idx(reader)];
}

void ReaderField::setHung(SimReaderKind reader, bool hung)
{
    QMutexLocker lock(&m_mutex);
    m_hung[idx(reader)] = hung;
}

bool ReaderField::isHung(SimReaderKind reader) const
{
    QMutexLocker lock(&m_mutex);
    return m_hung[idx(reader)];
}

void ReaderField::clearFaults()
{
    QMutexLocker lock(&m_mutex);
    m_fault = ArmedFault{};
    m_removeCountdown = -1;
    m_unplugged[0] = m_unplugged[1] = false;
    m_hung[0] = m_hung[1] = false;
}

SimReplyFault ReaderField::beginCommand(int command)
{
    bool removed = false;
    SimReplyFault result = SimReplyFault::None;
    {
        QMutexLocker lock(&m_mutex);
        if (m_removeCountdown == 0) {
            clearLocked();
            m_removeCountdown = -1;
            removed = true;
        } else if (m_removeCountdown > 0) {
            --m_removeCountdown;
        }
        ArmedFault& f = m_fault;
        if (f.fault != SimReplyFault::None && f.count != 0 &&
            (f.onlyCommand < 0 || f.onlyCommand == command)) {
            if (f.skip > 0) {
                --f.skip;
            } else {
                result = f.fault;
                if (f.count > 0 && --f.count == 0)
                    f = ArmedFault{};
            }
        }
    }
    if (removed) {
        qCDebug(lcSim) << "tags taken away mid-sequence";
        emit tagsChanged();
    }
    return result;
}

void ReaderField::logCommand(const SimCommandRecord& record)
{
    QMutexLocker lock(&m_mutex);
    m_log.append(record);
}

QVector<SimCommandRecord> ReaderField::commandLog() const
{
    QMutexLocker lock(&m_mutex);
    return m_log;
}

void ReaderField::clearCommandLog()
{
    QMutexLocker lock(&m_mutex);
    m_log.clear();
}

qint64 ReaderField::elapsedUs() const
{
    return m_clock.nsecsElapsed() / 1000;
}

void ReaderField::setStrictSt25dv(bool strict)
{
    QMutexLocker lock(&m_mutex);
    m_strict = strict;
    for (const auto& tag : qAsConst(m_tags))
        tag->setStrictWriteLimit(strict);
}

bool ReaderField::strictSt25dv() const
{
    QMutexLocker lock(&m_mutex);
    return m_strict;
}

void ReaderField::setLatencyEnabled(bool enabled)
{
    QMutexLocker lock(&m_mutex);
    m_latency = enabled;
}

bool ReaderField::latencyEnabled() const
{
    QMutexLocker lock(&m_mutex);
    return m_latency;
}

qint64 ReaderField::airTimeUs(int requestBytes, int responseBytes, int programmedBlocks)
{
    qint64 t = ByteUs * std::max(0, requestBytes) + FrameUs + T1Us;
    if (responseBytes > 0)
        t += ByteUs * responseBytes + FrameUs;
    return t + EepromBlockUs * std::max(0, programmedBlocks);
}

qint64 ReaderField::inventoryAirTimeUs(int tags)
{
    // Request: flags, command, mask length, CRC. Each answer: flags, DSFID, UID, CRC.
    const int request = 3 + kCrc;
    const int answer = 2 + 8 + kCrc;
    if (tags <= 0)
        return airTimeUs(request, 0);
    return airTimeUs(request, answer) + (tags - 1) * (ByteUs * answer + FrameUs + T1Us);
}

qint64 ReaderField::readAirTimeUs(int blocks)
{
    const int b = std::max(0, blocks);
    return airTimeUs(kAddressedHead + 2 + kCrc, 1 + 4 * b + kCrc);
}

qint64 ReaderField::writeAirTimeUs(int blocks)
{
    const int b = std::max(0, blocks);
    return airTimeUs(kAddressedHead + 2 + 4 * b + kCrc, 1 + kCrc, b);
}

qint64 ReaderField::rawAirTimeUs(const QByteArray& request, const QByteArray& response)
{
    if (request.size() < 2)
        return 0;
    const uint8_t cmd = static_cast<uint8_t>(request.at(1));
    int programmed = 0;
    if (cmd == VirtualTag::CmdWritePassword)
        programmed = 2;
    else if (cmd == VirtualTag::CmdWriteConfiguration)
        programmed = 1;
    // A failed write programs nothing.
    if (!response.isEmpty() && (static_cast<uint8_t>(response.at(0)) & 0x01))
        programmed = 0;
    return airTimeUs(request.size() + kCrc, response.size(), programmed);
}
