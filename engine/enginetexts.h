#pragma once

#include <QString>

/// One user-visible text in both languages, kept side by side.
struct BiText {
    const char* cn;
    const char* en;
    /// The Chinese text when `chinese` is set, otherwise the English one.
    QString pick(bool chinese) const { return QString::fromUtf8(chinese ? cn : en); }
};

// Texts of the tag command engine.
namespace enginetext
{

inline constexpr BiText ReaderWarningCaption{"警告！", "Warning！"};
inline constexpr BiText ReaderNotConnected{
    "阅读器未连接，请连接阅读器！", "The reader is not connected, please connect the reader!"};
inline constexpr BiText WarningCaption{"警告！", "Warning!"};
inline constexpr BiText ModelsInconsistent{"机型不一致，写入失败",
                                           "The models are inconsistent. Write failed"};

// A configuration of the other layout than the driver read: %1 the configuration's
// layout, %2 the driver's, each one of the layout names below.
inline constexpr BiText OtherLayout{"配置为%1，驱动器为%2，未写入任何数据。",
                                    "The configuration is for %1, but the driver uses %2. "
                                    "Nothing was written."};
inline constexpr BiText Layout2{"布局 2", "layout 2"};
// %1 is the layout code.
inline constexpr BiText LegacyLayout{"旧布局（代码 %1）", "the legacy layout (code %1)"};

// A configuration of the other tag kind than the driver's: %1 the configuration's kind,
// %2 the driver's, each one of the kind names below.
inline constexpr BiText OtherKind{"配置为 %1，驱动器为 %2，未写入任何数据。",
                                  "The configuration is for %1, but the driver has %2. "
                                  "Nothing was written."};
inline constexpr BiText KindP{"P 型标签（512 字节）", "a P tag (512 bytes)"};
inline constexpr BiText KindPwm{"8 型标签（PWM）", "an 8 tag (PWM)"};

} // namespace enginetext
