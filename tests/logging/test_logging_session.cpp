// The start/stop command: the interval rule, the checks in their order, refused starts that
// change nothing, kept earlier logs, failed writes, and stops that never wait for a silent
// sensor or use a closed file.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/panel_ids.h"
#include "asynctimer/asynctimer.h"
#include "bus/bus.h"
#include "logging/logging.h"
#include "logging_fixture.h"
#include "platform/rs232.h"
#include "platform/ui_testing.h"
#include "unwritable_file.h"

namespace logging_test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSensor = 0x0a1b2c;
constexpr std::array<int, 7> kSessionControls{24, 23, 6, 5, 4, 2, 3};

const char* const kIntervalInfo =
    "The interval must be at least 3 seconds per sensor.\n\nThe interval has been adjusted "
    "automatically!";
const char* const kPortError =
    "Cannot open specified ComPort!\n\nPlease check if the correct ComPort number has been "
    "selected!\nPlease ensure, that no other application is blocking the selected ComPort!";
const char* const kNoFileInfo =
    "No target file has been selected for logging the data. Please select file first and then "
    "press  \"Start Logging\" again!";
const char* const kNoSensorInfo =
    "No sensor has been added to the list! Please add at least one sensor address and then "
    "press  \"Start Logging\" again!";

// True while a descriptor of this process refers to the file.
bool held_open(const fs::path& path) {
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code ignored;
        if (fs::equivalent(fs::read_symlink(fd.path(), ignored), path, ignored)) {
            return true;
        }
    }
    return false;
}

