#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QObject>
#include <cstdint>

Q_DECLARE_LOGGING_CATEGORY(lcFeig)

/// OBID-RCI2 framing shared by the request builder and the simulated reader.
namespace feigframe
{

constexpr uint8_t kStart = 0x02;
constexpr uint8_t kHostAddress = 0xFF;   // bus address of our requests
constexpr uint8_t kReaderAddress = 0x00; // address the reader answers with
constexpr int kHeaderSize = 4;           // start byte, two length bytes, address
constexpr int kMinFrameSize = 7;         // header, command, CRC

constexpr uint8_t kCmdIsoHost = 0xB0;
constexpr uint8_t kCmdSetOutput = 0x72;
constexpr uint8_t kCmdTransparent = 0xBF;

constexpr uint8_t kIsoInventory = 0x01;
constexpr uint8_t kIsoReadMultiple = 0x23;
constexpr uint8_t kIsoWriteMultiple = 0x24;

/// Builds 0x02, length (high byte first), address, command, body, CRC-16/MCRF4XX (low byte first).
QByteArray build(uint8_t address, uint8_t command, const QByteArray& body);

/// True when `frame` starts with 0x02, its length field equals its size and its CRC is right.
bool isValid(const QByteArray& frame);

/// `data` with every 4-byte block in reverse byte order, as the reader carries blocks; a
/// trailing part shorter than a block is reversed on its own.
QByteArray reverseEachBlock(const QByteArray& data);

} // namespace feigframe

/// Builds the FEIG reader's OBID-RCI2 request frames for the tag commands the engine needs.
class MyFeigUsb : public QObject
{
    Q_OBJECT
  public:
    explicit MyFeigUsb(QObject* parent = nullptr);

    /// ISO15693 inventory: 02 00 09 FF B0 01 00 18 43.
    QByteArray Feig_Inventory() const;
    /// Addressed read of `count` blocks from `block`; `uid` most significant byte first.
    QByteArray Feig_ReadBlocks(const QByteArray& uid, uint8_t block, uint8_t count) const;
    /// Addressed write of `count` 4-byte blocks from `block` with the first `size` bytes of `data`.
    QByteArray Feig_WriteBlocks(const QByteArray& uid, uint8_t block, uint8_t count,
                                const QByteArray& data, int size) const;
    /// Sets the reader's output (beeper) to `state`.
    QByteArray Feig_SetOutput(uint8_t state) const;
    /// Transparent READ CONFIGURATION of register RFA1SS; `uid` least significant byte first.
    QByteArray Feig_ReadConfig(const QByteArray& uid) const;
    /// Transparent WRITE CONFIGURATION of register RFA1SS to `value`.
    QByteArray Feig_WriteConfig(const QByteArray& uid, uint8_t value) const;
    /// Transparent PRESENT PASSWORD `number` with the 8 bytes of `password`.
    QByteArray Feig_PresentPassword(const QByteArray& uid, uint8_t number,
                                    const QByteArray& password) const;
    /// Transparent WRITE PASSWORD `number` with the 8 bytes of `password` as the new value.
    QByteArray Feig_WritePassword(const QByteArray& uid, uint8_t number,
                                  const QByteArray& password) const;

    /// CRC-16/MCRF4XX of `data` as the reader checks it.
    static uint16_t crc16(const QByteArray& data);

  signals:
    void FeigDevRemoved();

  private:
    QByteArray transparent(uint8_t mode, uint8_t responseBits, uint8_t isoCommand,
                           const QByteArray& uid, const QByteArray& parameters) const;
};
