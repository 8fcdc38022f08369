#pragma once

/// The four FEIG USB library calls the FEIG link uses, behind one seam so that the
/// run-time loaded library and the simulated reader are interchangeable.
/// Results follow FEUSB: handles are positive, errors negative (FEUSB's own codes are
/// -1100 to -1180). Implementations must allow calls from the FEIG worker thread.
class FeusbApi
{
  public:
    virtual ~FeusbApi() = default;

    /// False when the calls cannot reach any reader backend at all (library missing).
    virtual bool available() = 0;

    /// Finds a reader and opens it; a positive handle, or a negative error.
    virtual int ScanAndOpen(int iScanOpt, void* pSearchOpt) = 0;
    /// Sets a device parameter such as "TIMEOUT".
    virtual int SetDevicePara(int iDevHnd, char* cPara, char* cValue) = 0;
    /// Sends `iSendLen` bytes and receives at most `iRecLen`; returns the received count,
    /// 0 for nothing or a negative error.
    virtual int Transceive(int iDevHnd, char* cInterface, int iDir, unsigned char* cSendData,
                           int iSendLen, unsigned char* cRecData, int iRecLen) = 0;
    /// Closes a handle returned by ScanAndOpen.
    virtual int CloseDevice(int iDevHnd) = 0;

    // The scan list, which tells several readers apart by their device ID. A library
    // without it answers with an error, and then only the first reader can be reached.
    /// Lists the readers present into the scan list; not negative on success.
    virtual int Scan(int iScanOpt, void* pSearchOpt)
    {
        (void)iScanOpt;
        (void)pSearchOpt;
        return -1;
    }
    /// Entries of the scan list.
    virtual int GetScanListSize() { return 0; }
    /// One parameter ("Device-ID": hexadecimal digits) of scan list entry `iIndex`.
    virtual int GetScanListPara(int iIndex, char* cPara, char* cValue)
    {
        (void)iIndex;
        (void)cPara;
        (void)cValue;
        return -1;
    }
    /// Opens the reader with that device ID; a positive handle, or a negative error.
    virtual int OpenDevice(long dwDeviceID)
    {
        (void)dwDeviceID;
        return -1;
    }
    /// True when other processes reach the same readers (see HidBackend::systemWide).
    virtual bool systemWide() const { return false; }
};
