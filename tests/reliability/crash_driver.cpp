// A logging session that runs until it is killed, for the crash test: cycles of four simulated
// sensors as fast as the bus allows, while a second thread keeps saving the main panel's state
// to the settings file with a new consistent pair of values each time. Prints "ready" once the
// first cycle and the first save are on disk.
//
//   reliability_crash_driver <folder>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "app/panel_ids.h"
#include "bus/bus.h"
#include "crash_record.h"
#include "cycle_clock.h"
#include "platform/ui.h"
#include "session_rig.h"

using namespace veldra::reliability;

namespace {

std::atomic<long> g_cycle{0};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];

    veldra::sim::Options options;
    options.sensors = {kCrashSensors.begin(), kCrashSensors.end()};
    options.faults = veldra::sim::FaultRates::all(0.0);
    options.faults[veldra::sim::Fault::BadChecksum] = 0.05;
    SessionRig rig(options, TimerMode::Manual);
    SetWallClockForTesting([] { return reading_for_cycle(g_cycle.load()); });
    SetDelayScaleForTesting(0.001);
    set_reply_timeout_for_testing(0.05);
    rig.set_sensor_list({kCrashSensors.begin(), kCrashSensors.end()});
    rig.set_interval(60);
    rig.set_log_file(folder / "log.txt");
    rig.press_start_stop();
    if (!rig.logging()) {
        std::fprintf(stderr, "the session did not start\n");
        return 1;
    }

    CrashProgress* progress = map_crash_progress(folder);
    if (progress == nullptr) {
        std::perror("progress file");
        return 1;
    }
    const auto settings = (folder / "settings.txt").string();
    std::atomic<bool> saved_once{false};
    std::thread saver([&] {
        for (int generation = 1;; ++generation) {
            write_settings_generation(generation);
            if (SavePanelState(main_panel, settings, 1) == 0) {
                progress->generation_saved = generation;
                saved_once = true;
            }
        }
    });

    for (long cycle = 0;; ++cycle) {
        g_cycle = cycle;
        rig.run_cycle();
        progress->cycles_done = cycle + 1;
        if (cycle == 0) {
            while (!saved_once) {
                std::this_thread::yield();
            }
            std::puts("ready");
            std::fflush(stdout);
        }
    }
}
