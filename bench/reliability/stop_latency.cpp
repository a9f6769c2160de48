// Stop latency with silent sensors: how long a press of "Stop Logging" takes while the cycle
// waits for sensors that never answer (the real 2-second reply time-out, real pauses). The
// press lands at a random moment of the cycle: in a blocking read or in a pause.
//
//   stop_latency [presses]        (default 30)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "session_rig.h"

using namespace veldra::reliability;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    const int presses = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    veldra::sim::Options options;  // no sensor answers
    SessionRig rig(options, TimerMode::Real);
    rig.set_sensor_list({0x5111E7, 0x5111E8});
    rig.set_interval(6);

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> wait_ms(50, 4000);
    std::vector<double> ms;
    for (int i = 0; i < presses; ++i) {
        rig.press_start_stop();
        if (!rig.logging()) {
            std::fprintf(stderr, "the session did not start\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms(random)));
        const auto begin = Clock::now();
        rig.press_start_stop();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        if (rig.logging()) {
            std::fprintf(stderr, "the stop was refused\n");
            return 1;
        }
    }
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[static_cast<std::size_t>(q * (ms.size() - 1))]; };
    std::printf(
        "stop_latency: %d presses during silent-sensor cycles: median %.1f ms, p90 %.1f ms, max "
        "%.1f ms\n",
        presses, at(0.5), at(0.9), ms.back());
    return 0;
}
