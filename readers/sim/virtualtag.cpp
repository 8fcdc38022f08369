#include "readers/sim/virtualtag.h"

#include "readers/crc16.h"

#include <QMutexLocker>
#include <algorithm>

namespace
{

// ST25DV04K factory values of the configuration registers 0x00..0x0F.
constexpr std::array<uint8_t, VirtualTag::RegisterCount> kFactoryRegisters = {
    0x88, 0x03, 0x01, 0x00, 0x03, 0x0F, 0x03, 0x0F, 0x03, 0x0F, 0x03, 0x00, 0x00, 0x00, 0x07, 0x00};

constexpr uint8_t kFlagAddressed = 0x20;

uint8_t byteAt(const QByteArray& a, int i)
{
    return static_cast<uint8_t>(a.at(i));
}

bool isCustomCommand(uint8_t cmd)
{
    return cmd >= 0xA0 && cmd <= 0xDF;
}

} // namespace

VirtualTag::VirtualTag(Kind kind, quint64 serial) : m_kind(kind)
{
    m_uidMsb[0] = 0xE0;
    m_uidMsb[1] = StManufacturer;
    m_uidMsb[2] = kind == Kind::P ? ProductP : ProductPwm;
    for (int i = 0; i < 5; ++i)
        m_uidMsb[7 - i] = static_cast<uint8_t>((serial >> (8 * i)) & 0xFF);
    m_memory = QByteArray((kind == Kind::P ? 128 : 64) * BlockSize, '\0');
    m_pwmBlock = QByteArray(BlockSize, '\0');
    for (auto& p : m_passwords)
        p = QByteArray(PasswordSize, '\0');
    m_registers = kFactoryRegisters;
}

uint8_t VirtualTag::productByte() const
{
    return m_uidMsb[2];
}

QByteArray VirtualTag::uidMsbFirst() const
{
    return QByteArray(reinterpret_cast<const char*>(m_uidMsb.data()), int(m_uidMsb.size()));
}

QByteArray VirtualTag::uidLsbFirst() const
{
    QByteArray uid = uidMsbFirst();
    std::reverse(uid.begin(), uid.end());
    return uid;
}

int VirtualTag::userBlockCount() const
{
    return m_kind == Kind::P ? 128 : 64;
}

bool VirtualTag::hasBlock(int block) const
{
    QMutexLocker lock(&m_mutex);
    return hasBlockLocked(block);
}

bool VirtualTag::hasBlockLocked(int block) const
{
    if (block >= 0 && block < userBlockCount())
        return true;
    return m_kind == Kind::Pwm && block == PwmControlBlock;
}

bool VirtualTag::writeAllowedLocked(int block) const
{
    if (block >= userBlockCount())
        return true; // the PWM control block is not part of area 1
    const uint8_t rfa1ss = m_registers[RegRfa1ss];
    const int access = (rfa1ss >> 2) & 0x3;
    const int pwdCtrl = rfa1ss & 0x3;
    switch (access) {
    case 0:
        return true;
    case 1:
    case 2:
        return pwdCtrl >= 1 && pwdCtrl < PasswordCount && m_sessions[pwdCtrl];
    default:
        return false;
    }
}

uint8_t VirtualTag::readBlocks(int first, int count, QByteArray* out) const
{
    QMutexLocker lock(&m_mutex);
    return readBlocksLocked(first, count, out);
}

uint8_t VirtualTag::readBlocksLocked(int first, int count, QByteArray* out) const
{
    if (count <= 0)
        return ErrGeneric;
    for (int b = first; b < first + count; ++b)
        if (!hasBlockLocked(b))
            return ErrBlockUnavailable;
    QByteArray data;
    for (int b = first; b < first + count; ++b)
        data += b == PwmControlBlock && m_kind == Kind::Pwm
                    ? m_pwmBlock
                    : m_memory.mid(b * BlockSize, BlockSize);
    if (out)
        *out = data;
    return 0;
}

