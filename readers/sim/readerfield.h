#pragma once

#include "readers/sim/virtualtag.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QVector>
#include <memory>

/// Which simulated reader a request went to.
enum class SimReaderKind { R321, Feig };

/// A reply fault the field can inject into the next replies of either reader.
enum class SimReplyFault {
    None,
    NoReply,        ///< the reader answers nothing
    BadCrc,         ///< the reply's CRC is wrong
    FlippedPayload, ///< a payload byte is inverted (CRC left as computed before)
    FailingStatus,  ///< the reader reports a failure status
};

/// One request received by a simulated reader, as the command log keeps it.
struct SimCommandRecord {
    SimReaderKind reader = SimReaderKind::R321;
    int command = -1;       ///< the reader's command code (R321 0x11 …, FEIG 0xB0 …)
    int isoCommand = -1;    ///< the ISO15693 command carried, −1 if none
    int firstBlock = -1;    ///< first block addressed, −1 if none
    int blockCount = 0;     ///< number of blocks addressed
    qint64 timestampUs = 0; ///< time of receipt, µs since the field was created
    qint64 airTimeUs = 0;   ///< modelled ISO15693 air time of the exchange
    bool crcOk = true;      ///< the request's own CRC was right
    QByteArray request;     ///< the complete request frame
};

/// The RF field shared by the simulated R321 and FEIG readers: the tags lying on the
/// reader, injected faults, the air-time model and the command log. Thread-safe.
class ReaderField : public QObject
{
    Q_OBJECT
  public:
    // Air-time model at the ISO15693 high data rate (1 of 4 coding, one subcarrier).
    static constexpr qint64 ByteUs = 302;         ///< one byte, either direction
    static constexpr qint64 FrameUs = 226;        ///< SOF + EOF of one frame
    static constexpr qint64 T1Us = 321;           ///< tag response delay
    static constexpr qint64 EepromBlockUs = 5000; ///< programming one block

    explicit ReaderField(QObject* parent = nullptr);

    /// Lays a tag on the reader; a tag with the same UID is replaced.
    void layTag(std::shared_ptr<VirtualTag> tag);
    /// Takes the tag with this UID (most significant byte first) away; false if absent.
    bool removeTag(const QByteArray& uidMsbFirst);
    /// Takes every tag away.
    void clear();
    /// The tags in the field, in the order they were laid.
    QList<std::shared_ptr<VirtualTag>> tags() const;
    /// Number of tags in the field.
    int tagCount() const;
    /// The tag with this UID (most significant byte first), or null.
    std::shared_ptr<VirtualTag> findByUidMsbFirst(const QByteArray& uid) const;
    /// The tag with this UID (least significant byte first), or null.
    std::shared_ptr<VirtualTag> findByUidLsbFirst(const QByteArray& uid) const;

    /// Sends a raw ISO15693 request (no CRC) into the field: an addressed request reaches
    /// the tag with that UID, a non-addressed one the only tag (several tags collide).
    /// Returns the tag's raw response with CRC, or empty when no tag answers.
    QByteArray transceiveRaw(const QByteArray& request);

    /// Arms `fault` for `count` replies (−1: until cleared) after `skip` unaffected
    /// commands, only for reader command `onlyCommand` if it is not −1.
    void armReplyFault(SimReplyFault fault, int count = 1, int skip = 0, int onlyCommand = -1);
    /// Every tag leaves the field before the command after the next `commands` commands.
    void removeTagsAfter(int commands);
    /// Unplugs (or plugs back) a reader; an unplugged reader is not listed and its handle dies.
    void setUnplugged(SimReaderKind reader, bool unplugged);
    /// True while the reader is unplugged.
    bool isUnplugged(SimReaderKind reader) const;
    /// Number of times the reader has been unplugged (lets a backend see that its handle died).
    quint64 unplugCount(SimReaderKind reader) const;
    /// A hung reader accepts requests but never completes them.
    void setHung(SimReaderKind reader, bool hung);
    /// True while the reader is hung.
    bool isHung(SimReaderKind reader) const;
    /// Drops armed faults and pending removals, plugs both readers in and un-hangs them.
    void clearFaults();

    /// Called by a reader for every request before it is executed: counts it, applies a
    /// pending tag removal and returns the reply fault to apply to this command.
    SimReplyFault beginCommand(int command);
    /// Appends a record to the command log.
    void logCommand(const SimCommandRecord& record);
    /// The command log, oldest first.
    QVector<SimCommandRecord> commandLog() const;
    /// Empties the command log.
    void clearCommandLog();
    /// Microseconds since the field was created (the log's time base).
    qint64 elapsedUs() const;

    /// Strict ST25DV mode for every tag on the field, those laid later included: a write
    /// of more than four blocks in one command is refused (off by default).
    void setStrictSt25dv(bool strict);
    bool strictSt25dv() const;

    /// Turns the air-time latency on or off (off by default).
    void setLatencyEnabled(bool enabled);
    /// True when readers delay their replies by the modelled air time.
    bool latencyEnabled() const;

    /// Air time of one exchange: request and response bytes (CRC included) and blocks programmed.
    /// With no response only the request frame and t1 count.
    static qint64 airTimeUs(int requestBytes, int responseBytes, int programmedBlocks = 0);
    /// Air time of an inventory answered by `tags` tags (a lower bound for several tags).
    static qint64 inventoryAirTimeUs(int tags);
    /// Air time of an addressed READ MULTIPLE BLOCKS of `blocks` blocks.
    static qint64 readAirTimeUs(int blocks);
    /// Air time of an addressed WRITE MULTIPLE BLOCKS of `blocks` blocks.
    static qint64 writeAirTimeUs(int blocks);
    /// Air time of a raw request (without CRC) and the raw response (with CRC).
    static qint64 rawAirTimeUs(const QByteArray& request, const QByteArray& response);

  signals:
    /// Tags were laid or taken away (may be emitted on a reader thread).
    void tagsChanged();

  private:
    struct ArmedFault {
        SimReplyFault fault = SimReplyFault::None;
        int count = 0;
        int skip = 0;
        int onlyCommand = -1;
    };
    void clearLocked();

    mutable QMutex m_mutex;
    QList<std::shared_ptr<VirtualTag>> m_tags;
    ArmedFault m_fault;
    int m_removeCountdown = -1;
    bool m_unplugged[2] = {false, false};
    quint64 m_unplugCount[2] = {0, 0};
    bool m_hung[2] = {false, false};
    bool m_latency = false;
    bool m_strict = false;
    QVector<SimCommandRecord> m_log;
    QElapsedTimer m_clock;
};
