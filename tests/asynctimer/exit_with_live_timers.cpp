// A program that returns from main while timers are live, one of them in the middle of a tick
// (or, with the argument "exit-in-tick", calls exit from inside a tick): the process must end
// cleanly (exit status 0, no sanitizer report), and no tick may run once static objects that
// were built before the first timer are being destroyed.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "asynctimer/asynctimer.h"

namespace {

using namespace std::chrono_literals;

struct Watched {
    std::atomic<bool> destroyed{false};
    std::atomic<int> ticks{0};
    ~Watched() { destroyed = true; }
};

Watched g_watched;  // built before main, so destroyed after the library's exit handling

int SlowTick(int, int, int event, void*, void*, void*) {
    if (g_watched.destroyed) {
        std::abort();  // a tick outlived the data it works on
    }
    if (event == TIMER_EVENT_TICK) {
        ++g_watched.ticks;
        std::this_thread::sleep_for(30ms);
    }
    return 0;
}

int ExitInTick(int, int, int event, void*, void*, void*) {
    if (event == TIMER_EVENT_TICK && g_watched.ticks >= 2) {
        std::exit(0);
    }
    return 0;
}

int DiscardSelf(int, int timerId, int event, void*, void*, void*) {
    if (event == TIMER_EVENT_TICK) {
        DiscardAsyncTimer(timerId);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool exit_in_tick = argc > 1 && std::string_view(argv[1]) == "exit-in-tick";
    if (exit_in_tick && NewAsyncTimer(0.001, -1, 1, &ExitInTick, nullptr) <= 0) {
        return 1;
    }
    if (NewAsyncTimer(0.001, -1, 1, &SlowTick, nullptr) <= 0 ||
        NewAsyncTimer(5.0, -1, 0, &SlowTick, nullptr) <= 0 ||
        NewAsyncTimer(0.001, -1, 1, &DiscardSelf, nullptr) <= 0) {
        return 1;
    }
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    // With exit-in-tick the process ends from the tick while this loop still runs.
    while ((exit_in_tick || g_watched.ticks < 2) && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(1ms);
    }
    if (exit_in_tick) {
        return 3;  // the tick never ended the process
    }
    return g_watched.ticks >= 2 ? 0 : 2;
}
