#include "model/constlumen.h"

#include "model/tagfields.h"

#include <algorithm>

namespace constlumen
{

namespace
{

// Successor of a time with the cap of the rules. Computed without wrapping at 256 so a
// damaged 255 leads to 100 instead of restarting the curve at 0.
uint8_t nextTime(uint8_t previous)
{
    const int next = previous + 1;
    return next > 99 ? uint8_t(TimeMax) : uint8_t(next);
}

} // namespace

Points initialTimes()
{
    Points t{};
    for (size_t i = 0; i < t.size(); ++i)
        t[i] = uint8_t(5 * i);
    return t;
}

Points initialLevels()
{
    return {50, 91, 92, 92, 93, 94, 95, 96, 97, 98, 99, 100, 100, 100, 100, 100};
}

Points times(const TagImage& image)
{
    Points t{};
    std::copy_n(image.image_v2.begin() + tagoffset::CloTimes, t.size(), t.begin());
    return t;
}

Points levels(const TagImage& image)
{
    Points l{};
    std::copy_n(image.image_v2.begin() + tagoffset::CloLevels, l.size(), l.begin());
    return l;
}

void storeTimes(TagImage& image, const Points& times)
{
    std::copy(times.begin(), times.end(), image.image_v2.begin() + tagoffset::CloTimes);
}

void storeLevels(TagImage& image, const Points& levels)
{
    std::copy(levels.begin(), levels.end(), image.image_v2.begin() + tagoffset::CloLevels);
}

bool isEnabled(const TagImage& image)
{
    return image.image_v2[tagoffset::CloEnable] != 0;
}

void setEnabled(TagImage& image, bool on)
{
    image.image_v2[tagoffset::CloEnable] = on ? 0xAA : 0x00;
}

uint8_t cellValue(const QString& text)
{
    return static_cast<uint8_t>(text.toInt());
}

uint8_t Jude_ConstantTime_Legal(const Points& time, uint8_t index, uint8_t value)
{
    if (index >= time.size())
        return 0;
    if (index == 0)
        return uint8_t(value - time[0]);
    if (time[index - 1u] < value)
        return uint8_t(value - time[index]);
    return 0;
}

void Increase_ConstantTime(Points& time, uint8_t index, uint8_t value)
{
    if (index >= time.size())
        return;
    time[index] = value;
    for (size_t a = index; a < 15; ++a)
        for (size_t i = a + 1; i < 16; ++i)
            if (time[i] <= time[a])
                time[i] = nextTime(time[a]);
}

bool Check_ConstantData(Points& time)
{
    const Points before = time;
    time[0] = 0;
    for (size_t i = 1; i < 16; ++i)
        for (size_t j = i; j < 16; ++j)
            if (time[j] < time[i - 1])
                time[j] = nextTime(time[i - 1]);
    return time != before;
}

QString correctionNotice(bool chinese)
{
    return chinese ? QStringLiteral("恒流明数据有误， 自动更正")
                   : QStringLiteral("Constant lumen data error, automatic correction");
}

QString warningTitle(bool chinese)
{
    return chinese ? QStringLiteral("警告！") : QStringLiteral("Warning!");
}

EditResult Cal_ConstantLumenData(const Points& time, const Points& level, int max, int min,
                                 int item_value, int row, int column)
{
    EditResult r;
    r.times = time;
    r.levels = level;
    if ((row != 0 && row != 1) || column < 0 || column >= 16)
        return r;
    const auto col = size_t(column);
    Points& values = row == 0 ? r.times : r.levels;

    if (row == 0 && column == 0) {
        r.times[0] = 0;
        r.cellText = QStringLiteral("0");
    } else if (item_value >= min && item_value <= max) {
        if (row == 1) {
            r.levels[col] = uint8_t(item_value);
            r.cellText = QString::number(item_value);
            r.redraw = true;
        } else if (Jude_ConstantTime_Legal(r.times, uint8_t(column), uint8_t(item_value)) != 0) {
            Increase_ConstantTime(r.times, uint8_t(column), uint8_t(item_value));
            r.cellText = QString::number(r.times[col]);
            r.reshowTimes = true;
            r.redraw = true;
        } else {
            r.warn = true;
            r.warningCn = QStringLiteral("时间的特性是递增的!");
            r.warningEn = QStringLiteral("The nature of time is increasing!");
            if (r.times[col] < r.times[col - 1]) {
                const int repaired = r.times[col - 1] + 1;
                r.times[col] = uint8_t(repaired < max ? repaired : max);
            }
            r.cellText = QString::number(r.times[col]);
        }
    } else {
        const int stored = values[col];
        const int shown = stored >= min && stored <= max ? stored : min;
        r.warn = true;
        const QString range = QString::number(min) + QLatin1Char('~') + QString::number(max);
        if (row == 1) {
            r.warningCn = QStringLiteral("亮度值范围为:") + range;
            r.warningEn = QStringLiteral("The brightness value range is:") + range;
        } else {
            r.warningCn = QStringLiteral("时间值范围为:") + range;
            r.warningEn = QStringLiteral("The time range is:") + range;
        }
        values[col] = uint8_t(shown);
        r.cellText = QString::number(shown);
        r.redraw = true;
    }
    r.changed = r.times != time || r.levels != level;
    return r;
}

} // namespace constlumen
