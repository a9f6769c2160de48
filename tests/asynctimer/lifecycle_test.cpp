// Creation, counts, id reuse and discarding, including discards from inside callbacks and
// discards that race expiries.
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "timer_test_support.h"

namespace veldra::asynctimer::testing {
namespace {

using LifecycleTest = TimerTest;

TEST_F(LifecycleTest, CountThreeDeliversThreeTicksThenDiscardsItself) {
    EventLog log;
    const DiscardTimersAtScopeEnd discard_first;
    const int id = NewAsyncTimer(0.01, 3, 1, &EventLog::Record, &log);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(log.WaitFor(TIMER_EVENT_DISCARD, 1));

    const std::vector<TimerEvent> events = log.Events();
    ASSERT_EQ(events.size(), 4U);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(events[i].event, TIMER_EVENT_TICK);
        EXPECT_EQ(events[i].id, id);
    }
    EXPECT_EQ(events[3].event, TIMER_EVENT_DISCARD);
    // The first tick starts the clock; later ones measure from it and from each other.
    EXPECT_EQ(events[0].since_start, 0.0);
    EXPECT_EQ(events[0].since_previous, 0.0);
    EXPECT_GT(events[1].since_start, 0.0);
    EXPECT_GT(events[2].since_start, events[1].since_start);
    EXPECT_NEAR(events[2].since_start, events[1].since_previous + events[2].since_previous, 1e-9);

    double value = 0.0;
    EXPECT_EQ(GetAsyncTimerAttribute(id, TIMER_ATTR_INTERVAL, &value), TIMER_ERR_UNKNOWN_TIMER);
    EXPECT_EQ(SetAsyncTimerAttribute(id, TIMER_ATTR_ENABLED, 1), TIMER_ERR_UNKNOWN_TIMER);
    EXPECT_EQ(WaitForAsyncTimerCallback(id), TIMER_ERR_UNKNOWN_TIMER);
    EXPECT_EQ(DiscardAsyncTimer(id), TIMER_ERR_UNKNOWN_TIMER);
}

TEST_F(LifecycleTest, DiscardBeforeFirstTickDeliversEngineTimeOnTheCallersThread) {
    EventLog log;
    const DiscardTimersAtScopeEnd discard_first;
    const int id = NewAsyncTimer(5.0, -1, 0, &EventLog::Record, &log);
    ASSERT_GT(id, 0);
    ASSERT_EQ(DiscardAsyncTimer(id), 0);
    const std::vector<TimerEvent> events = log.Events();
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].event, TIMER_EVENT_DISCARD);
    EXPECT_EQ(events[0].thread, std::this_thread::get_id());
    EXPECT_GT(events[0].since_start, 0.0);
    EXPECT_EQ(events[0].since_start, events[0].since_previous);
}

TEST_F(LifecycleTest, IdsReuseTheMostRecentlyFreedAndRestartAtOne) {
    const auto make = [] { return NewAsyncTimer(5.0, -1, 0, nullptr, nullptr); };
    ASSERT_EQ(make(), 1);
    ASSERT_EQ(make(), 2);
    ASSERT_EQ(make(), 3);

    ASSERT_EQ(DiscardAsyncTimer(2), 0);
    EXPECT_EQ(make(), 2);

    ASSERT_EQ(DiscardAsyncTimer(3), 0);
    ASSERT_EQ(DiscardAsyncTimer(1), 0);
    EXPECT_EQ(make(), 1);
    EXPECT_EQ(make(), 3);
    EXPECT_EQ(make(), 4);

    for (int id = 1; id <= 4; ++id) {
        ASSERT_EQ(DiscardAsyncTimer(id), 0);
    }
    EXPECT_EQ(make(), 1);
    EXPECT_EQ(DiscardAsyncTimer(-1), 0);
    EXPECT_EQ(DiscardAsyncTimer(-1), 0);  // nothing live: still fine
    EXPECT_EQ(make(), 1);
}

TEST_F(LifecycleTest, RefusedCreationsCreateNothing) {
    struct Case {
        double interval;
        int count;
        int state;
    };
    const Case cases[] = {
        {0.01, 0, 1},
        {-0.5, 1, 1},
        {0.01, 1, 2},
        {0.01, 1, -1},
        {std::numeric_limits<double>::quiet_NaN(), 1, 1},
        {std::numeric_limits<double>::infinity(), 1, 1},
        {1e12, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NewAsyncTimer(c.interval, c.count, c.state, nullptr, nullptr),
                  TIMER_ERR_INVALID_ARGUMENT)
            << c.interval << " " << c.count << " " << c.state;
    }
    EXPECT_EQ(NewAsyncTimer(0.01, -1, 0, nullptr, nullptr), 1);
}

