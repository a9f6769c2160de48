// Sets up the panel, the simulator and a session the way the program does, headless.
#include "bench_session.h"

#include <stdlib.h>

#include <array>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "app/panel_ids.h"
#include "asynctimer/asynctimer.h"
#include "logging/logging.h"
#include "platform/rs232.h"
#include "platform/ui.h"
#include "platform/ui_testing.h"

namespace logging_bench {

namespace {
constexpr int kPort = 7;
}

BenchSession::BenchSession(veldra::sim::Options options, double delayScale) {
    const std::vector<std::uint32_t> sensors = options.sensors;
    ResetUiForTesting();
    static constexpr std::array<ExternalName, 2> kNames{{
        {"start_logging", start_logging, nullptr},
        {"set_filename_for_loggerdata", set_filename_for_loggerdata, nullptr},
    }};
    InitRunTime(kNames);
    main_panel = LoadPanel(0, LOGGING_BENCH_PANEL_FILE, MAIN_PANEL_RESOURCE);
    if (main_panel < 0) {
        throw std::runtime_error("panel file: " + LastPanelFileError());
    }
    SetDelayScaleForTesting(delayScale);
    std::string tmpl = "/dev/shm/veldra-bench-XXXXXX";
    if (!std::filesystem::is_directory("/dev/shm")) {
        tmpl = (std::filesystem::temp_directory_path() / "veldra-bench-XXXXXX").string();
    }
    if (mkdtemp(tmpl.data()) == nullptr) {
        throw std::runtime_error("no temporary folder");
    }
    dir_ = tmpl;
    text_ = dir_ / "field.txt";
    sim_ = std::make_unique<veldra::sim::SensorSimulator>(std::move(options));
    std::ofstream(dir_ / "comports.txt") << kPort << " " << sim_->device_path() << "\n";
    SetComPortMapFile((dir_ / "comports.txt").string());

    for (std::uint32_t a : sensors) {
        InsertListItem(main_panel, sensor_list, -1, "sensor", static_cast<int>(a));
    }
    SetCtrlVal(main_panel, comport_field, kPort);
    SetCtrlVal(main_panel, interval_field, 3600);
    SetCtrlVal(main_panel, logfile_field, text_.string());
    measurement_timer = NewAsyncTimer(3600.0, -1, 0, timer_callback, nullptr);
    // Enabled with the interval 0 the timer runs the first cycle at once; pause right after.
    start_logging(main_panel, start_stop_button, EVENT_COMMIT, nullptr, 0, 0);
    if (logging_active() != 1) {
        throw std::runtime_error("the session did not start");
    }
    while (sim_->exchange_count() < 4 * sensors.size()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    SetAsyncTimerAttribute(measurement_timer, TIMER_ATTR_ENABLED, 0);
    WaitForAsyncTimerCallback(measurement_timer);
}

BenchSession::~BenchSession() {
    end_logging_session();
    DiscardAsyncTimer(measurement_timer);
    sim_.reset();
    ResetUiForTesting();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void BenchSession::unmap_port() {
    std::ofstream(dir_ / "comports.txt")
        << kPort << " " << (dir_ / "no-such-device").string() << "\n";
    CloseCom(kPort);
}

void BenchSession::run_cycle() {
    timer_callback(0, measurement_timer, TIMER_EVENT_TICK, nullptr, nullptr, nullptr);
}

long resident_kb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

}  // namespace logging_bench
