#pragma once

#include <cstdint>

/// The result tips of the status bar's right label. The values are the tip numbers the
/// status bar repeats (LiveUpdate_StatusBar) and the fuzz corpus keeps.
enum class ResultTip : uint8_t {
    None = 0,
    NoDevice = 1,
    DeviceDifferent = 2,
    ReadSucceed = 3,
    ReadFailed = 4,
    WriteSucceed = 5,
    WriteFailed = 6,
    GetUidSucceed = 7,
    NoIso15693 = 8,
    NoLabel = 9,
    OpenScan = 10,
    VerifyFailed = 11,
};
