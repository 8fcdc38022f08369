#include "model/devicereport.h"

#include "model/currents.h"
#include "model/tagfields.h"

#include <QJsonArray>
#include <QStringList>

namespace devicereport
{

namespace
{

template <typename Points> QJsonArray numbers(const Points& points)
{
    QJsonArray out;
    for (const auto v : points)
        out.append(int(v));
    return out;
}

QString joined(const QJsonArray& values)
{
    QStringList parts;
    for (const QJsonValue& v : values)
        parts << QString::number(v.toInt());
    return parts.join(QLatin1Char(' '));
}

} // namespace

QJsonObject toJson(const TagImage& image, const TagIdentity& tag)
{
    const tagfields::ProductInfo product = tagfields::productInfo(image);
    const tagfields::DriveInfo drive = tagfields::driveInfo(image);
    const currents::PanelPlan plan = currents::changeParamEnable(image, product.driverType);
    const currents::ChannelDisplay shown =
        currents::displayCurrentChannel(image, plan.channelCount, tag.chipCode);

    QJsonObject o;
    o[QStringLiteral("uid")] =
        tag.uidMsbFirst.isEmpty()
            ? QJsonValue()
            : QJsonValue(QString::fromLatin1(tag.uidMsbFirst.toHex()).toUpper());
    o[QStringLiteral("tag_kind")] =
        tag.chipCode == tagfields::ChipPwm ? QStringLiteral("8") : QStringLiteral("P");
    o[QStringLiteral("model")] = product.model;
    o[QStringLiteral("gtin")] = product.gtin;
    o[QStringLiteral("driver_type")] =
        plan.typeText.isNull() ? QJsonValue() : QJsonValue(plan.typeText);
    o[QStringLiteral("driver_type_code")] = int(product.driverType);
    o[QStringLiteral("layout")] =
        image.isLayout2() ? QStringLiteral("2") : QStringLiteral("legacy");
    o[QStringLiteral("layout_code")] = int(image.layoutCode());
    o[QStringLiteral("channel_count")] = int(plan.channelCount);
    o[QStringLiteral("work_time_h")] = double(drive.gearTime);
    o[QStringLiteral("load_time_h")] = double(drive.loadTime);
    o[QStringLiteral("hardware_version")] = product.hardware;
    o[QStringLiteral("firmware_version")] = product.software;
    o[QStringLiteral("fixture_id")] = product.fixtureId;

    QJsonArray channels;
    for (int i = 0; i < shown.widgets && i < 3; ++i) {
        const currents::ChannelSetting& c = shown.channels[static_cast<size_t>(i)];
        QJsonObject ch;
        ch[QStringLiteral("channel")] = i + 1;
        ch[QStringLiteral("current_mA")] = int(c.current);
        ch[QStringLiteral("min_mA")] = int(c.minimum);
        ch[QStringLiteral("max_mA")] = int(c.maximum);
        channels.append(ch);
    }
    o[QStringLiteral("channels")] = channels;

    QJsonObject clo;
    clo[QStringLiteral("available")] = plan.showClo;
    clo[QStringLiteral("enabled")] = drive.cloEnabled;
    clo[QStringLiteral("times")] = numbers(drive.cloTimes);
    clo[QStringLiteral("levels")] = numbers(drive.cloLevels);
    o[QStringLiteral("constant_lumen")] = clo;

    QJsonObject cct;
    cct[QStringLiteral("available")] = plan.showCct;
    cct[QStringLiteral("warmest_K")] = int(drive.cctWarmest);
    cct[QStringLiteral("coolest_K")] = int(drive.cctCoolest);
    o[QStringLiteral("colour_temperature")] = cct;
    return o;
}

QString toText(const TagImage& image, const TagIdentity& tag)
{
    const QJsonObject o = toJson(image, tag);
    QVector<QPair<QString, QString>> rows;
    if (!o.value(QStringLiteral("uid")).isNull())
        rows.append({QStringLiteral("UID"), o.value(QStringLiteral("uid")).toString()});
    rows.append(
        {QStringLiteral("Tag kind"),
         o.value(QStringLiteral("tag_kind")).toString() +
             (tag.kindAssumed ? QStringLiteral(" (assumed: the file does not tell)") : QString())});
    rows.append({QStringLiteral("Model"), o.value(QStringLiteral("model")).toString()});
    rows.append({QStringLiteral("GTIN"), o.value(QStringLiteral("gtin")).toString()});
    const QJsonValue type = o.value(QStringLiteral("driver_type"));
    rows.append({QStringLiteral("Driver type"),
                 type.isNull() ? QStringLiteral("unknown (code %1)")
                                     .arg(o.value(QStringLiteral("driver_type_code")).toInt())
                               : type.toString()});
    rows.append({QStringLiteral("Layout"), o.value(QStringLiteral("layout")).toString()});
    rows.append({QStringLiteral("Channels"),
                 QString::number(o.value(QStringLiteral("channel_count")).toInt())});
    rows.append(
        {QStringLiteral("Work time"),
         QStringLiteral("%1 h").arg(qint64(o.value(QStringLiteral("work_time_h")).toDouble()))});
    rows.append(
        {QStringLiteral("Load time"),
         QStringLiteral("%1 h").arg(qint64(o.value(QStringLiteral("load_time_h")).toDouble()))});
    rows.append({QStringLiteral("Hardware version"),
                 o.value(QStringLiteral("hardware_version")).toString()});
    rows.append({QStringLiteral("Firmware version"),
                 o.value(QStringLiteral("firmware_version")).toString()});
    rows.append({QStringLiteral("Fixture ID"), o.value(QStringLiteral("fixture_id")).toString()});
    for (const QJsonValue& v : o.value(QStringLiteral("channels")).toArray()) {
        const QJsonObject ch = v.toObject();
        rows.append(
            {QStringLiteral("CH%1 current").arg(ch.value(QStringLiteral("channel")).toInt()),
             QStringLiteral("%1 mA (range %2-%3 mA)")
                 .arg(ch.value(QStringLiteral("current_mA")).toInt())
                 .arg(ch.value(QStringLiteral("min_mA")).toInt())
                 .arg(ch.value(QStringLiteral("max_mA")).toInt())});
    }
    const QJsonObject clo = o.value(QStringLiteral("constant_lumen")).toObject();
    if (clo.value(QStringLiteral("available")).toBool()) {
        rows.append({QStringLiteral("CLO"), clo.value(QStringLiteral("enabled")).toBool()
                                                ? QStringLiteral("on")
                                                : QStringLiteral("off")});
        rows.append(
            {QStringLiteral("CLO times"), joined(clo.value(QStringLiteral("times")).toArray())});
        rows.append({QStringLiteral("CLO levels %"),
                     joined(clo.value(QStringLiteral("levels")).toArray())});
    }
    const QJsonObject cct = o.value(QStringLiteral("colour_temperature")).toObject();
    if (cct.value(QStringLiteral("available")).toBool()) {
        rows.append({QStringLiteral("Colour temperature"),
                     QStringLiteral("%1-%2 K")
                         .arg(cct.value(QStringLiteral("warmest_K")).toInt())
                         .arg(cct.value(QStringLiteral("coolest_K")).toInt())});
    }

    int width = 0;
    for (const auto& r : rows)
        width = std::max(width, int(r.first.size()));
    QString out;
    for (const auto& r : rows)
        out += r.first.leftJustified(width + 2) + r.second + QLatin1Char('\n');
    return out;
}

} // namespace devicereport
