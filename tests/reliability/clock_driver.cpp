// A real-timer logging session of one simulated sensor, for the system-clock test: started,
// left running for a number of ticks by the monotonic clock, then stopped. The test runs it
// under a library that fakes the system's wall clock, so nothing here may trust that clock.
// Prints "started" when the session has started.
//
//   reliability_clock_driver <folder> <ticks> <interval seconds>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "bus/bus.h"
#include "platform/ui.h"
#include "session_rig.h"

using namespace veldra::reliability;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <folder> <ticks> <interval seconds>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const int ticks = std::atoi(argv[2]);
    const int interval = std::atoi(argv[3]);

    veldra::sim::Options options;
    options.sensors = {0x0A1B2C};
    SessionRig rig(options, TimerMode::Real);
    SetDelayScaleForTesting(0.01);
    set_reply_timeout_for_testing(0.5);
    rig.set_sensor_list({0x0A1B2C});
    rig.set_interval(interval);
    rig.set_log_file(folder / "log.txt");

    const auto start = std::chrono::steady_clock::now();
    rig.press_start_stop();
    if (!rig.logging()) {
        std::fprintf(stderr, "the session did not start\n");
        return 1;
    }
    std::puts("started");
    std::fflush(stdout);
    // Half an interval after the last tick that is to be logged.
    std::this_thread::sleep_until(
        start + std::chrono::milliseconds((ticks - 1) * interval * 1000 + interval * 500));
    rig.press_start_stop();
    return rig.logging() ? 1 : 0;
}
