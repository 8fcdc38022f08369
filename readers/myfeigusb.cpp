#include "readers/myfeigusb.h"

#include "readers/crc16.h"

#include <algorithm>

Q_LOGGING_CATEGORY(lcFeig, "vantory.feig")

namespace
{

constexpr uint8_t kIsoAddressed = 0x01;
constexpr uint8_t kBlockSize = 4;
constexpr uint8_t kRegisterRfa1ss = 0x04;
constexpr uint8_t kIsoFlagsAddressedHighRate = 0x22;
constexpr uint8_t kManufacturerSt = 0x02;

// The tag expects exactly 8 UID or password bytes; a short value from the caller is
// zero-padded so the frame keeps its layout and the tag simply does not answer it.
QByteArray exactly8(const QByteArray& value)
{
    QByteArray out = value.left(8);
    if (out.size() < 8)
        out.append(QByteArray(8 - out.size(), '\0'));
    return out;
}

char byte(int value)
{
    return static_cast<char>(value & 0xFF);
}

} // namespace

namespace feigframe
{

QByteArray reverseEachBlock(const QByteArray& data)
{
    QByteArray out = data;
    for (int i = 0; i < out.size(); i += kBlockSize) {
        const int n = std::min<int>(kBlockSize, out.size() - i);
        std::reverse(out.begin() + i, out.begin() + i + n);
    }
    return out;
}

QByteArray build(uint8_t address, uint8_t command, const QByteArray& body)
{
    const int total = kMinFrameSize + body.size();
    QByteArray frame;
    frame.reserve(total);
    frame.append(byte(kStart));
    frame.append(byte(total >> 8));
    frame.append(byte(total));
    frame.append(byte(address));
    frame.append(byte(command));
    frame.append(body);
    crc16::appendLsbFirst(frame, crc16::mcrf4xx(frame));
    return frame;
}

bool isValid(const QByteArray& frame)
{
    if (frame.size() < kMinFrameSize || static_cast<uint8_t>(frame.at(0)) != kStart)
        return false;
    const int declared =
        (static_cast<uint8_t>(frame.at(1)) << 8) | static_cast<uint8_t>(frame.at(2));
    if (declared != frame.size())
        return false;
    const uint16_t crc = crc16::mcrf4xx(frame, 0, frame.size() - 2);
    return static_cast<uint8_t>(frame.at(frame.size() - 2)) == (crc & 0xFF) &&
           static_cast<uint8_t>(frame.at(frame.size() - 1)) == (crc >> 8);
}

} // namespace feigframe

MyFeigUsb::MyFeigUsb(QObject* parent) : QObject(parent) {}

uint16_t MyFeigUsb::crc16(const QByteArray& data)
{
    return crc16::mcrf4xx(data);
}

QByteArray MyFeigUsb::Feig_Inventory() const
{
    QByteArray body;
    body.append(byte(feigframe::kIsoInventory));
    body.append(byte(0x00)); // mode
    return feigframe::build(feigframe::kHostAddress, feigframe::kCmdIsoHost, body);
}

QByteArray MyFeigUsb::Feig_ReadBlocks(const QByteArray& uid, uint8_t block, uint8_t count) const
{
    QByteArray body;
    body.append(byte(feigframe::kIsoReadMultiple));
    body.append(byte(kIsoAddressed));
    body.append(exactly8(uid));
    body.append(byte(block));
    body.append(byte(count));
    return feigframe::build(feigframe::kHostAddress, feigframe::kCmdIsoHost, body);
}

QByteArray MyFeigUsb::Feig_WriteBlocks(const QByteArray& uid, uint8_t block, uint8_t count,
                                       const QByteArray& data, int size) const
{
    // Never read past the caller's data; a short payload makes the reader refuse the
    // request instead of writing bytes nobody supplied.
    const int used = std::clamp(size, 0, data.size());
    QByteArray body;
    body.append(byte(feigframe::kIsoWriteMultiple));
    body.append(byte(kIsoAddressed));
    body.append(exactly8(uid));
    body.append(byte(block));
    body.append(byte(count));
    body.append(byte(kBlockSize));
    body.append(data.left(used));
    return feigframe::build(feigframe::kHostAddress, feigframe::kCmdIsoHost, body);
}

QByteArray MyFeigUsb::Feig_SetOutput(uint8_t state) const
{
    QByteArray body;
    body.append(byte(0x01));
    body.append(byte(0x01));
    body.append(byte(0x41));
    body.append(byte(state));
    body.append(byte(0x00));
    body.append(byte(0x1E));
    return feigframe::build(feigframe::kHostAddress, feigframe::kCmdSetOutput, body);
}

QByteArray MyFeigUsb::transparent(uint8_t mode, uint8_t responseBits, uint8_t isoCommand,
                                  const QByteArray& uid, const QByteArray& parameters) const
{
    QByteArray body;
    body.append(byte(mode));
    body.append(byte(0x00));
    body.append(byte(responseBits));
    body.append(byte(0x00));
    body.append(byte(0x00));
    body.append(byte(kIsoFlagsAddressedHighRate));
    body.append(byte(isoCommand));
    body.append(byte(kManufacturerSt));
    body.append(exactly8(uid));
    body.append(parameters);
    return feigframe::build(feigframe::kHostAddress, feigframe::kCmdTransparent, body);
}

QByteArray MyFeigUsb::Feig_ReadConfig(const QByteArray& uid) const
{
    return transparent(0x01, 0x20, 0xA0, uid, QByteArray(1, byte(kRegisterRfa1ss)));
}

QByteArray MyFeigUsb::Feig_WriteConfig(const QByteArray& uid, uint8_t value) const
{
    QByteArray parameters;
    parameters.append(byte(kRegisterRfa1ss));
    parameters.append(byte(value));
    return transparent(0x02, 0x18, 0xA1, uid, parameters);
}

QByteArray MyFeigUsb::Feig_PresentPassword(const QByteArray& uid, uint8_t number,
                                           const QByteArray& password) const
{
    QByteArray parameters(1, byte(number));
    parameters.append(exactly8(password));
    return transparent(0x01, 0x18, 0xB3, uid, parameters);
}

QByteArray MyFeigUsb::Feig_WritePassword(const QByteArray& uid, uint8_t number,
                                         const QByteArray& password) const
{
    QByteArray parameters(1, byte(number));
    parameters.append(exactly8(password));
    return transparent(0x01, 0x18, 0xB1, uid, parameters);
}
