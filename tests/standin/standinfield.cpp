#include "standinfield.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <cstdio>

namespace
{
constexpr int kUidSize = 8;
constexpr uint8_t kInventory = 0x01;
constexpr uint8_t kWriteMultiple = 0x24;
constexpr int kEmptyInventoriesBeforeNext = 2;

// Every write command the reader took, one line each ("first block, count"), appended to
// the file VANTORY_STANDIN_WRITES names, so that a test sees what went out.
void logWrites(const QVector<SimCommandRecord>& log)
{
    const QString path = qEnvironmentVariable("VANTORY_STANDIN_WRITES");
    if (path.isEmpty())
        return;
    QByteArray lines;
    for (const SimCommandRecord& r : log)
        if (r.isoCommand == kWriteMultiple)
            lines += QByteArray::number(r.firstBlock) + ' ' + QByteArray::number(r.blockCount) +
                     '\n';
    QFile file(path);
    if (!lines.isEmpty() && file.open(QIODevice::Append))
        file.write(lines);
}
} // namespace

StandinField::StandinField(const char* tagListVariable, SimReaderKind kind)
    : m_variable(tagListVariable), m_kind(kind),
      m_pulledVariable(QByteArray(tagListVariable) + "_PULLED")
{
    m_list = qEnvironmentVariable(tagListVariable);
    m_files = m_list.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    // Replies take the air time a real reader needs.
    m_field.setLatencyEnabled(true);
    layNext();
}

void StandinField::followPlug()
{
    const QString marker = qEnvironmentVariable(m_pulledVariable.constData());
    const bool pulled = !marker.isEmpty() && QFile::exists(marker);
    if (pulled != m_field.isUnplugged(m_kind))
        m_field.setUnplugged(m_kind, pulled);
}

void StandinField::beforeRequest()
{
    followPlug();
    QMutexLocker lock(&m_mutex);
    const QString list = qEnvironmentVariable(m_variable);
    if (list == m_list)
        return;
    m_list = list;
    m_files = list.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    m_field.clear();
    m_tag.reset();
    m_next = 0;
    m_waitingForNext = false;
    layNext();
}

void StandinField::layNext()
{
    if (m_next >= m_files.size())
        return;
    const QString path = m_files.at(m_next++);
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (bytes.size() < kUidSize + VirtualTag::BlockSize) {
        std::fprintf(stderr, "stand-in reader: tag file %s unreadable\n", qPrintable(path));
        return;
    }
    const QByteArray uid = bytes.left(kUidSize);
    quint64 serial = 0;
    for (int i = 3; i < kUidSize; ++i)
        serial = (serial << 8) | uint8_t(uid.at(i));
    const auto kind =
        uint8_t(uid.at(2)) == VirtualTag::ProductPwm ? VirtualTag::Kind::Pwm : VirtualTag::Kind::P;
    m_tag = std::make_shared<VirtualTag>(kind, serial);
    m_tag->setMemory(bytes.mid(kUidSize));
    m_saved = m_tag->memory();
    m_field.layTag(m_tag);
    m_waitingForNext = false;
}

void StandinField::save()
{
    const QByteArray memory = m_tag->memory();
    if (memory == m_saved)
        return;
    QSaveFile file(m_files.at(m_next - 1));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(m_tag->uidMsbFirst() + memory);
        if (file.commit())
            m_saved = memory;
    }
}

void StandinField::afterRequest(bool beeperOn)
{
    QMutexLocker lock(&m_mutex);
    int inventories = 0;
    const QVector<SimCommandRecord> log = m_field.commandLog();
    for (const SimCommandRecord& r : log)
        inventories += r.isoCommand == kInventory ? 1 : 0;
    logWrites(log);
    m_field.clearCommandLog();

    if (m_tag)
        save();
    if (m_waitingForNext) {
        m_emptyInventories += inventories;
        if (m_emptyInventories >= kEmptyInventoriesBeforeNext)
            layNext();
    }
    const bool beepEnded = m_beeper && !beeperOn;
    m_beeper = beeperOn;
    if (beepEnded && m_tag && m_next < m_files.size()) {
        m_field.clear();
        m_tag.reset();
        m_waitingForNext = true;
        m_emptyInventories = 0;
    }
}
