// The shared set-up of the logging tests.
#include "logging_fixture.h"

#include <array>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/panel_ids.h"
#include "asynctimer/asynctimer.h"
#include "bus/bus.h"
#include "logging/logging.h"
#include "platform/rs232.h"
#include "platform/ui_testing.h"

namespace logging_test {

int ScriptedPopups::message(std::string_view title, std::string_view text) {
    const std::lock_guard lock(mutex_);
    messages_.push_back({std::string(title), std::string(text)});
    return 0;
}

int ScriptedPopups::fileSelect(const FileSelectRequest& request, std::string& path) {
    const std::lock_guard lock(mutex_);
    requests_.push_back(request);
    if (answers_.empty()) {
        return VAL_NO_FILE_SELECTED;
    }
    auto [result, chosen] = answers_.front();
    answers_.pop_front();
    if (result == VAL_EXISTING_FILE_SELECTED || result == VAL_NEW_FILE_SELECTED) {
        path = chosen;
    }
    return result;
}

void ScriptedPopups::answer_file_select(int result, std::string path) {
    const std::lock_guard lock(mutex_);
    answers_.emplace_back(result, std::move(path));
}

std::vector<Message> ScriptedPopups::messages() const {
    const std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<FileSelectRequest> ScriptedPopups::file_requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> read_lines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(read_file(path));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void LoggingTest::SetUp() {
    ResetUiForTesting();
    static constexpr std::array<ExternalName, 2> kNames{{
        {"start_logging", start_logging, nullptr},
        {"set_filename_for_loggerdata", set_filename_for_loggerdata, nullptr},
    }};
    ASSERT_NE(InitRunTime(kNames), 0);
    main_panel = LoadPanel(0, LOGGING_TEST_PANEL_FILE, MAIN_PANEL_RESOURCE);
    ASSERT_GE(main_panel, 0) << LastPanelFileError();
    SetPopupResponder(&popups_);
    SetWallClockForTesting([] { return WallClockReading{2024, 3, 5, 14, 7, 9}; });
    SetDelayScaleForTesting(0.05);
    set_reply_timeout_for_testing(0.3);

    // Memory-backed when there is such a folder: every cycle syncs both files to the disk.
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string tmpl = (base / "veldra-logging-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    text_path_ = dir_ / "field.txt";
    csv_path_ = dir_ / "field.csv";
    SetComPortMapFile((dir_ / "comports.txt").string());

    measurement_timer = NewAsyncTimer(5.0, -1, 0, timer_callback, nullptr);
    ASSERT_GT(measurement_timer, 0);
}

void LoggingTest::TearDown() {
    end_logging_session();
    DiscardAsyncTimer(measurement_timer);
    CloseCom(kSimPort);
    sim_.reset();
    SetPopupResponder(nullptr);
    SetWallClockForTesting({});
    SetDelayScaleForTesting(1.0);
    set_reply_timeout_for_testing(2.0);
    SetComPortMapFile("comports.txt");
    ResetUiForTesting();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

veldra::sim::SensorSimulator& LoggingTest::sim(std::vector<std::uint32_t> sensors) {
    if (!sim_) {
        veldra::sim::Options options;
        options.sensors = std::move(sensors);
        sim_ = std::make_unique<veldra::sim::SensorSimulator>(std::move(options));
        std::ofstream map(dir_ / "comports.txt");
        map << kSimPort << " " << sim_->device_path() << "\n";
    }
    return *sim_;
}

void LoggingTest::add_sensor(int address) {
    InsertListItem(main_panel, sensor_list, -1, "Adr. " + std::to_string(address), address);
}

void LoggingTest::set_fields(int port, int interval, const std::string& logfile) {
    SetCtrlVal(main_panel, comport_field, port);
    SetCtrlVal(main_panel, interval_field, interval);
    SetCtrlVal(main_panel, logfile_field, logfile);
}

void LoggingTest::press_start_stop() {
    ASSERT_EQ(SimulateCommit(main_panel, start_stop_button), 0);
}

void LoggingTest::pause_timer() {
    SetAsyncTimerAttribute(measurement_timer, TIMER_ATTR_ENABLED, 0);
    WaitForAsyncTimerCallback(measurement_timer);
}

void LoggingTest::start_and_pause_after_first_cycle(const std::filesystem::path& csv) {
    press_start_stop();
    ASSERT_EQ(logging_active(), 1);
    ASSERT_TRUE(wait_for_lines(csv.empty() ? csv_path_ : csv, 4));
    pause_timer();
}

void LoggingTest::run_cycle() {
    timer_callback(0, measurement_timer, TIMER_EVENT_TICK, nullptr, nullptr, nullptr);
}

std::string LoggingTest::log_view_text() {
    std::string text;
    GetCtrlVal(main_panel, log_view, text);
    return text;
}

std::string LoggingTest::field_text(int control) {
    std::string text;
    GetCtrlVal(main_panel, control, text);
    return text;
}

int LoggingTest::field_value(int control) {
    int value = 0;
    GetCtrlVal(main_panel, control, value);
    return value;
}

bool LoggingTest::wait_for_lines(const std::filesystem::path& path, std::size_t n) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (read_lines(path).size() >= n) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace logging_test
