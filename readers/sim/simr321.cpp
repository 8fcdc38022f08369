#include "readers/sim/simr321.h"

#include "readers/crc16.h"
#include "readers/r321frames.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QMutexLocker>

namespace
{

Q_LOGGING_CATEGORY(lcSimR321, "vantory.sim")

constexpr int kFrameOverhead = 12; // length byte, start mark, LEN, 4 fixed, command, 00, CRC

uint8_t at(const QByteArray& a, int i)
{
    return static_cast<uint8_t>(a.at(i));
}

// How long the hung reader sleeps between looks at its state.
constexpr int kHungPollMs = 20;

} // namespace

SimR321::SimR321(ReaderField* field) : m_field(field)
{
    m_interfaces = {defaultInterface()};
}

SimR321::~SimR321()
{
    close();
}

HidInterfaceInfo SimR321::defaultInterface()
{
    HidInterfaceInfo info;
    info.path = QStringLiteral("sim:r321#0&mi_00");
    info.vendorId = VendorId;
    info.productId = ProductId;
    info.releaseNumber = 0x0100;
    info.interfaceNumber = 0;
    info.manufacturer = QStringLiteral("CHENKON");
    info.product = QStringLiteral("R321 (simulated)");
    info.serial = QStringLiteral("SIM-R321-0001");
    return info;
}

void SimR321::setInterfaces(const QVector<HidInterfaceInfo>& interfaces)
{
    QMutexLocker lock(&m_mutex);
    m_interfaces = interfaces;
}

QVector<HidInterfaceInfo> SimR321::interfaces() const
{
    QMutexLocker lock(&m_mutex);
    return m_interfaces;
}

void SimR321::setOpenFails(bool fails)
{
    QMutexLocker lock(&m_mutex);
    m_openFails = fails;
}

void SimR321::setRandomReplyTails(quint32 seed)
{
    QMutexLocker lock(&m_mutex);
    m_randomTails = seed != 0;
    m_tailRandom.seed(seed);
}

QString SimR321::openPath() const
{
    QMutexLocker lock(&m_mutex);
    return m_open ? m_openPath : QString();
}

int SimR321::openCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_openCount;
}

bool SimR321::beeperOn() const
{
    QMutexLocker lock(&m_mutex);
    return m_beeperOn;
}

int SimR321::beeperCommands() const
{
    QMutexLocker lock(&m_mutex);
    return m_beeperCommands;
}

int SimR321::reportsReceived() const
{
    QMutexLocker lock(&m_mutex);
    return m_reports;
}

QByteArray SimR321::buildReply(uint8_t command, uint8_t status, const QByteArray& payload,
                               uint8_t isoError)
{
    const int len = 11 + payload.size();
    QByteArray r;
    r.append(static_cast<char>(len + 3));
    r.append(QByteArray::fromHex("7E55"));
    r.append(static_cast<char>(len));
    r.append(QByteArray::fromHex("00000100"));
    r.append(char(0x1F));
    r.append(static_cast<char>(command));
    r.append(char(0x00));
    r.append(payload);
    r.append(static_cast<char>(status));
    r.append(static_cast<char>(isoError));
    crc16::appendLsbFirst(r, crc16::x25(r, 3, r.size() - 3));
    return r;
}

QVector<HidInterfaceInfo> SimR321::enumerate()
{
    if (m_field && m_field->isUnplugged(SimReaderKind::R321))
        return {};
    return interfaces();
}

bool SimR321::open(const QString& path)
{
    close();
    const bool unplugged = m_field && m_field->isUnplugged(SimReaderKind::R321);
    QMutexLocker lock(&m_mutex);
    if (m_openFails || unplugged)
        return false;
    for (const HidInterfaceInfo& info : qAsConst(m_interfaces)) {
        if (info.path != path)
            continue;
        m_open = true;
        m_answers = info.vendorId == VendorId;
        m_openPath = path;
        m_openUnplugCount = m_field ? m_field->unplugCount(SimReaderKind::R321) : 0;
        m_replies.clear();
        m_partial.clear();
        m_expected = 0;
        ++m_openCount;
        return true;
    }
    return false;
}

bool SimR321::aliveLocked() const
{
    if (!m_open)
        return false;
    // A reader unplugged since it was opened has lost its handle for good.
    return !m_field || (!m_field->isUnplugged(SimReaderKind::R321) &&
                        m_field->unplugCount(SimReaderKind::R321) == m_openUnplugCount);
}

