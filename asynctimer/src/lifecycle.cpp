// Creating and discarding timers, delivering their expiries as events, suspending delivery and
// waiting for a running callback.
#include <climits>
#include <new>
#include <utility>

#include "timer_library.h"

namespace veldra::asynctimer {

namespace {

double EngineNow() {
    return ToSeconds(EngineLocalTime());
}

void CallUser(AsyncTimerCallbackPtr callback, int id, int event, void* data, double since_start,
              double since_previous) {
    if (callback == nullptr) {
        return;
    }
    try {
        callback(0, id, event, data, &since_start, &since_previous);
    } catch (...) {
        // An exception has nowhere to go on an engine thread; the timer carries on.
    }
}

// Records go back on the free list only while their id is still unused by a later numbering.
void Recycle(const LibraryLock& /*lock*/, RecordPtr record) {
    TimerLibrary& library = Library();
    if (record->id_epoch == library.id_epoch) {
        library.free.push_back(std::move(record));
    }
}

// When the last timer is gone its records are released and numbering starts again at 1.
void ResetIdsIfIdle(const LibraryLock& /*lock*/) {
    TimerLibrary& library = Library();
    if (library.active.empty() && library.creations_in_progress == 0) {
        library.free.clear();
        library.next_id = 1;
        ++library.id_epoch;
    }
}

// Entered and left with the lock held; releases it while the engine timer stops and while the
// discard event runs.
void DiscardLocked(LibraryLock& lock, const RecordPtr& record) {
    TimerLibrary& library = Library();
    record->enabled = 0;
    record->live = false;
    library.active.erase(record->id);

    const double now = EngineNow();
    const double since_start = now - record->start_time;
    const double since_previous = now - record->previous_time;
    record->previous_time = now;
    record->last_since_start = since_start;
    record->last_since_previous = since_previous;
    EngineHandle engine = std::move(record->engine);
    const AsyncTimerCallbackPtr callback = record->callback;
    void* const data = record->callback_data;
    const int id = record->id;

    lock.unlock();
    EngineDiscardTimer(std::move(engine));
    CallUser(callback, id, TIMER_EVENT_DISCARD, data, since_start, since_previous);
    lock.lock();

    record->count = 0;
    record->callback = nullptr;
    record->callback_data = nullptr;
    ResourceRelease(record.get());
    if (record->in_callback) {
        record->free_when_idle = true;  // its tick callback discarded it; reuse waits for the end
    } else {
        Recycle(lock, record);
    }
    ResetIdsIfIdle(lock);
}

// Called by the engine at every expiry of the timer's engine timer.
void Dispatch(const RecordPtr& record, std::uint64_t generation) {
    TimerLibrary& library = Library();
    LibraryLock lock(library.lock);
    // A stale generation is an expiry of an engine timer already discarded for this record.
    if (library.suspended || record->generation != generation || !record->live ||
        record->enabled == 0) {
        return;
    }
    if (record->count == 0) {
        DiscardLocked(lock, record);
        return;
    }
    if (record->count > 0) {
        --record->count;
    }
    const double now = EngineNow();
    if (record->first_tick) {
        record->first_tick = false;
        record->start_time = now;
        record->previous_time = now;
    }
    const double since_start = now - record->start_time;
    const double since_previous = now - record->previous_time;
    record->previous_time = now;
    record->last_since_start = since_start;
    record->last_since_previous = since_previous;
    const AsyncTimerCallbackPtr callback = record->callback;
    void* const data = record->callback_data;
    const int id = record->id;
    record->in_callback = true;
    record->callback_thread = std::this_thread::get_id();
    lock.unlock();

    EnterAsyncCallback(record->context);
    CallUser(callback, id, TIMER_EVENT_TICK, data, since_start, since_previous);
    ExitAsyncCallback(record->context);

    lock.lock();
    record->in_callback = false;
    record->callback_thread = {};
    if (record->free_when_idle) {
        record->free_when_idle = false;
        Recycle(lock, record);
        ResetIdsIfIdle(lock);
    }
    library.callback_finished.notify_all();
}

// Takes the record of the most recently discarded timer, or a new one with the next id.
int TakeRecord(const LibraryLock& /*lock*/, RecordPtr& record) {
    TimerLibrary& library = Library();
    if (!library.free.empty()) {
        record = std::move(library.free.back());
        library.free.pop_back();
        return 0;
    }
    if (library.next_id <= 0) {
        return TIMER_ERR_NO_IDS;
    }
    try {
        record = std::make_shared<TimerRecord>();
    } catch (const std::bad_alloc&) {
        return TIMER_ERR_NO_MEMORY;
    }
    record->id = library.next_id;
    record->id_epoch = library.id_epoch;
    library.next_id = library.next_id == INT_MAX ? 0 : library.next_id + 1;
    return 0;
}

int CreateTimer(double interval, int count, int initial_state, AsyncTimerCallbackPtr callback,
                void* callback_data, int priority) {
    if ((initial_state != 0 && initial_state != 1) || !IntervalAcceptable(interval) || count == 0) {
        return TIMER_ERR_INVALID_ARGUMENT;
    }
    TimerLibrary& library = Library();
    LibraryLock lock(library.lock);
    RecordPtr record;
    if (const int taken = TakeRecord(lock, record); taken != 0) {
        return taken;
    }
    ++library.creations_in_progress;
    const std::uint64_t generation = ++record->generation;
    record->enabled = 0;
    record->count = count;
    record->callback = callback;
    record->callback_data = callback_data;
    record->first_tick = true;
    record->start_time = 0.0;
    record->previous_time = 0.0;
    record->last_since_start = 0.0;
    record->last_since_previous = 0.0;
    const double resolution = Resolution(lock);
    bool ok = resolution > 0.0 && ConvertInterval(interval, resolution, record->interval);
    const EngineTime engine_interval = record->interval;

    EngineHandle engine;
    if (ok) {
        lock.unlock();
        engine = EngineNewTimer([record, generation] { Dispatch(record, generation); });
        if (engine) {
            EngineSetPriority(engine, priority);
        }
        lock.lock();
        // Armed under the lock, so its first expiry finds the timer complete.
        ok = engine != nullptr;
        if (ok) {
            EngineSetPaused(engine, initial_state == 0);
            ok = EngineSetTimer(engine, engine_interval);
        }
    }
    if (!ok) {
        lock.unlock();
        EngineDiscardTimer(std::move(engine));
        lock.lock();
        record->enabled = 0;
        record->count = 0;
        record->callback = nullptr;
        record->callback_data = nullptr;
        --library.creations_in_progress;
        Recycle(lock, record);
        ResetIdsIfIdle(lock);
        return TIMER_ERR_ENGINE;
    }
    --library.creations_in_progress;
    record->engine = std::move(engine);
    record->enabled = initial_state;
    record->live = true;
    library.active.emplace(record->id, record);
    ResourceAcquire(record.get(), record->id, interval);
    return record->id;
}

}  // namespace

}  // namespace veldra::asynctimer

