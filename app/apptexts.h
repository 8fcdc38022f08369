#pragma once

#include "engine/enginetexts.h"

// Texts of the window's own status parts and of the two dialogs, both languages side by
// side. The dialog titles begin with three spaces so that they sit clear of the dialog's
// left edge.
namespace apptext
{

inline constexpr BiText ConnectionTitle{"   连接配置", "   Reader Configuration"};
inline constexpr BiText ReaderBrand{"选择NFC阅读器", "Reader Brand"};
inline constexpr BiText ConnectOk{"确定", "OK"};
inline constexpr BiText VerifyAfterWrite{"写入后回读校验", "Verify after write"};
inline constexpr BiText FastBatch{"快速批量", "Fast batch"};
inline constexpr BiText FastBatchTip{
    "自动写入按阅读器的速度进行，只写入与配置不同的块，然后回读校验全部块",
    "Auto write at the reader's pace: only the blocks that differ are written, then every "
    "block is read back"};
inline constexpr BiText SelectDevice{"请选择USB设备", "Please selcet usb device"};

inline constexpr BiText AboutTitle{"   关于我们", "   About Us"};
inline constexpr BiText AboutConfiguration{"驱动程序配置", "Software Configuration"};
inline constexpr BiText AboutVersion{"版本 1.1.2", "Software Version"};
inline constexpr BiText AboutCompany{"NFC驱动配置，支持ST25DV", "Support ST25DV"};
inline constexpr BiText AboutRecords{"生产记录：", "Production records:"};
inline constexpr BiText BatchCounts{"本批：已写入 %1，失败 %2，其他机型 %3",
                                    "Batch: %1 written, %2 failed, %3 other model"};
inline constexpr BiText FastBatchCounts{"快速批量：已写入 %1，失败 %2，其他机型 %3",
                                        "Fast batch: %1 written, %2 failed, %3 other model"};
inline constexpr BiText BatchPaceDescribed{"每 300 ms 扫描一次", "A pass every 300 ms"};
// The last driver auto write handled: %1 the end of its UID, %2 its result.
inline constexpr BiText LastDriver{"上一个 %1：%2", "Last %1: %2"};
inline constexpr BiText LastWritten{"已写入", "written"};
inline constexpr BiText LastWriteFailed{"写入失败", "write failure"};
inline constexpr BiText LastNoTag{"没有标签响应", "no tag response"};
inline constexpr BiText LastVerifyFailed{"写入校验失败", "verify failed"};
inline constexpr BiText LastOtherModel{"机型号不一致", "other model"};
inline constexpr BiText LastReaderLost{"阅读器断开", "reader lost"};
// Actions refused because the window holds nothing to write yet.
inline constexpr BiText ReadDriverFirst{"请先读取驱动，再写入",
                                        "Read the driver first, then write"};
inline constexpr BiText AutoScanNeedsConfiguration{
    "自动扫描前请先读取驱动或打开配置文件",
    "Read a driver or open a configuration file before Auto Scan"};
inline constexpr BiText RecordProblem{"生产记录无法写入：%1", "Production record not written: %1"};
inline constexpr BiText LastRecordedWrite{
    "上次记录的写入：%1，工位 %2，模板 %3，结果 %4，校验 %5",
    "Last recorded write: %1, station %2, template %3, result %4, verified %5"};
inline constexpr BiText VerifiedYes{"通过", "yes"};
inline constexpr BiText VerifiedNo{"未通过", "no"};
inline constexpr BiText VerifiedOff{"关闭", "off"};
inline constexpr BiText QuitCaption{"退出", "Quit"};
inline constexpr BiText QuitDuringOperation{
    "正在写入驱动。仍要退出吗？\n程序最多再等待一秒让写入结束；未完成的写入将在生产记录中记为“Inter"
    "rupted”。",
    "A driver is being programmed. Quit anyway?\nVantory waits up to a second for the write "
    "to end; a write that does not end is recorded as \"Interrupted\"."};
// Read File or a dropped file while the reader is busy with a tag.
inline constexpr BiText OpenRefusedBusy{
    "正在读写标签，配置文件未打开。请在操作结束后再打开。",
    "A tag operation is running: the configuration file was not opened. Open it when the "
    "operation has ended."};
// The configuration line: what Write and Auto Scan would program.
inline constexpr BiText ConfigCaption{"待写入配置：", "To be programmed:"};
inline constexpr BiText ConfigNothing{"尚无配置：请先读取驱动或打开配置文件",
                                      "Nothing yet: read a driver or open a configuration file"};
inline constexpr BiText ConfigFromDriver{"读自驱动 %1", "read from driver %1"};
inline constexpr BiText ConfigFromFile{"文件 %1", "file %1"};
inline constexpr BiText ConfigNoModel{"无机型名", "no model name"};
inline constexpr BiText ConfigLayout2{"布局 2", "layout 2"};
inline constexpr BiText ConfigLegacyLayout{"旧布局", "legacy layout"};
inline constexpr BiText ConfigEdited{"已修改", "edited"};
// The tag kind: %1 is empty, or a note on how it was chosen in the brackets' style.
inline constexpr BiText ConfigKindP{"标签 P%1", "tag P%1"};
inline constexpr BiText ConfigKindPwm{"标签 8（PWM%1）", "tag 8 (PWM%1)"};
inline constexpr BiText ConfigKindLastDriver{"取自上次读取的驱动：文件未标明",
                                             "taken from the driver read last: the file does "
                                             "not tell"};
inline constexpr BiText ConfigKindAssumed{"推定：文件未标明", "assumed: the file does not tell"};

// A typed number outside a box's range: %1 the box, %2 the number, %3-%4 the range, %5 the
// limit it was held at.
inline constexpr BiText HeldAtLimit{"%1：%2 超出 %3-%4，已设为 %5",
                                    "%1: %2 is outside %3-%4; held at %5"};
inline constexpr BiText WarmestBox{"最暖色温（K）", "Warmest (K)"};
inline constexpr BiText CoolestBox{"最冷色温（K）", "Coolest (K)"};
// An action while a number is still being typed somewhere: %1 names the box.
inline constexpr BiText EditPending{
    "%1 中输入的值尚未生效：按回车键应用或按 Esc 键放弃，然后再试。",
    "The value typed in %1 is not applied yet: press Enter to apply it or Esc to drop it, "
    "then try again."};
// An action while a tag operation runs: %1 names the action.
inline constexpr BiText BusyRefused{"正在读写标签：请在操作结束后再试%1。",
                                    "A tag operation is running: try %1 again when it has "
                                    "ended."};
inline constexpr BiText ActionRead{"读取", "Read"};
inline constexpr BiText ActionWrite{"写入", "Write"};
inline constexpr BiText ActionAutoScan{"自动扫描", "Auto Scan"};
inline constexpr BiText ActionLanguage{"切换语言", "Language"};
inline constexpr BiText ActionReaderConfig{"连接配置", "Reader Configuration"};
inline constexpr BiText ReaderKeptDuringBatch{"自动扫描进行中，阅读器未更改。请先停止自动扫描。",
                                              "Auto Scan is on: the reader was not changed. Stop "
                                              "Auto Scan first."};
inline constexpr BiText ReaderInUse{"阅读器 %1 正被其他程序使用。",
                                    "The reader %1 is in use by another program."};
// The station: one batch per reader.
inline constexpr BiText StationTitle{"多阅读器工位", "Station"};
inline constexpr BiText StationTemplate{"模板：%1（每个阅读器写入相同配置）",
                                        "Template: %1 (every reader programs the same)"};
inline constexpr BiText StationNoTemplate{"请先读取驱动器或打开配置档案。",
                                          "Read a driver or open a configuration file first."};
inline constexpr BiText StationReader{"阅读器", "Reader"};
inline constexpr BiText StationWritten{"已写入", "Written"};
inline constexpr BiText StationRefused{"已拒绝", "Refused"};
inline constexpr BiText StationFailed{"失败", "Failed"};
inline constexpr BiText StationLastUid{"最后的UID", "Last UID"};
inline constexpr BiText StationResult{"结果", "Result"};
inline constexpr BiText StationStart{"全部开始", "Start all"};
inline constexpr BiText StationStop{"全部停止", "Stop all"};
inline constexpr BiText StationNotOpened{"无法打开（不存在或被其他程序使用）",
                                         "Not opened (away or in use by another program)"};
inline constexpr BiText StationReaderAway{"阅读器已断开，等待重新连接", "Reader away, waiting for it"};
inline constexpr BiText StationLastWritten{"写入成功", "Written"};
inline constexpr BiText StationLastFailed{"失败", "Failed"};
inline constexpr BiText StationWaiting{"等待驱动器", "Waiting for a driver"};
inline constexpr BiText LastOtherKind{"标签类型不同", "other tag kind"};

inline constexpr BiText AboutRights{"版权所有 © 保留所有权利", "Copyright © All rights reserved"};

} // namespace apptext
