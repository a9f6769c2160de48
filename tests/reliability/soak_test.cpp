// Soak: many measurement cycles of eight sensors against a bus that stays silent, garbles
// checksums, breaks frames off, prefixes noise and answers late. Every cycle must leave exactly
// one line in each log, in order, and every cell must show what the sensor sent for that very
// sensor and quantity, or the error cell when the reply was one the requester must refuse.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/panel_ids.h"
#include "battery.h"
#include "bus/bus.h"
#include "cycle_clock.h"
#include "log_files.h"
#include "platform/ui.h"
#include "session_rig.h"

namespace veldra::reliability {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::Quantity;

constexpr std::uint32_t kSensors[] = {0x000001, 0x0A1B2C, 0x123456, 0x7FFFFF,
                                      0x800000, 0xABCDEF, 0xFEDCBA, 0xFFFFFF};
constexpr std::size_t kSensorCount = std::size(kSensors);
constexpr std::size_t kQueriesPerCycle = kSensorCount * sim::kQuantityCount;

std::atomic<long> g_cycle{0};

struct SoakFigures {
    long cycles;
    std::chrono::milliseconds reply_timeout;
};

SoakFigures soak_figures() {
    const long short_cycles = kSanitized ? 60 : 300;
    return {battery_size("VELDRA_SOAK_CYCLES", short_cycles, 20000),
            std::chrono::milliseconds(battery_size("VELDRA_SOAK_TIMEOUT_MS", 60, 50))};
}

class Soak : public ::testing::Test {
  protected:
    // After the rig exists: making it resets the seams.
    void set_seams() {
        SetWallClockForTesting([] { return reading_for_cycle(g_cycle.load()); });
        // The 0.1 s pauses between queries shrink to 0.1 ms: the bus timing is what matters.
        SetDelayScaleForTesting(0.001);
        set_reply_timeout_for_testing(static_cast<double>(figures_.reply_timeout.count()) / 1000);
    }
    void TearDown() override {
        SetWallClockForTesting({});
        SetDelayScaleForTesting(1.0);
        set_reply_timeout_for_testing(2.0);
    }

    static sim::Options options(const SoakFigures& figures) {
        sim::Options o;
        o.sensors.assign(std::begin(kSensors), std::end(kSensors));
        o.faults[Fault::Silence] = 0.05;
        o.faults[Fault::BadChecksum] = 0.05;
        o.faults[Fault::Truncated] = 0.01;
        o.faults[Fault::Noise] = 0.01;
        // VELDRA_SOAK_LATE_PERMILLE isolates the other faults from late replies when hunting.
        o.faults[Fault::LateReply] =
            static_cast<double>(battery_size("VELDRA_SOAK_LATE_PERMILLE", 10, 10)) / 1000;
        // Half a time-out after the requester gave up: well inside the next query's wait for
        // its own reply, where a stale frame could pass for the answer.
        o.late_reply_delay = figures.reply_timeout * 3 / 2;
        o.seed = static_cast<std::uint64_t>(battery_size("VELDRA_SOAK_SEED", 20261209, 20261209));
        return o;
    }

