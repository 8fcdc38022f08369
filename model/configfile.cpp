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

LoadResult checkConfig(const QByteArray& fileBytes)
{
    LoadResult result;
    if (fileBytes.size() < FileSize) {
        result.error = LoadError::TooShort;
        result.value = fileBytes.size();
        return result;
    }
    const auto byte = [&fileBytes](int offset) { return uint8_t(fileBytes.at(offset)); };
    const uint8_t layout = byte(tagoffset::LayoutCode);
    if (layout != tagfields::LayoutV2 && layout != tagfields::LayoutLegacy) {
        result.error = LoadError::UnknownLayout;
        result.value = layout;
        return result;
    }
    // Layout 2 has one channel whatever byte 89 says; the legacy layout takes its count
    // from it, 0 counting as 1.
    const uint8_t channels = byte(tagoffset::ChannelCount);
    if (layout == tagfields::LayoutLegacy && channels > 3) {
        result.error = LoadError::ChannelCount;
        result.value = channels;
        return result;
    }
    for (int i = 0; i < tagoffset::ModelNameSize; ++i) {
        const uint8_t c = byte(tagoffset::ModelName + i);
        if (c == 0)
            break;
        // Latin-1 text: no control characters.
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            result.error = LoadError::ModelNotText;
            return result;
        }
    }
    return result;
}

QString refusalReason(const LoadResult& result, bool chinese)
{
    switch (result.error) {
    case LoadError::None:
        return QString();
    case LoadError::TooShort:
        return chinese ? QStringLiteral("只有 %1 字节，配置文件必须有 512 字节").arg(result.value)
                       : QStringLiteral("it has %1 bytes; a configuration file has 512")
                             .arg(result.value);
    case LoadError::UnknownLayout:
        return chinese ? QStringLiteral("布局代码 %1 未知").arg(result.value)
                       : QStringLiteral("the layout code %1 is not known").arg(result.value);
    case LoadError::ChannelCount:
        return chinese ? QStringLiteral("%1 个通道，驱动器只有 1 到 3 个").arg(result.value)
                       : QStringLiteral("%1 channels; a driver has 1 to 3").arg(result.value);
    case LoadError::ModelNotText:
        return chinese ? QStringLiteral("机型名不是文字")
                       : QStringLiteral("the model name is not text");
    }
    return QString();
}

uint8_t kindFromContent(const QByteArray& fileBytes)
{
    if (fileBytes.size() < FileSize)
        return 0;
    const auto word = [&fileBytes](int offset) {
        return uint16_t(uint8_t(fileBytes.at(offset)) << 8 | uint8_t(fileBytes.at(offset + 1)));
    };
    const uint16_t period = word(tagoffset::PwmBlock);
    const uint16_t pulse = word(tagoffset::PwmBlock + 2);
    if (period == 0 && pulse == 0)
        return tagfields::ChipP;
    if (period != 0 && period != 0xFFFF && (pulse & 0x7FFF) <= period)
        return tagfields::ChipPwm;
    return 0;
}

LoadResult loadConfig(const QByteArray& fileBytes, TagImage& image)
{
    LoadResult result = checkConfig(fileBytes);
    if (!result.ok())
        return result;
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