uint8_t VirtualTag::writeBlocks(int first, int count, const QByteArray& data)
{
    QMutexLocker lock(&m_mutex);
    return writeBlocksLocked(first, count, data);
}

uint8_t VirtualTag::writeBlocksLocked(int first, int count, const QByteArray& data)
{
    if (count <= 0 || data.size() != count * BlockSize)
        return ErrGeneric;
    if (m_strict && count > StrictMaxWriteBlocks)
        return ErrGeneric;
    for (int b = first; b < first + count; ++b)
        if (!hasBlockLocked(b))
            return ErrBlockUnavailable;
    for (int b = first; b < first + count; ++b)
        if (!writeAllowedLocked(b))
            return ErrBlockLocked;
    for (int i = 0; i < count; ++i) {
        const int b = first + i;
        const QByteArray blockData = data.mid(i * BlockSize, BlockSize);
        if (b == m_dropBlock) {
            m_dropBlock = -1; // reported as written all the same
            continue;
        }
        if (m_kind == Kind::Pwm && b == PwmControlBlock)
            m_pwmBlock = blockData;
        else
            m_memory.replace(b * BlockSize, BlockSize, blockData);
        ++m_eepromWrites;
    }
    return 0;
}

QByteArray VirtualTag::withCrc(QByteArray response)
{
    crc16::appendLsbFirst(response, crc16::x25(response));
    return response;
}

QByteArray VirtualTag::errorResponse(uint8_t code)
{
    QByteArray r;
    r.append(char(0x01));
    r.append(static_cast<char>(code));
    return withCrc(r);
}

QByteArray VirtualTag::transceiveRaw(const QByteArray& request)
{
    QMutexLocker lock(&m_mutex);
    if (request.size() < 2)
        return {};
    const uint8_t flags = byteAt(request, 0);
    const uint8_t cmd = byteAt(request, 1);
    int pos = 2;
    if (isCustomCommand(cmd)) {
        if (request.size() < 3 || byteAt(request, 2) != StManufacturer)
            return {}; // another manufacturer's command: stay silent
        pos = 3;
    }
    const bool inventory = cmd == CmdInventory;
    if (!inventory && (flags & kFlagAddressed)) {
        if (request.size() < pos + 8)
            return {};
        QByteArray lsb = uidMsbFirst();
        std::reverse(lsb.begin(), lsb.end());
        if (request.mid(pos, 8) != lsb)
            return {}; // addressed to another tag
        pos += 8;
    }
    const QByteArray params = request.mid(pos);
    const auto param = [&params](int i) { return static_cast<uint8_t>(params.at(i)); };
    const QByteArray ok(1, '\0');

    switch (cmd) {
    case CmdInventory: {
        QByteArray r = ok;
        r.append(char(0x00)); // DSFID
        QByteArray lsb = uidMsbFirst();
        std::reverse(lsb.begin(), lsb.end());
        return withCrc(r + lsb);
    }
    case CmdReadSingle:
    case CmdReadMultiple: {
        const bool multiple = cmd == CmdReadMultiple;
        if (params.size() != (multiple ? 2 : 1))
            return errorResponse(ErrGeneric);
        QByteArray data;
        const uint8_t err = readBlocksLocked(param(0), multiple ? param(1) + 1 : 1, &data);
        return err ? errorResponse(err) : withCrc(ok + data);
    }
    case CmdWriteSingle:
    case CmdWriteMultiple: {
        const bool multiple = cmd == CmdWriteMultiple;
        const int head = multiple ? 2 : 1;
        if (params.size() < head)
            return errorResponse(ErrGeneric);
        const int count = multiple ? param(1) + 1 : 1;
        const uint8_t err = writeBlocksLocked(param(0), count, params.mid(head));
        return err ? errorResponse(err) : withCrc(ok);
    }
    case CmdReadConfiguration:
        if (params.size() != 1)
            return errorResponse(ErrGeneric);
        if (param(0) >= RegisterCount)
            return errorResponse(ErrBlockUnavailable);
        return withCrc(ok + QByteArray(1, static_cast<char>(m_registers[param(0)])));
    case CmdWriteConfiguration:
        if (params.size() != 2)
            return errorResponse(ErrGeneric);
        if (param(0) >= RegisterCount)
            return errorResponse(ErrBlockUnavailable);
        if (!m_sessions[0])
            return errorResponse(ErrGeneric);
        if (m_registers[RegLockCfg] & 0x01)
            return errorResponse(ErrBlockLocked);
        m_registers[param(0)] = param(1);
        ++m_eepromWrites;
        return withCrc(ok);
    case CmdWritePassword:
    case CmdPresentPassword: {
        if (params.size() != 1 + PasswordSize)
            return errorResponse(ErrGeneric);
        const int number = param(0);
        if (number >= PasswordCount)
            return errorResponse(ErrGeneric);
        const QByteArray value = params.mid(1);
        if (cmd == CmdPresentPassword) {
            if (value != m_passwords[number]) {
                // A wrong password closes every open session, as on the chip.
                m_sessions.fill(false);
                return errorResponse(ErrGeneric);
            }
            m_sessions[number] = true;
            return withCrc(ok);
        }
        if (!m_sessions[number])
            return errorResponse(ErrGeneric);
        m_passwords[number] = value;
        m_eepromWrites += 2;
        return withCrc(ok);
    }
    default:
        return errorResponse(ErrNotSupported);
    }
}

