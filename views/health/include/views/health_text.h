// The health view's texts, made from a snapshot: plain functions so they can be checked without
// a window. Numbers use a point as decimal separator whatever the locale; times are local
// wall-clock time, HH:MM:SS.
#pragma once

#include <chrono>
#include <string>

#include "views/health.h"

namespace veldra::views {

std::string clock_text(Clock::time_point t);                              // "14:07:09", local time
std::string seconds_text(std::chrono::microseconds d, int decimals = 1);  // "2.0 s"

// "COM 40 = /dev/ttyUSB0: open", "...: device gone since 14:07:09", "...: open again, back at
// 14:09:30 (gone since 14:07:09)", or what is known before the first cycle.
std::string line_text(const HealthSnapshot& s);
// "Cycle 3.8 s of the 30 s interval", or, when cycles take longer than the interval, which
// sensors cost the time.
std::string cycle_text(const HealthSnapshot& s);

// The cells of one sensor's row.
std::string last_good_text(const SensorHealth& h);   // "14:07:09" or "never"
std::string good_share_text(const SensorHealth& h);  // "98.5 %" or "-"
std::string exchange_text(const SensorHealth& h);    // "120 ms", "2.00 s"

}  // namespace veldra::views
