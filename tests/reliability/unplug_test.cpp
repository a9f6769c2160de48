// Unplug: the sensor bus's serial device disappears in the middle of a session and comes back
// under the same name. While it is gone every query shows the error cell and the program
// stays idle between cycles (no busy loop); a stop works at once; once it is back, values
// come back without the user doing anything.
#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "log_files.h"
#include "platform/ui.h"
#include "session_rig.h"

namespace veldra::reliability {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSensor = 0x0A1B2C;

double process_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Waits for the next data line of the text log that satisfies the predicate, skipping others.
std::optional<DataRow> wait_for_line(LineFollower& log,
                                     const std::function<bool(const DataRow&)>& wanted,
                                     std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        while (const auto line = log.next()) {
            const auto row = parse_display_line(*line, 1);
            if (row && wanted(*row)) {
                return row;
            }
        }
        std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
}

bool all_errors(const DataRow& row) {
    return std::all_of(row.cells.begin(), row.cells.end(),
                       [](const auto& c) { return c == "error"; });
}
bool all_values(const DataRow& row) {
    return std::none_of(row.cells.begin(), row.cells.end(),
                        [](const auto& c) { return c == "error"; });
}

TEST(Unplug, ErrorsWhileGoneNoBusyLoopImmediateStopValuesReturn) {
    sim::Options options;
    options.sensors = {kSensor};
    SessionRig rig(options, TimerMode::Real);  // real ticks, real pauses, real time-out
    rig.set_sensor_list({kSensor});
    rig.set_interval(3);
    rig.press_start_stop();
    ASSERT_TRUE(rig.logging());

    LineFollower log(rig.text_log());
    for (int header = 0; header < 3; ++header) {
        ASSERT_TRUE(log.next());
    }
    ASSERT_TRUE(wait_for_line(log, all_values, 15s)) << "no values before the unplug";

    rig.sim().unplug();
    ASSERT_TRUE(wait_for_line(log, all_errors, 15s)) << "no error cells while the bus is gone";

    // Idle while gone: a tick with four failed queries, then waiting for the next one.
    const auto wall_start = Clock::now();
    const double cpu_start = process_cpu_seconds();
    std::this_thread::sleep_for(3s);
    const double cpu = process_cpu_seconds() - cpu_start;
    const double wall = std::chrono::duration<double>(Clock::now() - wall_start).count();
    RecordProperty("cpu_percent_while_unplugged", std::to_string(100 * cpu / wall));
    EXPECT_LT(cpu / wall, 0.05) << cpu << " s of CPU in " << wall << " s while the bus is gone";

    rig.sim().replug();
    ASSERT_TRUE(wait_for_line(log, all_values, 15s)) << "values did not come back after the replug";

    // A stop while the bus is gone again: no port test may hold it up.
    rig.sim().unplug();
    std::this_thread::sleep_for(200ms);
    const auto stop_start = Clock::now();
    rig.press_start_stop();
    const auto stop_time = Clock::now() - stop_start;
    EXPECT_FALSE(rig.logging()) << "the stop was refused while the bus is gone";
    // Bounded by one pause slice or one aborted read; generous for a loaded machine.
    EXPECT_LT(stop_time, 1500ms);
    RecordProperty(
        "stop_ms",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(stop_time).count()));
    for (const auto& message : rig.popups().messages()) {
        ADD_FAILURE() << "unexpected message box: " << message;
    }
}

}  // namespace
}  // namespace veldra::reliability
