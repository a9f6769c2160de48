// Resident memory while cycles of 10 sensors run back to back against a fast simulator: at
// most 100 MB after 200,000 data lines, and flat once the on-screen history (10,000 lines)
// is full.
//
// Usage: bench_logging_memory [lines] [--no-bus] [--seconds N]
//   lines      data lines to write (default 200000)
//   --no-bus   every send fails at once (unmapped port): the same lines of error cells
//              without the bus round trips, to reach many lines on a busy machine
//   --seconds  stop early after N seconds and judge what was reached
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_session.h"
#include "logging/logging.h"
#include "platform/rs232.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    long lines = 200000;
    bool noBus = false;
    double budget = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-bus") == 0) {
            noBus = true;
        } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            budget = std::atof(argv[++i]);
        } else {
            lines = std::atol(argv[i]);
        }
    }
    constexpr int kSensors = 10;
    constexpr long kHistory = 10000;

    veldra::sim::Options options;
    for (int i = 0; i < kSensors; ++i) {
        options.sensors.push_back(0x200000u + static_cast<std::uint32_t>(i));
    }
    logging_bench::BenchSession session(std::move(options), 0.0);
    if (noBus) {
        session.unmap_port();  // every send fails at once: the port opens no device
    }

    const auto start = Clock::now();
    long rssAtFull = -1, peak = 0, last = 0, n = 1;  // the session's first cycle wrote line 1
    while (n < lines) {
        session.run_cycle();
        ++n;
        if (n % 1000 == 0) {
            session.sim().clear_exchanges();  // the simulator's own record would grow
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const bool out = budget > 0 && elapsed > budget;
        if (n % 10000 == 0 || n == lines || out || (n < 10000 && n % 1000 == 0)) {
            last = logging_bench::resident_kb();
            peak = std::max(peak, last);
            if (rssAtFull < 0 && n >= 2 * kHistory) {
                rssAtFull = last;
            }
            std::printf("%7ld lines: RSS %6.1f MB, %.0f s\n", n, last / 1024.0, elapsed);
            std::fflush(stdout);
        }
        if (out) {
            break;
        }
    }
    const double growth = rssAtFull > 0 ? (last - rssAtFull) / 1024.0 : 0.0;
    std::printf("%s: %ld lines, peak RSS %.1f MB (limit 100), growth after %ld lines %s%.1f MB\n",
                noBus ? "without bus" : "simulated bus", n, peak / 1024.0, 2 * kHistory,
                rssAtFull > 0 ? "" : "(not reached) ", growth);
    return peak <= 100 * 1024 && growth < 5.0 ? 0 : 1;
}
