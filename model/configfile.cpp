#include "model/configfile.h"

#include "model/constlumen.h"
#include "model/tagfields.h"

#include <algorithm>

namespace configfile
{

QString fileFilter()
{
    return QStringLiteral("Config Files(*.bin)");
}

QString proposedFileName(const QString& modelText, const QDateTime& time)
{
    QString name = modelText + QLatin1Char('(') +
                   time.toString(QStringLiteral("yyyy-MM-dd,hh-mm-ss")) + QLatin1Char(')');
    return name.replace(QLatin1Char('/'), QLatin1Char('-'));
}

QString withBinSuffix(const QString& path)
{
    const QString suffix = QStringLiteral(".bin");
    if (path.isEmpty() || path.endsWith(suffix, Qt::CaseInsensitive))
        return path;
    return path + suffix;
}

LoadResult loadConfig(const QByteArray& fileBytes, TagImage& image)
{
    LoadResult result;
    if (fileBytes.size() < FileSize) {
        result.error = LoadError::TooShort;
        return result;
    }
    const auto* data = reinterpret_cast<const uint8_t*>(fileBytes.constData());
    const int product = tagoffset::ProductAreaSize;
    const int drive = tagoffset::DriveAreaSize;
    std::copy_n(data, product, image.image_v2.begin());
    std::copy_n(data, product, image.image_legacy.begin());
    std::copy_n(data + tagoffset::DriveArea, drive, image.image_v2.begin() + tagoffset::DriveArea);

    const uint8_t type = image.image_v2[tagoffset::DriverType];
    if (image.isLayout2() && (type == 6 || type == 8)) {
        constlumen::Points times = constlumen::times(image);
        result.repaired = constlumen::Check_ConstantData(times);
        constlumen::storeTimes(image, times);
    }
    std::copy_n(image.image_v2.begin() + tagoffset::DriveArea, drive,
                image.image_legacy.begin() + tagoffset::DriveArea);
    return result;
}

QByteArray saveBytes(const TagImage& image)
{
    // Only 2 and 3 were defined; any other code saves the legacy copy rather than
    // leaving an empty file behind.
    const auto& copy = image.isLayout2() ? image.image_v2 : image.image_legacy;
    return QByteArray(reinterpret_cast<const char*>(copy.data()), TagImage::Size);
}

} // namespace configfile
