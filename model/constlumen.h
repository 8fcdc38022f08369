#pragma once

#include "model/tagimage.h"

#include <QString>
#include <array>
#include <cstdint>

// Constant-lumen-output table: 16 points of (time, level) in image_v2, times increasing
// from 0 and capped at 100, levels 50..100.
namespace constlumen
{

using Points = std::array<uint8_t, 16>;

constexpr int TimeMax = 100;
constexpr int TimeMin = 0;
constexpr int LevelMax = 100;
constexpr int LevelMin = 50;

/// Times of the table as built by the form: 0, 5, ..., 75.
Points initialTimes();
/// Levels of the table as built by the form: 50, 91, 92, 92, ..., 100.
Points initialLevels();

/// Times from image_v2 284..299.
Points times(const TagImage& image);
/// Levels from image_v2 268..283.
Points levels(const TagImage& image);
/// Stores times into image_v2 284..299.
void storeTimes(TagImage& image, const Points& times);
/// Stores levels into image_v2 268..283.
void storeLevels(TagImage& image, const Points& levels);
/// Enable byte 267 of image_v2 read as a flag (any non-zero is on).
bool isEnabled(const TagImage& image);
/// Writes the enable byte: 0xAA on, 0x00 off.
void setEnabled(TagImage& image, bool on);
/// The value SetLumen takes from a cell text: its integer value, 0 when not a number.
uint8_t cellValue(const QString& text);

/// Time-legality test; zero means not acceptable (index > 15 is never acceptable).
uint8_t Jude_ConstantTime_Legal(const Points& time, uint8_t index, uint8_t value);
/// Sets time[index] and pushes every later time that is not above its predecessor up
/// to predecessor + 1, capped at 100.
void Increase_ConstantTime(Points& time, uint8_t index, uint8_t value);
/// Repairs times: time 0 becomes 0, a time below its predecessor becomes predecessor
/// + 1 (100 when that exceeds 99). Returns true when anything changed.
bool Check_ConstantData(Points& time);

/// Notice shown after Check_ConstantData repaired the times.
QString correctionNotice(bool chinese);
/// Title of the table's warning boxes.
QString warningTitle(bool chinese);

/// Outcome of one table edit.
struct EditResult {
    Points times{};           ///< times to store in image_v2
    Points levels{};          ///< levels to store in image_v2
    QString cellText;         ///< text for the edited cell (empty for invalid row/column)
    bool reshowTimes = false; ///< row 0 was rewritten from times (GetLumenTimer)
    bool warn = false;        ///< show a modal warning before the cell is rewritten
    QString warningEn;
    QString warningCn;
    bool redraw = false;  ///< SetLumen ran: the chart is redrawn from the new values
    bool changed = false; ///< times or levels differ from the input
};

/// The edit rules for an edit of row (0 times, 1 levels), column to item_value, with
/// limits [min, max], on the stored times and levels (which the table mirrors).
EditResult Cal_ConstantLumenData(const Points& time, const Points& level, int max, int min,
                                 int item_value, int row, int column);

} // namespace constlumen
