#pragma once

#include "readers/feusbapi.h"
#include "readers/sim/readerfield.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <cstdint>

/// A simulated FEIG USB reader behind the FEUSB seam, answering from a ReaderField.
///
/// Requests are OBID-RCI2 frames (02, length, address, command, data, CRC-16/MCRF4XX);
/// replies are 02, length (high byte first), address 00, command, status, data, CRC low
/// byte first. Replies as the engine reads them:
///   inventory B0 01      status 0: [6] number of records, per record TR-type 03, DSFID,
///                        UID most significant byte first (the first UID at 9..16);
///                        no tag: status 01 without data.
///   read B0 23           status 0: [6] blocks, [7] block size 4, per block a security
///                        status byte and the 4 data bytes in reverse order.
///   write B0 24          request blocks in reverse order, as a read gives them;
///                        status 0 without data: exactly 02 00 08 00 B0 00 90 DF.
///   transparent BF       status 0 with the tag's raw response (with its CRC) from [6];
///                        the tag's error response gives status 95 and its error code.
///   set output 72        status 0 without data.
/// A tag that does not answer gives status 01, a tag error 95 with the ISO error code; a
/// request with a wrong CRC gives status 02; frames that are not OBID-RCI2 at all get no
/// answer. Every request is recorded in the field's command log, faults armed on the
/// field apply, and with latency on each transceive takes the modelled air time.
class SimFeig : public FeusbApi
{
  public:
    // Reply status bytes.
    static constexpr uint8_t StatusOk = 0x00;
    static constexpr uint8_t StatusNoTransponder = 0x01;
    static constexpr uint8_t StatusCrcError = 0x02;
    static constexpr uint8_t StatusWriteError = 0x03; ///< injected failure of a write
    static constexpr uint8_t StatusUnknownCommand = 0x80;
    static constexpr uint8_t StatusLengthError = 0x81;
    static constexpr uint8_t StatusRfError = 0x83; ///< injected failure of other commands
    static constexpr uint8_t StatusIsoError = 0x95;

    // Negative results, taken from FEUSB's range; their exact FEIG meaning does not matter here.
    static constexpr int ErrNoReader = -1100;
    static constexpr int ErrBadHandle = -1101;
    static constexpr int ErrParameter = -1120;
    static constexpr int ErrTimeout = -1130;

    /// Handles carry bit 28 like FEUSB's.
    static constexpr int HandleBase = 0x10000000;
    /// Records in one inventory reply at most.
    static constexpr int MaxInventoryRecords = 20;

    /// The device ID the reader reports unless told another.
    static constexpr const char* DefaultDeviceId = "0A1B2C01";

    /// A reader answering from `field` (borrowed; must outlive the reader). Its handles
    /// count up from `handleBase`, so that two readers behind one library never share one.
    explicit SimFeig(ReaderField* field, int handleBase = HandleBase);

    SimFeig(const SimFeig&) = delete;
    SimFeig& operator=(const SimFeig&) = delete;

    bool available() override { return true; }
    int ScanAndOpen(int iScanOpt, void* pSearchOpt) override;
    int SetDevicePara(int iDevHnd, char* cPara, char* cValue) override;
    int Transceive(int iDevHnd, char* cInterface, int iDir, unsigned char* cSendData, int iSendLen,
                   unsigned char* cRecData, int iRecLen) override;
    int CloseDevice(int iDevHnd) override;
    int Scan(int iScanOpt, void* pSearchOpt) override;
    int GetScanListSize() override;
    int GetScanListPara(int iIndex, char* cPara, char* cValue) override;
    int OpenDevice(long dwDeviceID) override;

    /// The device ID this reader reports in the scan list (hexadecimal digits).
    void setDeviceId(const QString& id);
    QString deviceId() const;
    /// True when `handle` is one of this reader's open handles.
    bool ownsHandle(int handle) const;

    /// Number of successful ScanAndOpen and OpenDevice calls.
    int openCount() const;
    /// Number of CloseDevice calls on open handles.
    int closeCount() const;
    /// Number of handles open now.
    int openHandles() const;
    /// The last TIMEOUT set through SetDevicePara, in ms (5000 before any).
    int timeoutMs() const;
    /// State of the output after the last set-output command.
    bool outputOn() const;
    /// Number of set-output commands received.
    int outputCommands() const;

    /// Builds a reply frame: 02, length, 00, command, status, data, CRC.
    static QByteArray buildReply(uint8_t command, uint8_t status,
                                 const QByteArray& data = QByteArray());

  private:
    struct Outcome {
        uint8_t status = StatusOk;
        QByteArray data;
    };

    bool handleAlive(int handle) const;
    int openHandle();
    Outcome execute(uint8_t command, const QByteArray& data, SimCommandRecord* record);
    Outcome inventory(SimCommandRecord* record);
    Outcome readOrWrite(bool write, const QByteArray& data, SimCommandRecord* record);
    Outcome transparent(const QByteArray& data, SimCommandRecord* record);
    int waitWhileHung(int handle);

    ReaderField* const m_field;
    const int m_handleBase;
    mutable QMutex m_mutex;
    QString m_deviceId = QString::fromLatin1(DefaultDeviceId);
    bool m_listed = false; // present at the last Scan
    QHash<int, quint64> m_handles; // open handle -> unplug count when it was opened
    int m_openCount = 0;
    int m_closeCount = 0;
    int m_timeoutMs = 5000;
    bool m_outputOn = false;
    int m_outputCommands = 0;
};
