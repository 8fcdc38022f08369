#pragma once

#include "readers/hidbackend.h"
#include "readers/readerclaim.h"
#include "readers/readerlink.h"

#include <array>

class myhid;
class myreader;

/// The CHENKON R321 as a ReaderLink: R321 frames (myreader) over the HID link (myhid) and
/// its two threads. Replies are stamped on the read thread as they arrive.
class R321Link : public ReaderLink
{
    Q_OBJECT
  public:
    /// `backend` must outlive the link.
    R321Link(const ReaderChoice& choice, HidBackend* backend, QObject* parent = nullptr);
    ~R321Link() override;

    LinkTip connectedTip() const override { return LinkTip::R321Connected; }
    bool open() override;
    bool isConnected() const override;
    void watch() override;
    /// The R321 tells nothing of a request once it is out: a late reply is waited out for
    /// one more reply time-out.
    int lateReplyWindowMs(int replyTimeoutMs) const override { return replyTimeoutMs; }

    void inventory() override;
    void readBlocks(const QByteArray& uid, uint8_t first, uint8_t count) override;
    void writeBlocks(const QByteArray& uid, uint8_t first, const QByteArray& data,
                     uint8_t count) override;
    void customCommand(const QByteArray& uid, uint8_t isoCommand,
                       const QByteArray& parameters) override;
    void beep(bool on) override;
    QByteArray uidMsbFirst(const QByteArray& uid) const override;

    /// The text of the connected HID device (empty before a connection).
    const QString& deviceName() const { return m_device_name; }
    /// Whether this reader's reply CRCs are enforced yet (see replies::R321CrcCheck).
    bool crcEnforced() const { return m_crc.enforced(); }
    /// The HID link (for tests that watch its threads).
    myhid* hid() const { return m_myhid; }

  public slots:
    /// One input report of the reader: decoded and handed on (an empty one is ignored).
    void in_hidDevReceive_usbDebug(QByteArray rxArray, qint64 receivedAt = -1);

  private:
    void in_usbConnect(const QString& curUSBInfo);
    void sendFrame(const QByteArray& frame);

    myhid* m_myhid = nullptr;
    myreader* m_myreader = nullptr;
    QString m_device_name;
    HidInterfaceInfo m_wanted; // the R321 connected last (vendor ID 0: none yet)
    replies::R321CrcCheck m_crc;
    ReaderClaim m_claim;
    bool m_quiet = false; // a look of the watch: no message box
    const bool m_systemWide;
    std::array<uint8_t, 8> beep_cmd{}; // the beeper record: byte 1 on (1) or off (0)
};
