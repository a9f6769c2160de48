// What goes to the broker: the topics and the two payload formats of one message.
//
// JSON, one object per sensor and cycle:
//   {"time":"2026-12-10T10:22:12.345Z","local":"2026-12-10 11:22:12","site":"field-1",
//    "sensor":"0a1b2c","seq":17,"counts":12345,"permittivity":21.5,"water_content":33.25,
//    "temperature":null,"status":{"counts":"ok",...,"temperature":"no_reply"}}
// A failed query's value is null, never 0. Values are written as the shortest text that reads
// back as the sensor's single-precision value ("23.4", not "23.399999618530273").
//
// Line protocol, for time-series stores that take it unchanged:
//   veldra,site=field-1,sensor=0a1b2c seq=17i,counts=12345i,permittivity=21.5,
//   water_content=33.25,temperature_status="no_reply" 1796984532345000000
// The protocol has no null: a failed query leaves its field out and says why in
// "<quantity>_status"; the time is the cycle's instant in nanoseconds UTC.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "export/outbox.h"
#include "options/options.h"

namespace veldra::exporter {

// "<prefix>/<site>/<address as %06x>"
std::string sensor_topic(std::string_view prefix, std::string_view site, int address);
// "<prefix>/<site>/status": "online" (retained) while a logger is connected, "offline" after
// it (its last will when the connection breaks).
std::string status_topic(std::string_view prefix, std::string_view site);

std::string json_payload(const OutboxEntry& entry);
std::string line_protocol_payload(const OutboxEntry& entry);
std::string payload(options::PayloadFormat format, const OutboxEntry& entry);

// "2026-12-10T10:22:12.345Z" from nanoseconds since 1970 UTC (milliseconds, cut, not rounded).
std::string iso_utc_millis(std::int64_t utc_ns);

}  // namespace veldra::exporter
