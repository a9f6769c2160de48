// One measurement cycle, run on the timer's thread at every tick of measurement_timer: asks
// every listed sensor for its four quantities, shows each result as it comes, and ends with
// one line in the text log and one row in the CSV log, both synced to the disk.
//
// A stop may come at any moment: the cycle looks at the stop request before and after every
// bus transaction and during its pauses, and a cycle cut short writes nothing to the files.
#include <array>
#include <string>
#include <string_view>

#include "app/panel_ids.h"
#include "asynctimer/asynctimer.h"
#include "bus/bus.h"
#include "log_writer.h"
#include "logging/log_format.h"
#include "logging/logging.h"
#include "platform/ui.h"
#include "session_runtime.h"

namespace {

using veldra::logging_detail::session_runtime;
using veldra::logging_detail::SessionRuntime;
namespace logfmt = veldra::logfmt;

constexpr int kBaud = 9600;
constexpr int kHeaderByte = 0;
constexpr double kPauseBetweenQueries = 0.1;
// The pause is taken in slices so that a stop never waits for a whole one.
constexpr int kPauseSlices = 4;

enum class Quantity { Counts, Permittivity, WaterContent, Temperature };

struct Query {
    Quantity quantity;
    std::string_view statusName;
    const char* command;
};

constexpr std::array<Query, 4> kQueries{{
    {Quantity::Counts, "Counts", "GetCounts!"},
    {Quantity::Permittivity, "Permittivity", "GetPermittivity!"},
    {Quantity::WaterContent, "Water Content", "GetWaterContent!"},
    {Quantity::Temperature, "Temperature", "GetTemperature!"},
}};

bool stop_requested() {
    return session_runtime().stop_requested.load();
}

// Appends to log_view without moving a view that the user has scrolled.
void append_keeping_view(std::string_view text) {
    int firstVisible = 0;
    GetCtrlAttribute(main_panel, log_view, ATTR_FIRST_VISIBLE_LINE, firstVisible);
    SetCtrlVal(main_panel, log_view, text);
    SetCtrlAttribute(main_panel, log_view, ATTR_FIRST_VISIBLE_LINE, firstVisible);
}

// False when a stop came during the pause.
bool pause_between_queries() {
    for (int i = 0; i < kPauseSlices; ++i) {
        if (stop_requested()) {
            return false;
        }
        Delay(kPauseBetweenQueries / kPauseSlices);
    }
    return !stop_requested();
}

std::string success_cell(Quantity q, int counts, float value) {
    switch (q) {
        case Quantity::Counts:
            return logfmt::counts_cell(counts);
        case Quantity::Permittivity:
            return logfmt::permittivity_cell(value);
        case Quantity::WaterContent:
            return logfmt::water_content_cell(value);
        case Quantity::Temperature:
            return logfmt::temperature_cell(value);
    }
    return {};
}

std::string_view error_cell(Quantity q) {
    switch (q) {
        case Quantity::Counts:
            return logfmt::kCountsErrorCell;
        case Quantity::Permittivity:
            return logfmt::kPermittivityErrorCell;
        case Quantity::WaterContent:
            return logfmt::kWaterContentErrorCell;
        case Quantity::Temperature:
            return logfmt::kTemperatureErrorCell;
    }
    return {};
}

// The four values of one sensor in one cycle; a failed query leaves its value 0.
struct SensorReading {
    int counts = 0;
    std::array<float, 3> values{};  // permittivity, water content, temperature
};

logfmt::Timestamp read_clock() {
    WallClockReading now{};
    GetSystemDateTime(now);
    return {now.year, now.month, now.day, now.hour, now.minute, now.second};
}

// Drops the oldest data lines from the on-screen table once it holds more than its history;
// the files keep everything.
void trim_display_history(SessionRuntime& rt) {
    using veldra::logging_detail::kDisplayHeaderLines;
    using veldra::logging_detail::kDisplayHistoryLines;
    if (rt.data_lines_shown <= kDisplayHistoryLines) {
        return;
    }
    const int excess = static_cast<int>(rt.data_lines_shown - kDisplayHistoryLines);
    int firstVisible = 0;
    GetCtrlAttribute(main_panel, log_view, ATTR_FIRST_VISIBLE_LINE, firstVisible);
    if (DeleteTextBoxLines(main_panel, log_view, kDisplayHeaderLines, excess) >= 0) {
        rt.data_lines_shown = kDisplayHistoryLines;
        // Lines vanished above a view scrolled into the data: follow its content.
        if (firstVisible > kDisplayHeaderLines) {
            firstVisible = std::max(kDisplayHeaderLines, firstVisible - excess);
        }
    }
    SetCtrlAttribute(main_panel, log_view, ATTR_FIRST_VISIBLE_LINE, firstVisible);
}

// A cycle cut short by a stop: its unfinished line leaves the display too, so the display
// and the text log keep showing the same lines.
void drop_unfinished_line() {
    int lines = 0;
    GetNumTextBoxLines(main_panel, log_view, lines);
    if (lines > veldra::logging_detail::kDisplayHeaderLines) {
        DeleteTextBoxLines(main_panel, log_view, lines - 1, 1);
    }
}

}  // namespace

