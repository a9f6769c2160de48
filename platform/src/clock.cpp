// Delay, local date and time, and their test seams (a scripted wall clock, a delay scale).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

#include "platform/ui.h"
#include "registry.h"

using namespace veldra::ui;

namespace {

std::mutex clockMutex;
std::function<WallClockReading()> wallClock;
std::atomic<double> delayScale{1.0};

WallClockReading ReadWallClock() {
    std::function<WallClockReading()> clock;
    {
        const std::lock_guard lock(clockMutex);
        clock = wallClock;
    }
    if (clock) {
        return clock();
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

}  // namespace

int Delay(double seconds) {
    // Beyond a day is surely a mistake; it must not overflow the sleep below.
    const double scaled = std::min(seconds * delayScale.load(), 86400.0);
    if (!(scaled > 0.0)) {
        return 0;
    }
    FrontEnd* f = nullptr;
    {
        Registry& r = TheRegistry();
        const std::lock_guard lock(r.mutex);
        f = r.frontEnd;
    }
    if (f != nullptr && f->isGuiThread()) {
        f->delay(scaled);
    } else {
        std::this_thread::sleep_for(std::chrono::duration<double>(scaled));
    }
    return 0;
}

int GetSystemDate(int& month, int& day, int& year) {
    const WallClockReading now = ReadWallClock();
    month = now.month;
    day = now.day;
    year = now.year;
    return 0;
}

int GetSystemTime(int& hours, int& minutes, int& seconds) {
    const WallClockReading now = ReadWallClock();
    hours = now.hour;
    minutes = now.minute;
    seconds = now.second;
    return 0;
}

int GetSystemDateTime(WallClockReading& now) {
    now = ReadWallClock();
    return 0;
}

void SetWallClockForTesting(std::function<WallClockReading()> clock) {
    const std::lock_guard lock(clockMutex);
    wallClock = std::move(clock);
}

void SetDelayScaleForTesting(double scale) {
    delayScale.store(scale);
}
