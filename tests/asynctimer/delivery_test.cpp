// Delivery of ticks: disabled and suspended timers, callbacks that re-time their own timer,
// the start-and-stop pattern of a logging session, and expiries that never overlap.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "timer_test_support.h"

namespace veldra::asynctimer::testing {
namespace {

using DeliveryTest = TimerTest;

TEST_F(DeliveryTest, DisabledTimerDeliversNothingAndKeepsItsCount) {
    EventLog log;
    const DiscardTimersAtScopeEnd discard_first;
    const int id = NewAsyncTimer(0.01, 2, 0, &EventLog::Record, &log);
    ASSERT_GT(id, 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(log.Events().empty());
    EXPECT_EQ(IntAttribute(id, TIMER_ATTR_COUNT), 2);

    ASSERT_EQ(SetAsyncTimerAttribute(id, TIMER_ATTR_ENABLED, 1), 0);
    EXPECT_TRUE(log.WaitFor(TIMER_EVENT_DISCARD, 1));
    EXPECT_EQ(log.Count(TIMER_EVENT_TICK), 2);
}

TEST_F(DeliveryTest, SuspendedCallbacksDeliverNothingAndKeepTheCount) {
    ASSERT_EQ(SuspendAsyncTimerCallbacks(), 0);
    EventLog log;
    const DiscardTimersAtScopeEnd discard_first;
    const int id = NewAsyncTimer(0.01, 2, 1, &EventLog::Record, &log);
    ASSERT_GT(id, 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(log.Events().empty());
    EXPECT_EQ(IntAttribute(id, TIMER_ATTR_COUNT), 2);

    ASSERT_EQ(ResumeAsyncTimerCallbacks(), 0);
    EXPECT_TRUE(log.WaitFor(TIMER_EVENT_DISCARD, 1));
    EXPECT_EQ(log.Count(TIMER_EVENT_TICK), 2);
}

// The measurement timer's pattern: every tick first sets the interval it wants next.
struct Retiming {
    EventLog log;
    double next_interval = 0.02;
    std::atomic<int> failures{0};

    static int Callback(int reserved, int timerId, int event, void* data, void* e1, void* e2) {
        auto* self = static_cast<Retiming*>(data);
        if (SetAsyncTimerAttribute(timerId, TIMER_ATTR_INTERVAL, self->next_interval) != 0) {
            ++self->failures;
        }
        EventLog::Record(reserved, timerId, event, &self->log, e1, e2);
        return 0;
    }
};

TEST_F(DeliveryTest, LoggingSessionStartTicksAtOnceThenAtItsOwnInterval) {
    Retiming retiming;
    const DiscardTimersAtScopeEnd discard_first;
    const int id = NewAsyncTimer(5.0, -1, 0, &Retiming::Callback, &retiming);
    ASSERT_GT(id, 0);

    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(SetAsyncTimerAttribute(id, TIMER_ATTR_INTERVAL, 0.0), 0);
    ASSERT_EQ(SetAsyncTimerAttribute(id, TIMER_ATTR_ENABLED, 1), 0);
    ASSERT_TRUE(retiming.log.WaitFor(TIMER_EVENT_TICK, 1));
    // Far below the 5 s it was created with (normally about a millisecond).
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);

    ASSERT_TRUE(retiming.log.WaitFor(TIMER_EVENT_TICK, 4));
    double interval = 0.0;
    ASSERT_EQ(Interval(id, interval), 0);
    EXPECT_DOUBLE_EQ(interval, 0.02);
    EXPECT_EQ(retiming.failures, 0);
    const std::vector<TimerEvent> events = retiming.log.Events();
    EXPECT_GT(events[3].since_previous, 0.015);  // ran at the interval the tick set
    double since_start = 0.0;
    double since_previous = 0.0;
    ASSERT_EQ(GetAsyncTimerAttribute(id, TIMER_ATTR_TIME_SINCE_START, &since_start), 0);
    ASSERT_EQ(GetAsyncTimerAttribute(id, TIMER_ATTR_TIME_SINCE_PREVIOUS, &since_previous), 0);
    EXPECT_GT(since_previous, 0.015);
    EXPECT_GT(since_start, since_previous);
}

// A tick that first works a while, then sets the interval it wants next, recording when each
// tick began.
struct WorkThenRetime {
    std::chrono::milliseconds work{50ms};
    std::atomic<double> next_interval{0.1};
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> ticks;

    static int Callback(int, int timerId, int event, void* data, void*, void*) {
        auto* self = static_cast<WorkThenRetime*>(data);
        if (event != TIMER_EVENT_TICK) {
            return 0;
        }
        {
            std::lock_guard lock(self->mutex);
            self->ticks.push_back(std::chrono::steady_clock::now());
        }
        std::this_thread::sleep_for(self->work);
        SetAsyncTimerAttribute(timerId, TIMER_ATTR_INTERVAL, self->next_interval.load());
        return 0;
    }
    std::vector<std::chrono::steady_clock::time_point> Ticks() {
        std::lock_guard lock(mutex);
        return ticks;
    }
};

// Setting the interval the timer already has keeps the schedule: ticks that spend half their
// period before re-timing themselves stay on the grid (restarting the period each time would
// put the tenth tick 0.45 s late).
TEST_F(DeliveryTest, RetimingWithTheSameIntervalKeepsTheGrid) {
    WorkThenRetime tick;
    const DiscardTimersAtScopeEnd discard_first;
    const int id = NewAsyncTimer(0.1, -1, 1, &WorkThenRetime::Callback, &tick);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(Eventually([&] { return tick.Ticks().size() >= 10; }));
    const auto ticks = tick.Ticks();
    const double tenth = std::chrono::duration<double>(ticks[9] - ticks[0]).count();
    EXPECT_LT(tenth, 0.9 + 0.2);  // a sliding grid would be 9 x 50 ms later
}

// A new interval starts its period when it is set, not at the old grid's next point.
TEST_F(DeliveryTest, ANewIntervalStartsItsPeriodWhenSet) {
    WorkThenRetime tick;
    tick.work = 0ms;
    tick.next_interval = 0.2;
    const DiscardTimersAtScopeEnd discard_first;
    const int id = NewAsyncTimer(0.2, -1, 1, &WorkThenRetime::Callback, &tick);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(Eventually([&] { return tick.Ticks().size() >= 1; }));
    std::this_thread::sleep_for(100ms);
    tick.next_interval = 0.3;
    const auto set = std::chrono::steady_clock::now();
    ASSERT_EQ(SetAsyncTimerAttribute(id, TIMER_ATTR_INTERVAL, 0.3), 0);
    ASSERT_TRUE(Eventually([&] { return tick.Ticks().size() >= 3; }));
    const auto ticks = tick.Ticks();
    EXPECT_GE(std::chrono::duration<double>(ticks[1] - set).count(), 0.3 - 0.005);
    EXPECT_GE(std::chrono::duration<double>(ticks[2] - ticks[1]).count(), 0.3 - 0.005);
}

// Counts the callbacks running at once, and how many ever did.
struct SlowTick {
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::atomic<int> started{0};
    std::atomic<int> wait_result{1};
    std::chrono::milliseconds work{20ms};

    static int Callback(int, int timerId, int event, void* data, void*, void*) {
        auto* self = static_cast<SlowTick*>(data);
        if (event != TIMER_EVENT_TICK) {
            return 0;
        }
        ++self->started;
        const int now = ++self->running;
        self->most = std::max(self->most.load(), now);
        self->wait_result = WaitForAsyncTimerCallback(timerId);
        std::this_thread::sleep_for(self->work);
        --self->running;
        return 0;
    }
};

TEST_F(DeliveryTest, ExpiriesOfOneTimerNeverOverlap) {
    SlowTick slow;
    const DiscardTimersAtScopeEnd discard_first;
    slow.work = 30ms;  // three intervals per tick
    const int id = NewAsyncTimer(0.01, -1, 1, &SlowTick::Callback, &slow);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(Eventually([&] { return slow.started >= 6; }));
    ASSERT_EQ(DiscardAsyncTimer(id), 0);
    EXPECT_EQ(slow.most, 1);
    EXPECT_EQ(slow.running, 0);  // the discard waited for the running tick
    EXPECT_EQ(slow.wait_result, TIMER_ERR_IN_OWN_CALLBACK);
}

TEST_F(DeliveryTest, DisablingThenWaitingLeavesNoTickRunningOrToCome) {
    SlowTick slow;
    const DiscardTimersAtScopeEnd discard_first;
    const int id = NewAsyncTimer(0.01, -1, 0, &SlowTick::Callback, &slow);
    ASSERT_GT(id, 0);
    for (int round = 0; round < 8; ++round) {
        ASSERT_EQ(SetAsyncTimerAttribute(id, TIMER_ATTR_ENABLED, 1), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
        ASSERT_EQ(SetAsyncTimerAttribute(id, TIMER_ATTR_ENABLED, 0), 0);
        ASSERT_EQ(WaitForAsyncTimerCallback(id), 0);
        EXPECT_EQ(slow.running, 0);
        const int started = slow.started;
        std::this_thread::sleep_for(40ms);
        EXPECT_EQ(slow.started, started) << "a tick started after the timer was disabled";
    }
    EXPECT_GT(slow.started, 0);
}

}  // namespace
}  // namespace veldra::asynctimer::testing
