// One measurement cycle of 10 sensors against the simulated bus at 9600 baud, against the
// physical minimum: 0.3 s of pauses per sensor, every request and reply byte at 10 bits per
// byte, and the simulator's reply delay. Fails when the cycle takes more than 1.02 times that.
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench_session.h"

int main() {
    using Clock = std::chrono::steady_clock;
    constexpr int kSensors = 10;
    constexpr int kCycles = 3;
    constexpr double kByteSeconds = 10.0 / 9600.0;
    const auto replyDelay = std::chrono::microseconds(2000);

    veldra::sim::Options options;
    for (int i = 0; i < kSensors; ++i) {
        options.sensors.push_back(0x100000u + static_cast<std::uint32_t>(i));
    }
    options.baud_emulation = true;
    options.baud = 9600;
    options.reply_delay = replyDelay;
    logging_bench::BenchSession session(std::move(options), 1.0);

    double worst = 0;
    for (int c = 0; c < kCycles; ++c) {
        session.sim().clear_exchanges();
        const auto start = Clock::now();
        session.run_cycle();
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        double lineBytes = 0, replyBytes = 0;
        const auto exchanges = session.sim().exchanges();
        for (const auto& e : exchanges) {
            lineBytes += 13.0 + static_cast<double>(e.command.size());
            replyBytes += static_cast<double>(e.reply.size());
        }
        const double delays = static_cast<double>(exchanges.size()) *
                              std::chrono::duration<double>(replyDelay).count();
        const double minimum = 0.3 * kSensors + (lineBytes + replyBytes) * kByteSeconds + delays;
        // The simulator paces only its replies; a pty carries the request at once.
        const double emulated = 0.3 * kSensors + replyBytes * kByteSeconds + delays;
        const double ratio = took / minimum;
        worst = std::max(worst, ratio);
        std::printf(
            "cycle %d: %zu transactions, %.4f s; physical minimum %.4f s (pauses 3.0, bytes "
            "%.0f+%.0f, reply delays %.3f) ratio %.4f; emulated minimum %.4f s ratio %.4f\n",
            c + 1, exchanges.size(), took, minimum, lineBytes, replyBytes, delays, ratio, emulated,
            took / emulated);
    }
    std::printf("worst ratio to the physical minimum: %.4f (limit 1.02)\n", worst);
    return worst <= 1.02 ? 0 : 1;
}
