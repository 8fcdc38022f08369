#pragma once

#include <QByteArray>
#include <QMutex>
#include <array>
#include <cstdint>

/// A simulated ST25DV dynamic NFC tag as the readers see it over ISO15693.
///
/// Two kinds: the ST25DV04KC ("P", product byte 0x50, 128 blocks = 512 bytes) and the
/// ST25DV-PWM with one output ("8", product byte 0x38, 64 blocks plus the PWM control
/// block 248). Two 8-byte passwords (0 = configuration, 1 = RF area 1; factory all
/// zero), the configuration registers 0x00..0x0F with RFA1SS at pointer 0x04, and the
/// security sessions opened by PRESENT PASSWORD and closed when the tag leaves the field.
///
/// Area 1 covers all user blocks; reads of area 1 are always open (as on the chip),
/// writes follow RFA1SS: access bits 3:2 = 0 open, 1 or 2 need the session of the
/// password selected by bits 1:0, 3 never. Block 248 of the PWM tag is outside area 1.
/// Only passwords 0 and 1 exist here; a password control of 2 or 3 can never be opened.
///
/// Every member is thread-safe (one internal mutex), so a reader thread and a test
/// or the simulator panel on the GUI thread may use the same tag.
class VirtualTag
{
  public:
    enum class Kind { P, Pwm };

    static constexpr uint8_t ProductP = 0x50;
    static constexpr uint8_t ProductPwm = 0x38;
    static constexpr uint8_t StManufacturer = 0x02;
    static constexpr int BlockSize = 4;
    static constexpr int PwmControlBlock = 248;
    static constexpr int PasswordCount = 2;
    static constexpr int PasswordSize = 8;

    // ISO15693 error codes carried after the error flag.
    static constexpr uint8_t ErrNotSupported = 0x01;
    static constexpr uint8_t ErrGeneric = 0x0F;
    static constexpr uint8_t ErrBlockUnavailable = 0x10;
    static constexpr uint8_t ErrBlockLocked = 0x12;

    // ISO15693 commands the tag understands in transceiveRaw().
    static constexpr uint8_t CmdInventory = 0x01;
    static constexpr uint8_t CmdReadSingle = 0x20;
    static constexpr uint8_t CmdWriteSingle = 0x21;
    static constexpr uint8_t CmdReadMultiple = 0x23;
    static constexpr uint8_t CmdWriteMultiple = 0x24;
    static constexpr uint8_t CmdReadConfiguration = 0xA0;
    static constexpr uint8_t CmdWriteConfiguration = 0xA1;
    static constexpr uint8_t CmdWritePassword = 0xB1;
    static constexpr uint8_t CmdPresentPassword = 0xB3;

    static constexpr uint8_t RegRfa1ss = 0x04;
    static constexpr uint8_t RegLockCfg = 0x0F;
    static constexpr int RegisterCount = 0x10;

    /// Creates a factory-fresh tag; `serial` gives the five low UID bytes (most significant first).
    explicit VirtualTag(Kind kind = Kind::P, quint64 serial = 1);

    VirtualTag(const VirtualTag&) = delete;
    VirtualTag& operator=(const VirtualTag&) = delete;

    /// The tag kind.
    Kind kind() const { return m_kind; }
    /// UID product (IC reference) byte: 0x50 or 0x38.
    uint8_t productByte() const;
    /// UID most significant byte first: E0 02 <product> <serial ×5>.
    QByteArray uidMsbFirst() const;
    /// UID least significant byte first, the order on the air and in R321 replies.
    QByteArray uidLsbFirst() const;
    /// Number of user blocks from block 0: 128 (P) or 64 (PWM).
    int userBlockCount() const;
    /// True when `block` exists (user blocks, and 248 on the PWM tag).
    bool hasBlock(int block) const;

    /// Reads `count` blocks from `first` into `out` (4 bytes each); returns 0 or an ISO error code.
    uint8_t readBlocks(int first, int count, QByteArray* out) const;
    /// Writes `count` blocks from `first` (data = 4 × count bytes); returns 0 or an ISO error code.
    /// Nothing is written when any block is unavailable (0x10) or protected (0x12).
    uint8_t writeBlocks(int first, int count, const QByteArray& data);

    /// Executes one raw ISO15693 request (flags, command, [0x02 for custom commands],
    /// [UID LSB first if addressed], parameters; no CRC) and returns the tag's raw response
    /// with its CRC-16/X-25 (low byte first): 00 … CRC on success, 01 <code> CRC on error.
    /// Returns an empty array when the tag stays silent (other UID, other manufacturer, too short).
    QByteArray transceiveRaw(const QByteArray& request);

    /// The tag leaves the RF field: every security session closes.
    void leaveField();

    /// The whole user memory (512 or 256 bytes).
    QByteArray memory() const;
    /// Overwrites user memory from byte 0 (longer input is cut), ignoring protection.
    void setMemory(const QByteArray& bytes);
    /// The 4 bytes of `block`, or an empty array when it does not exist.
    QByteArray block(int block) const;
    /// Overwrites one block (exactly 4 bytes) ignoring protection; false when impossible.
    bool setBlock(int block, const QByteArray& data);

    /// Password `number` (0 or 1), 8 bytes; empty for other numbers.
    QByteArray password(int number) const;
    /// Sets password `number` (0 or 1) to 8 bytes without a session; false when invalid.
    bool setPassword(int number, const QByteArray& password);
    /// True while the security session of password `number` is open.
    bool sessionOpen(int number) const;

    /// The RFA1SS register (pointer 0x04).
    uint8_t rfa1ss() const;
    /// Sets RFA1SS directly (tests, demo drivers).
    void setRfa1ss(uint8_t value);
    /// Configuration register at `pointer` (0x00..0x0F); 0 for other pointers.
    uint8_t configRegister(uint8_t pointer) const;

    /// Number of EEPROM block programs so far (block writes, password and register writes).
    int eepromWrites() const;

    /// Strict ST25DV: a write of more than four blocks in one command is refused with the
    /// generic error, as the chip's datasheet allows no more (off by default).
    void setStrictWriteLimit(bool strict);
    bool strictWriteLimit() const;
    static constexpr int StrictMaxWriteBlocks = 4;
    /// A faulty tag: the next write that covers `block` reports success but leaves that
    /// block's old bytes in place (once).
    void dropNextWriteOf(int block);

    /// Appends CRC-16/X-25 (low byte first) to a raw tag response.
    static QByteArray withCrc(QByteArray response);
    /// The error response 01 <code> CRC.
    static QByteArray errorResponse(uint8_t code);

  private:
    bool hasBlockLocked(int block) const;
    bool writeAllowedLocked(int block) const;
    uint8_t readBlocksLocked(int first, int count, QByteArray* out) const;
    uint8_t writeBlocksLocked(int first, int count, const QByteArray& data);

    mutable QMutex m_mutex;
    const Kind m_kind;
    std::array<uint8_t, 8> m_uidMsb{};
    QByteArray m_memory;
    QByteArray m_pwmBlock;
    std::array<QByteArray, PasswordCount> m_passwords;
    std::array<bool, PasswordCount> m_sessions{};
    std::array<uint8_t, RegisterCount> m_registers{};
    int m_eepromWrites = 0;
    bool m_strict = false;
    int m_dropBlock = -1;
};
