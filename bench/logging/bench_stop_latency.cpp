// How long a stop press takes while the cycle waits for a sensor that never answers (the
// reply time-out is 2 s): at most 0.5 s, for a stop during a read and during a pause.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/panel_ids.h"
#include "asynctimer/asynctimer.h"
#include "bench_session.h"
#include "logging/logging.h"
#include "platform/ui.h"

int main() {
    using Clock = std::chrono::steady_clock;
    constexpr int kRounds = 10;
    veldra::sim::Options options;
    options.sensors = {0x300000};
    logging_bench::BenchSession session(std::move(options), 1.0);
    // From now on the listed sensor is silent: every read waits for the whole time-out.
    session.sim().set_sensors({});

    double worst = 0;
    for (int round = 0; round < kRounds; ++round) {
        if (logging_active() == 0) {
            start_logging(main_panel, start_stop_button, EVENT_COMMIT, nullptr, 0, 0);
        } else {
            // Resume the paused session's ticks.
            SetAsyncTimerAttribute(measurement_timer, TIMER_ATTR_INTERVAL, 0.0);
            SetAsyncTimerAttribute(measurement_timer, TIMER_ATTR_ENABLED, 1);
        }
        session.sim().clear_exchanges();
        if (!session.sim().wait_for_exchanges(1, std::chrono::seconds(10))) {
            std::printf("round %d: no request reached the simulator\n", round + 1);
            return 1;
        }
        // Odd rounds stop in the middle of a 2 s read, even ones a little later (in a pause
        // or a read).
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 2 == 0 ? 50 : 700));
        const auto start = Clock::now();
        start_logging(main_panel, start_stop_button, EVENT_COMMIT, nullptr, 0, 0);
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        worst = std::max(worst, took);
        std::printf("round %d: stop answered in %.4f s\n", round + 1, took);
    }
    std::printf("worst stop latency %.4f s (limit 0.5)\n", worst);
    return worst <= 0.5 ? 0 : 1;
}
