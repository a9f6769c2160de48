// The measurement core as a service drives it, for the session tests: a fixed sensor list, a
// timer of the session's own, an observer that records every event, and the simulated bus on
// a pseudo-terminal mapped to a COM number; a temporary folder and a fixed wall clock.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "asynctimer/asynctimer.h"
#include "bus/bus.h"
#include "logging/session.h"
#include "logging/session_timer.h"
#include "platform/rs232.h"
#include "platform/wall_clock.h"
#include "sim/sensor_sim.h"

namespace core_test {

using namespace veldra::core;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace sim = veldra::sim;

constexpr int kPort = 7;
constexpr int kUnmappedPort = 200;
constexpr int kGood = 0x0a1b2c;
constexpr int kSilent = 0x0bad00;
constexpr int kChecksum = 0x0c0c0c;
constexpr int kText = 0x0d0d0d;

// Every event of a session, in order, with the records and notices; waits for them.
class Recorder final : public SessionObserver {
  public:
    void session_started(const SessionInfo& info) override {
        add("session_started");
        const std::lock_guard lock(mutex_);
        info_ = info;
    }
    void cycle_started(const CycleStart& start) override {
        add("cycle_started " + std::to_string(start.cycle));
    }
    void query_started(const QueryStart& q) override { add("query_started " + q.status_text); }
    void query_finished(const QueryEnd& q) override {
        add("query_finished " + std::string(status_key(q.result->status)));
    }
    void cycle_finished(const CycleRecord& record) override {
        {
            const std::lock_guard lock(mutex_);
            records_.push_back(record);
        }
        add("cycle_finished");
    }
    void cycle_abandoned() override { add("cycle_abandoned"); }
    void notice(const Notice& n) override {
        {
            const std::lock_guard lock(mutex_);
            notices_.push_back(n);
        }
        add("notice");
    }
    void session_ended(const SessionEnd& end) override {
        add("session_ended " + std::to_string(end.cycles));
    }

    std::vector<std::string> events() const {
        const std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<CycleRecord> records() const {
        const std::lock_guard lock(mutex_);
        return records_;
    }
    std::vector<Notice> notices() const {
        const std::lock_guard lock(mutex_);
        return notices_;
    }
    SessionInfo info() const {
        const std::lock_guard lock(mutex_);
        return info_;
    }
    // Waits (generously) until the event has been seen n times.
    bool wait_for(const std::string& event, std::size_t n = 1) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 60s, [&] {
            return static_cast<std::size_t>(std::count(events_.begin(), events_.end(), event)) >= n;
        });
    }

  private:
    void add(std::string event) {
        {
            const std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::vector<CycleRecord> records_;
    std::vector<Notice> notices_;
    SessionInfo info_;
};

inline std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string last_line(const fs::path& path) {
    std::string text = slurp(path);
    text.pop_back();  // the line end of the last line
    return text.substr(text.rfind('\n') + 1);
}

// Plugging runs on the simulator's thread; waits until it has happened.
inline bool wait_plugged(const sim::SensorSimulator& s, bool plugged) {
    for (int i = 0; i < 3000 && s.plugged() != plugged; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return s.plugged() == plugged;
}

inline std::size_t line_count(const fs::path& path) {
    const std::string text = slurp(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class CoreSession : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "veldra-core-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        SetComPortMapFile((dir_ / "comports.txt").string());
        SetWallClockForTesting([] { return WallClockReading{2024, 3, 5, 14, 7, 9}; });
        SetDelayScaleForTesting(0.05);
        set_reply_timeout_for_testing(0.3);
    }
    void TearDown() override {
        timer_.reset();
        session_.reset();
        sim_.reset();
        SetComPortMapFile("comports.txt");
        SetWallClockForTesting({});
        SetDelayScaleForTesting(1.0);
        set_reply_timeout_for_testing(2.0);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // The simulator on COM kPort, answering for the given addresses.
    sim::SensorSimulator& bus(std::vector<std::uint32_t> answering) {
        sim::Options options;
        options.sensors = std::move(answering);
        options.link_path = (dir_ / "sensor-bus").string();
        sim_ = std::make_unique<sim::SensorSimulator>(std::move(options));
        std::ofstream(dir_ / "comports.txt") << kPort << " " << sim_->device_path() << "\n";
        return *sim_;
    }

    // A session over a fixed list, observed by the recorder, on a timer of its own.
    Session& session(std::vector<int> addresses) {
        sensors_ = std::make_unique<FixedSensorList>(std::move(addresses));
        session_ = std::make_unique<Session>(*sensors_);
        EXPECT_TRUE(session_->add_observer(recorder_));
        timer_ = std::make_unique<SessionTimer>(*session_);
        EXPECT_GT(timer_->id(), 0);
        return *session_;
    }
    SessionConfig config(int interval = 3600, FileRules rules = {}) const {
        return {kPort, interval, (dir_ / "field.txt").string(), timer_->id(), rules};
    }
    // Starts, lets the first cycle (which runs at once) end, and pauses the ticks.
    void start_and_pause_after_first_cycle(Session& s) {
        const StartResult started = s.start(config());
        ASSERT_TRUE(started.started) << (started.refusal ? started.refusal->text : "");
        ASSERT_TRUE(recorder_.wait_for("cycle_finished"));
        SetAsyncTimerAttribute(timer_->id(), TIMER_ATTR_ENABLED, 0);
        WaitForAsyncTimerCallback(timer_->id());
    }

    fs::path dir_;
    Recorder recorder_;
    std::unique_ptr<sim::SensorSimulator> sim_;
    std::unique_ptr<FixedSensorList> sensors_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<SessionTimer> timer_;
};

}  // namespace core_test
