#pragma once

#include "model/tagimage.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The device data of a tag image as a report for scripts: aligned text or JSON with
// stable keys (documented in the README).
namespace devicereport
{

/// What is known about the tag besides its image (nothing for a configuration file).
struct TagIdentity {
    QByteArray uidMsbFirst; ///< empty for a file
    uint8_t chipCode = 0x50;
    bool kindAssumed = false; ///< a file whose bytes do not tell its tag kind
};

/// The report as JSON.
QJsonObject toJson(const TagImage& image, const TagIdentity& tag = {});
/// The report as aligned "Caption   value" lines, one per field.
QString toText(const TagImage& image, const TagIdentity& tag = {});

} // namespace devicereport
