// Attributes: refused ids and values leave the timer as it was, intervals convert to the
// engine's form and back, priorities exist only on a real-time system.
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "timer_test_support.h"

namespace veldra::asynctimer::testing {
namespace {

// Sets the "OS" environment variable for one test and restores it afterwards.
class ScopedOs {
  public:
    explicit ScopedOs(const char* value) {
        if (const char* old = std::getenv("OS")) {
            old_ = old;
        }
        value ? setenv("OS", value, 1) : unsetenv("OS");
    }
    ~ScopedOs() { old_ ? setenv("OS", old_->c_str(), 1) : unsetenv("OS"); }
    ScopedOs(const ScopedOs&) = delete;
    ScopedOs& operator=(const ScopedOs&) = delete;

  private:
    std::optional<std::string> old_;
};

class AttributeTest : public TimerTest {
  protected:
    void SetUp() override {
        TimerTest::SetUp();
        id_ = NewAsyncTimer(2.5, 7, 0, &EventLog::Record, &log_);
        ASSERT_GT(id_, 0);
    }

    // Everything a refused change must leave as it was.
    void ExpectUnchanged() {
        double interval = 0.0;
        ASSERT_EQ(Interval(id_, interval), 0);
        EXPECT_EQ(interval, 2.5);
        EXPECT_EQ(IntAttribute(id_, TIMER_ATTR_COUNT), 7);
        EXPECT_EQ(IntAttribute(id_, TIMER_ATTR_ENABLED), 0);
        void* data = nullptr;
        ASSERT_EQ(GetAsyncTimerAttribute(id_, TIMER_ATTR_CALLBACK_DATA, &data), 0);
        EXPECT_EQ(data, &log_);
    }

    EventLog log_;
    int id_ = 0;
};

TEST_F(AttributeTest, RefusedAttributeIdsAndValues) {
    ScopedOs os(nullptr);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(SetAsyncTimerAttribute(id_, 0, 1), TIMER_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(SetAsyncTimerAttribute(id_, 9, 1), TIMER_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_TIME_SINCE_START, 1.0), TIMER_ERR_READ_ONLY);
    EXPECT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_TIME_SINCE_PREVIOUS, 1.0),
              TIMER_ERR_READ_ONLY);
    EXPECT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_PRIORITY, 3), TIMER_ERR_NOT_SUPPORTED);
    EXPECT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_INTERVAL, -0.001), TIMER_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_INTERVAL, nan), TIMER_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_INTERVAL, 1e12), TIMER_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_COUNT, 0), TIMER_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_ENABLED, 2), TIMER_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_ENABLED, -1), TIMER_ERR_INVALID_ARGUMENT);

    int value = 0;
    EXPECT_EQ(GetAsyncTimerAttribute(id_, 0, &value), TIMER_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(GetAsyncTimerAttribute(id_, 9, &value), TIMER_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(GetAsyncTimerAttribute(id_, TIMER_ATTR_PRIORITY, &value), TIMER_ERR_NOT_SUPPORTED);
    EXPECT_EQ(GetAsyncTimerAttribute(id_, TIMER_ATTR_COUNT, nullptr), TIMER_ERR_INVALID_ARGUMENT);
    ExpectUnchanged();
}

TEST_F(AttributeTest, UnknownIdsAreRefusedByEveryOperation) {
    for (const int unknown : {0, -1, -2, id_ + 1, 1 << 30}) {
        int value = 0;
        EXPECT_EQ(SetAsyncTimerAttribute(unknown, TIMER_ATTR_COUNT, 3), TIMER_ERR_UNKNOWN_TIMER);
        EXPECT_EQ(GetAsyncTimerAttribute(unknown, TIMER_ATTR_COUNT, &value),
                  TIMER_ERR_UNKNOWN_TIMER);
        EXPECT_EQ(WaitForAsyncTimerCallback(unknown), TIMER_ERR_UNKNOWN_TIMER);
        if (unknown != -1) {
            EXPECT_EQ(DiscardAsyncTimer(unknown), TIMER_ERR_UNKNOWN_TIMER);
        }
    }
    // The attribute id is judged first.
    EXPECT_EQ(SetAsyncTimerAttribute(id_ + 1, 9, 1), TIMER_ERR_INVALID_ARGUMENT);
    ExpectUnchanged();
}

TEST_F(AttributeTest, IntervalsConvertToTheEnginesFormAndBack) {
    double resolution = 0.0;
    ASSERT_EQ(GetAsyncTimerResolution(&resolution), 0);
    EXPECT_GE(resolution, 1e-4);  // what a sleeping thread can honour, not the clock's tick
    EXPECT_LE(resolution, 0.02);

    struct Case {
        double set;
        double expected;
    };
    const Case cases[] = {
        {0.0, resolution}, {resolution / 2, resolution}, {1.25, 1.25}, {0.5, 0.5}, {3.0, 3.0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_INTERVAL, c.set), 0) << c.set;
        double back = -1.0;
        ASSERT_EQ(Interval(id_, back), 0);
        EXPECT_DOUBLE_EQ(back, c.expected) << c.set;
    }
    const int zero = NewAsyncTimer(0.0, -1, 0, nullptr, nullptr);
    double back = -1.0;
    ASSERT_EQ(Interval(zero, back), 0);
    EXPECT_DOUBLE_EQ(back, resolution);
}

