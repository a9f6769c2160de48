// The display table in log_view, the status line, the COM port hint and the log-write error
// line, as an observer of the session: each cell as soon as its query ends, the line ended
// after the files hold it; while the serial device is gone the status line and the hint say so
// instead of naming sensors that cannot be reached; after a stop the status line says that
// logging stopped and when the last cycle ran. The error line sums up the log files' notices in
// a few words (how many lines wait, how many were dropped, since when and why; a disk that
// fills up; writes that work again) and its tooltip gives their whole texts.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "logging/log_format.h"
#include "logging/session_observer.h"

namespace veldra::window {

// The on-screen table keeps this many data lines below its three header lines; the files
// keep everything.
inline constexpr std::size_t kDisplayHistoryLines = 10000;
inline constexpr int kDisplayHeaderLines = 3;

class DisplayTable final : public core::SessionObserver {
  public:
    void session_started(const core::SessionInfo& info) override;
    void cycle_started(const core::CycleStart& start) override;
    void query_started(const core::QueryStart& query) override;
    void query_finished(const core::QueryEnd& query) override;
    void cycle_finished(const core::CycleRecord& record) override;
    void cycle_abandoned() override;
    void notice(const core::Notice& notice) override;
    void session_ended(const core::SessionEnd& end) override;

  private:
    // What the notices of one log file last said.
    struct FileState {
        bool failing = false;
        core::LogFileStatus status;
        std::string text;
    };

    void device_gone(const core::Notice& notice);
    void device_back(const core::Notice& notice);
    void restore_hint();  // with mutex_ held
    // Shows the error line and its tooltip for the current state; mutex_ held.
    void show_error_line();

    std::size_t data_lines_shown_ = 0;  // the cycle's thread, reset at the start
    // The time stamp of the last line written: the stop says it, as the files show it. Written
    // by the cycle, read by the stop after the cycle has left.
    std::optional<logfmt::Timestamp> last_written_;

    std::mutex mutex_;  // what follows: notices come from any thread
    int port_ = 0;
    std::optional<std::chrono::system_clock::time_point> gone_since_;
    std::string hint_before_;         // the COM hint as it was before it said the device is gone
    std::string hint_shown_;          // what this table put there, empty when nothing
    std::array<FileState, 2> files_;  // by LogFileStatus::Output
    std::string disk_low_;            // the disk guard's warning while it holds
    std::string event_;               // the last recovery, loss or space back
    std::string shown_;               // what the error line shows
};

// "14:07:09", local time.
std::string clock_text(std::chrono::system_clock::time_point t);
// The local date and time of an instant, as the log files show time stamps.
logfmt::Timestamp local_timestamp(std::chrono::system_clock::time_point t);

// The error line's text while log files fail: "12 lines wait, 3 dropped: logs not written
// since 14:07:09 (No space left on device)". The count comes first, so that a narrow line
// still shows it.
std::string failing_logs_text(const std::vector<core::LogFileStatus>& failing);

}  // namespace veldra::window
