// The four queries of every sensor, one row each: what is asked, how the reply is read, and
// how its result is shown in the display table, the text log and the CSV log.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "logging/cycle_record.h"

namespace veldra::core {

// How a reply text is read: "%d" (an optionally signed decimal integer) or "%f" (a
// single-precision float), after leading white space, up to the first character that fits not.
enum class Conversion { Integer, Float };

struct QueryRow {
    Quantity quantity;
    std::size_t slot;              // where its result stands in SensorReading::queries
    std::string_view status_name;  // in the status text: "Reading Sensor 01a2b3 <name>..."
    const char* command;           // "GetCounts!" ...
    Conversion conversion;
    std::string (*success_cell)(double value);  // the display cell that shows a value
    std::string_view error_cell;                // the display cell of a failed query
    std::string (*csv_field)(double value);     // ";%d" or ";%.2f"
};

// In the order a cycle asks them.
std::span<const QueryRow, kQuantityCount> query_table();
const QueryRow& query_row(Quantity q);

// The reply text read with the row's conversion, as the logs format it (counts an integral
// value, the others a float widened to double); nullopt when it does not begin with a number.
std::optional<double> convert_reply(const QueryRow& row, std::string_view text);

}  // namespace veldra::core
