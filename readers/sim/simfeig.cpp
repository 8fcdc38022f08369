#include "readers/sim/simfeig.h"

#include "readers/myfeigusb.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QThread>
#include <algorithm>
#include <cstring>

namespace
{

Q_LOGGING_CATEGORY(lcSimFeig, "vantory.sim")

uint8_t at(const QByteArray& a, int i)
{
    return static_cast<uint8_t>(a.at(i));
}

constexpr int kReplyOverhead = 8; // start, length, address, command, status, CRC
constexpr int kReadRecordSize = 5;
constexpr int kMaxReply = 400;
// Blocks whose read reply still fits the reader's 400-byte frame.
constexpr int kMaxReadBlocks = (kMaxReply - kReplyOverhead - 2) / kReadRecordSize;
constexpr uint8_t kTrTypeIso15693 = 0x03;
constexpr int kHungPollMs = 20;

// Every 4-byte block with its bytes in reverse order (the reader's order <-> the tag's).
QByteArray reversedBlocks(QByteArray data)
{
    for (int i = 0; i + 4 <= data.size(); i += 4)
        std::reverse(data.begin() + i, data.begin() + i + 4);
    return data;
}

} // namespace

SimFeig::SimFeig(ReaderField* field, int handleBase) : m_field(field), m_handleBase(handleBase) {}

QByteArray SimFeig::buildReply(uint8_t command, uint8_t status, const QByteArray& data)
{
    QByteArray body(1, static_cast<char>(status));
    body.append(data);
    return feigframe::build(feigframe::kReaderAddress, command, body);
}

int SimFeig::ScanAndOpen(int, void*)
{
    return openHandle();
}

int SimFeig::openHandle()
{
    if (m_field && m_field->isUnplugged(SimReaderKind::Feig))
        return ErrNoReader;
    const quint64 generation = m_field ? m_field->unplugCount(SimReaderKind::Feig) : 0;
    QMutexLocker lock(&m_mutex);
    ++m_openCount;
    const int handle = m_handleBase + m_openCount;
    m_handles.insert(handle, generation);
    return handle;
}

int SimFeig::Scan(int, void*)
{
    const bool present = !m_field || !m_field->isUnplugged(SimReaderKind::Feig);
    QMutexLocker lock(&m_mutex);
    m_listed = present;
    return 0;
}

int SimFeig::GetScanListSize()
{
    QMutexLocker lock(&m_mutex);
    return m_listed ? 1 : 0;
}

int SimFeig::GetScanListPara(int iIndex, char* cPara, char* cValue)
{
    QMutexLocker lock(&m_mutex);
    if (!m_listed || iIndex != 0 || !cPara || !cValue)
        return ErrParameter;
    if (std::strcmp(cPara, "Device-ID") != 0)
        return ErrParameter;
    const QByteArray id = m_deviceId.toLatin1();
    std::memcpy(cValue, id.constData(), size_t(id.size()) + 1);
    return 0;
}

int SimFeig::OpenDevice(long dwDeviceID)
{
    {
        QMutexLocker lock(&m_mutex);
        if (static_cast<qulonglong>(dwDeviceID) != m_deviceId.toULongLong(nullptr, 16))
            return ErrNoReader;
    }
    return openHandle();
}

void SimFeig::setDeviceId(const QString& id)
{
    QMutexLocker lock(&m_mutex);
    m_deviceId = id.toUpper();
}

QString SimFeig::deviceId() const
{
    QMutexLocker lock(&m_mutex);
    return m_deviceId;
}

bool SimFeig::ownsHandle(int handle) const
{
    QMutexLocker lock(&m_mutex);
    return m_handles.contains(handle);
}

bool SimFeig::handleAlive(int handle) const
{
    quint64 generation = 0;
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_handles.constFind(handle);
        if (it == m_handles.constEnd())
            return false;
        generation = it.value();
    }
    // A reader unplugged since the handle was opened has lost it for good.
    return !m_field || (!m_field->isUnplugged(SimReaderKind::Feig) &&
                        m_field->unplugCount(SimReaderKind::Feig) == generation);
}

int SimFeig::SetDevicePara(int iDevHnd, char* cPara, char* cValue)
{
    if (!handleAlive(iDevHnd))
        return ErrBadHandle;
    if (!cPara || !cValue)
        return ErrParameter;
    if (std::strcmp(cPara, "TIMEOUT") == 0) {
        bool ok = false;
        const int value = QByteArray(cValue).toInt(&ok);
        if (!ok || value <= 0)
            return ErrParameter;
        QMutexLocker lock(&m_mutex);
        m_timeoutMs = value;
    }
    return 0;
}

int SimFeig::CloseDevice(int iDevHnd)
{
    QMutexLocker lock(&m_mutex);
    if (m_handles.remove(iDevHnd) == 0)
        return ErrBadHandle;
    ++m_closeCount;
    return 0;
}

