// Headless logging sessions for the reliability tests.
#include "session_rig.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "app/app.h"
#include "app/panel_ids.h"
#include "asynctimer/asynctimer.h"
#include "logging/logging.h"
#include "platform/rs232.h"
#include "platform/ui_testing.h"

namespace veldra::reliability {

namespace {

int ignore_tick(int, int, int, void*, void*, void*) {
    return 0;
}

void require(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(what);
    }
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "veldra-rel-XXXXXX").string();
    require(mkdtemp(pattern.data()) != nullptr, "cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

int RecordingResponder::message(std::string_view title, std::string_view text) {
    std::lock_guard lock(mutex_);
    messages_.push_back(std::string(title) + ": " + std::string(text));
    return 0;
}

int RecordingResponder::fileSelect(const FileSelectRequest&, std::string& path) {
    std::lock_guard lock(mutex_);
    if (file_answer_.empty()) {
        return VAL_NO_FILE_SELECTED;
    }
    path = file_answer_;
    return VAL_EXISTING_FILE_SELECTED;
}

void RecordingResponder::set_file_answer(std::string path) {
    std::lock_guard lock(mutex_);
    file_answer_ = std::move(path);
}

std::vector<std::string> RecordingResponder::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

// The bus is reached through a stable name, as a serial adapter would be, so a pulled and
// replugged simulator comes back under the same path.
static sim::Options with_link(sim::Options options, const std::filesystem::path& folder) {
    if (options.link_path.empty()) {
        options.link_path = (folder / "sensor-bus").string();
    }
    return options;
}

SessionRig::SessionRig(sim::Options options, TimerMode mode)
    : sim_(with_link(std::move(options), dir_.path())) {
    ResetUiForTesting();
    require(InitRunTime(callback_names()) != 0, "run-time initialisation failed");
    main_panel = LoadPanel(0, VELDRA_PANEL_FILE, MAIN_PANEL_RESOURCE);
    address_panel = LoadPanel(0, VELDRA_PANEL_FILE, ADDRESS_PANEL_RESOURCE);
    require(main_panel >= 0 && address_panel >= 0, "cannot load the panel file");
    SetPopupResponder(&popups_);

    const auto map_file = dir() / "comports.txt";
    std::ofstream(map_file) << kComPort << ' ' << sim_.device_path() << '\n';
    SetComPortMapFile(map_file.string());

    measurement_timer =
        NewAsyncTimer(5.0, -1, 0, mode == TimerMode::Real ? timer_callback : ignore_tick, nullptr);
    require(measurement_timer > 0, "cannot create the measurement timer");

    ResetTextBox(main_panel, log_view, "");
    SetCtrlVal(main_panel, comport_field, kComPort);
    set_log_file(text_log());
}

SessionRig::~SessionRig() {
    end_logging_session();
    CloseCom(kComPort);
    DiscardAsyncTimer(measurement_timer);
    SetPopupResponder(nullptr);
    SetComPortMapFile("");
    DiscardPanel(address_panel);
    DiscardPanel(main_panel);
    sim_.stop();
}

void SessionRig::set_sensor_list(const std::vector<std::uint32_t>& addresses) {
    int count = 0;
    GetNumListItems(main_panel, sensor_list, count);
    if (count > 0) {
        DeleteListItem(main_panel, sensor_list, 0, count);
    }
    for (const auto address : addresses) {
        const int value = static_cast<int>(address);
        InsertListItem(main_panel, sensor_list, -1, sensor_label(value), value);
    }
}

void SessionRig::set_interval(int seconds) {
    SetCtrlVal(main_panel, interval_field, seconds);
}

void SessionRig::set_log_file(const std::filesystem::path& path) {
    SetCtrlVal(main_panel, logfile_field, path.string());
}

void SessionRig::press_start_stop() {
    start_logging(main_panel, start_stop_button, EVENT_COMMIT, nullptr, 0, 0);
}

bool SessionRig::logging() const {
    return logging_active() == 1;
}

void SessionRig::run_cycle() {
    double since_start = 0.0;
    double since_previous = 0.0;
    timer_callback(0, measurement_timer, TIMER_EVENT_TICK, nullptr, &since_start, &since_previous);
}

std::string SessionRig::log_error_text() const {
    std::string text;
    GetCtrlVal(main_panel, log_error_line, text);
    return text;
}

}  // namespace veldra::reliability
