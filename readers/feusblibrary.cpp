#include "readers/feusblibrary.h"

#include "readers/myfeigusb.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <type_traits>

FeusbLibrary::FeusbLibrary(const QString& libraryName) : m_library(libraryName) {}

// The library stays mapped until the process ends: FEUSB may keep its own threads.
FeusbLibrary::~FeusbLibrary() = default;

template <typename Fn> bool FeusbLibrary::resolve(const char* symbol, Fn& target)
{
    static_assert(std::is_pointer_v<Fn> && std::is_function_v<std::remove_pointer_t<Fn>>,
                  "FEUSB entries are resolved as function pointers only");
    const QFunctionPointer address = m_library.resolve(symbol);
    if (!address) {
        m_error = QStringLiteral("symbol %1 missing in %2")
                      .arg(QLatin1String(symbol), m_library.fileName());
        target = nullptr;
        return false;
    }
    // The one place where a resolved address becomes a typed entry; Fn matches FEIG's
    // published prototype for this symbol.
    target = reinterpret_cast<Fn>(address);
    return true;
}

bool FeusbLibrary::ensureLoaded()
{
    if (m_loaded)
        return true;
    const QString before = m_error;
    QString loadError;
    if (!loadLibrary(&loadError)) {
        m_error = loadError;
        // Every request retries the load; say why only when the reason changes.
        if (m_error != before)
            qCWarning(lcFeig) << "FEUSB library not loaded:" << m_error;
        return false;
    }
    Entries found;
    const bool all = resolve("FEUSB_ScanAndOpen", found.scanAndOpen) &&
                     resolve("FEUSB_SetDevicePara", found.setDevicePara) &&
                     resolve("FEUSB_Transceive", found.transceive) &&
                     resolve("FEUSB_CloseDevice", found.closeDevice);
    if (!all) {
        if (m_error != before)
            qCWarning(lcFeig) << "FEUSB library unusable:" << m_error;
        m_library.unload();
        return false;
    }
    const QString required = m_error;
    if (!(resolve("FEUSB_Scan", found.scan) && resolve("FEUSB_GetScanListSize", found.scanListSize) &&
          resolve("FEUSB_GetScanListPara", found.scanListPara) &&
          resolve("FEUSB_OpenDevice", found.openDevice))) {
        qCDebug(lcFeig) << "FEUSB without a scan list:" << m_error;
        found.scan = nullptr;
        found.scanListSize = nullptr;
        found.scanListPara = nullptr;
        found.openDevice = nullptr;
    }
    m_error = required;
    m_entries = found;
    m_loaded = true;
    m_error.clear();
    qCDebug(lcFeig) << "FEUSB library loaded from" << m_library.fileName();
    return true;
}

bool FeusbLibrary::loadLibrary(QString* error)
{
    if (m_library.load())
        return true;
    *error = m_library.errorString();
    // Technicians drop FEIG's library next to the program; the system loader does not
    // look there on Linux, so try that folder before giving up.
    const QString name = m_library.fileName();
    if (QFileInfo(name).isAbsolute() || !QCoreApplication::instance())
        return false;
    m_library.setFileName(QDir(QCoreApplication::applicationDirPath()).filePath(name));
    if (m_library.load())
        return true;
    qCDebug(lcFeig) << "FEUSB not next to the program either:" << m_library.errorString();
    m_library.setFileName(name);
    return false;
}

FeusbLibrary::Entries FeusbLibrary::entries()
{
    QMutexLocker lock(&m_mutex);
    ensureLoaded();
    return m_entries;
}

bool FeusbLibrary::available()
{
    QMutexLocker lock(&m_mutex);
    return ensureLoaded();
}

QString FeusbLibrary::errorString() const
{
    QMutexLocker lock(&m_mutex);
    return m_error;
}

int FeusbLibrary::checked(const char* call, int result)
{
    if (result < 0)
        qCWarning(lcFeig).noquote() << call << "failed:" << errorText(result);
    return result;
}

int FeusbLibrary::ScanAndOpen(int iScanOpt, void* pSearchOpt)
{
    const Entries e = entries();
    if (!e.scanAndOpen)
        return kNotLoaded;
    return checked("FEUSB_ScanAndOpen", e.scanAndOpen(iScanOpt, pSearchOpt));
}

int FeusbLibrary::SetDevicePara(int iDevHnd, char* cPara, char* cValue)
{
    const Entries e = entries();
    if (!e.setDevicePara)
        return kNotLoaded;
    return checked("FEUSB_SetDevicePara", e.setDevicePara(iDevHnd, cPara, cValue));
}

int FeusbLibrary::Transceive(int iDevHnd, char* cInterface, int iDir, unsigned char* cSendData,
                             int iSendLen, unsigned char* cRecData, int iRecLen)
{
    const Entries e = entries();
    if (!e.transceive)
        return kNotLoaded;
    return checked("FEUSB_Transceive",
                   e.transceive(iDevHnd, cInterface, iDir, cSendData, iSendLen, cRecData, iRecLen));
}

int FeusbLibrary::CloseDevice(int iDevHnd)
{
    const Entries e = entries();
    if (!e.closeDevice)
        return kNotLoaded;
    return checked("FEUSB_CloseDevice", e.closeDevice(iDevHnd));
}

int FeusbLibrary::Scan(int iScanOpt, void* pSearchOpt)
{
    const Entries e = entries();
    if (!e.scan)
        return kNotLoaded;
    return checked("FEUSB_Scan", e.scan(iScanOpt, pSearchOpt));
}

int FeusbLibrary::GetScanListSize()
{
    const Entries e = entries();
    return e.scanListSize ? e.scanListSize() : 0;
}

int FeusbLibrary::GetScanListPara(int iIndex, char* cPara, char* cValue)
{
    const Entries e = entries();
    if (!e.scanListPara)
        return kNotLoaded;
    return checked("FEUSB_GetScanListPara", e.scanListPara(iIndex, cPara, cValue));
}

int FeusbLibrary::OpenDevice(long dwDeviceID)
{
    const Entries e = entries();
    if (!e.openDevice)
        return kNotLoaded;
    return checked("FEUSB_OpenDevice", e.openDevice(dwDeviceID));
}

QString FeusbLibrary::errorText(int code)
{
    if (code >= 0)
        return QStringLiteral("no error (%1)").arg(code);
    if (code == kNotLoaded)
        return QStringLiteral("FEUSB library not loaded");
    // FEIG documents the individual codes; we only know the range they come from.
    if (code <= -1100 && code >= -1180)
        return QStringLiteral("FEUSB error %1 (reported by the FEIG USB library)").arg(code);
    return QStringLiteral("unexpected FEUSB result %1").arg(code);
}