int SimFeig::waitWhileHung(int handle)
{
    int timeoutMs = 0;
    {
        QMutexLocker lock(&m_mutex);
        timeoutMs = m_timeoutMs;
    }
    // A hung reader never answers: the call ends with a time-out error, or at once when
    // the reader is unplugged meanwhile.
    QDeadlineTimer deadline(timeoutMs);
    while (m_field && m_field->isHung(SimReaderKind::Feig)) {
        if (!handleAlive(handle))
            return ErrBadHandle;
        if (deadline.hasExpired())
            return ErrTimeout;
        QThread::msleep(static_cast<unsigned long>(
            std::clamp<qint64>(deadline.remainingTime(), 1, kHungPollMs)));
    }
    return 0;
}

int SimFeig::Transceive(int iDevHnd, char* cInterface, int, unsigned char* cSendData, int iSendLen,
                        unsigned char* cRecData, int iRecLen)
{
    if (!handleAlive(iDevHnd))
        return ErrBadHandle;
    if (!cInterface || std::strcmp(cInterface, "OBID-RCI2") != 0 || !cSendData || iSendLen <= 0 ||
        !cRecData || iRecLen <= 0)
        return ErrParameter;
    if (const int hung = waitWhileHung(iDevHnd); hung < 0)
        return hung;

    const QByteArray request(reinterpret_cast<const char*>(cSendData), iSendLen);
    SimCommandRecord record;
    record.reader = SimReaderKind::Feig;
    record.timestampUs = m_field ? m_field->elapsedUs() : 0;
    record.request = request;

    const int declared = request.size() >= 3 ? (at(request, 1) << 8) | at(request, 2) : -1;
    if (request.size() < feigframe::kMinFrameSize || at(request, 0) != feigframe::kStart ||
        declared != request.size()) {
        // Not an OBID-RCI2 frame at all: the reader keeps silent.
        record.crcOk = false;
        if (m_field)
            m_field->logCommand(record);
        qCDebug(lcSimFeig) << "FEIG: malformed frame" << request.toHex(' ');
        return 0;
    }
    const uint8_t command = at(request, 4);
    record.command = command;
    record.crcOk = feigframe::isValid(request);
    const SimReplyFault fault = m_field ? m_field->beginCommand(command) : SimReplyFault::None;

    Outcome out;
    if (!record.crcOk) {
        out.status = StatusCrcError;
        qCDebug(lcSimFeig) << "FEIG: CRC error in" << request.toHex(' ');
    } else {
        out = execute(command, request.mid(5, request.size() - feigframe::kMinFrameSize), &record);
    }
    if (fault == SimReplyFault::FailingStatus) {
        const bool isWrite = command == feigframe::kCmdIsoHost && request.size() > 5 &&
                             at(request, 5) == feigframe::kIsoWriteMultiple;
        out.status = isWrite ? StatusWriteError : StatusRfError;
        out.data.clear();
    }
    QByteArray reply = buildReply(command, out.status, out.data);
    if (fault == SimReplyFault::BadCrc) {
        reply[reply.size() - 2] = static_cast<char>(at(reply, reply.size() - 2) ^ 0xFF);
    } else if (fault == SimReplyFault::FlippedPayload) {
        // The first data byte, or the status when there is no data; the CRC stays as it was.
        const int i = reply.size() > kReplyOverhead ? 6 : 5;
        reply[i] = static_cast<char>(at(reply, i) ^ 0xFF);
    }
    if (m_field)
        m_field->logCommand(record);
    if (fault == SimReplyFault::NoReply)
        return 0;

    if (m_field && m_field->latencyEnabled() && record.airTimeUs > 0)
        QThread::usleep(static_cast<unsigned long>(record.airTimeUs));
    if (!handleAlive(iDevHnd))
        return ErrBadHandle;
    const int n = std::min(reply.size(), iRecLen);
    std::memcpy(cRecData, reply.constData(), static_cast<size_t>(n));
    return n;
}

SimFeig::Outcome SimFeig::execute(uint8_t command, const QByteArray& data, SimCommandRecord* record)
{
    Outcome out;
    switch (command) {
    case feigframe::kCmdIsoHost:
        if (data.isEmpty()) {
            out.status = StatusLengthError;
            return out;
        }
        switch (at(data, 0)) {
        case feigframe::kIsoInventory:
            return inventory(record);
        case feigframe::kIsoReadMultiple:
            return readOrWrite(false, data, record);
        case feigframe::kIsoWriteMultiple:
            return readOrWrite(true, data, record);
        default:
            out.status = StatusUnknownCommand;
            return out;
        }
    case feigframe::kCmdTransparent:
        return transparent(data, record);
    case feigframe::kCmdSetOutput: {
        if (data.size() != 6) {
            out.status = StatusLengthError;
            return out;
        }
        QMutexLocker lock(&m_mutex);
        m_outputOn = at(data, 3) != 0;
        ++m_outputCommands;
        return out;
    }
    default:
        out.status = StatusUnknownCommand;
        return out;
    }
}