class LoggingSession : public LoggingTest {
  protected:
    void expect_idle() {
        EXPECT_EQ(logging_active(), 0);
        EXPECT_EQ(ControlLabel(main_panel, start_stop_button), "Start Logging");
        for (int c : kSessionControls) {
            EXPECT_FALSE(IsControlDimmed(main_panel, c)) << c;
        }
        int enabled = -1;
        GetAsyncTimerAttribute(measurement_timer, TIMER_ATTR_ENABLED, &enabled);
        EXPECT_EQ(enabled, 0);
    }
    void expect_running() {
        EXPECT_EQ(logging_active(), 1);
        EXPECT_EQ(ControlLabel(main_panel, start_stop_button), "Stop Logging");
        for (int c : kSessionControls) {
            EXPECT_TRUE(IsControlDimmed(main_panel, c)) << c;
        }
    }
    std::vector<fs::path> files_in_dir() {
        std::vector<fs::path> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            if (e.path().filename() != "comports.txt") {
                names.push_back(e.path().filename());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(LoggingSession, IntervalRaisedToThreeSecondsPerSensor) {
    struct Case {
        int interval, sensors, expected;
        bool info;
    };
    for (const Case& c : {Case{2, 3, 9, true}, Case{9, 3, 9, false}, Case{20, 2, 20, false}}) {
        SCOPED_TRACE(c.interval);
        ResetTextBox(main_panel, log_view, "");
        DeleteListItem(main_panel, sensor_list, 0, 10);
        sim({kSensor});
        for (int i = 0; i < c.sensors; ++i) {
            add_sensor(kSensor);
        }
        set_fields(kSimPort, c.interval, text_path_.string());
        const std::size_t before = popups_.messages().size();
        press_start_stop();
        expect_running();
        EXPECT_EQ(field_value(interval_field), c.expected);
        EXPECT_EQ(logging_interval(), c.expected);
        const auto messages = popups_.messages();
        ASSERT_EQ(messages.size(), before + (c.info ? 1 : 0));
        if (c.info) {
            EXPECT_EQ(messages.back().title, "Info");
            EXPECT_EQ(messages.back().text, kIntervalInfo);
        }
        press_start_stop();
        expect_idle();
    }
}

// Only the first failing check speaks, and a refused start changes nothing.
TEST_F(LoggingSession, ChecksInTheirOrder) {
    struct Case {
        const char* name;
        int port;
        bool file, sensor;
        const char* title;
        const char* text;
    };
    const std::vector<Case> cases{
        {"port before everything", kUnmappedPort, false, false, "Error", kPortError},
        {"file before list", kSimPort, false, false, "Info", kNoFileInfo},
        {"list", kSimPort, true, false, "Info", kNoSensorInfo},
    };
    sim({kSensor});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteListItem(main_panel, sensor_list, 0, 1);
        if (c.sensor) {
            add_sensor(kSensor);
        }
        // Any text that begins with "no file selected" means no file.
        set_fields(c.port, 30, c.file ? text_path_.string() : "no file selected at all");
        const std::size_t before = popups_.messages().size();
        press_start_stop();
        const auto messages = popups_.messages();
        ASSERT_EQ(messages.size(), before + 1);
        EXPECT_EQ(messages.back().title, c.title);
        EXPECT_EQ(messages.back().text, c.text);
        expect_idle();
        EXPECT_EQ(ComRdByte(kSimPort), COM_ERR_NOT_OPEN);
        EXPECT_FALSE(fs::exists(text_path_));
        EXPECT_EQ(log_view_text(), "");
    }
}

// A start whose files cannot be prepared is refused with an "Error" naming the file.
TEST_F(LoggingSession, UnusableLogFilesRefuseTheStart) {
    struct Case {
        std::string name;
        std::string logfile;
        std::string named;
    };
    sim({kSensor});
    fs::create_directory(dir_ / "blocked.csv");
    std::vector<Case> cases{
        {"text log in a missing folder", (dir_ / "missing/field.txt").string(),
         (dir_ / "missing/field.txt").string()},
        {"CSV log cannot be opened", (dir_ / "blocked.txt").string(),
         (dir_ / "blocked.csv").string()},
        {"CSV path equals the text log", (dir_ / "field.csv").string(),
         (dir_ / "field.csv").string()},
        {"too short for a CSV path", "ab", "\"ab\""},
        {"empty", "", "\"\""},
    };
    // Only a regular file is a log file: the box names the path and what it is instead. A named
    // pipe neither blocks the start nor receives a byte; a device is never emptied.
    const fs::path pipe = dir_ / "pipe.txt";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    fs::create_directory(dir_ / "folder.txt");
    for (const auto& [path, kind] : std::vector<std::pair<std::string, std::string>>{
             {pipe.string(), "a named pipe (FIFO)"},
             {"/dev/null", "a character device"},
             {(dir_ / "folder.txt").string(), "a directory"}}) {
        cases.push_back({kind, path,
                         "The log file \"" + path + "\" could not be opened (it is " + kind +
                             ", not a regular file)."});
    }
    const int pipeReader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(pipeReader, 0);
    add_sensor(kSensor);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        set_fields(kSimPort, 30, c.logfile);
        const std::size_t before = popups_.messages().size();
        press_start_stop();
        const auto messages = popups_.messages();
        ASSERT_EQ(messages.size(), before + 1);
        EXPECT_EQ(messages.back().title, "Error");
        EXPECT_NE(messages.back().text.find(c.named), std::string::npos) << messages.back().text;
        expect_idle();
        EXPECT_EQ(ComRdByte(kSimPort), COM_ERR_NOT_OPEN);
        EXPECT_EQ(log_view_text(), "");
    }
    // The text log that was opened before the CSV log failed is left empty, not half-headed.
    EXPECT_EQ(read_file(dir_ / "blocked.txt"), "");
    char byte = 0;
    EXPECT_LE(::read(pipeReader, &byte, 1), 0);
    ::close(pipeReader);
}

// Start, stop, start: the earlier logs are kept under dated names, the new ones start afresh.
TEST_F(LoggingSession, RestartKeepsEarlierLogsUnderDatedNames) {
    sim({kSensor});
    add_sensor(kSensor);
    set_fields(kSimPort, 3, text_path_.string());
    start_and_pause_after_first_cycle();
    expect_running();
    press_start_stop();
    expect_idle();
    const std::string firstText = read_file(text_path_);
    const std::string firstCsv = read_file(csv_path_);
    ASSERT_EQ(read_lines(text_path_).size(), 4u);

    // Same modification time for both, and the CSV log's name already taken: both take the
    // next suffix, so the kept pair still pairs up by name.
    const auto when = fs::last_write_time(text_path_);
    fs::last_write_time(csv_path_, when);
    struct stat st {};
    ASSERT_EQ(stat(text_path_.c_str(), &st), 0);
    std::array<char, 32> stamp{};
    struct tm local {};
    localtime_r(&st.st_mtim.tv_sec, &local);
    strftime(stamp.data(), stamp.size(), "%Y-%m-%d_%H%M%S", &local);
    const fs::path keptText = dir_ / ("field." + std::string(stamp.data()) + "-1.txt");
    const fs::path takenCsv = dir_ / ("field." + std::string(stamp.data()) + ".csv");
    const fs::path keptCsv = dir_ / ("field." + std::string(stamp.data()) + "-1.csv");
    std::ofstream(takenCsv) << "someone else's\n";

    press_start_stop();
    expect_running();
    ASSERT_TRUE(wait_for_lines(csv_path_, 4));
    pause_timer();
    EXPECT_EQ(read_file(keptText), firstText);
    EXPECT_EQ(read_file(keptCsv), firstCsv);
    EXPECT_EQ(read_file(takenCsv), "someone else's\n");
    EXPECT_EQ(read_lines(text_path_).size(), 4u);  // emptied and headed again
    EXPECT_EQ(read_lines(csv_path_).at(0), "\"sep=;\"");
    EXPECT_EQ(read_lines(csv_path_).size(), 4u);
    press_start_stop();
    EXPECT_TRUE(popups_.messages().empty());
}

// A file to be emptied that holds anything but one of our logs is left alone; an empty file is
// simply used.
TEST_F(LoggingSession, ForeignFilesAreNeverEmptied) {
    sim({kSensor});
    add_sensor(kSensor);
    set_fields(kSimPort, 3, text_path_.string());
    for (const fs::path& victim : {text_path_, csv_path_}) {
        SCOPED_TRACE(victim.string());
        fs::remove(text_path_);
        fs::remove(csv_path_);
        std::ofstream(victim) << "precious data\n";
        const std::size_t before = popups_.messages().size();
        press_start_stop();
        const auto messages = popups_.messages();
        ASSERT_EQ(messages.size(), before + 1);
        EXPECT_EQ(messages.back().title, "Error");
        EXPECT_NE(messages.back().text.find(victim.string()), std::string::npos);
        expect_idle();
        EXPECT_EQ(read_file(victim), "precious data\n");
    }
    fs::remove(csv_path_);
    std::ofstream(text_path_).close();  // empty: used as it is
    const std::size_t before = popups_.messages().size();
    press_start_stop();
    expect_running();
    EXPECT_EQ(popups_.messages().size(), before);
    EXPECT_EQ(files_in_dir(), (std::vector<fs::path>{"field.csv", "field.txt"}));
}

// A stop is never refused: not by a failing port test, a missing file or an empty list.
TEST_F(LoggingSession, StopAlwaysStops) {
    sim({kSensor});
    add_sensor(kSensor);
    set_fields(kSimPort, 3, text_path_.string());
    start_and_pause_after_first_cycle();
    set_fields(kUnmappedPort, 1, kNoFileText);
    DeleteListItem(main_panel, sensor_list, 0, 1);
    press_start_stop();
    expect_idle();
    EXPECT_TRUE(popups_.messages().empty());
    EXPECT_EQ(ComRdByte(kSimPort), COM_ERR_NOT_OPEN);
    // The files were closed whole.
    EXPECT_EQ(read_lines(text_path_).size(), 4u);
}

// A write that fails shows in the main window, logging goes on, and the other file is whole.
TEST_F(LoggingSession, FailedWritesAreShownAndLoggingGoesOn) {
    sim({kSensor});
    add_sensor(kSensor);
    auto sealed = std::make_unique<UnwritableFile>(text_path_);
    ASSERT_TRUE(sealed->ready());
    set_fields(kSimPort, 3, text_path_.string());
    start_and_pause_after_first_cycle();
    expect_running();
    // In few words on the narrow line, the count first; the whole text in its tooltip.
    EXPECT_EQ(field_text(log_error_line),
              "4 lines wait: text log not written since 14:07:09 (Operation not permitted)");
    std::string tooltip;
    GetCtrlAttribute(main_panel, log_error_line, ATTR_TOOLTIP_TEXT, tooltip);
    EXPECT_EQ(tooltip, "Writing the log failed: " + text_path_.string() +
                           ": Operation not permitted (since 14:07:09); 4 lines wait");
    run_cycle();
    EXPECT_EQ(field_text(log_error_line),
              "5 lines wait: text log not written since 14:07:09 (Operation not permitted)");
    EXPECT_EQ(read_lines(csv_path_).size(), 5u);
    press_start_stop();
    // The lines that still waited are lost with the stop, and the line says so; kept after
    // the stop, cleared by the next start.
    EXPECT_EQ(field_text(log_error_line),
              "5 lines could not be written to " + text_path_.string() +
                  " before the session ended and are lost (Operation not permitted)");
    fs::remove(text_path_);
    fs::remove(csv_path_);
    sealed.reset();
    press_start_stop();
    expect_running();
    EXPECT_EQ(field_text(log_error_line), "");
}

// A stop during a read that waits for a silent sensor is answered at once, and the cut-short
// cycle writes no line.
TEST_F(LoggingSession, StopDuringABlockingReadIsAnsweredAtOnce) {
    set_reply_timeout_for_testing(30.0);
    auto& s = sim({});  // nobody answers
    add_sensor(kSensor);
    set_fields(kSimPort, 3, text_path_.string());
    press_start_stop();
    ASSERT_TRUE(s.wait_for_exchanges(1, std::chrono::seconds(30)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto before = Clock::now();
    press_start_stop();
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(10));  // far below the time-out
    expect_idle();
    EXPECT_EQ(read_lines(text_path_).size(), 3u);
    EXPECT_EQ(read_lines(csv_path_).size(), 3u);
    EXPECT_EQ(log_view_text().find("2024-03-05"), std::string::npos);
    // No cycle runs on after the stop.
    const std::size_t exchanges = s.exchange_count();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(s.exchange_count(), exchanges);
}

// Ending the session from another thread's point of view while cycles run back to back: the
// cycle never uses what the end closed, and nothing is left half-written.
TEST_F(LoggingSession, EndWhileCyclesRun) {
    auto& s = sim({kSensor});
    add_sensor(kSensor);
    set_fields(kSimPort, 3, text_path_.string());
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        fs::remove(text_path_);
        fs::remove(csv_path_);
        s.clear_exchanges();
        press_start_stop();
        ASSERT_TRUE(s.wait_for_exchanges(static_cast<std::size_t>(1 + round % 4),
                                         std::chrono::seconds(30)));
        end_logging_session();  // what quit does before it saves the settings
        expect_idle();
        EXPECT_FALSE(held_open(text_path_));
        EXPECT_FALSE(held_open(csv_path_));
        const auto text = read_lines(text_path_);
        const auto csv = read_lines(csv_path_);
        EXPECT_EQ(text.size(), csv.size());
        for (const std::string& line : text) {
            EXPECT_TRUE(line.size() == 76u || line.size() == 22u + 54u) << line;
        }
        const std::string shown = log_view_text();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(log_view_text(), shown);
    }
}

}  // namespace
}  // namespace logging_test
