#pragma once

#include "engine/enginetexts.h"

// Texts of the two dialogs, both languages side by side. The titles begin with
// three spaces so that they sit clear of the dialog's left edge.
namespace apptext
{

inline constexpr BiText ConnectionTitle{"   连接配置", "   Reader Configuration"};
inline constexpr BiText ReaderBrand{"选择NFC阅读器", "Reader Brand"};
inline constexpr BiText ConnectOk{"确定", "OK"};
inline constexpr BiText SelectDevice{"请选择USB设备", "Please selcet usb device"};

inline constexpr BiText AboutTitle{"   关于我们", "   About Us"};
inline constexpr BiText AboutConfiguration{"驱动程序配置", "Software Configuration"};
inline constexpr BiText AboutVersion{"版本 1.1.2", "Software Version"};
inline constexpr BiText AboutCompany{"NFC驱动配置，支持ST25DV", "Support ST25DV"};
inline constexpr BiText AboutRecords{"生产记录：", "Production records:"};
inline constexpr BiText BatchCounts{"本批：已写入 %1，失败 %2，其他机型 %3",
                                    "Batch: %1 written, %2 failed, %3 other model"};
inline constexpr BiText RecordProblem{"生产记录无法写入：%1", "Production record not written: %1"};
// Read File or a dropped file while the reader is busy with a tag.
inline constexpr BiText OpenRefusedBusy{
    "正在读写标签，配置文件未打开。请在操作结束后再打开。",
    "A tag operation is running: the configuration file was not opened. Open it when the "
    "operation has ended."};
inline constexpr BiText AboutRights{"版权所有 © 保留所有权利", "Copyright © All rights reserved"};

} // namespace apptext
