#pragma once

#include "readers/feusbapi.h"

#include <QLibrary>
#include <QMutex>
#include <QString>

#if defined(_WIN32) && !defined(_WIN64)
#define VANTORY_FEUSB_CALL __stdcall
#else
#define VANTORY_FEUSB_CALL
#endif

/// FeusbApi over FEIG's FEUSB library, loaded at run time with QLibrary ("feusb":
/// libfeusb.so, feusb.dll). A missing library or symbol means "no reader": every call
/// then fails with kNotLoaded instead of crashing.
class FeusbLibrary : public FeusbApi
{
  public:
    /// Our own result when the library or one of its symbols is missing (outside FEUSB's range).
    static constexpr int kNotLoaded = -1;

    explicit FeusbLibrary(const QString& libraryName = QStringLiteral("feusb"));
    ~FeusbLibrary() override;

    FeusbLibrary(const FeusbLibrary&) = delete;
    FeusbLibrary& operator=(const FeusbLibrary&) = delete;

    /// Loads the library on first use (and retries later if it was missing).
    bool available() override;
    int ScanAndOpen(int iScanOpt, void* pSearchOpt) override;
    int SetDevicePara(int iDevHnd, char* cPara, char* cValue) override;
    int Transceive(int iDevHnd, char* cInterface, int iDir, unsigned char* cSendData, int iSendLen,
                   unsigned char* cRecData, int iRecLen) override;
    int CloseDevice(int iDevHnd) override;
    int Scan(int iScanOpt, void* pSearchOpt) override;
    int GetScanListSize() override;
    int GetScanListPara(int iIndex, char* cPara, char* cValue) override;
    int OpenDevice(long dwDeviceID) override;
    bool systemWide() const override { return true; }

    /// Why the last load failed; empty once loaded.
    QString errorString() const;

    /// Words for a negative FEUSB result, for the log.
    static QString errorText(int code);

  private:
    using ScanAndOpenFn = int(VANTORY_FEUSB_CALL*)(int, void*);
    using SetDeviceParaFn = int(VANTORY_FEUSB_CALL*)(int, char*, char*);
    using TransceiveFn = int(VANTORY_FEUSB_CALL*)(int, char*, int, unsigned char*, int,
                                                  unsigned char*, int);
    using CloseDeviceFn = int(VANTORY_FEUSB_CALL*)(int);
    using ScanFn = int(VANTORY_FEUSB_CALL*)(int, void*);
    using ScanListSizeFn = int(VANTORY_FEUSB_CALL*)();
    using ScanListParaFn = int(VANTORY_FEUSB_CALL*)(int, char*, char*);
    using OpenDeviceFn = int(VANTORY_FEUSB_CALL*)(long);

    struct Entries {
        ScanAndOpenFn scanAndOpen = nullptr;
        SetDeviceParaFn setDevicePara = nullptr;
        TransceiveFn transceive = nullptr;
        CloseDeviceFn closeDevice = nullptr;
        // The scan list: optional, a library without it reaches the first reader only.
        ScanFn scan = nullptr;
        ScanListSizeFn scanListSize = nullptr;
        ScanListParaFn scanListPara = nullptr;
        OpenDeviceFn openDevice = nullptr;
    };

    template <typename Fn> bool resolve(const char* symbol, Fn& target);
    bool ensureLoaded();
    // Loads by name through the system's search path, then from the program's folder.
    bool loadLibrary(QString* error);
    Entries entries();
    static int checked(const char* call, int result);

    mutable QMutex m_mutex;
    QLibrary m_library;
    Entries m_entries;
    bool m_loaded = false;
    QString m_error;
};
