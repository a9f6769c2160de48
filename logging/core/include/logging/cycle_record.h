// One measurement cycle as data: the record that every output of a session is made from (the
// display table, the text and CSV logs, plots, health, export). A failed query has no value:
// the outputs decide how to show it (an error cell, 0 in the CSV, a gap, null).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logging/log_format.h"

namespace veldra::core {

// The four quantities, in the order a cycle asks for them.
enum class Quantity { Counts, Permittivity, WaterContent, Temperature };
inline constexpr std::size_t kQuantityCount = 4;
inline constexpr std::array<Quantity, kQuantityCount> kQuantities{
    Quantity::Counts, Quantity::Permittivity, Quantity::WaterContent, Quantity::Temperature};

// What became of one query.
enum class QueryStatus {
    Received,      // a reply whose text begins with a number
    NotANumber,    // a reply whose text does not begin with a number (the logs show 0)
    NotSent,       // the command could not be sent (port cannot be opened, write failed)
    NoReply,       // not one byte within the time-out
    BadStartByte,  // the first byte was not the start byte
    Checksum,      // the checksum did not match
    Empty,         // a well-formed reply without payload
    TooLong,       // the reply does not fit the reply buffer
    Truncated,     // the reply broke off (the line failed inside the frame)
    StaleSkipped,  // only late answers to earlier requests came, and were skipped
};
inline constexpr std::size_t kQueryStatusCount = 10;

// True for the statuses whose cell shows a value (Received and NotANumber).
constexpr bool shows_value(QueryStatus s) {
    return s == QueryStatus::Received || s == QueryStatus::NotANumber;
}

struct QueryResult {
    QueryStatus status = QueryStatus::NotSent;
    // Only for Received. Counts hold an integral value; the others a float widened to double,
    // exactly the value the logs format.
    std::optional<double> value;
    std::string reply;                      // the reply text as received (empty when none came)
    int bus_result = 0;                     // the send's result when it failed, else the receive's
    std::chrono::microseconds duration{0};  // send and receive together
};

struct SensorReading {
    int address = 0;  // the list item's value, as read at this cycle
    std::array<QueryResult, kQuantityCount> queries{};
    const QueryResult& operator[](Quantity q) const { return queries[static_cast<std::size_t>(q)]; }
    QueryResult& operator[](Quantity q) { return queries[static_cast<std::size_t>(q)]; }
};

// The serial line as the cycle found it.
struct LineState {
    int port = 0;
    std::string device;    // what the COM number stands for, empty when nothing
    bool present = false;  // false while the device is gone (adapter pulled)
};

struct CycleRecord {
    std::uint64_t cycle = 0;  // 1 for a session's first cycle
    // The one clock reading of the cycle: local time as the files show it, and the same instant
    // as UTC for exporters.
    logfmt::Timestamp local;
    std::chrono::system_clock::time_point utc;
    std::chrono::milliseconds duration{0};  // from the first query to the last answer
    int interval_seconds = 0;               // the interval the session runs at
    std::vector<SensorReading> sensors;     // in list order, as listed at this cycle
    LineState line;
};

// Names for people and for exporters: "Counts", "Water Content"; "counts", "water_content";
// "ok", "no reply", "not a number" ...
std::string_view quantity_name(Quantity q);
std::string_view quantity_key(Quantity q);
std::string_view status_name(QueryStatus s);
std::string_view status_key(QueryStatus s);

}  // namespace veldra::core
