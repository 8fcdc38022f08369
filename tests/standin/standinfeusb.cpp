// A stand-in for FEIG's FEUSB library (libfeusb.so) with its entry points, found by the
// program's own search as the real one is. Behind it: two simulated FEIG readers with
// their own device IDs, whose tags come from files (standinfield.h):
// VANTORY_STANDIN_FEIG_TAGS for the first, ..._TAGS_2 for the second.
#include "readers/sim/simfeig.h"
#include "standinfield.h"

#include <QMutex>
#include <QVector>
#include <cstring>

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{

struct Reader {
    Reader(const char* variable, const char* deviceId, int handleBase)
        : field(variable, SimReaderKind::Feig), feig(field.field(), handleBase)
    {
        feig.setDeviceId(QString::fromLatin1(deviceId));
    }
    StandinField field;
    SimFeig feig;
};

struct Readers {
    Reader first{"VANTORY_STANDIN_FEIG_TAGS", "0A1B2C01", SimFeig::HandleBase};
    Reader second{"VANTORY_STANDIN_FEIG_TAGS_2", "0A1B2C02", SimFeig::HandleBase + 0x100000};
    QMutex mutex;
    QVector<Reader*> scanList; // as the last scan found them
};

// Made on first use and never destroyed: FEUSB may be called while the program exits.
Readers& readers()
{
    static Readers* r = new Readers;
    return *r;
}

Reader* owner(int handle)
{
    Readers& r = readers();
    for (Reader* reader : {&r.first, &r.second})
        if (reader->feig.ownsHandle(handle))
            return reader;
    return nullptr;
}

} // namespace

STANDIN_EXPORT int FEUSB_ScanAndOpen(int iScanOpt, void* pSearchOpt)
{
    Reader& first = readers().first;
    first.field.followPlug();
    return first.feig.ScanAndOpen(iScanOpt, pSearchOpt);
}

STANDIN_EXPORT int FEUSB_Scan(int iScanOpt, void* pSearchOpt)
{
    Readers& r = readers();
    QMutexLocker lock(&r.mutex);
    r.scanList.clear();
    for (Reader* reader : {&r.first, &r.second}) {
        reader->field.followPlug();
        reader->feig.Scan(iScanOpt, pSearchOpt);
        if (reader->feig.GetScanListSize() > 0)
            r.scanList << reader;
    }
    return 0;
}

STANDIN_EXPORT int FEUSB_GetScanListSize()
{
    Readers& r = readers();
    QMutexLocker lock(&r.mutex);
    return r.scanList.size();
}

STANDIN_EXPORT int FEUSB_GetScanListPara(int iIndex, char* cPara, char* cValue)
{
    Readers& r = readers();
    QMutexLocker lock(&r.mutex);
    if (iIndex < 0 || iIndex >= r.scanList.size())
        return SimFeig::ErrParameter;
    return r.scanList.at(iIndex)->feig.GetScanListPara(0, cPara, cValue);
}

STANDIN_EXPORT int FEUSB_OpenDevice(long dwDeviceID)
{
    Readers& r = readers();
    for (Reader* reader : {&r.first, &r.second}) {
        reader->field.followPlug();
        const int handle = reader->feig.OpenDevice(dwDeviceID);
        if (handle != SimFeig::ErrNoReader ||
            reader->feig.deviceId().toULongLong(nullptr, 16) == qulonglong(dwDeviceID))
            return handle;
    }
    return SimFeig::ErrNoReader;
}

STANDIN_EXPORT int FEUSB_SetDevicePara(int iDevHnd, char* cPara, char* cValue)
{
    Reader* r = owner(iDevHnd);
    return r ? r->feig.SetDevicePara(iDevHnd, cPara, cValue) : SimFeig::ErrBadHandle;
}

STANDIN_EXPORT int FEUSB_Transceive(int iDevHnd, char* cInterface, int iDir,
                                    unsigned char* cSendData, int iSendLen, unsigned char* cRecData,
                                    int iRecLen)
{
    Reader* r = owner(iDevHnd);
    if (!r)
        return SimFeig::ErrBadHandle;
    r->field.beforeRequest();
    const int n =
        r->feig.Transceive(iDevHnd, cInterface, iDir, cSendData, iSendLen, cRecData, iRecLen);
    r->field.afterRequest(r->feig.outputOn());
    return n;
}

STANDIN_EXPORT int FEUSB_CloseDevice(int iDevHnd)
{
    Reader* r = owner(iDevHnd);
    return r ? r->feig.CloseDevice(iDevHnd) : SimFeig::ErrBadHandle;
}
