// Shared helpers of the timer tests: a thread-safe record of the events a timer delivered, and a
// fixture that leaves no timer, suspension or "OS" setting behind.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "asynctimer/asynctimer.h"

namespace veldra::asynctimer::testing {

using namespace std::chrono_literals;

struct TimerEvent {
    int id = 0;
    int event = 0;
    double since_start = 0.0;
    double since_previous = 0.0;
    std::thread::id thread;
};

class EventLog {
  public:
    // The timer callback; its callback data is the EventLog.
    static int Record(int /*reserved*/, int timerId, int event, void* callbackData,
                      void* eventData1, void* eventData2) {
        auto* log = static_cast<EventLog*>(callbackData);
        log->Add(TimerEvent{timerId, event, *static_cast<double*>(eventData1),
                            *static_cast<double*>(eventData2), std::this_thread::get_id()});
        return 0;
    }

    void Add(const TimerEvent& event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        changed_.notify_all();
    }

    std::vector<TimerEvent> Events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

    int Count(int event) {
        std::lock_guard lock(mutex_);
        int count = 0;
        for (const TimerEvent& each : events_) {
            count += each.event == event ? 1 : 0;
        }
        return count;
    }

    // Generous: the machine may be loaded by parallel builds.
    bool WaitFor(int event, int count, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            int seen = 0;
            for (const TimerEvent& each : events_) {
                seen += each.event == event ? 1 : 0;
            }
            return seen >= count;
        });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<TimerEvent> events_;
};

// Waits until `done` holds, checking every few milliseconds; false after the timeout.
inline bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    const auto give_up = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > give_up) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Declared after a test's callback data, so every timer is gone before that data is.
struct DiscardTimersAtScopeEnd {
    DiscardTimersAtScopeEnd() = default;
    DiscardTimersAtScopeEnd(const DiscardTimersAtScopeEnd&) = delete;
    DiscardTimersAtScopeEnd& operator=(const DiscardTimersAtScopeEnd&) = delete;
    ~DiscardTimersAtScopeEnd() { DiscardAsyncTimer(-1); }
};

class TimerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(DiscardAsyncTimer(-1), 0); }
    void TearDown() override {
        ResumeAsyncTimerCallbacks();
        DiscardAsyncTimer(-1);
    }

    static int Interval(int id, double& value) {
        return GetAsyncTimerAttribute(id, TIMER_ATTR_INTERVAL, &value);
    }
    static int IntAttribute(int id, int attribute) {
        int value = -12345;
        EXPECT_EQ(GetAsyncTimerAttribute(id, attribute, &value), 0);
        return value;
    }
};

}  // namespace veldra::asynctimer::testing
