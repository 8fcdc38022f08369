#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>

/// One HID interface as the system lists it.
struct HidInterfaceInfo {
    QString path; ///< opaque device path, handed back to open()
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t releaseNumber = 0; ///< device version number
    int interfaceNumber = -1;   ///< −1 when unknown
    QString manufacturer;
    QString product;
    QString serial;
};

/// The transport under the R321 link: real hidapi, or the simulated reader in tests and
/// --simulate. One backend object has at most one open device.
///
/// Threading contract: enumerate(), open() and close() come from one controlling thread;
/// read() may run on one reader thread and write() on one writer thread at the same time.
/// close() may be called while a read() or write() is running: it makes them return −1
/// and releases the device only after they have returned (a read returns within its
/// time-out, so close() waits at most that long plus one write).
class HidBackend
{
  public:
    virtual ~HidBackend() = default;

    /// Lists the present HID interfaces in enumeration order.
    virtual QVector<HidInterfaceInfo> enumerate() = 0;
    /// Opens the interface at `path` for reading and writing, closing any device open before.
    virtual bool open(const QString& path) = 0;
    /// True while a device is open and has not failed.
    virtual bool isOpen() const = 0;
    /// Writes one output report of 65 bytes, report ID 0 first; blocks until it is sent.
    /// Returns the number of bytes written, or −1 on error (device gone, not open).
    virtual int write(const QByteArray& report) = 0;
    /// Waits at most `timeoutMs` for one input report and stores its payload (the report ID
    /// of unnumbered reports is not included) in `report`. Returns its size, 0 on time-out,
    /// −1 on error (device gone, not open, closed meanwhile).
    virtual int read(QByteArray* report, int timeoutMs) = 0;
    /// Closes the device (see the threading contract).
    virtual void close() = 0;
    /// True when other processes reach the same devices (the system's HID), so that a
    /// reader held here must be held against them too; a simulated reader is this
    /// process's own.
    virtual bool systemWide() const { return false; }
};
