// The measurement cycle against the simulated bus: the worked example byte for byte, what a
// reply turns into, a list that changes during a session, and the on-screen history bound.
#include <algorithm>
#include <chrono>
#include <clocale>
#include <string>
#include <vector>

#include "app/panel_ids.h"
#include "asynctimer/asynctimer.h"
#include "logging/log_format.h"
#include "logging/logging.h"
#include "logging_fixture.h"
#include "platform/ui_testing.h"
#include "worked_example.h"

namespace logging_test {
namespace {

using veldra::sim::Quantity;

using worked_example::kDashes;
using worked_example::kData;
using worked_example::kFirst;
using worked_example::kHeader1;
using worked_example::kHeader2;
using worked_example::kSecond;

class MeasurementCycle : public LoggingTest {
  protected:
    // The worked example's first sensor; the second one never answers.
    void set_up_worked_example() {
        auto& s = sim({kFirst});
        s.set_value(kFirst, Quantity::Counts, 12345);
        s.set_value(kFirst, Quantity::Permittivity, 21.5);
        s.set_value(kFirst, Quantity::WaterContent, 33.25);
        s.set_value(kFirst, Quantity::Temperature, 23.4);
        add_sensor(kFirst);
        add_sensor(kSecond);
        set_fields(kSimPort, 6, text_path_.string());
    }
};

TEST_F(MeasurementCycle, WorkedExampleByteForByte) {
    set_up_worked_example();
    start_and_pause_after_first_cycle();
    const std::string table = kHeader1 + "\n" + kHeader2 + "\n" + kDashes + "\n" + kData + "\n";
    EXPECT_EQ(log_view_text(), table);
    EXPECT_EQ(read_file(text_path_), table);
    EXPECT_EQ(read_file(csv_path_), worked_example::kCsvHeader + worked_example::kCsvRow + "\n");
    // The status line shows the last query of the last sensor.
    EXPECT_EQ(field_text(status_line), "Reading Sensor 00fe01 Temperature...");
    EXPECT_TRUE(popups_.messages().empty());
}

// Written under a comma locale, the outputs are the same bytes as under the C locale.
TEST_F(MeasurementCycle, OutputsIgnoreTheLocale) {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    }
    set_up_worked_example();
    start_and_pause_after_first_cycle();
    const std::string text = read_file(text_path_);
    const std::string csv = read_file(csv_path_);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(text, kHeader1 + "\n" + kHeader2 + "\n" + kDashes + "\n" + kData + "\n");
    EXPECT_EQ(read_lines(csv_path_).at(3),
              "2024-03-05 14:07:09;12345;21.50;33.25;23.40;0;0.00;0.00;0.00");
}

// Replies scripted per query (counts, permittivity, water content, temperature) and what the
// display line and the CSV row show for them.
TEST_F(MeasurementCycle, RepliesBecomeCells) {
    struct Case {
        std::vector<std::string> replies;
        std::string cells, fields;
    };
    const std::vector<Case> cases{
        // A reply that is no number counts as received: 0, not an error.
        {{"abc", "x", "  7.5kg", "-"},
         "| 00000  |      0.00    |       7.50    |      0.00   ",
         ";0;0.00;7.50;0.00"},
        // An empty payload is no valid reply.
        {{"", "1.5", "", "20"},
         "|  error |      1.50    |      error    |     20.00   ",
         ";0;1.50;0.00;20.00"},
        // Negative counts are zero-filled after the sign; wide values widen their cells.
        {{"-12", "-10", "100", "-100"},
         "| -0012  |     -10.00    |      100.00    |    -100.00   ",
         ";-12;-10.00;100.00;-100.00"},
        {{"123456", "1234.5", "-99.5", "1000"},
         "| 123456  |     1234.50    |      -99.50    |    1000.00   ",
         ";123456;1234.50;-99.50;1000.00"},
    };
    auto& s = sim({kFirst});
    add_sensor(kFirst);
    set_fields(kSimPort, 3, text_path_.string());
    start_and_pause_after_first_cycle();
    std::size_t lines = 4;
    for (const Case& c : cases) {
        for (const std::string& reply : c.replies) {
            s.script_reply_text(kFirst, reply);
        }
        run_cycle();
        ++lines;
        const auto text = read_lines(text_path_);
        const auto csv = read_lines(csv_path_);
        ASSERT_EQ(text.size(), lines);
        ASSERT_EQ(csv.size(), lines);
        EXPECT_EQ(text.back(), "  2024-03-05 14:07:09 " + c.cells);
        EXPECT_EQ(csv.back(), "2024-03-05 14:07:09" + c.fields);
    }
    // The display shows exactly the file's lines.
    EXPECT_EQ(log_view_text(), read_file(text_path_));
}

// A failed query shows its own error cell and writes 0, never a value of another column or
// of the sensor before.
TEST_F(MeasurementCycle, FailedQueriesNeverShowOtherValues) {
    auto& s = sim({kFirst, kSecond});
    add_sensor(kFirst);
    add_sensor(kSecond);
    set_fields(kSimPort, 6, text_path_.string());
    start_and_pause_after_first_cycle();
    for (const char* reply : {"11111", "22.22", "33.33", "44.44"}) {
        s.script_reply_text(kFirst, reply);
    }
    s.script_raw_reply(kSecond, {});        // counts: silence
    s.script_reply_text(kSecond, "55.55");  // permittivity
    s.script_raw_reply(kSecond, {0x42});    // water content: wrong start byte
    s.script_raw_reply(kSecond, veldra::sim::SensorSimulator::reply_frame(kSecond, ""));
    run_cycle();
    EXPECT_EQ(read_lines(text_path_).back(),
              "  2024-03-05 14:07:09 | 11111  |     22.22    |      33.33    |     44.44   "
              "|  error |     55.55    |      error    |    error    ");
    EXPECT_EQ(read_lines(csv_path_).back(),
              "2024-03-05 14:07:09;11111;22.22;33.33;44.44;0;55.55;0.00;0.00");
}

// Every cycle reads the list afresh; the header keeps the list of the start.
TEST_F(MeasurementCycle, FollowsTheListDuringASession) {
    auto& s = sim({kFirst, kSecond});
    s.set_value(kFirst, Quantity::Counts, 1);
    s.set_value(kSecond, Quantity::Counts, 2);
    add_sensor(kFirst);
    set_fields(kSimPort, 3, text_path_.string());
    start_and_pause_after_first_cycle();

    add_sensor(kSecond);
    run_cycle();
    auto text = read_lines(text_path_);
    auto csv = read_lines(csv_path_);
    EXPECT_EQ(text.at(0).size(), 76u);
    EXPECT_EQ(text.back().size(), 130u);
    EXPECT_EQ(text.back().substr(22, 9), "| 00001  ");
    EXPECT_EQ(text.back().substr(76, 9), "| 00002  ");
    EXPECT_EQ(csv.back().substr(0, 22), "2024-03-05 14:07:09;1;");
    EXPECT_EQ(std::count(csv.back().begin(), csv.back().end(), ';'), 8);

    DeleteListItem(main_panel, sensor_list, 0, 2);
    run_cycle();
    EXPECT_EQ(read_lines(text_path_).back(), "  2024-03-05 14:07:09 ");
    EXPECT_EQ(read_lines(csv_path_).back(), "2024-03-05 14:07:09");
    EXPECT_EQ(log_view_text(), read_file(text_path_));
}

// The first cycle runs right after the start, not one interval later.
TEST_F(MeasurementCycle, FirstCycleRunsAtOnce) {
    sim({kFirst});
    add_sensor(kFirst);
    set_fields(kSimPort, 600, text_path_.string());
    const auto started = std::chrono::steady_clock::now();
    press_start_stop();
    ASSERT_TRUE(wait_for_lines(csv_path_, 4));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    // Later ticks come at the session's interval.
    double interval = 0;
    GetAsyncTimerAttribute(measurement_timer, TIMER_ATTR_INTERVAL, &interval);
    EXPECT_EQ(interval, 600.0);
}

// The display keeps its header and the newest 10,000 data lines; the files keep every line.
TEST_F(MeasurementCycle, DisplayHistoryIsBounded) {
    // Owned by the seam: the stop in the fixture's tear-down still reads the clock.
    auto tick = std::make_shared<int>(0);
    SetWallClockForTesting([tick] {
        const int t = (*tick)++;  // one reading per cycle
        return WallClockReading{2024, 3, 5, (t / 3600) % 24, (t / 60) % 60, t % 60};
    });
    sim({kFirst});
    add_sensor(kFirst);
    set_fields(kSimPort, 3, text_path_.string());
    start_and_pause_after_first_cycle();
    DeleteListItem(main_panel, sensor_list, 0, 1);  // cheap cycles: time stamps only
    constexpr int kCycles = 10005;
    for (int i = 1; i < kCycles; ++i) {
        run_cycle();
    }
    int lines = 0;
    GetNumTextBoxLines(main_panel, log_view, lines);
    EXPECT_EQ(lines, 3 + 10000);
    const auto file = read_lines(text_path_);
    ASSERT_EQ(file.size(), 3u + kCycles);
    std::string line;
    GetTextBoxLine(main_panel, log_view, 2, line);
    EXPECT_EQ(line, file[2]);  // the header stays
    GetTextBoxLine(main_panel, log_view, 3, line);
    EXPECT_EQ(line, file[3 + kCycles - 10000]);  // the oldest data lines went
    GetTextBoxLine(main_panel, log_view, lines - 1, line);
    EXPECT_EQ(line, file.back());
    EXPECT_EQ(read_lines(csv_path_).size(), 3u + kCycles);
}

// A cycle that starts on the stroke of midnight stamps one moment, never the old day's time
// with the new day's date: the clock here turns over between any two readings.
TEST_F(MeasurementCycle, MidnightGivesOneConsistentStamp) {
    // Owned by the seam: the stop in the fixture's tear-down still reads the clock.
    auto reading = std::make_shared<int>(0);
    SetWallClockForTesting([reading] {
        return (*reading)++ % 2 == 0 ? WallClockReading{2024, 3, 5, 23, 59, 59}
                                     : WallClockReading{2024, 3, 6, 0, 0, 0};
    });
    sim({kFirst});
    add_sensor(kFirst);
    set_fields(kSimPort, 3, text_path_.string());
    start_and_pause_after_first_cycle();
    const auto csv = read_lines(csv_path_);
    ASSERT_EQ(csv.size(), 4u);
    const std::string stamp = csv[3].substr(0, csv[3].find(';'));
    EXPECT_TRUE(stamp == "2024-03-05 23:59:59" || stamp == "2024-03-06 00:00:00") << stamp;
}

}  // namespace
}  // namespace logging_test
