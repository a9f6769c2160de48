// A strict reader of the line protocol by its grammar, for checking what the export sends:
//   measurement[,tag=value...] field=value[,field=value...] [timestamp]
// with backslash escapes of comma, equals sign and space in the measurement, tag keys, tag
// values and field keys; field values are floats, integers ("12i"), booleans or quoted strings
// (with \" and \\). Anything else is refused, with the reason.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <string_view>

namespace export_test {

struct FieldValue {
    enum class Type { Float, Integer, String, Boolean } type = Type::Float;
    double number = 0;
    std::int64_t integer = 0;
    std::string text;
};

struct Line {
    std::string measurement;
    std::map<std::string, std::string> tags;
    std::map<std::string, FieldValue> fields;
    std::optional<std::int64_t> timestamp;
    std::string error;  // empty when the line is valid
};

inline Line parse_line_protocol(std::string_view s) {
    Line line;
    std::size_t i = 0;
    const auto fail = [&](const std::string& why) {
        line.error = why + " at " + std::to_string(i);
        return line;
    };
    // An identifier up to one of `stops`, unescaping "\," "\=" "\ " and "\\".
    const auto identifier = [&](std::string_view stops, std::string& out) {
        while (i < s.size() && stops.find(s[i]) == std::string_view::npos) {
            if (s[i] == '\n' || s[i] == '\r') {
                return false;
            }
            if (s[i] == '\\' && i + 1 < s.size() &&
                std::string_view(",= \\").find(s[i + 1]) != std::string_view::npos) {
                out += s[i + 1];
                i += 2;
                continue;
            }
            if (s[i] == '=' && stops.find('=') == std::string_view::npos) {
                return false;  // an unescaped '=' inside the measurement or a tag value
            }
            out += s[i++];
        }
        return !out.empty();
    };
    if (!identifier(", ", line.measurement)) {
        return fail("bad measurement");
    }
    while (i < s.size() && s[i] == ',') {
        ++i;
        std::string key, value;
        if (!identifier("=", key) || i >= s.size() || s[i++] != '=' || !identifier(", ", value)) {
            return fail("bad tag");
        }
        line.tags[key] = value;
    }
    if (i >= s.size() || s[i++] != ' ') {
        return fail("no field set");
    }
    static const std::regex kFloat(R"([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?)");
    static const std::regex kInteger(R"([+-]?[0-9]+i)");
    static const std::regex kBoolean(R"(t|T|true|True|TRUE|f|F|false|False|FALSE)");
    do {
        if (i < s.size() && s[i] == ',') {
            ++i;
        }
        std::string key;
        if (!identifier("=", key) || i >= s.size() || s[i++] != '=') {
            return fail("bad field key");
        }
        FieldValue v;
        if (i < s.size() && s[i] == '"') {
            ++i;
            v.type = FieldValue::Type::String;
            bool closed = false;
            while (i < s.size()) {
                if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '"' || s[i + 1] == '\\')) {
                    v.text += s[i + 1];
                    i += 2;
                } else if (s[i] == '"') {
                    ++i;
                    closed = true;
                    break;
                } else {
                    v.text += s[i++];
                }
            }
            if (!closed) {
                return fail("unclosed string");
            }
        } else {
            const std::size_t end = s.find_first_of(", ", i);
            const std::string raw(
                s.substr(i, end == std::string_view::npos ? s.size() - i : end - i));
            i += raw.size();
            if (std::regex_match(raw, kInteger)) {
                v.type = FieldValue::Type::Integer;
                v.integer = std::stoll(raw.substr(0, raw.size() - 1));
            } else if (std::regex_match(raw, kFloat)) {
                v.type = FieldValue::Type::Float;
                v.number = std::stod(raw);
            } else if (std::regex_match(raw, kBoolean)) {
                v.type = FieldValue::Type::Boolean;
                v.text = raw;
            } else {
                return fail("bad field value '" + raw + "'");
            }
        }
        if (!line.fields.emplace(key, v).second) {
            return fail("field twice");
        }
    } while (i < s.size() && s[i] == ',');
    if (i < s.size()) {
        if (s[i++] != ' ') {
            return fail("junk after the fields");
        }
        static const std::regex kTimestamp(R"(-?[0-9]{1,19})");
        const std::string raw(s.substr(i));
        if (!std::regex_match(raw, kTimestamp)) {
            return fail("bad timestamp '" + raw + "'");
        }
        line.timestamp = std::stoll(raw);
    }
    return line;
}

}  // namespace export_test