SimFeig::Outcome SimFeig::inventory(SimCommandRecord* record)
{
    Outcome out;
    record->isoCommand = VirtualTag::CmdInventory;
    const auto tags = m_field ? m_field->tags() : QList<std::shared_ptr<VirtualTag>>();
    record->airTimeUs = ReaderField::inventoryAirTimeUs(tags.size());
    const int n = std::min<int>(tags.size(), MaxInventoryRecords);
    if (n == 0) {
        out.status = StatusNoTransponder;
        return out;
    }
    out.data.append(static_cast<char>(n));
    for (int i = 0; i < n; ++i) {
        out.data.append(static_cast<char>(kTrTypeIso15693));
        out.data.append('\0'); // DSFID
        out.data.append(tags.at(i)->uidMsbFirst());
    }
    return out;
}

SimFeig::Outcome SimFeig::readOrWrite(bool write, const QByteArray& data, SimCommandRecord* record)
{
    Outcome out;
    record->isoCommand = write ? VirtualTag::CmdWriteMultiple : VirtualTag::CmdReadMultiple;
    // Sub-command, mode, UID, first block, count [, block size, data].
    if (data.size() < 12) {
        out.status = StatusLengthError;
        return out;
    }
    if (at(data, 1) != 0x01) { // only the addressed mode is simulated
        out.status = StatusUnknownCommand;
        return out;
    }
    const QByteArray uid = data.mid(2, 8);
    const int first = at(data, 10);
    const int count = at(data, 11);
    record->firstBlock = first;
    record->blockCount = count;
    const bool shapeOk = write ? (data.size() >= 13 && at(data, 12) == VirtualTag::BlockSize &&
                                  data.size() == 13 + VirtualTag::BlockSize * count)
                               : (data.size() == 12 && count <= kMaxReadBlocks);
    if (count == 0 || !shapeOk) {
        out.status = StatusLengthError;
        return out;
    }
    const int requestBytes = 12 + 2 + (write ? VirtualTag::BlockSize * count : 0);
    const auto tag = m_field ? m_field->findByUidMsbFirst(uid) : nullptr;
    if (!tag) {
        record->airTimeUs = ReaderField::airTimeUs(requestBytes, 0);
        out.status = StatusNoTransponder;
        return out;
    }
    QByteArray blocks;
    // The reader carries every block most significant byte first, in both directions.
    const uint8_t isoError = write ? tag->writeBlocks(first, count, reversedBlocks(data.mid(13)))
                                   : tag->readBlocks(first, count, &blocks);
    if (isoError != 0) {
        record->airTimeUs = ReaderField::airTimeUs(requestBytes, 4);
        out.status = StatusIsoError;
        out.data.append(static_cast<char>(isoError));
        return out;
    }
    record->airTimeUs =
        write ? ReaderField::writeAirTimeUs(count) : ReaderField::readAirTimeUs(count);
    if (write)
        return out;
    out.data.append(static_cast<char>(count));
    out.data.append(static_cast<char>(VirtualTag::BlockSize));
    for (int b = 0; b < count; ++b) {
        QByteArray block = blocks.mid(b * VirtualTag::BlockSize, VirtualTag::BlockSize);
        std::reverse(block.begin(), block.end());
        out.data.append('\0'); // block security status: not locked
        out.data.append(block);
    }
    return out;
}

SimFeig::Outcome SimFeig::transparent(const QByteArray& data, SimCommandRecord* record)
{
    Outcome out;
    // Mode, response length (2), two fixed bytes, then the raw request: flags, command, ...
    if (data.size() < 7) {
        out.status = StatusLengthError;
        return out;
    }
    const QByteArray raw = data.mid(5);
    record->isoCommand = at(raw, 1);
    const QByteArray response = m_field ? m_field->transceiveRaw(raw) : QByteArray();
    record->airTimeUs = ReaderField::rawAirTimeUs(raw, response);
    if (response.isEmpty()) {
        out.status = StatusNoTransponder;
        return out;
    }
    if (at(response, 0) & 0x01) {
        out.status = StatusIsoError;
        out.data.append(response.size() > 1 ? response.at(1) : char(VirtualTag::ErrGeneric));
        return out;
    }
    out.data = response;
    return out;
}

int SimFeig::openCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_openCount;
}

int SimFeig::closeCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_closeCount;
}

int SimFeig::openHandles() const
{
    QMutexLocker lock(&m_mutex);
    return m_handles.size();
}

int SimFeig::timeoutMs() const
{
    QMutexLocker lock(&m_mutex);
    return m_timeoutMs;
}

bool SimFeig::outputOn() const
{
    QMutexLocker lock(&m_mutex);
    return m_outputOn;
}

int SimFeig::outputCommands() const
{
    QMutexLocker lock(&m_mutex);
    return m_outputCommands;
}
