#pragma once

#include "model/tagimage.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The configuration file: the raw 512-byte tag image, no header. File I/O and dialogs
// belong to the window; these are the byte rules.
namespace configfile
{

constexpr int FileSize = TagImage::Size;

/// Filter of the open and save dialogs.
QString fileFilter();

/// Proposed save name: model + "(" + "yyyy-MM-dd,hh-mm-ss" + ")", every "/" made "-".
QString proposedFileName(const QString& modelText, const QDateTime& time);

/// The chosen save path with ".bin" appended unless it already ends in ".bin" (any case),
/// whatever other dots it holds.
QString withBinSuffix(const QString& path);

/// Why a file is not taken. Each check is one that no tag image of this program fails:
/// every saved configuration has the layout code 2 or 3 (an image of another code saved
/// nothing), at most three channels in the legacy layout, and its model name as text.
enum class LoadError {
    None,
    TooShort,      ///< fewer than 512 bytes
    UnknownLayout, ///< byte 183 is neither 2 nor 3
    ChannelCount,  ///< legacy layout with more than three channels in byte 89
    ModelNotText,  ///< the model name holds a byte that is no printable character
};

struct LoadResult {
    LoadError error = LoadError::None;
    int value = 0;         ///< the layout code or channel count refused
    bool repaired = false; ///< constant-lumen times were repaired (show the notice)
    bool ok() const { return error == LoadError::None; }
};

/// The checks alone: whether the bytes can be a configuration file of this program.
LoadResult checkConfig(const QByteArray& fileBytes);
/// Why a file failed the checks other than its size, as the end of a sentence ("the layout
/// code 0 is not known").
QString refusalReason(const LoadResult& result, bool chinese);

/// Loads a file into both copies: product area into both, drive area into image_v2,
/// constant-lumen times repaired for layout 2 with driver type 6 or 8, then the drive
/// area copied to image_legacy. Bytes after 511 are ignored; a file that fails the checks
/// is refused and the image is left unchanged. The caller then runs updateBankBuff and
/// refreshes the panels.
LoadResult loadConfig(const QByteArray& fileBytes, TagImage& image);

/// The tag kind a configuration's own bytes tell, or 0 when they tell neither. A PWM tag
/// ('8') keeps its control block 248 at image bytes 248-251: a period (neither 0 nor
/// 0xFFFF) and a pulse, without its enable bit, no longer than the period. On a 512-byte
/// tag ('P') those bytes are block 62, which the program never gives a meaning and the
/// drivers leave empty: four zero bytes.
uint8_t kindFromContent(const QByteArray& fileBytes);

/// The 512 bytes to save: image_v2 for layout code 2, image_legacy for any other value.
QByteArray saveBytes(const TagImage& image);

} // namespace configfile