using namespace veldra::asynctimer;

int NewAsyncTimer(double interval, int count, int initialState, AsyncTimerCallbackPtr callback,
                  void* callbackData) {
    if (!Initialise()) {
        return TIMER_ERR_INIT;
    }
    return CreateTimer(interval, count, initialState, callback, callbackData,
                       kEngineDefaultPriority);
}

int NewAsyncTimerWithPriority(double interval, int count, int initialState,
                              AsyncTimerCallbackPtr callback, void* callbackData, int priority) {
    if (!Initialise()) {
        return TIMER_ERR_INIT;
    }
    if (!RealTime()) {
        return TIMER_ERR_NOT_SUPPORTED;
    }
    return CreateTimer(interval, count, initialState, callback, callbackData, priority);
}

int DiscardAsyncTimer(int timerId) {
    if (!Initialise()) {
        return TIMER_ERR_INIT;
    }
    LibraryLock lock(Library().lock);
    if (timerId == -1) {
        while (!Library().active.empty()) {
            const RecordPtr record = Library().active.begin()->second;
            DiscardLocked(lock, record);
        }
        // Ticks of timers that other ticks discarded may still be finishing: wait for them too,
        // so that nothing of any timer runs after this returns (unless called from a tick).
        lock.unlock();
        EngineWaitForStoppedTimers();
        return 0;
    }
    const RecordPtr record = FindTimer(lock, timerId);
    if (!record) {
        return TIMER_ERR_UNKNOWN_TIMER;
    }
    DiscardLocked(lock, record);
    return 0;
}

namespace {

int SetSuspended(bool suspended) {
    if (!Initialise()) {
        return TIMER_ERR_INIT;
    }
    LibraryLock lock(Library().lock);
    Library().suspended = suspended;
    return 0;
}

}  // namespace

int SuspendAsyncTimerCallbacks() {
    return SetSuspended(true);
}

int ResumeAsyncTimerCallbacks() {
    return SetSuspended(false);
}

int WaitForAsyncTimerCallback(int timerId) {
    if (!Initialise()) {
        return TIMER_ERR_INIT;
    }
    TimerLibrary& library = Library();
    LibraryLock lock(library.lock);
    const RecordPtr record = FindTimer(lock, timerId);
    if (!record) {
        return TIMER_ERR_UNKNOWN_TIMER;
    }
    if (record->in_callback && record->callback_thread == std::this_thread::get_id()) {
        return TIMER_ERR_IN_OWN_CALLBACK;
    }
    library.callback_finished.wait(lock, [&record] { return !record->in_callback; });
    return 0;
}
