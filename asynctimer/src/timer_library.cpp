// The library's process-wide state, its initialisation, the engine resolution cache and the
// conversion of intervals to the engine's form.
#include "timer_library.h"

#include <strings.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "no_destructor.h"

namespace veldra::asynctimer {

namespace {

std::atomic<bool> g_real_time{false};

// Intervals from 2^31 seconds on do not fit the engine's whole-seconds field.
constexpr double kIntervalLimit = 2147483648.0;

}  // namespace

TimerLibrary& Library() {
    static NoDestructor<TimerLibrary> library;
    return *library;
}

bool Initialise() {
    static NoDestructor<std::mutex> init_lock;
    std::lock_guard guard(*init_lock);
    Library();
    const bool engine_ready = EngineInitialize();
    // Only a real-time system names itself so; elsewhere thread priorities are not ours to set.
    const char* os = std::getenv("OS");
    g_real_time.store(os != nullptr && strncasecmp(os, "REALTIME", 8) == 0);
    return engine_ready;
}

bool RealTime() {
    return g_real_time.load();
}

RecordPtr FindTimer(const LibraryLock& /*lock*/, int id) {
    const auto& active = Library().active;
    const auto found = active.find(id);
    return found == active.end() ? nullptr : found->second;
}

double Resolution(const LibraryLock& /*lock*/) {
    TimerLibrary& library = Library();
    if (library.resolution > 0.0) {
        return library.resolution;
    }
    const double resolution = ToSeconds(EngineResolution());
    if (resolution > 0.0) {
        library.resolution = resolution;
    }
    return resolution > 0.0 ? resolution : 0.0;
}

bool IntervalAcceptable(double requested) {
    return requested >= 0.0 && requested < kIntervalLimit;  // false for NaN too
}

bool ConvertInterval(double requested, double resolution, EngineTime& out) {
    if (!IntervalAcceptable(requested) || !IntervalAcceptable(resolution)) {
        return false;
    }
    const double effective = requested < resolution ? resolution : requested;
    const double whole = std::trunc(effective);
    const double nanoseconds = (effective - whole) * 1e9;
    out.seconds = static_cast<std::int32_t>(whole);
    out.nanoseconds =
        static_cast<std::int32_t>(nanoseconds < 999'999'999.0 ? nanoseconds : 999'999'999.0);
    return true;
}

}  // namespace veldra::asynctimer
