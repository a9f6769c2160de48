// A wall clock that reads one second later for every cycle: cycle c is stamped
// 2026-01-01 00:00:00 plus c seconds, so a lost, doubled or reordered log line shows in the
// time stamps. For tests that drive the cycles themselves.
#pragma once

#include <ctime>
#include <string>

#include "log_files.h"
#include "platform/ui.h"

namespace veldra::reliability {

inline WallClockReading reading_for_cycle(long cycle) {
    const std::time_t t = 1767225600 + cycle;  // 2026-01-01 00:00:00 UTC
    std::tm tm{};
    gmtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

inline std::string timestamp_for_cycle(long cycle) {
    const auto r = reading_for_cycle(cycle);
    return format_timestamp(r.year, r.month, r.day, r.hour, r.minute, r.second);
}

}  // namespace veldra::reliability
