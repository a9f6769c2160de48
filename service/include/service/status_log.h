// The service's status on standard error: one line per event, each beginning with the local
// time, written whole with one write so that lines from different threads never mix. As an
// observer of the session it says when the session started and stopped and every notice of
// the core (device gone or back, failed writes, disk low...); with verbose, one line per cycle.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

#include "logging/session_observer.h"

namespace veldra::service {

// "2024-03-05 14:07:09", local time.
std::string local_time_text(std::chrono::system_clock::time_point when);

class StatusLog final : public core::SessionObserver {
  public:
    StatusLog(int fd, bool verbose) : fd_(fd), verbose_(verbose) {}

    // One line; each run of line ends inside `text` becomes one space.
    void line(std::string_view text);
    void line(std::string_view text, std::chrono::system_clock::time_point when);

    // Added to the started line ("rotation daily; disk guard 100 MB").
    void set_file_rules_text(std::string text) { rules_text_ = std::move(text); }
    // Why the session is about to stop, for the stopped line ("SIGTERM", "after 3 cycles").
    void set_stop_reason(std::string reason);

    void session_started(const core::SessionInfo& info) override;
    void cycle_finished(const core::CycleRecord& record) override;
    void notice(const core::Notice& notice) override;
    void session_ended(const core::SessionEnd& end) override;

  private:
    const int fd_;
    const bool verbose_;
    std::string rules_text_;
    std::mutex mutex_;  // one line at a time; guards stop_reason_
    std::string stop_reason_;
};

// The cycle in one line: "cycle 3: 7 of 8 values in 1.4 s; 00fe01: no reply".
std::string cycle_text(const core::CycleRecord& record);

}  // namespace veldra::service
