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

enum class LoadError {
    None,
    TooShort, ///< fewer than 512 bytes: nothing was loaded
};

struct LoadResult {
    LoadError error = LoadError::None;
    bool repaired = false; ///< constant-lumen times were repaired (show the notice)
    bool ok() const { return error == LoadError::None; }
};

/// Loads a file into both copies: product area into both, drive area into image_v2,
/// constant-lumen times repaired for layout 2 with driver type 6 or 8, then the drive
/// area copied to image_legacy. Bytes after 511 are ignored; a file shorter than 512
/// bytes is refused and the image is left unchanged. The caller then runs
/// updateBankBuff and refreshes the panels.
LoadResult loadConfig(const QByteArray& fileBytes, TagImage& image);

/// The 512 bytes to save: image_v2 for layout code 2, image_legacy for any other value.
QByteArray saveBytes(const TagImage& image);

} // namespace configfile
