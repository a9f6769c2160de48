// Where the charts put their grid lines and what the labels say: round values on the value
// axis, and local wall-clock steps (seconds to days) on the time axis.
#pragma once

#include <QString>
#include <vector>

#include "views/history.h"

namespace veldra::views::detail {

struct Tick {
    double at;  // value, or milliseconds since the epoch
    QString label;
};

// Round values between lo and hi, about one per `pixelsPerTick` of `length` pixels.
std::vector<Tick> valueTicks(double lo, double hi, int length, int pixelsPerTick);

// Local times between from and to, with labels of `labelWidth` pixels never overlapping.
std::vector<Tick> timeTicks(TimeMs from, TimeMs to, int length, int labelWidth);

// "05.03.2026 14:07:09", local time, for the range line above the charts.
QString dateTimeText(TimeMs t);

}  // namespace veldra::views::detail