bool SimR321::isOpen() const
{
    QMutexLocker lock(&m_mutex);
    return aliveLocked();
}

void SimR321::close()
{
    QMutexLocker lock(&m_mutex);
    m_open = false;
    m_openPath.clear();
    m_replies.clear();
    m_partial.clear();
    m_expected = 0;
    m_changed.wakeAll();
}

int SimR321::write(const QByteArray& report)
{
    {
        QMutexLocker lock(&m_mutex);
        if (!aliveLocked() || report.isEmpty() || report.at(0) != 0)
            return -1;
        // A hung reader never completes the report; closing or unplugging ends the wait.
        while (m_field && m_field->isHung(SimReaderKind::R321)) {
            m_changed.wait(&m_mutex, kHungPollMs);
            if (!aliveLocked())
                return -1;
        }
        ++m_reports;
        if (!m_answers)
            return report.size();
    }
    acceptPiece(r321::fitted(report.mid(1), ReportSize));
    return report.size();
}

void SimR321::acceptPiece(const QByteArray& piece)
{
    QByteArray frame;
    {
        QMutexLocker lock(&m_mutex);
        if (m_partial.isEmpty()) {
            // A frame starts with its length byte and the start mark 7E 55.
            if (at(piece, 0) == 0 || at(piece, 1) != 0x7E || at(piece, 2) != 0x55) {
                qCDebug(lcSimR321) << "R321: report without frame start ignored";
                return;
            }
            m_expected = at(piece, 0) + 1;
        }
        m_partial += piece;
        if (m_partial.size() < m_expected)
            return;
        frame = m_partial.left(m_expected);
        m_partial.clear();
        m_expected = 0;
    }
    handleFrame(frame);
}

void SimR321::handleFrame(const QByteArray& frame)
{
    SimCommandRecord record;
    record.reader = SimReaderKind::R321;
    record.timestampUs = m_field ? m_field->elapsedUs() : 0;
    record.request = frame;

    const bool shapeOk = frame.size() >= kFrameOverhead && at(frame, 3) == frame.size() - 4;
    if (!shapeOk) {
        // Too short, or LEN disagrees with the length byte: not a frame one could answer.
        record.crcOk = false;
        if (m_field)
            m_field->logCommand(record);
        qCDebug(lcSimR321) << "R321: malformed frame" << frame.toHex(' ');
        return;
    }
    const uint8_t command = at(frame, 8);
    record.command = command;
    record.crcOk = crc16::x25(frame, 3, frame.size() - 5) ==
                   (at(frame, frame.size() - 2) | (at(frame, frame.size() - 1) << 8));
    const SimReplyFault fault = m_field ? m_field->beginCommand(command) : SimReplyFault::None;

    Outcome out;
    if (!record.crcOk) {
        out.status = StatusCrcError;
        qCDebug(lcSimR321) << "R321: CRC error in" << frame.toHex(' ');
    } else {
        out = execute(command, frame.mid(10, frame.size() - kFrameOverhead), &record);
    }

    if (fault == SimReplyFault::FailingStatus) {
        out.status = StatusFailure;
        out.payload.clear();
    }
    QByteArray reply = buildReply(command, out.status, out.payload, out.isoError);
    {
        QMutexLocker lock(&m_mutex);
        if (m_randomTails) {
            const quint32 tail = m_tailRandom.generate();
            reply[reply.size() - 2] = static_cast<char>(tail & 0xFF);
            reply[reply.size() - 1] = static_cast<char>((tail >> 8) & 0xFF);
        }
    }
    if (fault == SimReplyFault::BadCrc) {
        reply[reply.size() - 2] = static_cast<char>(at(reply, reply.size() - 2) ^ 0xFF);
    } else if (fault == SimReplyFault::FlippedPayload) {
        // Byte 11 is the first payload byte, or the status when there is no payload.
        reply[11] = static_cast<char>(at(reply, 11) ^ 0xFF);
    }

    if (m_field)
        m_field->logCommand(record);
    if (fault == SimReplyFault::NoReply)
        return;

    const qint64 delay = m_field && m_field->latencyEnabled() ? record.airTimeUs : 0;
    const qint64 readyAt = (m_field ? m_field->elapsedUs() : 0) + delay;
    QMutexLocker lock(&m_mutex);
    if (!aliveLocked())
        return;
    for (int i = 0; i < reply.size(); i += ReportSize)
        m_replies.append(Pending{r321::fitted(reply.mid(i, ReportSize), ReportSize), readyAt});
    m_changed.wakeAll();
}

