// Topics, JSON and line-protocol payloads. Written by hand rather than through a JSON library:
// the values must come out as the sensor's single-precision numbers in their shortest form,
// whatever the process locale, and a cycle's messages are built on the network thread for
// every message of a backlog.
#include "export/payload.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "logging/log_format.h"

namespace veldra::exporter {
namespace {

// Shortest text that reads back as the same float; none for NaN and infinities, which
// neither format can carry.
std::optional<std::string> float_text(double value) {
    const auto f = static_cast<float>(value);
    if (!std::isfinite(f)) {
        return std::nullopt;
    }
    std::array<char, 32> buf{};
    const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), f);
    (void)ec;
    return std::string(buf.data(), end);
}

std::string integer_text(double value) {
    return std::to_string(std::llround(value));
}

// The length of the valid UTF-8 sequence at the start of `s`, 0 when it is not one.
std::size_t utf8_length(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = byte(0);
    std::size_t n = 0;
    unsigned min = 0;
    unsigned code = 0;
    if (c < 0x80) {
        return 1;
    } else if ((c & 0xe0) == 0xc0) {
        n = 2, min = 0x80, code = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
        n = 3, min = 0x800, code = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
        n = 4, min = 0x10000, code = c & 0x07;
    } else {
        return 0;
    }
    if (s.size() < n) {
        return 0;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(i) & 0xc0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i) & 0x3f);
    }
    if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
        return 0;
    }
    return n;
}

// A JSON string: quotes, backslashes and control characters escaped; a byte that is no
// valid UTF-8 becomes U+FFFD, so that every receiver's parser takes the message.
void append_json_string(std::string& out, std::string_view s) {
    out += '"';
    while (!s.empty()) {
        const auto c = static_cast<unsigned char>(s.front());
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            s.remove_prefix(1);
        } else if (c < 0x20) {
            std::array<char, 8> buf{};
            std::snprintf(buf.data(), buf.size(), "\\u%04x", c);
            out += buf.data();
            s.remove_prefix(1);
        } else if (const std::size_t n = utf8_length(s); n == 0) {
            out += "\\ufffd";
            s.remove_prefix(1);
        } else {
            out.append(s.substr(0, n));
            s.remove_prefix(n);
        }
    }
    out += '"';
}

// Tag values (and keys): comma, equals sign and space separate, a backslash escapes.
void append_tag(std::string& out, std::string_view s) {
    for (const char c : s) {
        if (c == ',' || c == '=' || c == ' ' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
}

// String field values: in double quotes, with quotes and backslashes escaped.
void append_field_string(std::string& out, std::string_view s) {
    out += '"';
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
}

}  // namespace

std::string sensor_topic(std::string_view prefix, std::string_view site, int address) {
    std::string topic;
    topic.reserve(prefix.size() + site.size() + 8);
    topic.append(prefix).append("/").append(site).append("/").append(logfmt::hex_address(address));
    return topic;
}

std::string status_topic(std::string_view prefix, std::string_view site) {
    return std::string(prefix) + "/" + std::string(site) + "/status";
}

std::string iso_utc_millis(std::int64_t utc_ns) {
    using namespace std::chrono;
    const sys_time<nanoseconds> t{nanoseconds(utc_ns)};
    const sys_days day = floor<days>(t);
    const year_month_day date{day};
    const hh_mm_ss time{floor<milliseconds>(t - day)};
    std::array<char, 48> buf{};
    std::snprintf(buf.data(), buf.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()),
                  static_cast<int>(time.subseconds().count()));
    return buf.data();
}

std::string json_payload(const OutboxEntry& e) {
    std::string out;
    out.reserve(320);
    out += "{\"time\":\"" + iso_utc_millis(e.utc_ns) + "\",\"local\":";
    append_json_string(out, e.local);
    out += ",\"site\":";
    append_json_string(out, e.site);
    out += ",\"sensor\":\"" + logfmt::hex_address(e.sensor) + "\",\"seq\":" + std::to_string(e.seq);
    for (std::size_t q = 0; q < core::kQuantityCount; ++q) {
        out += ",\"";
        out += core::quantity_key(core::kQuantities[q]);
        out += "\":";
        const std::optional<double>& v = e.values[q];
        if (!v) {
            out += "null";
        } else if (q == 0) {
            out += integer_text(*v);
        } else {
            out += float_text(*v).value_or("null");
        }
    }
    out += ",\"status\":{";
    for (std::size_t q = 0; q < core::kQuantityCount; ++q) {
        out += q == 0 ? "\"" : ",\"";
        out += core::quantity_key(core::kQuantities[q]);
        out += "\":";
        append_json_string(out, e.statuses[q]);
    }
    out += "}}";
    return out;
}

std::string line_protocol_payload(const OutboxEntry& e) {
    std::string out = "veldra,sensor=" + logfmt::hex_address(e.sensor) + ",site=";
    append_tag(out, e.site);
    out += " seq=" + std::to_string(e.seq) + "i";
    for (std::size_t q = 0; q < core::kQuantityCount; ++q) {
        const std::string_view key = core::quantity_key(core::kQuantities[q]);
        const std::optional<double>& v = e.values[q];
        std::optional<std::string> text;
        if (v) {
            text = q == 0 ? std::optional(integer_text(*v) + "i") : float_text(*v);
        }
        if (text) {
            out += ",";
            out += key;
            out += "=" + *text;
        }
        if (e.statuses[q] != "ok") {
            out += ",";
            out += key;
            out += "_status=";
            append_field_string(out, e.statuses[q]);
        }
    }
    out += " " + std::to_string(e.utc_ns);
    return out;
}

std::string payload(options::PayloadFormat format, const OutboxEntry& entry) {
    return format == options::PayloadFormat::Influx ? line_protocol_payload(entry)
                                                    : json_payload(entry);
}

}  // namespace veldra::exporter
