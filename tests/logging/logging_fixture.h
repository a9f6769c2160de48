// A headless main panel, a simulated sensor bus on a pseudo-terminal mapped to a COM number,
// a fixed wall clock, scripted popups and a temporary folder: what the logging tests share.
#pragma once

#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ui.h"
#include "sim/sensor_sim.h"

namespace logging_test {

inline constexpr int kSimPort = 7;         // mapped to the simulator
inline constexpr int kUnmappedPort = 200;  // maps to no device
inline constexpr const char* kNoFileText =
    "no file selected, please press Button \"Set Logfile\"...";

struct Message {
    std::string title, text;
};

// Answers popups: records messages, answers file selections from a queue (empty: cancel).
class ScriptedPopups : public PopupResponder {
  public:
    int message(std::string_view title, std::string_view text) override;
    int fileSelect(const FileSelectRequest& request, std::string& path) override;

    void answer_file_select(int result, std::string path);
    std::vector<Message> messages() const;
    std::vector<FileSelectRequest> file_requests() const;

  private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    std::vector<FileSelectRequest> requests_;
    std::deque<std::pair<int, std::string>> answers_;
};

std::string read_file(const std::filesystem::path& path);
std::vector<std::string> read_lines(const std::filesystem::path& path);

class LoggingTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The simulator, started on first use with the given answering sensors.
    veldra::sim::SensorSimulator& sim(std::vector<std::uint32_t> sensors = {});

    void add_sensor(int address);
    void set_fields(int port, int interval, const std::string& logfile);
    void press_start_stop();
    // Starts a session and waits until its first cycle has ended; then the timer is paused so
    // the test can run further cycles itself with timer_callback.
    void start_and_pause_after_first_cycle(const std::filesystem::path& csv = {});
    void pause_timer();
    void run_cycle();  // one cycle on the test's thread

    std::string log_view_text();
    std::string field_text(int control);
    int field_value(int control);
    // Waits (generously) until the file has at least n lines.
    bool wait_for_lines(const std::filesystem::path& path, std::size_t n);

    std::filesystem::path dir_;
    std::filesystem::path text_path_;  // dir_/field.txt
    std::filesystem::path csv_path_;   // dir_/field.csv
    ScriptedPopups popups_;
    std::unique_ptr<veldra::sim::SensorSimulator> sim_;
};

}  // namespace logging_test
