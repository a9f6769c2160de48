// The timer library's own state: the timer records, the lists that hold them and the lock that
// guards them, shared by the files that implement the library's operations.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "asynctimer/asynctimer.h"
#include "engine.h"
#include "runtime_hooks.h"

namespace veldra::asynctimer {

struct TimerRecord {
    int id = 0;
    std::uint64_t id_epoch = 0;    // ids handed out before the last reset are never reused
    std::uint64_t generation = 0;  // bumped at every reuse: stale expiries recognise themselves
    AsyncTimerCallbackPtr callback = nullptr;
    void* callback_data = nullptr;
    int count = 0;
    int enabled = 0;
    EngineHandle engine;
    EngineTime interval;
    double start_time = 0.0;
    double previous_time = 0.0;
    double last_since_start = 0.0;
    double last_since_previous = 0.0;
    bool first_tick = true;
    bool live = false;  // in the active list
    bool in_callback = false;
    std::thread::id callback_thread;
    bool free_when_idle = false;  // discarded while its tick callback still runs
    AsyncCallbackContext context;
};

using RecordPtr = std::shared_ptr<TimerRecord>;

struct TimerLibrary {
    std::mutex lock;
    std::condition_variable callback_finished;
    std::map<int, RecordPtr> active;  // ascending id order
    std::vector<RecordPtr> free;      // a stack: the most recently freed on top
    int next_id = 1;
    std::uint64_t id_epoch = 0;
    int creations_in_progress = 0;
    bool suspended = false;
    double resolution = -1.0;
};

using LibraryLock = std::unique_lock<std::mutex>;

TimerLibrary& Library();

// Runs at the start of every operation; false when the library cannot work.
bool Initialise();

// Whether the "OS" environment variable named a real-time system at the last initialisation.
bool RealTime();

// The live timer with this id, or null.
RecordPtr FindTimer(const LibraryLock& lock, int id);

// The engine's resolution in seconds, cached once known; 0 when the engine reports none.
double Resolution(const LibraryLock& lock);

// Whether an interval may be asked for at all: not negative, a number, and representable.
bool IntervalAcceptable(double requested);

// The interval the engine runs for a request: raised to the resolution, split into seconds and
// nanoseconds. False for a value that is negative, not a number or too large to represent.
bool ConvertInterval(double requested, double resolution, EngineTime& out);

inline double ToSeconds(EngineTime time) {
    return time.seconds + time.nanoseconds / 1e9;
}

}  // namespace veldra::asynctimer
