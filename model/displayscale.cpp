#include "model/displayscale.h"

#include <algorithm>

namespace displayscale
{

namespace
{

// Rows differ only in the 600-899 and 1400-1999 bands; the middle three are shared.
// clang-format off
constexpr ScaleBand kTable[RowCount][BandCount] = {
    {{95, 90, 80, 30, 80, 50, 20},
     {70, 90, 50, 23, 50, 35, 15},
     {65, 85, 33, 20, 33, 30, 10},
     {65, 80, 10, 22, 40, 30, 12},
     {45, 70, 33, 17, 33, 25, 10}},
    {{90, 90, 80, 25, 80, 40, 20},
     {70, 90, 50, 23, 50, 35, 15},
     {65, 87, 33, 20, 33, 30, 10},
     {65, 80, 10, 22, 40, 30, 12},
     {45, 72, 37, 17, 37, 25, 10}},
    {{90, 90, 80, 23, 80, 40, 15},
     {70, 90, 50, 23, 50, 35, 15},
     {65, 87, 33, 20, 33, 30, 10},
     {65, 80, 10, 22, 40, 30, 12},
     {47, 75, 35, 17, 35, 30, 10}},
    {{90, 90, 80, 23, 80, 40, 15},
     {70, 90, 50, 23, 50, 35, 15},
     {65, 87, 33, 20, 33, 30, 10},
     {65, 80, 10, 22, 40, 30, 12},
     {50, 75, 35, 17, 35, 30, 10}},
    {{90, 90, 80, 23, 80, 40, 15},
     {70, 90, 50, 23, 50, 35, 15},
     {65, 87, 33, 20, 33, 30, 10},
     {65, 80, 10, 22, 40, 30, 12},
     {53, 75, 35, 20, 35, 30, 10}},
    {{90, 90, 80, 23, 80, 40, 15},
     {70, 90, 50, 23, 50, 35, 15},
     {65, 87, 33, 20, 33, 30, 10},
     {65, 80, 10, 22, 40, 30, 12},
     {50, 75, 35, 20, 35, 30, 10}},
    {{90, 90, 80, 23, 80, 40, 15},
     {70, 90, 50, 23, 50, 35, 15},
     {65, 87, 33, 20, 33, 30, 10},
     {65, 80, 10, 22, 40, 30, 12},
     {50, 75, 35, 20, 35, 30, 10}},
};
// clang-format on

uint16_t percentOf(uint16_t dimension, uint8_t percent)
{
    return static_cast<uint16_t>(uint32_t(dimension) * percent / 100u);
}

} // namespace

const ScaleBand& scaleBand(int row, int band)
{
    if (row < 0 || row >= RowCount || band < 0 || band >= BandCount)
        return kTable[0][0];
    return kTable[row][band];
}

int bandForHeight(int height)
{
    if (height >= 600 && height <= 899)
        return 0;
    if (height >= 900 && height <= 1099)
        return 1;
    if (height >= 1100 && height <= 1199)
        return 2;
    if (height >= 1200 && height <= 1399)
        return 3;
    if (height >= 1400 && height <= 1999)
        return 4;
    return -1;
}

int rowForTaskbar(int taskbar)
{
    switch (taskbar) {
    case 0:
    case 10:
    case 20:
    case 30:
    case 40:
        return 0;
    case 50:
        return 1;
    case 60:
        return 2;
    case 70:
        return 3;
    case 80:
        return 4;
    case 90:
        return 5;
    case 100:
        return 6;
    default:
        return -1;
    }
}

QString scaleLogLine(int row)
{
    if (row < 0 || row >= RowCount)
        return {};
    return QStringLiteral("缩放比例%1%").arg(100 + 25 * row);
}

DisplayScale computeDisplayScale(int taskbar, uint16_t width, uint16_t height)
{
    DisplayScale out;
    out.row = rowForTaskbar(taskbar);
    if (out.row < 0)
        return out;
    out.logLine = scaleLogLine(out.row);
    out.band = bandForHeight(height);
    if (out.band < 0)
        return out;

    const ScaleBand& b = scaleBand(out.row, out.band);
    out.windowMinimum =
        QSize(percentOf(width, b.windowMinWidth), percentOf(height, b.windowMinHeight));
    out.asMinimum = height <= 1100;
    out.currentWidth = percentOf(width, b.currentWidth);
    out.currentHeight = percentOf(height, b.currentHeight);
    out.cloWidth = percentOf(width, b.cloWidth);
    out.cloHeight = percentOf(height, b.cloHeight);
    out.dataMaxWidth = percentOf(width, b.dataMaxWidth);
    return out;
}

Placement placeWindow(const QRect& available, const QMargins& frame, const QSize& minimum,
                      const QSize& preferred)
{
    const QSize room(std::max(0, available.width() - frame.left() - frame.right()),
                     std::max(0, available.height() - frame.top() - frame.bottom()));
    Placement out;
    // The table's minimum is a share of the whole screen; a taskbar can leave less.
    out.minimum = minimum.boundedTo(room);
    const QSize size = preferred.expandedTo(out.minimum).boundedTo(room);
    const QPoint topLeft(available.x() + frame.left() + (room.width() - size.width()) / 2,
                         available.y() + frame.top() + (room.height() - size.height()) / 2);
    out.geometry = QRect(topLeft, size);
    return out;
}

} // namespace displayscale
