// The display table in log_view, the status line and the log-write error line, as an observer
// of the session: each cell as soon as its query ends, the line ended after the files hold it.
// The error line sums up the log files' notices in a few words (how many lines wait, how many
// were dropped, since when and why; a disk that fills up; writes that work again) and its
// tooltip gives their whole texts.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

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

  private:
    // What the notices of one log file last said.
    struct FileState {
        bool failing = false;
        core::LogFileStatus status;
        std::string text;
    };
    // Shows the error line and its tooltip for the current state; mutex_ held.
    void show_error_line();

    std::size_t data_lines_shown_ = 0;  // the cycle's thread, reset at the start

    // Notices come from any thread.
    std::mutex mutex_;
    std::array<FileState, 2> files_;  // by LogFileStatus::Output
    std::string disk_low_;            // the disk guard's warning while it holds
    std::string event_;               // the last recovery, loss or space back
    std::string shown_;               // what the error line shows
};

// The error line's text while log files fail: "12 lines wait, 3 dropped: logs not written
// since 14:07:09 (No space left on device)". The count comes first, so that a narrow line
// still shows it.
std::string failing_logs_text(const std::vector<core::LogFileStatus>& failing);

}  // namespace veldra::window
