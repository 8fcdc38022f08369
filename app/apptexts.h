#pragma once

#include "engine/enginetexts.h"

// Texts of the two dialogs, both languages side by side. The titles begin with
// three spaces so that they sit clear of the dialog's left edge.
namespace apptext
{

inline constexpr BiText ConnectionTitle{"   连接配置", "   Reader Configuration"};
inline constexpr BiText ReaderBrand{"选择NFC阅读器", "Reader Brand"};
inline constexpr BiText ConnectOk{"确定", "OK"};
inline constexpr BiText VerifyAfterWrite{"写入后回读校验", "Verify after write"};
inline constexpr BiText SelectDevice{"请选择USB设备", "Please selcet usb device"};

inline constexpr BiText AboutTitle{"   关于我们", "   About Us"};
inline constexpr BiText AboutConfiguration{"驱动程序配置", "Software Configuration"};
inline constexpr BiText AboutVersion{"版本 1.1.2", "Software Version"};
inline constexpr BiText AboutCompany{"NFC驱动配置，支持ST25DV", "Support ST25DV"};
inline constexpr BiText AboutRecords{"生产记录：", "Production records:"};
inline constexpr BiText BatchCounts{"本批：已写入 %1，失败 %2，其他机型 %3",
                                    "Batch: %1 written, %2 failed, %3 other model"};
inline constexpr BiText RecordProblem{"生产记录无法写入：%1", "Production record not written: %1"};
inline constexpr BiText QuitCaption{"退出", "Quit"};
inline constexpr BiText QuitDuringOperation{
    "正在写入驱动。仍要退出吗？\n程序最多再等待一秒让写入结束；未完成的写入将在生产记录中记为“Inter"
    "rupted”。",
    "A driver is being programmed. Quit anyway?\nVantory waits up to a second for the write "
    "to end; a write that does not end is recorded as \"Interrupted\"."};
inline constexpr BiText AboutRights{"版权所有 © 保留所有权利", "Copyright © All rights reserved"};

} // namespace apptext
