// Late answers and a babbling line as the measurement cycle meets them: whole cycles of the core's
// session against the simulated bus, run back to back on the test's thread. Every cell must hold
// the value its own sensor sent for that very quantity in time, or an error; a late answer never
// shows. Time runs at a tenth: a 0.2 s reply time-out, lateness of 0.23 and 0.26 s standing for
// 2.3 and 2.6 s, 10 ms pauses.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "asynctimer/asynctimer.h"
#include "bus/bus.h"
#include "logging/session.h"
#include "platform/rs232.h"
#include "platform/wall_clock.h"
#include "sim/sensor_sim.h"

namespace {

using namespace veldra::core;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace sim = veldra::sim;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 31;
constexpr std::uint32_t kB = 0x0B0B0B;
constexpr std::uint32_t kLate = 0x0A1B2C;
constexpr std::uint32_t kC = 0x0C0C0C;
constexpr double kTimeout = 0.2;

// The records and the query events of a session.
class Records final : public SessionObserver {
  public:
    void query_started(const QueryStart&) override {
        {
            const std::lock_guard lock(mutex_);
            ++queries_started_;
        }
        changed_.notify_all();
    }
    void cycle_finished(const CycleRecord& record) override {
        const std::lock_guard lock(mutex_);
        records_.push_back(record);
    }
    void cycle_abandoned() override {
        const std::lock_guard lock(mutex_);
        ++abandoned_;
    }
    std::vector<CycleRecord> records() const {
        const std::lock_guard lock(mutex_);
        return records_;
    }
    void clear() {
        const std::lock_guard lock(mutex_);
        records_.clear();
        queries_started_ = 0;
        abandoned_ = 0;
    }
    int abandoned() const {
        const std::lock_guard lock(mutex_);
        return abandoned_;
    }
    bool wait_for_queries(int n) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return queries_started_ >= n; });
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<CycleRecord> records_;
    int queries_started_ = 0;
    int abandoned_ = 0;
};

class CycleAgainstTheBus : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "veldra-late-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        SetComPortMapFile((dir_ / "comports.txt").string());
        SetDelayScaleForTesting(0.1);
        set_reply_timeout_for_testing(kTimeout);
        reset_bus_state_for_testing();
        // The cycles run on the test's thread; the session's timer ticks nothing.
        timer_ = NewAsyncTimer(5.0, -1, 0, nullptr, nullptr);
        ASSERT_GT(timer_, 0);
    }
    void TearDown() override {
        if (session_) {
            session_->stop();
        }
        session_.reset();
        sim_.reset();
        DiscardAsyncTimer(timer_);
        SetComPortMapFile("comports.txt");
        SetDelayScaleForTesting(1.0);
        set_reply_timeout_for_testing(2.0);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    sim::SensorSimulator& bus(sim::Options options) {
        sim_.reset();  // first: it takes its link with it
        options.link_path = (dir_ / "sensor-bus").string();
        sim_ = std::make_unique<sim::SensorSimulator>(std::move(options));
        std::ofstream(dir_ / "comports.txt") << kPort << " " << sim_->device_path() << "\n";
        return *sim_;
    }
    Session& start(std::vector<std::uint32_t> order) {
        sensors_ = std::make_unique<FixedSensorList>(std::vector<int>(order.begin(), order.end()));
        session_ = std::make_unique<Session>(*sensors_);
        EXPECT_TRUE(session_->add_observer(records_));
        const StartResult started =
            session_->start({kPort, 3600, (dir_ / "field.txt").string(), timer_, {}});
        EXPECT_TRUE(started.started) << (started.refusal ? started.refusal->text : "");
        return *session_;
    }

    fs::path dir_;
    int timer_ = 0;
    Records records_;
    std::unique_ptr<sim::SensorSimulator> sim_;
    std::unique_ptr<FixedSensorList> sensors_;
    std::unique_ptr<Session> session_;
};

