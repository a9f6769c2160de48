// Cycle records for the view tests, built the way the session builds them: one clock reading,
// one reading per listed sensor with its four queries.
#pragma once

#include <chrono>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <vector>

#include "logging/cycle_record.h"

namespace views_test {

using namespace std::chrono_literals;
using veldra::core::CycleRecord;
using veldra::core::QueryResult;
using veldra::core::QueryStatus;
using veldra::core::SensorReading;

// 2026-03-05 12:00:00 UTC: a fixed start keeps the tests independent of today.
inline const std::chrono::system_clock::time_point kStart =
    std::chrono::system_clock::from_time_t(1772712000);

inline QueryResult Answer(double value, std::chrono::microseconds took = 120ms) {
    QueryResult r;
    r.status = QueryStatus::Received;
    r.value = value;
    r.duration = took;
    return r;
}

inline QueryResult Failure(QueryStatus status, std::chrono::microseconds took = 120ms) {
    QueryResult r;
    r.status = status;
    r.duration = took;
    return r;
}

// All four queries alike.
inline SensorReading Reading(int address, const QueryResult& each) {
    SensorReading s;
    s.address = address;
    s.queries.fill(each);
    return s;
}

inline CycleRecord Cycle(std::uint64_t n, std::chrono::system_clock::time_point utc,
                         std::vector<SensorReading> sensors, int interval = 30,
                         bool present = true) {
    CycleRecord r;
    r.cycle = n;
    r.utc = utc;
    r.interval_seconds = interval;
    r.sensors = std::move(sensors);
    r.line = {40, "/dev/ttyUSB0", present};
    r.duration = std::chrono::milliseconds(0);
    for (const SensorReading& s : r.sensors) {
        for (const QueryResult& q : s.queries) {
            r.duration += std::chrono::duration_cast<std::chrono::milliseconds>(q.duration);
        }
    }
    return r;
}

}  // namespace views_test
