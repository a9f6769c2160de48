// Clock: the system date and time jump during a session (forwards and backwards, across
// midnight and the new year, and by a daylight-saving hour each way). The ticks run on the
// monotonic clock, so no cycle may be lost or doubled, while every time stamp follows the wall
// clock as it reads at the start of its cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "bus/bus.h"
#include "log_files.h"
#include "platform/ui.h"
#include "session_rig.h"

namespace veldra::reliability {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSensor = 0x0A1B2C;
constexpr int kIntervalSeconds = 3;

// What the wall clock reads around tick k (k = 0 at the start of the session).
constexpr WallClockReading kScript[] = {
    {2026, 3, 29, 1, 59, 58},    // just before the spring hour is skipped
    {2026, 3, 29, 3, 0, 1},      // an hour forwards
    {2026, 10, 25, 2, 59, 59},   // just before the autumn hour is repeated
    {2026, 10, 25, 2, 0, 2},     // an hour backwards
    {2026, 12, 31, 23, 59, 59},  // the last second of the year
    {2027, 1, 1, 0, 0, 2},       // across midnight into the new year
    {2026, 12, 31, 23, 59, 30},  // backwards across midnight and the year
    {2027, 1, 1, 0, 0, 5},
};
constexpr int kTicks = std::size(kScript);

TEST(Clock, WallClockJumpsNeitherLoseNorDoubleCyclesAndStampsFollowThem) {
    sim::Options options;
    options.sensors = {kSensor};
    SessionRig rig(options, TimerMode::Real);
    SetDelayScaleForTesting(0.01);
    set_reply_timeout_for_testing(0.5);

    // Tick k comes about k intervals after the start; the reading switches half-way between
    // ticks, so scheduling delays of up to 1.5 s cannot make a cycle read its neighbour's time.
    std::atomic<Clock::time_point> start{Clock::now()};
    SetWallClockForTesting([&start] {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start.load()).count();
        const int k = std::clamp(static_cast<int>(elapsed / kIntervalSeconds + 0.5), 0, kTicks - 1);
        return kScript[k];
    });

    rig.set_sensor_list({kSensor});
    rig.set_interval(kIntervalSeconds);
    start = Clock::now();
    rig.press_start_stop();
    ASSERT_TRUE(rig.logging());
    // Stop half an interval after the last scripted tick.
    std::this_thread::sleep_until(
        start.load() + std::chrono::milliseconds((kTicks - 1) * kIntervalSeconds * 1000 + 1500));
    rig.press_start_stop();
    ASSERT_FALSE(rig.logging());

    const auto text = read_file_lines(rig.text_log());
    const auto csv = read_file_lines(rig.csv_log());
    ASSERT_EQ(text.lines.size(), 3u + kTicks) << "cycles lost or doubled";
    ASSERT_EQ(csv.lines.size(), 3u + kTicks) << "cycles lost or doubled";
    for (int k = 0; k < kTicks; ++k) {
        const auto& r = kScript[k];
        const auto stamp = format_timestamp(r.year, r.month, r.day, r.hour, r.minute, r.second);
        const auto shown = parse_display_line(text.lines[3 + k], 1);
        const auto row = parse_csv_row(csv.lines[3 + k], 1);
        ASSERT_TRUE(shown && row) << "cycle " << k;
        EXPECT_EQ(shown->timestamp, stamp) << "cycle " << k;
        EXPECT_EQ(row->timestamp, stamp) << "cycle " << k;
    }
}

}  // namespace
}  // namespace veldra::reliability
