// A stand-in for FEIG's FEUSB library (libfeusb.so) with its four entry points, found by
// the program's own search as the real one is. Behind it: a simulated FEIG reader whose
// tags come from files (standinfield.h, VANTORY_STANDIN_FEIG_TAGS).
#include "readers/sim/simfeig.h"
#include "standinfield.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{

struct Reader {
    StandinField field{"VANTORY_STANDIN_FEIG_TAGS"};
    SimFeig feig{field.field()};
};

// Made on first use and never destroyed: FEUSB may be called while the program exits.
Reader& reader()
{
    static Reader* r = new Reader;
    return *r;
}

} // namespace

STANDIN_EXPORT int FEUSB_ScanAndOpen(int iScanOpt, void* pSearchOpt)
{
    return reader().feig.ScanAndOpen(iScanOpt, pSearchOpt);
}

STANDIN_EXPORT int FEUSB_SetDevicePara(int iDevHnd, char* cPara, char* cValue)
{
    return reader().feig.SetDevicePara(iDevHnd, cPara, cValue);
}

STANDIN_EXPORT int FEUSB_Transceive(int iDevHnd, char* cInterface, int iDir,
                                    unsigned char* cSendData, int iSendLen, unsigned char* cRecData,
                                    int iRecLen)
{
    Reader& r = reader();
    r.field.beforeRequest();
    const int n =
        r.feig.Transceive(iDevHnd, cInterface, iDir, cSendData, iSendLen, cRecData, iRecLen);
    r.field.afterRequest(r.feig.outputOn());
    return n;
}

STANDIN_EXPORT int FEUSB_CloseDevice(int iDevHnd)
{
    return reader().feig.CloseDevice(iDevHnd);
}
