// A stand-in for FEIG's FEUSB library with the four published entry points, loaded by
// the tests through FeusbLibrary exactly as the real library would be.
#include <cstring>

#if defined(_WIN32)
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif
#if defined(_WIN32) && !defined(_WIN64)
#define FAKE_CALL __stdcall
#else
#define FAKE_CALL
#endif

namespace
{
constexpr int kHandle = 0x10000007;
int g_timeout = 0;
} // namespace

FAKE_EXPORT int FAKE_CALL FEUSB_ScanAndOpen(int iScanOpt, void* pSearchOpt)
{
    return (iScanOpt == 1 && pSearchOpt == nullptr) ? kHandle : -1101;
}

FAKE_EXPORT int FAKE_CALL FEUSB_SetDevicePara(int iDevHnd, char* cPara, char* cValue)
{
    if (iDevHnd != kHandle || std::strcmp(cPara, "TIMEOUT") != 0)
        return -1120;
    g_timeout = 0;
    for (const char* p = cValue; *p >= '0' && *p <= '9'; ++p)
        g_timeout = g_timeout * 10 + (*p - '0');
    return 0;
}

// Answers 02 00 0A 00 <command> 00 <timeout high> <timeout low> and two bytes that
// echo the request length, so the test sees every argument arrive intact.
FAKE_EXPORT int FAKE_CALL FEUSB_Transceive(int iDevHnd, char* cInterface, int iDir,
                                           unsigned char* cSendData, int iSendLen,
                                           unsigned char* cRecData, int iRecLen)
{
    if (iDevHnd != kHandle || std::strcmp(cInterface, "OBID-RCI2") != 0 || iDir != 0)
        return -1110;
    if (iSendLen < 5 || iRecLen < 10)
        return -1130;
    const unsigned char reply[10] = {0x02,
                                     0x00,
                                     0x0A,
                                     0x00,
                                     cSendData[4],
                                     0x00,
                                     static_cast<unsigned char>(g_timeout >> 8),
                                     static_cast<unsigned char>(g_timeout & 0xFF),
                                     static_cast<unsigned char>(iSendLen >> 8),
                                     static_cast<unsigned char>(iSendLen & 0xFF)};
    std::memcpy(cRecData, reply, sizeof reply);
    return sizeof reply;
}

#ifndef FAKE_FEUSB_WITHOUT_CLOSE
FAKE_EXPORT int FAKE_CALL FEUSB_CloseDevice(int iDevHnd)
{
    return iDevHnd == kHandle ? 0 : -1102;
}
#endif
