#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>

// Panel sizes by display scale (inferred from the taskbar height) and screen height.
namespace displayscale
{

constexpr int RowCount = 7;  ///< 100 % .. 250 % in steps of 25 %
constexpr int BandCount = 5; ///< screen-height bands 600..1999

/// One cell of the table: whole percentages of the screen size.
struct ScaleBand {
    uint8_t windowMinWidth;
    uint8_t windowMinHeight;
    uint8_t currentWidth;
    uint8_t currentHeight;
    uint8_t cloWidth;
    uint8_t cloHeight;
    uint8_t dataMaxWidth;
};

/// The table cell of a row (0..6) and band (0..4); out-of-range indices give row 0 band 0.
const ScaleBand& scaleBand(int row, int band);
/// Band index for a screen height: 600-899 0, 900-1099 1, 1100-1199 2, 1200-1399 3,
/// 1400-1999 4; -1 outside every band.
int bandForHeight(int height);
/// Scale row for a taskbar height: 0,10,20,30,40 -> 0; 50 -> 1 ... 100 -> 6; else -1.
int rowForTaskbar(int taskbar);
/// Debug line of a row, e.g. "缩放比例150%"; empty for an unknown row.
QString scaleLogLine(int row);

/// What the window applies for one screen.
struct DisplayScale {
    int row = -1;        ///< -1: taskbar not recognised, nothing to do or log
    int band = -1;       ///< -1: no band for the height, no sizes to apply
    QString logLine;     ///< set whenever row is known
    QSize windowMinimum; ///< window minimum size
    /// true (height <= 1100): panel sizes are minimum widths and heights;
    /// false: only the panels' maximum heights are applied.
    bool asMinimum = true;
    uint16_t currentWidth = 0;
    uint16_t currentHeight = 0;
    uint16_t cloWidth = 0;
    uint16_t cloHeight = 0;
    uint16_t dataMaxWidth = 0; ///< scrollArea_Data maximum width, both cases

    /// True when there are sizes to apply.
    bool hasSizes() const { return row >= 0 && band >= 0; }
};

/// Sizes for a screen of width x height whose taskbar is taskbar px high. Heights
/// outside every band give no sizes (hasSizes() false) rather than zero sizes.
DisplayScale computeDisplayScale(int taskbar, uint16_t width, uint16_t height);

/// Where the window opens on a screen.
struct Placement {
    QSize minimum;  ///< the window's minimum size, cut down to what the screen holds
    QRect geometry; ///< the window's client area, frame not included
};

/// Places a window whose frame adds `frame` to its client area on a screen whose free
/// area (without taskbars) is `available`: the whole frame lies inside the free area, the
/// size is `preferred` but at least `minimum` and at most what fits, and the window sits
/// in the middle.
Placement placeWindow(const QRect& available, const QMargins& frame, const QSize& minimum,
                      const QSize& preferred);

} // namespace displayscale