void VirtualTag::leaveField()
{
    QMutexLocker lock(&m_mutex);
    m_sessions.fill(false);
}

QByteArray VirtualTag::memory() const
{
    QMutexLocker lock(&m_mutex);
    return m_memory;
}

void VirtualTag::setMemory(const QByteArray& bytes)
{
    QMutexLocker lock(&m_mutex);
    const QByteArray cut = bytes.left(m_memory.size());
    m_memory.replace(0, cut.size(), cut);
}

QByteArray VirtualTag::block(int block) const
{
    QByteArray out;
    if (readBlocks(block, 1, &out) != 0)
        return {};
    return out;
}

bool VirtualTag::setBlock(int block, const QByteArray& data)
{
    QMutexLocker lock(&m_mutex);
    if (data.size() != BlockSize || !hasBlockLocked(block))
        return false;
    if (m_kind == Kind::Pwm && block == PwmControlBlock)
        m_pwmBlock = data;
    else
        m_memory.replace(block * BlockSize, BlockSize, data);
    return true;
}

QByteArray VirtualTag::password(int number) const
{
    QMutexLocker lock(&m_mutex);
    if (number < 0 || number >= PasswordCount)
        return {};
    return m_passwords[number];
}

bool VirtualTag::setPassword(int number, const QByteArray& password)
{
    QMutexLocker lock(&m_mutex);
    if (number < 0 || number >= PasswordCount || password.size() != PasswordSize)
        return false;
    m_passwords[number] = password;
    return true;
}

bool VirtualTag::sessionOpen(int number) const
{
    QMutexLocker lock(&m_mutex);
    return number >= 0 && number < PasswordCount && m_sessions[number];
}

uint8_t VirtualTag::rfa1ss() const
{
    return configRegister(RegRfa1ss);
}

void VirtualTag::setRfa1ss(uint8_t value)
{
    QMutexLocker lock(&m_mutex);
    m_registers[RegRfa1ss] = value;
}

uint8_t VirtualTag::configRegister(uint8_t pointer) const
{
    QMutexLocker lock(&m_mutex);
    return pointer < RegisterCount ? m_registers[pointer] : 0;
}

int VirtualTag::eepromWrites() const
{
    QMutexLocker lock(&m_mutex);
    return m_eepromWrites;
}

void VirtualTag::setStrictWriteLimit(bool strict)
{
    QMutexLocker lock(&m_mutex);
    m_strict = strict;
}

bool VirtualTag::strictWriteLimit() const
{
    QMutexLocker lock(&m_mutex);
    return m_strict;
}

void VirtualTag::dropNextWriteOf(int block)
{
    QMutexLocker lock(&m_mutex);
    m_dropBlock = block;
}