SimR321::Outcome SimR321::execute(uint8_t command, const QByteArray& data, SimCommandRecord* record)
{
    Outcome out;
    const auto bad = [&out]() {
        out.status = StatusBadCommand;
        return out;
    };
    switch (command) {
    case r321::CmdInit:
        return out;
    case r321::CmdInventory: {
        record->isoCommand = 0x01;
        const auto tags = m_field ? m_field->tags() : QList<std::shared_ptr<VirtualTag>>();
        const int n = std::min<int>(tags.size(), MaxInventoryRecords);
        record->airTimeUs = ReaderField::inventoryAirTimeUs(tags.size());
        if (n == 0) {
            out.status = StatusNoTag;
            return out;
        }
        for (int i = 0; i < n; ++i)
            out.payload += tags.at(i)->uidLsbFirst() + QByteArray(1, '\0');
        return out;
    }
    case r321::CmdReadBlocks:
    case r321::CmdWriteBlocks: {
        const bool isWrite = command == r321::CmdWriteBlocks;
        if (data.size() < 10)
            return bad();
        const int first = at(data, 8);
        const int count = at(data, 9);
        record->isoCommand = isWrite ? 0x24 : 0x23;
        record->firstBlock = first;
        record->blockCount = count;
        if (count == 0 || data.size() != 10 + (isWrite ? 4 * count : 0))
            return bad();
        const auto tag = m_field ? m_field->findByUidLsbFirst(data.left(8)) : nullptr;
        if (!tag) {
            out.status = StatusNoTag;
            record->airTimeUs = ReaderField::airTimeUs(12 + 2 + (isWrite ? 4 * count : 0), 0);
            return out;
        }
        QByteArray blocks;
        out.isoError = isWrite ? tag->writeBlocks(first, count, data.mid(10))
                               : tag->readBlocks(first, count, &blocks);
        if (out.isoError) {
            out.status = StatusTagError;
            record->airTimeUs = ReaderField::airTimeUs(12 + 2 + (isWrite ? 4 * count : 0), 4);
            return out;
        }
        record->airTimeUs =
            isWrite ? ReaderField::writeAirTimeUs(count) : ReaderField::readAirTimeUs(count);
        if (!isWrite)
            out.payload = blocks;
        return out;
    }
    case r321::CmdRaw: {
        if (data.size() < 2)
            return bad();
        QMutexLocker lock(&m_mutex);
        m_beeperOn = at(data, 1) != 0;
        ++m_beeperCommands;
        return out;
    }
    case r321::CmdTransparent: {
        if (data.isEmpty())
            return bad();
        const int n = at(data, 0);
        if (n < 2 || data.size() != 1 + n + 3)
            return bad();
        const QByteArray request = data.mid(1, n);
        record->isoCommand = at(request, 1);
        const QByteArray response = m_field ? m_field->transceiveRaw(request) : QByteArray();
        record->airTimeUs = ReaderField::rawAirTimeUs(request, response);
        if (response.isEmpty()) {
            out.status = StatusNoTag;
            return out;
        }
        out.payload = response;
        return out;
    }
    default:
        return bad();
    }
}

int SimR321::read(QByteArray* report, int timeoutMs)
{
    const QDeadlineTimer deadline(std::max(0, timeoutMs), Qt::PreciseTimer);
    QMutexLocker lock(&m_mutex);
    for (;;) {
        if (!aliveLocked())
            return -1;
        QDeadlineTimer wake = deadline;
        if (!m_replies.isEmpty()) {
            const qint64 now = m_field ? m_field->elapsedUs() : 0;
            const qint64 ready = m_replies.first().readyAtUs;
            if (ready <= now) {
                if (report)
                    *report = m_replies.takeFirst().report;
                else
                    m_replies.removeFirst();
                return ReportSize;
            }
            // Wake when the reply is due, not at the next whole millisecond: the air-time
            // model is in microseconds, and rounding up would add half a millisecond to
            // every exchange on average.
            QDeadlineTimer due(Qt::PreciseTimer);
            const qint64 dueUs = ready - now;
            due.setPreciseRemainingTime(dueUs / 1000000, (dueUs % 1000000) * 1000,
                                        Qt::PreciseTimer);
            if (due < wake)
                wake = due;
        }
        if (deadline.hasExpired())
            return 0;
        m_changed.wait(&m_mutex, wake);
    }
}
