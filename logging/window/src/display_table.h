// The display table in log_view, the status line and the log-write error line, as an observer
// of the session: each cell as soon as its query ends, the line ended after the files hold it.
#pragma once

#include <atomic>
#include <cstddef>

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
    std::size_t data_lines_shown_ = 0;        // the cycle's thread, reset at the start
    std::atomic<bool> failure_shown_{false};  // the first write failure stays on screen
};

}  // namespace veldra::window
