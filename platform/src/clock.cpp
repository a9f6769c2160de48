// The wall clock, pauses, and their test seams (a scripted wall clock, a delay scale).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

#include "platform/wall_clock.h"

namespace {

using SystemClock = std::chrono::system_clock;

std::mutex clockMutex;
std::function<WallClockReading()> wallClock;
std::atomic<double> delayScale{1.0};

// The instant that local fields name (the zone's rules decide a time that occurs twice).
SystemClock::time_point FromLocalFields(const WallClockReading& r) {
    std::tm local{};
    local.tm_year = r.year - 1900;
    local.tm_mon = r.month - 1;
    local.tm_mday = r.day;
    local.tm_hour = r.hour;
    local.tm_min = r.minute;
    local.tm_sec = r.second;
    local.tm_isdst = -1;
    return SystemClock::from_time_t(std::mktime(&local));
}

WallClockReading ReadSystemClock() {
    const SystemClock::time_point now = SystemClock::now();
    const std::time_t seconds = SystemClock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    return {local.tm_year + 1900,
            local.tm_mon + 1,
            local.tm_mday,
            local.tm_hour,
            local.tm_min,
            local.tm_sec,
            now};
}

}  // namespace

WallClockReading ReadWallClock() {
    std::function<WallClockReading()> clock;
    {
        const std::lock_guard lock(clockMutex);
        clock = wallClock;
    }
    if (!clock) {
        return ReadSystemClock();
    }
    WallClockReading reading = clock();
    if (reading.utc == SystemClock::time_point{}) {
        reading.utc = FromLocalFields(reading);
    }
    return reading;
}

double ScaledDelaySeconds(double seconds) {
    // Beyond a day is surely a mistake; it must not overflow a sleep.
    const double scaled = std::min(seconds * delayScale.load(), 86400.0);
    return scaled > 0.0 ? scaled : 0.0;
}

void SleepScaled(double seconds) {
    const double scaled = ScaledDelaySeconds(seconds);
    if (scaled > 0.0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(scaled));
    }
}

bool InterruptiblePause::sleepFor(double seconds) {
    const auto length = std::chrono::duration<double>(ScaledDelaySeconds(seconds));
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, length, [this] { return interrupted_; });
}

void InterruptiblePause::interrupt() {
    {
        const std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    wake_.notify_all();
}

void InterruptiblePause::rearm() {
    const std::lock_guard lock(mutex_);
    interrupted_ = false;
}

void SetWallClockForTesting(std::function<WallClockReading()> clock) {
    const std::lock_guard lock(clockMutex);
    wallClock = std::move(clock);
}

void SetDelayScaleForTesting(double scale) {
    delayScale.store(scale);
}
