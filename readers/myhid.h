#pragma once

#include "readers/hidbackend.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <QVector>
#include <QWaitCondition>
#include <atomic>
#include <cstdint>
#include <functional>

#include <memory>

class myhid;

/// What the link threads share with myhid. Owned jointly, so that a thread left stuck in
/// a call on leaving (a write to a reader that does not take its report) never touches
/// freed memory when that call finally returns.
struct HidLinkState {
    HidBackend* backend = nullptr;
    std::atomic<int> connected{0};
    std::atomic<int> writeBusy{0};
    std::atomic<quint64> generation{0};
    std::atomic<quint64> removedGeneration{0};
    std::atomic<bool> stop{false};
    QMutex lock;
    QWaitCondition wake;
    QByteArray outReport;
    quint64 outGeneration = 0;
    bool outPending = false;
};

/// Input loop of the R321 link: blocking reads with a short time-out while a device is
/// open, each 64-byte input report emitted as hidDevReceive (queued to the GUI thread).
class readThreadEP1 : public QThread
{
    Q_OBJECT
  public:
    explicit readThreadEP1(std::shared_ptr<HidLinkState> link);

  signals:
    void hidDevReceive(QByteArray rxArray);
    /// A read found the device gone (queued to myhid).
    void deviceRemoved();

  protected:
    void run() override;

  private:
    const std::shared_ptr<HidLinkState> m_link;
};

/// Output loop of the R321 link: performs each output report handed over by
/// myhid::Hid_Write and emits hidDevSend when it has completed.
class writeThreadEP1 : public QThread
{
    Q_OBJECT
  public:
    explicit writeThreadEP1(std::shared_ptr<HidLinkState> link);
    /// Ends the loop after the call in progress; a fresh thread takes over the link.
    void retire();

  signals:
    void hidDevSend();
    /// A write found the device gone (queued to myhid).
    void deviceRemoved();

  protected:
    void run() override;

  private:
    const std::shared_ptr<HidLinkState> m_link;
    std::atomic<bool> m_retired{false};
};

/// The R321 HID link: finds the reader (vendor ID 0x0505) among the HID interfaces of a
/// HidBackend, opens it, writes 64-byte pieces as output reports and owns the read and
/// write threads. Lives on the GUI thread; the backend is borrowed and must outlive it.
class myhid : public QObject
{
    Q_OBJECT
  public:
    static constexpr uint16_t R321VendorId = 0x0505;
    static constexpr int ReportSize = 64;
    /// Time-out of one blocking read, so that the read thread can stop.
    static constexpr int ReadTimeoutMs = 50;
    /// An output report that has not completed after this long marks the link not connected.
    static constexpr int WriteCompletionTimeoutMs = 1000;
    /// How long leaving waits for the link threads; a thread still inside a call then is
    /// left to end by itself.
    static constexpr int StopWaitMs = 1000;

    /// Receives the texts of the modal messages ("open device failure with reading", …).
    using MessageHook = std::function<void(const QString& text)>;

    explicit myhid(HidBackend* backend, QObject* parent = nullptr);
    ~myhid() override;

    /// Says whether this program may open the R321 of that identity now (false: another
    /// holder has it).
    using Claim = std::function<bool(const QString& identity)>;

    /// Looks for the first interface with vendor ID 0x0505 (with `identity`, only that
    /// reader's) that `claim` allows, opens it and emits usbConnect("Connected: R321") on
    /// success.
    void Connect(const QString& identity = QString(), const Claim& claim = Claim());
    /// True when the last Connect found its reader(s) but every one was held elsewhere.
    bool lastConnectInUse() const { return m_inUse; }
    /// A reader's stable identity: its USB serial number, else where it is plugged in.
    static QString identityOf(const HidInterfaceInfo& info);
    /// Lists the interfaces into the search result and opens the one matching the
    /// selection fields; returns its index, −1 on an open failure, else the number listed.
    int Find_And_Open();
    /// Sends one 64-byte piece as an output report: 1 when it is on its way, 0 when not
    /// connected, when the device is not open, or when the previous report has not
    /// completed (which also marks the link not connected).
    uint8_t Hid_Write(const QByteArray& piece);
    /// 1 while connected.
    uint8_t Is_Connected() const;
    /// Closes the device; not connected afterwards.
    void Close_Device();

    /// Replaces the message hook (the R321 link hands the text on; tests record it).
    void setMessageHook(MessageHook hook);
    /// The read thread (signal hidDevReceive).
    readThreadEP1* readThread() const { return m_readThread; }
    /// The write thread (signal hidDevSend).
    writeThreadEP1* writeThread() const { return m_writeThread; }
    /// The interfaces found by the last search, in enumeration order.
    QVector<HidInterfaceInfo> searchResult() const { return m_searchResult; }
    /// Selection fields: the interface Find_And_Open opens.
    uint16_t selectedVendorId() const { return m_selVendorId; }
    uint16_t selectedProductId() const { return m_selProductId; }
    int selectedInterface() const { return m_selInterface; }
    /// Changes with every successful open, so users can tell one connection from the next.
    quint64 connectionId() const { return m_link->generation.load(); }
    /// True while an output report is in flight.
    bool isWriteBusy() const { return m_link->writeBusy.load() != 0; }
    /// Path of the interface the last failed open was for (empty after a good open).
    QString openFailedPath() const { return m_openFailedPath; }
    /// The interface opened last (vendor ID 0 before the first open).
    HidInterfaceInfo connectedInterface() const { return m_connectedInterface; }
    /// Opens `wanted` again once it is listed: the same vendor, product, interface and
    /// identity, never another reader. No message
    /// on failure; emits usbConnect on success. True when connected afterwards.
    bool Reconnect(const HidInterfaceInfo& wanted);

  signals:
    void hidDevRemoved();
    /// The open device went away (a read or write found it gone) and has been closed.
    void linkLost();
    void usbConnect(QString connectInfo);

  private slots:
    void inHidDevRemoved();
    void onWriteWatchdog();

  private:
    int findAndOpen(bool listOnly);
    bool openInterface(const HidInterfaceInfo& info);
    void showMessage(const QString& text);
    void markNotConnected(const char* why);
    void stopThreads();
    void replaceStuckWriter();

    HidBackend* const m_backend;
    MessageHook m_messageHook;

    // Shared with the threads.
    const std::shared_ptr<HidLinkState> m_link;

    // GUI thread only.
    QTimer m_watchdog;
    QVector<HidInterfaceInfo> m_searchResult;
    QString m_openFailedPath;
    HidInterfaceInfo m_connectedInterface;
    uint16_t m_selVendorId = 0;
    uint16_t m_selProductId = 0;
    int m_selInterface = 0;
    QString m_selIdentity; // with two readers of one kind: which of them
    bool m_inUse = false;
    readThreadEP1* m_readThread = nullptr;
    writeThreadEP1* m_writeThread = nullptr;
};
