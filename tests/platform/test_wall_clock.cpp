// The wall clock without a window: one reading is one instant in local fields and in UTC, a
// scripted clock may give both or only the local fields, and a pause ends when it is cut short.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "platform/wall_clock.h"

namespace {

using std::chrono::system_clock;

// The local fields that an instant shows.
WallClockReading LocalFields(system_clock::time_point t) {
    const std::time_t seconds = system_clock::to_time_t(t);
    std::tm local{};
    localtime_r(&seconds, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

void ExpectSameFields(const WallClockReading& a, const WallClockReading& b) {
    EXPECT_EQ(a.year, b.year);
    EXPECT_EQ(a.month, b.month);
    EXPECT_EQ(a.day, b.day);
    EXPECT_EQ(a.hour, b.hour);
    EXPECT_EQ(a.minute, b.minute);
    EXPECT_EQ(a.second, b.second);
}

class WallClock : public ::testing::Test {
  protected:
    void TearDown() override {
        SetWallClockForTesting({});
        SetDelayScaleForTesting(1.0);
    }
};

TEST_F(WallClock, OneReadingIsOneInstant) {
    for (int i = 0; i < 50; ++i) {
        const WallClockReading now = ReadWallClock();
        ExpectSameFields(now, LocalFields(now.utc));
    }
}

TEST_F(WallClock, ScriptedLocalFieldsGiveTheirInstant) {
    SetWallClockForTesting([] { return WallClockReading{2024, 3, 5, 14, 7, 9}; });
    const WallClockReading r = ReadWallClock();
    ExpectSameFields(r, WallClockReading{2024, 3, 5, 14, 7, 9});
    ExpectSameFields(LocalFields(r.utc), r);
}

TEST_F(WallClock, ScriptedInstantIsKeptAsGiven) {
    const auto instant = system_clock::from_time_t(1709647629);  // any instant at all
    SetWallClockForTesting([instant] { return WallClockReading{2024, 3, 5, 14, 7, 9, instant}; });
    EXPECT_EQ(ReadWallClock().utc, instant);
    SetWallClockForTesting({});
    EXPECT_NE(ReadWallClock().utc, instant);
}

TEST_F(WallClock, ScaleShortensPauses) {
    SetDelayScaleForTesting(0.5);
    EXPECT_DOUBLE_EQ(ScaledDelaySeconds(3.0), 1.5);
    EXPECT_DOUBLE_EQ(ScaledDelaySeconds(-1.0), 0.0);
    EXPECT_DOUBLE_EQ(ScaledDelaySeconds(1e9), 86400.0);
    SetDelayScaleForTesting(0.0);
    InterruptiblePause pause;
    EXPECT_TRUE(pause.sleepFor(3600.0));  // returns at once, not interrupted
}

TEST_F(WallClock, InterruptedPauseEndsAtOnceAndStaysEndedUntilRearmed) {
    InterruptiblePause pause;
    const auto started = std::chrono::steady_clock::now();
    std::thread stopper([&pause] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pause.interrupt();
    });
    EXPECT_FALSE(pause.sleepFor(600.0));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    EXPECT_FALSE(pause.sleepFor(600.0));  // a later pause of the same stop ends too
    pause.rearm();
    EXPECT_TRUE(pause.sleepFor(0.001));
}

}  // namespace
