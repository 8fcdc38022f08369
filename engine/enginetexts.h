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

} // namespace enginetext