int timer_callback(int, int, int, void*, void*, void*) {
    SessionRuntime& rt = session_runtime();
    if (!rt.cycle_allowed.load() || stop_requested()) {
        return 0;  // no session, or it is ending: touch nothing
    }
    SetAsyncTimerAttribute(measurement_timer, TIMER_ATTR_INTERVAL,
                           static_cast<double>(logging_interval));

    const logfmt::Timestamp stamp = read_clock();
    std::string line = logfmt::timestamp_cell(stamp);
    SetCtrlVal(main_panel, log_view, line);
    std::string row = logfmt::csv_timestamp(stamp);

    int sensorCount = 0;
    GetNumListItems(main_panel, sensor_list, sensorCount);
    std::array<char, 10000> reply{};
    for (int i = 0; i < sensorCount; ++i) {
        int address = 0;
        if (GetValueFromIndex(main_panel, sensor_list, i, address) < 0) {
            break;  // the list became shorter during the cycle
        }
        SensorReading reading;
        for (std::size_t k = 0; k < kQueries.size(); ++k) {
            const Query& query = kQueries[k];
            if (k > 0 ? !pause_between_queries() : stop_requested()) {
                drop_unfinished_line();
                return 0;
            }
            SetCtrlVal(main_panel, status_line, logfmt::status_text(address, query.statusName));
            bool received = false;
            if (send_n_bus_message(com_port_number, kBaud, kHeaderByte, address, query.command) ==
                    0 &&
                receive_n_bus_message(com_port_number, kBaud, reply) >= 1) {
                received = true;
                // A reply that is no number still counts as received and shows 0.
                const std::string_view text(reply.data());
                if (query.quantity == Quantity::Counts) {
                    reading.counts = logfmt::parse_counts_reply(text);
                } else {
                    reading.values[k - 1] = logfmt::parse_float_reply(text);
                }
            }
            if (stop_requested()) {
                // An aborted read is no failed query: the cycle is simply cut short.
                drop_unfinished_line();
                return 0;
            }
            if (received) {
                const std::string cell =
                    success_cell(query.quantity, reading.counts, k > 0 ? reading.values[k - 1] : 0);
                append_keeping_view(cell);
                line += cell;
            } else {
                SetCtrlVal(main_panel, log_view, error_cell(query.quantity));
                line += error_cell(query.quantity);
            }
        }
        row += logfmt::csv_sensor_fields(reading.counts, reading.values[0], reading.values[1],
                                         reading.values[2]);
    }

    veldra::logging_detail::write_log_line(text_log_file, rt.text_log_path, line);
    veldra::logging_detail::write_log_line(csv_log_file, rt.csv_log_path, row);

    append_keeping_view("\n");
    ++rt.data_lines_shown;
    trim_display_history(rt);

    ProcessDrawEvents();
    ProcessSystemEvents();
    return 0;
}
