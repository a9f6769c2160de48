// The health of a session for the health view: per listed sensor whether it answers, fails or
// stays silent, its failures by kind, the share of good answers over the last hour and what its
// exchanges cost; and the state of the serial line, of the cycle against the interval, of the
// export and of the disk. Fed from the session's records and notices; plain data, no window.
//
// Threads: fed from the cycle's thread (and notices from any thread); read by taking a
// snapshot. Each call holds the model's mutex for a short time only.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "logging/cycle_record.h"
#include "logging/session_observer.h"

namespace veldra::views {

using Clock = std::chrono::system_clock;

// A sensor that failed now and then is "failing" until this many cycles in a row went well,
// so one that fails every third cycle never looks like a good one.
inline constexpr int kRecentCycles = 5;

enum class SensorState {
    Waiting,    // listed, not asked yet this session
    Answering,  // every query of its last kRecentCycles cycles got a number
    Failing,    // a query of those cycles failed, or answered with something unusable
    Silent,     // none of its last cycle's queries got a reply at all
};

struct SensorHealth {
    int address = 0;
    SensorState state = SensorState::Waiting;
    std::optional<Clock::time_point> last_good;  // the cycle of its last good reading
    std::array<std::uint64_t, core::kQueryStatusCount> counts{};  // this session, by status
    std::uint64_t good_last_hour = 0, asked_last_hour = 0;
    std::chrono::microseconds last_exchange{0};  // the last query's send and receive
    std::chrono::microseconds cycle_cost{0};     // its four exchanges in the last cycle

    std::uint64_t count(core::QueryStatus s) const { return counts[static_cast<std::size_t>(s)]; }
    // nullopt before the first answer of the hour is due.
    std::optional<double> good_share() const;
};

enum class LineCondition { Unknown, Open, Gone, Back };

struct LineHealth {
    int port = 0;
    std::string device;
    LineCondition condition = LineCondition::Unknown;
    std::optional<Clock::time_point> gone_since, back_at;
};

struct CycleHealth {
    std::uint64_t cycles = 0;
    std::chrono::milliseconds last_duration{0};
    int interval_seconds = 0;
    bool overrun = false;             // the last cycle took longer than the interval
    std::uint64_t overruns = 0;       // cycles of this session that did
    std::vector<int> costly_sensors;  // when overrun: sensors above their share, dearest first
};

// A line that a later part of the program fills from notices (export, disk); empty when quiet.
struct NoticeLine {
    std::string text;
    std::optional<Clock::time_point> when;
    bool warning = false;
};

struct HealthSnapshot {
    bool running = false;
    std::optional<Clock::time_point> started, ended, last_cycle;
    LineHealth line;
    CycleHealth cycle;
    NoticeLine export_line, disk_line;
    std::vector<SensorHealth> sensors;  // in list order
    std::uint64_t version = 0;
};

class HealthModel {
  public:
    explicit HealthModel(std::chrono::seconds share_window = std::chrono::hours(1));

    void session_started(const core::SessionInfo& info);
    void add(const core::CycleRecord& record);
    void notice(const core::Notice& notice);
    void session_ended(const core::SessionEnd& end);

    HealthSnapshot snapshot() const;
    std::uint64_t version() const { return version_.load(std::memory_order_acquire); }

  private:
    struct Answers {
        Clock::time_point when;
        std::uint8_t good, asked;
    };
    struct Sensor {
        SensorHealth health;
        std::deque<Answers> hour;
        int clean_cycles = 0;      // cycles in a row with every query answered
        std::uint64_t cycles = 0;  // cycles that listed it
    };
    Sensor& sensor_for(int address);
    void changed() { version_.fetch_add(1, std::memory_order_release); }

    std::chrono::seconds share_window_;
    mutable std::mutex mutex_;
    HealthSnapshot state_;         // sensors are kept in sensors_
    std::vector<Sensor> sensors_;  // every sensor seen this session
    std::vector<int> listed_;      // addresses of the last cycle, in list order
    std::atomic<std::uint64_t> version_{0};
};

// How a state reads for people: "answering", "failing", "silent", "waiting".
std::string_view state_name(SensorState s);

}  // namespace veldra::views
