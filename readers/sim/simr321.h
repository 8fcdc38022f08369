#pragma once

#include "readers/hidbackend.h"
#include "readers/sim/readerfield.h"

#include <QByteArray>
#include <QMutex>
#include <QRandomGenerator>
#include <QVector>
#include <QWaitCondition>
#include <cstdint>

/// A simulated CHENKON R321 behind the HID seam, answering from a ReaderField.
///
/// Requests are R321 command frames in 64-byte output reports (a frame longer than one
/// report is reassembled from the following reports); the CRC of every frame is checked.
/// Reply frame, p = payload bytes, L = 11 + p:
///   [0] L + 3 (bytes that follow)  [1..2] 7E 55  [3] L (bytes after it, CRC included)
///   [4..7] 00 00 01 00  [8] 1F  [9] command echo  [10] 00  [11 .. L-1] payload
///   [L] status  [L+1] ISO error code of the tag (0 if none)
///   [L+2 .. L+3] CRC-16/X-25 over bytes 3 .. L+1, low byte first.   L + 4 bytes in all.
/// Payloads: inventory, records of 9 bytes (UID least significant byte first, then the
/// DSFID), at most 5 so that the reply fits one report; read blocks, 4 bytes per block;
/// transparent, the tag's raw response with its CRC; others none. Every reply carries
/// 0x1F at byte 8. Replies longer than 64 bytes go out as several zero-filled reports.
class SimR321 : public HidBackend
{
  public:
    static constexpr uint16_t VendorId = 0x0505;
    static constexpr uint16_t ProductId = 0x0001;

    // Reply status bytes of the simulated reader.
    static constexpr uint8_t StatusOk = 0x00;
    static constexpr uint8_t StatusNoTag = 0x01;      ///< no tag answered
    static constexpr uint8_t StatusCrcError = 0x02;   ///< the request's CRC was wrong
    static constexpr uint8_t StatusBadCommand = 0x03; ///< unknown command or bad parameters
    static constexpr uint8_t StatusTagError = 0x04;   ///< the tag answered with an error code
    static constexpr uint8_t StatusFailure = 0x05;    ///< injected failure

    static constexpr int MaxInventoryRecords = 5;
    static constexpr int ReportSize = 64;

    /// A reader answering from `field` (borrowed; must outlive the reader).
    explicit SimR321(ReaderField* field);
    ~SimR321() override;

    /// The one R321 interface listed by default.
    static HidInterfaceInfo defaultInterface();
    /// Replaces the listed interfaces (two R321s, other devices, none); those with vendor
    /// ID 0x0505 answer as an R321, others accept reports and never answer.
    void setInterfaces(const QVector<HidInterfaceInfo>& interfaces);
    /// The listed interfaces (also while unplugged).
    QVector<HidInterfaceInfo> interfaces() const;
    /// Makes open() fail while set.
    void setOpenFails(bool fails);
    /// Puts random bytes where the reply CRC goes, as a reader that frames its replies
    /// otherwise would, drawn from a generator seeded with `seed`; 0 turns it off.
    void setRandomReplyTails(quint32 seed);

    /// The path opened last (empty when nothing is open).
    QString openPath() const;
    /// Number of successful open() calls.
    int openCount() const;
    /// State of the beeper after the last E9 command.
    bool beeperOn() const;
    /// Number of E9 commands received.
    int beeperCommands() const;
    /// Number of output reports received.
    int reportsReceived() const;

    /// Builds a reply frame in the layout above.
    static QByteArray buildReply(uint8_t command, uint8_t status, const QByteArray& payload,
                                 uint8_t isoError = 0);

    QVector<HidInterfaceInfo> enumerate() override;
    bool open(const QString& path) override;
    bool isOpen() const override;
    int write(const QByteArray& report) override;
    int read(QByteArray* report, int timeoutMs) override;
    void close() override;

  private:
    struct Pending {
        QByteArray report;
        qint64 readyAtUs = 0;
    };
    struct Outcome {
        uint8_t status = StatusOk;
        uint8_t isoError = 0;
        QByteArray payload;
    };

    bool aliveLocked() const;
    void acceptPiece(const QByteArray& piece);
    void handleFrame(const QByteArray& frame);
    Outcome execute(uint8_t command, const QByteArray& data, SimCommandRecord* record);

    ReaderField* const m_field;
    mutable QMutex m_mutex;
    QWaitCondition m_changed;
    QVector<HidInterfaceInfo> m_interfaces;
    bool m_openFails = false;
    bool m_randomTails = false;
    QRandomGenerator m_tailRandom;
    bool m_open = false;
    bool m_answers = false;
    QString m_openPath;
    quint64 m_openUnplugCount = 0;
    int m_openCount = 0;
    QVector<Pending> m_replies;
    QByteArray m_partial;
    int m_expected = 0;
    bool m_beeperOn = false;
    int m_beeperCommands = 0;
    int m_reports = 0;
};
