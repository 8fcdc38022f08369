#include "readers/r321frames.h"

#include "readers/crc16.h"

namespace r321
{

QByteArray fitted(const QByteArray& a, int size)
{
    if (size <= 0)
        return {};
    QByteArray out = a.left(size);
    if (out.size() < size)
        out.append(QByteArray(size - out.size(), '\0'));
    return out;
}

QByteArray buildFrame(uint8_t command, const QByteArray& data)
{
    const int d = data.size();
    if (d > MaxDataSize)
        return {};
    QByteArray f;
    f.reserve(12 + d);
    f.append(static_cast<char>(11 + d));
    f.append(char(0x7E));
    f.append(char(0x55));
    f.append(static_cast<char>(8 + d));
    f.append(QByteArray::fromHex("00000100"));
    f.append(static_cast<char>(command));
    f.append(char(0x00));
    f.append(data);
    crc16::appendLsbFirst(f, crc16::x25(f, 3, f.size() - 3));
    return f;
}

QByteArray Cmd_Init()
{
    return buildFrame(CmdInit, QByteArray::fromHex("020100B70101"));
}

QByteArray Cmd_Inventory()
{
    return buildFrame(CmdInventory, QByteArray(1, '\0'));
}

QByteArray Cmd_ReadBlocks(const QByteArray& uid, uint8_t block, uint8_t count)
{
    QByteArray data = fitted(uid, 8);
    data.append(static_cast<char>(block));
    data.append(static_cast<char>(count));
    return buildFrame(CmdReadBlocks, data);
}

QByteArray Cmd_WriteBlocks(const QByteArray& uid, uint8_t block, const QByteArray& data,
                           uint8_t count)
{
    QByteArray d = fitted(uid, 8);
    d.append(static_cast<char>(block));
    d.append(static_cast<char>(count));
    d.append(fitted(data, 4 * count));
    return buildFrame(CmdWriteBlocks, d);
}

QByteArray Cmd_Raw(const QByteArray& data, int k)
{
    return buildFrame(CmdRaw, fitted(data, k));
}

QByteArray Cmd_Transparent(const QByteArray& uid, uint8_t isoCommand, const QByteArray& data, int k)
{
    const int params = qMax(0, k);
    if (11 + params > 0xFF)
        return {};
    QByteArray d;
    d.append(static_cast<char>(11 + params));
    d.append(char(0x22)); // addressed, high data rate
    d.append(static_cast<char>(isoCommand));
    d.append(char(0x02)); // ST
    d.append(fitted(uid, 8));
    d.append(fitted(data, params));
    d.append(QByteArray::fromHex("10270C"));
    return buildFrame(CmdTransparent, d);
}

QByteArray Cmd_F5()
{
    return buildFrame(CmdF5, QByteArray(1, '\0'));
}

QByteArray Cmd_04()
{
    return buildFrame(Cmd04, QByteArray());
}

} // namespace r321
