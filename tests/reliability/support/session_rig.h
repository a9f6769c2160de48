// A logging session run headless against the simulated sensor bus: the program's panels loaded
// from the panel file, a COM number mapped to the simulator's pseudo-terminal, popups answered
// and recorded, logs in a private temporary folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "sim/sensor_sim.h"

namespace veldra::reliability {

// A folder under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Dismisses every message box and answers file selections with a fixed path.
class RecordingResponder : public PopupResponder {
  public:
    int message(std::string_view title, std::string_view text) override;
    int fileSelect(const FileSelectRequest& request, std::string& path) override;
    void set_file_answer(std::string path);
    std::vector<std::string> messages() const;  // "title: text"

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
    std::string file_answer_;
};

// How the measurement timer is set up.
enum class TimerMode {
    Real,    // as the program does: its ticks run the cycle
    Manual,  // its ticks do nothing; the test runs the cycle itself with run_cycle()
};

// Constructing a rig resets the user-interface services (and with them the clock seams): set
// seams after it.
class SessionRig {
  public:
    static constexpr int kComPort = 150;

    SessionRig(sim::Options options, TimerMode mode);
    ~SessionRig();
    SessionRig(const SessionRig&) = delete;
    SessionRig& operator=(const SessionRig&) = delete;

    sim::SensorSimulator& sim() { return sim_; }
    RecordingResponder& popups() { return popups_; }
    const std::filesystem::path& dir() const { return dir_.path(); }
    std::filesystem::path text_log() const { return dir() / "log.txt"; }
    std::filesystem::path csv_log() const { return dir() / "log.csv"; }

    // The main panel's session settings, as the user would enter them.
    void set_sensor_list(const std::vector<std::uint32_t>& addresses);
    void set_interval(int seconds);
    void set_log_file(const std::filesystem::path& path);

    // One press of "Start Logging" / "Stop Logging".
    void press_start_stop();
    bool logging() const;
    // One measurement cycle on the calling thread (TimerMode::Manual).
    void run_cycle();
    // The text of the log-write error line (empty while every write succeeded).
    std::string log_error_text() const;

  private:
    TempDir dir_;
    sim::SensorSimulator sim_;
    RecordingResponder popups_;
};

}  // namespace veldra::reliability
