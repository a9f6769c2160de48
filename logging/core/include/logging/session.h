// A logging session: its configuration, its two log files (through the log observers it
// owns), the serial port (opened by the start's port test, closed by the stop) and the timer
// whose ticks run its cycles. One cycle produces one record, told to every observer.
//
// Start and stop come from one thread (the window's main thread, a service's main); the
// cycles run on the timer's thread. A start writes the whole configuration under the
// session's mutex before the state becomes Running and the timer is enabled, and every cycle
// reads it under the same mutex, so no cycle sees half of it. A stop sets the state to
// Stopping and the stop request, cuts a pause short and wakes a read that waits for a silent
// sensor, disables the timer, waits under the mutex until no cycle is inside, and only then
// closes the files and the port. Observers are added and removed only while idle.
//
// Notices: the session hands what its log observers report, and what an added observer posts
// through notices(), to every observer. An exporter posts from a thread of its own, so adding
// or removing an observer waits until no notice is being handed on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "logging/cycle_record.h"
#include "logging/disk_guard.h"
#include "logging/log_files.h"
#include "logging/log_observers.h"
#include "logging/log_rotation.h"
#include "logging/message.h"
#include "logging/sensor_source.h"
#include "logging/session_observer.h"
#include "platform/wall_clock.h"

namespace veldra::core {

// The interval rule: at least 3 seconds per sensor. It does not refuse a start; the caller
// shows the info (a message box, a line on stderr) and starts with the raised interval.
struct IntervalDecision {
    int interval_seconds = 0;
    std::optional<Message> info;  // set when the interval was raised
};
IntervalDecision apply_interval_rule(int requested_seconds, std::size_t sensor_count);

struct SessionConfig {
    int com_port = 0;
    int interval_seconds = 0;  // after the interval rule
    std::string log_file;      // the log file entry: a path, or text beginning "no file selected"
    int timer = -1;            // the timer whose ticks run the cycles; see Session::on_timer
    FileRules files;           // rotation, retention, the disk guard (log_files.h)
};

struct StartResult {
    bool started = false;
    // The first check that failed, in this order: the port, the file entry, the sensor list,
    // the log files. Nothing changed, and the port is closed again.
    std::optional<Message> refusal;
};

class Session final : private NoticeSink {
  public:
    explicit Session(SensorSource& sensors);
    ~Session() override;  // stops a running session
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // After the text and CSV logs, in the order added. False while a session runs.
    bool add_observer(SessionObserver& observer);
    bool remove_observer(SessionObserver& observer);

    // Checks the port, the file entry and the sensor list, prepares both log files, tells the
    // observers, then enables the timer with the interval 0 so that the first cycle runs at
    // once. Does nothing (started false, no refusal) while a session runs.
    StartResult start(const SessionConfig& config);
    // Never refused. A cycle in progress is cut short and writes nothing. Does nothing when
    // idle. Not to be called from an observer's cycle event (it waits for that cycle).
    void stop();
    // One measurement cycle; does nothing unless a session runs and no other cycle does.
    void tick();

    // Where an observer posts a notice for every observer (itself included). Any thread; a
    // notice posted while the session starts waits until every observer knows the session.
    NoticeSink& notices() { return *this; }

    // A timer callback that ticks the session given as its callback data.
    static int on_timer(int reserved, int timer, int event, void* session, void* since_start,
                        void* since_previous);

    bool running() const;

  private:
    enum class State { Idle, Running, Stopping };

    void run_cycle(const SessionConfig& config);
    // False when a stop cut the queries short.
    bool run_queries(const SessionConfig& config, CycleRecord& record, bool& device_gone);
    void ask(int port, int address, Quantity quantity, QueryResult& result, bool& device_gone);
    void tell_line_changes(const CycleRecord& record);
    // At the cycle boundary, before the record's lines are written: the disk guard's look at
    // the free space, and a new pair of log files when the rotation says so.
    void before_lines_written(const CycleRecord& record);
    // Deletes expired dated logs; a FilesRotated notice names the new pair (if any) and says
    // how many old logs went.
    void remove_expired_logs(const LogDate& today, const LogPair* new_pair);
    bool stopping() const { return stop_requested_.load(); }
    void post_notice(const Notice& notice) override;
    // Calls one event of every observer, with no lock held.
    template <typename Event, typename... Args>
    void tell(Event event, const Args&... args) {
        for (SessionObserver* observer : observers_) {
            (observer->*event)(args...);
        }
    }

    SensorSource& sensors_;
    TextLogObserver text_log_{*this};
    CsvLogObserver csv_log_{*this};

    mutable std::mutex mutex_;
    std::condition_variable cycle_left_;       // a cycle left, or a notice was handed on
    State state_ = State::Idle;                // guarded by mutex_
    bool cycle_inside_ = false;                // guarded by mutex_
    SessionConfig config_;                     // guarded by mutex_
    std::vector<SessionObserver*> observers_;  // changed only while Idle, under mutex_
    bool starting_ = false;                    // guarded by mutex_
    std::vector<Notice> held_notices_;         // guarded by mutex_: posted during the start
    int notices_inside_ = 0;                   // guarded by mutex_: notices being handed on
    std::atomic<bool> stop_requested_{false};
    InterruptiblePause pause_;

    // The cycles' own bookkeeping: reset by the start before the state becomes Running, then
    // used by one cycle at a time.
    std::uint64_t cycles_begun_ = 0;
    std::uint64_t cycles_written_ = 0;
    std::chrono::system_clock::time_point last_cycle_{};
    bool device_present_ = true;
    bool overrunning_ = false;
    std::vector<char> reply_;
    LogRotation rotation_;
    DiskGuard disk_guard_;
};

}  // namespace veldra::core
