// The cycles' progress, seen from the main thread.
#include "progress.h"

#include <unistd.h>

namespace veldra::service {

using Steady = std::chrono::steady_clock;

Progress::Progress(std::optional<std::uint64_t> stop_after, int wake)
    : stop_after_(stop_after), wake_(wake) {
    touch();
}

void Progress::touch() {
    last_.store(Steady::now().time_since_epoch().count());
}

void Progress::session_started(const core::SessionInfo&) {
    touch();
}

void Progress::cycle_started(const core::CycleStart&) {
    touch();
}

void Progress::query_finished(const core::QueryEnd&) {
    touch();
}

void Progress::cycle_abandoned() {
    touch();
}

void Progress::cycle_finished(const core::CycleRecord&) {
    touch();
    const std::uint64_t written = cycles_.fetch_add(1) + 1;
    if (stop_after_ && written == *stop_after_) {
        done_.store(true);
        const std::uint64_t one = 1;
        // An eventfd takes the 8 bytes whole or not at all; it cannot be full after one write.
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }
}

Steady::duration Progress::quiet_for() const {
    return Steady::now() - Steady::time_point(Steady::duration(last_.load()));
}

}  // namespace veldra::service
