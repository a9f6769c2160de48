// Watches the session's cycles for the main thread: how long nothing has moved (for the
// watchdog, which must not be told that all is well while the cycles are stuck) and whether
// the cycles asked for with --cycles are done (then it wakes the main thread).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

#include "logging/session_observer.h"

namespace veldra::service {

class Progress final : public core::SessionObserver {
  public:
    // `wake` is told (an eventfd write) once `stop_after` cycles are written.
    Progress(std::optional<std::uint64_t> stop_after, int wake);

    void session_started(const core::SessionInfo& info) override;
    void cycle_started(const core::CycleStart& start) override;
    void query_finished(const core::QueryEnd& query) override;
    void cycle_finished(const core::CycleRecord& record) override;
    void cycle_abandoned() override;

    std::chrono::steady_clock::duration quiet_for() const;
    bool done() const { return done_.load(); }

  private:
    void touch();

    const std::optional<std::uint64_t> stop_after_;
    const int wake_;
    std::atomic<std::chrono::steady_clock::rep> last_{0};
    std::atomic<std::uint64_t> cycles_{0};
    std::atomic<bool> done_{false};
};

}  // namespace veldra::service