TEST_F(LifecycleTest, NullCallbackStillCountsDown) {
    const int id = NewAsyncTimer(0.01, 2, 1, nullptr, nullptr);
    ASSERT_GT(id, 0);
    EXPECT_TRUE(Eventually([id] {
        int count = 0;
        return GetAsyncTimerAttribute(id, TIMER_ATTR_COUNT, &count) == TIMER_ERR_UNKNOWN_TIMER;
    }));
}

// Discards its own timer from its first tick and notes what the library answered.
struct SelfDiscard {
    EventLog log;
    std::atomic<int> result{1};
    std::atomic<int> ticks{0};

    static int Callback(int reserved, int timerId, int event, void* data, void* e1, void* e2) {
        auto* self = static_cast<SelfDiscard*>(data);
        EventLog::Record(reserved, timerId, event, &self->log, e1, e2);
        if (event == TIMER_EVENT_TICK && self->ticks.fetch_add(1) == 0) {
            self->result = DiscardAsyncTimer(timerId);
        }
        return 0;
    }
};

TEST_F(LifecycleTest, DiscardFromInsideItsOwnTick) {
    SelfDiscard self;
    const DiscardTimersAtScopeEnd discard_first;
    const int id = NewAsyncTimer(0.01, -1, 1, &SelfDiscard::Callback, &self);
    ASSERT_GT(id, 0);
    // The discard event comes from inside DiscardAsyncTimer, before it returns.
    ASSERT_TRUE(Eventually([&] { return self.result != 1; }));
    EXPECT_EQ(self.result, 0);
    ASSERT_EQ(self.log.Count(TIMER_EVENT_DISCARD), 1);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(self.ticks, 1);
    const std::vector<TimerEvent> events = self.log.Events();
    ASSERT_EQ(events.size(), 2U);
    EXPECT_EQ(events[1].thread, events[0].thread);  // the discard event runs on the tick's thread
    EXPECT_EQ(DiscardAsyncTimer(id), TIMER_ERR_UNKNOWN_TIMER);
    EXPECT_EQ(NewAsyncTimer(1.0, -1, 0, nullptr, nullptr), 1);
}

// Two timers whose ticks discard each other: neither may wait for the other forever.
struct MutualDiscard {
    std::atomic<int> other[2] = {0, 0};
    std::atomic<int> discards{0};

    static int Callback(int, int timerId, int event, void* data, void*, void*) {
        auto* self = static_cast<MutualDiscard*>(data);
        if (event == TIMER_EVENT_DISCARD) {
            ++self->discards;
            return 0;
        }
        std::this_thread::sleep_for(1ms);
        const int target = self->other[0] == timerId ? self->other[1] : self->other[0];
        DiscardAsyncTimer(target);
        SetAsyncTimerAttribute(timerId, TIMER_ATTR_INTERVAL, 0.001);
        return 0;
    }
};

TEST_F(LifecycleTest, TimersDiscardingEachOtherFromTheirTicks) {
    for (int round = 0; round < 10; ++round) {
        MutualDiscard mutual;
        const DiscardTimersAtScopeEnd discard_first;
        const int a = NewAsyncTimer(0.001, -1, 0, &MutualDiscard::Callback, &mutual);
        const int b = NewAsyncTimer(0.001, -1, 0, &MutualDiscard::Callback, &mutual);
        ASSERT_GT(a, 0);
        ASSERT_GT(b, 0);
        mutual.other[0] = a;
        mutual.other[1] = b;
        SetAsyncTimerAttribute(a, TIMER_ATTR_ENABLED, 1);
        SetAsyncTimerAttribute(b, TIMER_ATTR_ENABLED, 1);
        ASSERT_TRUE(Eventually([&] { return mutual.discards >= 1; }));
        DiscardAsyncTimer(-1);
        // Both discard events come, whichever thread delivers the second.
        ASSERT_TRUE(Eventually([&] { return mutual.discards == 2; }));
    }
}

// Ticks that keep using the library while another thread discards their timer.
int BusyTick(int, int timerId, int event, void* data, void*, void*) {
    if (event == TIMER_EVENT_TICK) {
        static_cast<std::atomic<int>*>(data)->fetch_add(1);
        SetAsyncTimerAttribute(timerId, TIMER_ATTR_INTERVAL, 0.001);
        int count = 0;
        GetAsyncTimerAttribute(timerId, TIMER_ATTR_COUNT, &count);
    }
    return 0;
}

TEST_F(LifecycleTest, DiscardRacingExpiries) {
    std::atomic<int> ticks{0};
    const DiscardTimersAtScopeEnd discard_first;
    for (int round = 0; round < 40; ++round) {
        const int id = NewAsyncTimer(0.001, -1, 1, &BusyTick, &ticks);
        ASSERT_GT(id, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(250 * (round % 8)));
        ASSERT_EQ(DiscardAsyncTimer(id), 0);
        const int after = ticks;
        std::this_thread::sleep_for(2ms);
        EXPECT_EQ(ticks, after) << "a tick ran after its timer's discard returned";
    }
}

}  // namespace
}  // namespace veldra::asynctimer::testing