// Every cell against what the bus carried for its request: a value only where it is the very
// reply the sensor sent for that request. The good sensors' answers are never taken for late
// ones (a loaded machine may still make one of them miss its time-out now and then).
void expect_every_cell_its_own(const std::vector<CycleRecord>& records,
                               const std::vector<sim::Exchange>& exchanges,
                               std::uint32_t late_sensor) {
    std::size_t next = 0;
    int good_cells = 0;
    int good_values = 0;
    for (const CycleRecord& record : records) {
        for (const SensorReading& sensor : record.sensors) {
            for (std::size_t k = 0; k < kQuantityCount; ++k) {
                SCOPED_TRACE("cycle " + std::to_string(record.cycle) + ", sensor " +
                             std::to_string(sensor.address) + ", quantity " + std::to_string(k));
                ASSERT_LT(next, exchanges.size()) << "a request the bus never saw";
                const sim::Exchange& ex = exchanges[next++];
                ASSERT_EQ(ex.address, static_cast<std::uint32_t>(sensor.address));
                ASSERT_EQ(ex.quantity, static_cast<sim::Quantity>(k));
                const QueryResult& q = sensor.queries[k];
                if (shows_value(q.status)) {
                    EXPECT_TRUE(ex.answered);
                    EXPECT_EQ(q.reply, ex.reply_text) << "a value that is not this request's";
                }
                if (ex.address != late_sensor) {
                    EXPECT_NE(q.status, QueryStatus::StaleSkipped);
                    ++good_cells;
                    good_values += shows_value(q.status) ? 1 : 0;
                }
            }
        }
    }
    EXPECT_EQ(next, exchanges.size());
    EXPECT_GT(2 * good_values, good_cells);
}

// A sensor that answers every request 2.3 or 2.6 s late (scaled), between two good ones and as
// the last sensor of cycles that follow each other at once.
TEST_F(CycleAgainstTheBus, ALateSensorNeverPutsAValueIntoALaterCell) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> order;
        std::chrono::milliseconds late;
    };
    const Case cases[] = {
        {"between two good ones, 2.3 s", {kB, kLate, kC}, 230ms},
        {"between two good ones, 2.6 s", {kB, kLate, kC}, 260ms},
        {"last of back-to-back cycles, 2.3 s", {kB, kLate}, 230ms},
        {"last of back-to-back cycles, 2.6 s", {kB, kLate}, 260ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset_bus_state_for_testing();
        sim::Options options{.sensors = c.order};
        options.habits[kLate] = {.late_min = c.late, .late_max = c.late};
        sim::SensorSimulator& s = bus(options);
        Session& session = start(c.order);
        for (int cycle = 0; cycle < 3; ++cycle) {
            session.tick();
        }
        session.stop();
        expect_every_cell_its_own(records_.records(), s.exchanges(), kLate);
        session_.reset();
        records_.clear();
    }
}

// A line that never falls quiet, its sensors drowned out: every cell is an error, the cycle
// ends in its time, and a stop in the middle of a wait ends the session at once. (Most
// requests never go out, BUS_ERR_LINE_BUSY; a pseudo-terminal hands bytes on in bursts, so now
// and then the line seems quiet for a moment and one does, to be answered by noise.)
TEST_F(CycleAgainstTheBus, ABabblingLineGivesErrorCellsAndNeverHoldsUpAStop) {
    bus({.sensors = {}, .babble = true});
    Session& session = start({kB, kC});
    const auto began = Clock::now();
    session.tick();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - began).count(), 10.0);
    const std::vector<CycleRecord> records = records_.records();
    ASSERT_EQ(records.size(), 1u);
    for (const SensorReading& sensor : records[0].sensors) {
        for (const QueryResult& q : sensor.queries) {
            EXPECT_FALSE(shows_value(q.status)) << q.reply;
        }
    }

    // Now each wait for quiet would last 2 s: the stop must not wait for it.
    set_reply_timeout_for_testing(8.0);
    auto cycle = std::async(std::launch::async, [&] { session.tick(); });
    ASSERT_TRUE(records_.wait_for_queries(8 + 1));  // inside the cycle's first wait
    const auto before = Clock::now();
    session.stop();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - before).count(), 1.0);
    ASSERT_EQ(cycle.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(records_.abandoned(), 1);
    EXPECT_EQ(records_.records().size(), 1u);
}

}  // namespace