int NoOp(int, int, int, void*, void*, void*) {
    return 0;
}

TEST_F(AttributeTest, StoredValuesReadBack) {
    int marker = 0;
    ASSERT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_COUNT, -1), 0);
    ASSERT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_CALLBACK_DATA, &marker), 0);
    ASSERT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_CALLBACK, &NoOp), 0);
    EXPECT_EQ(IntAttribute(id_, TIMER_ATTR_COUNT), -1);
    void* data = nullptr;
    AsyncTimerCallbackPtr callback = nullptr;
    ASSERT_EQ(GetAsyncTimerAttribute(id_, TIMER_ATTR_CALLBACK_DATA, &data), 0);
    ASSERT_EQ(GetAsyncTimerAttribute(id_, TIMER_ATTR_CALLBACK, &callback), 0);
    EXPECT_EQ(data, &marker);
    EXPECT_EQ(callback, &NoOp);
    ASSERT_EQ(SetAsyncTimerAttribute(id_, TIMER_ATTR_CALLBACK, AsyncTimerCallbackPtr{}), 0);
    double since = -1.0;
    ASSERT_EQ(GetAsyncTimerAttribute(id_, TIMER_ATTR_TIME_SINCE_START, &since), 0);
    EXPECT_EQ(since, 0.0);  // no event yet
}

TEST_F(AttributeTest, PrioritiesOnlyOnARealTimeSystem) {
    {
        ScopedOs os("Windows_NT");
        EXPECT_EQ(NewAsyncTimerWithPriority(1.0, -1, 0, nullptr, nullptr, 5),
                  TIMER_ERR_NOT_SUPPORTED);
    }
    ScopedOs os("realtime-kernel");
    const int id = NewAsyncTimerWithPriority(1.0, -1, 0, nullptr, nullptr, 5);
    ASSERT_GT(id, 0);
    EXPECT_EQ(IntAttribute(id, TIMER_ATTR_PRIORITY), 5);
    EXPECT_EQ(IntAttribute(id_, TIMER_ATTR_PRIORITY), 2);
    EXPECT_EQ(SetAsyncTimerAttribute(id, TIMER_ATTR_PRIORITY, 3), TIMER_ERR_READ_ONLY);
    EXPECT_EQ(NewAsyncTimerWithPriority(1.0, 0, 0, nullptr, nullptr, 5),
              TIMER_ERR_INVALID_ARGUMENT);
}

TEST(ResolutionTest, NullResultIsRefused) {
    EXPECT_EQ(GetAsyncTimerResolution(nullptr), TIMER_ERR_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace veldra::asynctimer::testing
