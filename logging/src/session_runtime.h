// What the session start, the measurement cycle and the stop share besides the program-wide
// session variables: the stop request and the per-session bookkeeping of the cycle.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

namespace veldra::logging_detail {

struct SessionRuntime {
    // Set by the start just before the timer is enabled, cleared by the stop; a tick that
    // finds it false (a late tick, the timer's discard event) does nothing.
    std::atomic<bool> cycle_allowed{false};
    // Set by the stop before it waits; the cycle gives up at its next check.
    std::atomic<bool> stop_requested{false};

    // Written by the start before the timer is enabled, read by the cycle.
    std::string text_log_path;
    std::string csv_log_path;

    // Owned by the cycle while a session runs; reset by the start.
    std::size_t data_lines_shown = 0;
    bool write_failure_shown = false;
};

SessionRuntime& session_runtime();

// The on-screen table keeps this many data lines below its three header lines.
inline constexpr std::size_t kDisplayHistoryLines = 10000;
inline constexpr int kDisplayHeaderLines = 3;

}  // namespace veldra::logging_detail
