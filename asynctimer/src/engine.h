// The timer engine behind the asynchronous timers: one thread per engine timer, each waiting
// for absolute deadlines on the monotonic clock, so periodic expiries never drift and the
// expiries of one timer never overlap.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace veldra::asynctimer {

// Seconds and nanoseconds (0 ... 999,999,999), the engine's form of times and intervals.
struct EngineTime {
    std::int32_t seconds = 0;
    std::int32_t nanoseconds = 0;
};

class EngineTimer;
using EngineHandle = std::shared_ptr<EngineTimer>;

inline constexpr int kEngineDefaultPriority = 2;

// Prepares the engine; cheap and harmless to repeat. False once the process has begun to exit.
bool EngineInitialize();

// The shortest interval the engine honours.
EngineTime EngineResolution();

// The engine clock (monotonic) now.
EngineTime EngineLocalTime();

// A stopped timer whose thread will call `expiry` at every expiry once armed; null on failure.
EngineHandle EngineNewTimer(std::function<void()> expiry);

void EngineSetPriority(const EngineHandle& timer, int priority);
int EngineGetPriority(const EngineHandle& timer);

// Arms or re-arms the timer. A new interval restarts the period now, expiries following every
// `interval`; re-arming with the interval the timer already has keeps its schedule as it is.
bool EngineSetTimer(const EngineHandle& timer, EngineTime interval);

// A paused timer keeps its schedule but its thread sleeps without deadline; expiries that fall
// due while paused are dropped, and the schedule resumes at its next point after now.
void EngineSetPaused(const EngineHandle& timer, bool paused);

// Stops the timer: no expiry starts after this returns. Waits for a running expiry to finish,
// except where waiting could deadlock (called from this timer's own expiry, or from another
// timer's expiry while this one is busy): then the thread is left to end by itself and is
// joined later.
void EngineDiscardTimer(EngineHandle timer);

// Outside the engine's threads: waits until every stopped timer's thread has ended, including
// those left to end by themselves. On an engine thread it does nothing.
void EngineWaitForStoppedTimers();

}  // namespace veldra::asynctimer