    SoakFigures figures_ = soak_figures();
};

// What the query before went through, for the report of a mismatch.
std::string previous_query(const std::vector<sim::Exchange>& exchanges, std::size_t index) {
    if (index == 0) {
        return {};
    }
    const auto& ex = exchanges[index - 1];
    return std::string("; the query before had fault ") +
           (ex.fault ? std::string(sim::fault_name(*ex.fault)) : "none") + " and sent \"" +
           ex.reply_text + "\"";
}

// Compares the next cycles' lines with what the simulator served for them; returns false at
// the first mismatch (after reporting it) so one fault does not flood the output.
bool check_cycles(long first_cycle, const std::vector<sim::Exchange>& exchanges, LineFollower& text,
                  LineFollower& csv, long& faults_seen) {
    const long cycles = static_cast<long>(exchanges.size() / kQueriesPerCycle);
    for (long c = 0; c < cycles; ++c) {
        const long cycle = first_cycle + c;
        const auto text_line = text.next();
        const auto csv_line = csv.next();
        if (!text_line || !csv_line) {
            ADD_FAILURE() << "cycle " << cycle << " left no line in "
                          << (text_line ? "the CSV log" : "the text log");
            return false;
        }
        const auto shown = parse_display_line(*text_line, kSensorCount);
        const auto row = parse_csv_row(*csv_line, kSensorCount);
        if (!shown || !row) {
            ADD_FAILURE() << "cycle " << cycle << ": malformed line\n"
                          << *text_line << '\n'
                          << *csv_line;
            return false;
        }
        const auto stamp = timestamp_for_cycle(cycle);
        if (shown->timestamp != stamp || row->timestamp != stamp) {
            ADD_FAILURE() << "cycle " << cycle << " expected time stamp " << stamp << ", got "
                          << shown->timestamp << " / " << row->timestamp;
            return false;
        }
        for (std::size_t i = 0; i < kQueriesPerCycle; ++i) {
            const auto& ex = exchanges[static_cast<std::size_t>(c) * kQueriesPerCycle + i];
            const auto sensor = kSensors[i / sim::kQuantityCount];
            const auto q = static_cast<Quantity>(i % sim::kQuantityCount);
            if (ex.address != sensor || ex.quantity != q || !ex.request_valid) {
                ADD_FAILURE() << "cycle " << cycle << " query " << i
                              << ": the bus saw a request for " << std::hex << ex.address << " \""
                              << ex.command << "\"";
                return false;
            }
            if (ex.fault) {
                ++faults_seen;
            }
            const std::optional<std::string> sent =
                ex.valid_reply ? std::optional(ex.reply_text) : std::nullopt;
            const auto want_cell = expected_display_cell(q, sent);
            const auto want_field = expected_csv_field(q, sent);
            // The reply that follows a late one on the line may be lost with it: an error cell
            // there is no wrong value. The stale value itself must never show.
            const std::size_t index = static_cast<std::size_t>(c) * kQueriesPerCycle + i;
            const bool after_late = index > 0 && exchanges[index - 1].fault == Fault::LateReply;
            const bool spoiled_by_late = after_late && shown->cells[i] == "error" &&
                                         row->cells[i] == expected_csv_field(q, std::nullopt);
            // A late reply that a loaded machine still took within the wait is that query's own
            // value in its own cell: right data, only later than planned.
            const bool late_but_own = ex.fault == Fault::LateReply &&
                                      shown->cells[i] == expected_display_cell(q, ex.reply_text) &&
                                      row->cells[i] == expected_csv_field(q, ex.reply_text);
            if (!spoiled_by_late && !late_but_own &&
                (shown->cells[i] != want_cell || row->cells[i] != want_field)) {
                ADD_FAILURE() << "cycle " << cycle << ", sensor " << std::hex << sensor << std::dec
                              << ", quantity " << i % 4
                              << " (fault: " << (ex.fault ? sim::fault_name(*ex.fault) : "none")
                              << ", sent \"" << ex.reply_text << "\"): expected " << want_cell
                              << " / " << want_field << ", shown " << shown->cells[i] << " / "
                              << row->cells[i] << previous_query(exchanges, index);
                return false;
            }
        }
    }
    return true;
}

TEST_F(Soak, EveryCycleLogsExactlyWhatEachSensorSent) {
    SessionRig rig(options(figures_), TimerMode::Manual);
    set_seams();
    rig.set_sensor_list({std::begin(kSensors), std::end(kSensors)});
    rig.set_interval(3 * static_cast<int>(kSensorCount));
    rig.press_start_stop();
    ASSERT_TRUE(rig.logging()) << "the session did not start";

    LineFollower text(rig.text_log());
    LineFollower csv(rig.csv_log());
    for (int header = 0; header < 3; ++header) {
        ASSERT_TRUE(text.next()) << "text log header line " << header;
        ASSERT_TRUE(csv.next()) << "CSV log header line " << header;
    }

    constexpr long kChunk = 50;
    long faults_seen = 0;
    for (long first = 0; first < figures_.cycles; first += kChunk) {
        const long cycles = std::min(kChunk, figures_.cycles - first);
        for (long c = 0; c < cycles; ++c) {
            g_cycle = first + c;
            rig.run_cycle();
        }
        // A late reply to the chunk's last query may still be on its way.
        std::this_thread::sleep_for(2 * figures_.reply_timeout + 50ms);
        auto exchanges = rig.sim().exchanges();
        rig.sim().clear_exchanges();
        ASSERT_EQ(exchanges.size(), static_cast<std::size_t>(cycles) * kQueriesPerCycle)
            << "requests seen by the bus in cycles " << first << "..";
        ASSERT_TRUE(check_cycles(first, exchanges, text, csv, faults_seen));
    }

    rig.press_start_stop();
    EXPECT_FALSE(rig.logging());
    EXPECT_FALSE(text.next()) << "the text log has more lines than cycles";
    EXPECT_FALSE(csv.next()) << "the CSV log has more rows than cycles";
    EXPECT_TRUE(read_file_lines(rig.text_log()).torn_tail.empty());
    EXPECT_TRUE(read_file_lines(rig.csv_log()).torn_tail.empty());
    // About 13 % of the queries carry a fault; make sure the battery really exercised them.
    EXPECT_GT(faults_seen, figures_.cycles * static_cast<long>(kQueriesPerCycle) / 20);
    RecordProperty("faults", static_cast<int>(faults_seen));
}

}  // namespace
}  // namespace veldra::reliability
