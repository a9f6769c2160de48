// The two payload formats without a broker: what a cycle's record becomes (values, nulls for
// failed queries, statuses, the instant), and that both read back by their grammar with a site
// name full of characters that each format must escape.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "export/outbox.h"
#include "export/payload.h"
#include "line_protocol.h"

namespace {

using namespace veldra::exporter;
using export_test::FieldValue;
using export_test::parse_line_protocol;
using nlohmann::json;
using veldra::core::CycleRecord;
using veldra::core::QueryStatus;

// 2026-12-10T10:22:12.345678901Z
constexpr std::int64_t kInstant = 1796898132345678901;

CycleRecord record() {
    CycleRecord r;
    r.cycle = 3;
    r.local = {2026, 12, 10, 11, 22, 12};
    r.utc = std::chrono::system_clock::time_point(std::chrono::nanoseconds(kInstant));
    auto& good = r.sensors.emplace_back();
    good.address = 0x0a1b2c;
    const std::array<double, 4> values{12345.0, double(21.5f), double(33.25f), double(23.4f)};
    for (std::size_t q = 0; q < 4; ++q) {
        good.queries[q].status = QueryStatus::Received;
        good.queries[q].value = values[q];
    }
    auto& bad = r.sensors.emplace_back();
    bad.address = 0x00fe01;
    bad.queries[0].status = QueryStatus::NoReply;
    bad.queries[1].status = QueryStatus::NotANumber;  // the CSV log shows 0.00: no value here
    bad.queries[2].status = QueryStatus::Checksum;
    bad.queries[3].status = QueryStatus::Received;  // a reply of "nan": no payload can carry it
    bad.queries[3].value = std::numeric_limits<double>::quiet_NaN();
    return r;
}

TEST(Payload, JsonCarriesValuesNullsStatusesAndBothTimes) {
    const std::vector<OutboxEntry> entries = entries_for(record(), "field-1", 17);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(sensor_topic("veldra", "field-1", entries[0].sensor), "veldra/field-1/0a1b2c");
    EXPECT_EQ(status_topic("fleet/north", "field-1"), "fleet/north/field-1/status");

    const json good = json::parse(json_payload(entries[0]));
    EXPECT_EQ(good, json::parse(R"({"time": "2026-12-10T10:22:12.345Z",
        "local": "2026-12-10 11:22:12", "site": "field-1", "sensor": "0a1b2c", "seq": 17,
        "counts": 12345, "permittivity": 21.5, "water_content": 33.25, "temperature": 23.4,
        "status": {"counts": "ok", "permittivity": "ok", "water_content": "ok",
                   "temperature": "ok"}})"));
    EXPECT_TRUE(good["counts"].is_number_integer());
    // The single-precision value in its shortest form, not the widened double's digits.
    EXPECT_NE(json_payload(entries[0]).find("\"temperature\":23.4,"), std::string::npos);

    const json bad = json::parse(json_payload(entries[1]));
    for (const char* key : {"counts", "permittivity", "water_content", "temperature"}) {
        EXPECT_TRUE(bad[key].is_null()) << key;
    }
    EXPECT_EQ(bad["status"], json::parse(R"({"counts": "no_reply",
        "permittivity": "not_a_number", "water_content": "checksum",
        "temperature": "not_a_number"})"));
}

TEST(Payload, LineProtocolHasTagsFieldsAndTheInstantInNanoseconds) {
    const std::vector<OutboxEntry> entries = entries_for(record(), "field-1", 17);
    EXPECT_EQ(line_protocol_payload(entries[0]),
              "veldra,sensor=0a1b2c,site=field-1 seq=17i,counts=12345i,permittivity=21.5,"
              "water_content=33.25,temperature=23.4 1796898132345678901");
    const export_test::Line bad = parse_line_protocol(line_protocol_payload(entries[1]));
    ASSERT_EQ(bad.error, "");
    EXPECT_EQ(bad.fields.size(), 5u);  // seq and four statuses, no value field at all
    EXPECT_EQ(bad.fields.at("counts_status").text, "no_reply");
    EXPECT_EQ(bad.fields.count("counts"), 0u);
    EXPECT_EQ(bad.timestamp, kInstant);
}

// Site names are the user's: the options refuse only MQTT's separators and control
// characters, so both formats must carry the rest.
TEST(Payload, AwkwardSiteNamesSurviveBothFormats) {
    const std::vector<std::string> sites{"north field", "a,b=c",       "back\\slash", "say \"hi\"",
                                         "trailing\\",  "Münster-Süd", "x=1,y=2 z"};
    for (const std::string& site : sites) {
        const OutboxEntry e = entries_for(record(), site, 1)[0];
        const json j = json::parse(json_payload(e));
        EXPECT_EQ(j["site"], site);
        const export_test::Line line = parse_line_protocol(line_protocol_payload(e));
        ASSERT_EQ(line.error, "") << line_protocol_payload(e);
        EXPECT_EQ(line.measurement, "veldra");
        EXPECT_EQ(line.tags.at("site"), site);
        EXPECT_EQ(line.tags.at("sensor"), "0a1b2c");
        EXPECT_EQ(line.fields.at("counts").type, FieldValue::Type::Integer);
        EXPECT_EQ(line.fields.at("counts").integer, 12345);
        EXPECT_EQ(line.fields.at("permittivity").type, FieldValue::Type::Float);
    }
    // Bytes that are no UTF-8 (a name typed in another encoding) still give valid JSON.
    const OutboxEntry e = entries_for(record(), std::string("caf\xe9"), 1)[0];
    EXPECT_EQ(json::parse(json_payload(e))["site"], "caf\xef\xbf\xbd");
}

TEST(Payload, TimesAreUtcMillisecondsCut) {
    EXPECT_EQ(iso_utc_millis(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(iso_utc_millis(kInstant), "2026-12-10T10:22:12.345Z");
    EXPECT_EQ(iso_utc_millis(951782399999999999), "2000-02-28T23:59:59.999Z");
    EXPECT_EQ(iso_utc_millis(951868800000000000), "2000-03-01T00:00:00.000Z");
}

}  // namespace
