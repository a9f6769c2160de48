// Builds every text of the display table and the CSV log with std::to_chars, which never
// looks at the locale, and reads reply numbers with the C locale's strtol/strtof.
#include "logging/log_format.h"

#include <locale.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <string>

namespace veldra::logfmt {
namespace {

// Decimal digits of v, zero-filled after the sign to at least width characters ("%0*d").
std::string zero_filled(long long v, std::size_t width) {
    std::array<char, 32> buf{};
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    (void)ec;
    std::string_view digits(buf.data(), static_cast<std::size_t>(end - buf.data()));
    std::string out;
    if (!digits.empty() && digits.front() == '-') {
        out.push_back('-');
        digits.remove_prefix(1);
        if (width > 0) {
            --width;
        }
    }
    if (digits.size() < width) {
        out.append(width - digits.size(), '0');
    }
    out.append(digits);
    return out;
}

// Fixed point with two decimals ("%.2f").
std::string fixed2(double v) {
    std::array<char, 400> buf{};  // the widest double in fixed notation fits
    auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, 2);
    (void)ec;
    return std::string(buf.data(), end);
}

// Right-aligned in at least width characters ("%*.2f").
std::string fixed2_right(double v, std::size_t width) {
    std::string s = fixed2(v);
    if (s.size() < width) {
        s.insert(0, width - s.size(), ' ');
    }
    return s;
}

std::string date_time(const Timestamp& t) {
    std::string s;
    s.reserve(19);
    s += zero_filled(t.year, 4);
    s += '-';
    s += zero_filled(t.month, 2);
    s += '-';
    s += zero_filled(t.day, 2);
    s += ' ';
    s += zero_filled(t.hour, 2);
    s += ':';
    s += zero_filled(t.minute, 2);
    s += ':';
    s += zero_filled(t.second, 2);
    return s;
}

locale_t c_locale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

}  // namespace

std::string hex_address(int address) {
    std::array<char, 16> buf{};
    auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), static_cast<unsigned>(address), 16);
    (void)ec;
    std::string digits(buf.data(), end);
    if (digits.size() < 6) {
        digits.insert(0, 6 - digits.size(), '0');
    }
    return digits;
}

std::string display_header_line1(std::span<const int> addresses) {
    std::string s = "     ISO Timestamp    ";
    for (int a : addresses) {
        s += "|                    Sensor ";
        s += hex_address(a);
        s += "                    ";
    }
    return s;
}

std::string display_header_line2(std::size_t sensorCount) {
    std::string s = "  YYYY-MM-DD HH:MM:SS ";
    for (std::size_t i = 0; i < sensorCount; ++i) {
        s += "| Counts | Permittivity | Water Content | Temperature ";
    }
    return s;
}

std::string display_header_line3(std::size_t sensorCount) {
    return std::string(kTimestampColumnWidth + kSensorBlockWidth * sensorCount, '-');
}

std::string timestamp_cell(const Timestamp& t) {
    return "  " + date_time(t) + " ";
}

std::string counts_cell(int counts) {
    return "| " + zero_filled(counts, 5) + "  ";
}

std::string permittivity_cell(double value) {
    return "|     " + fixed2_right(value, 5) + "    ";
}

std::string water_content_cell(double value) {
    return "|      " + fixed2_right(value, 5) + "    ";
}

std::string temperature_cell(double value) {
    return "|    " + fixed2_right(value, 6) + "   ";
}

std::string csv_header_line2(std::span<const int> addresses) {
    std::string s = "ISO Timestamp";
    for (int a : addresses) {
        const std::string name = ";Sensor " + hex_address(a);
        for (int i = 0; i < 4; ++i) {
            s += name;
        }
    }
    return s;
}

std::string csv_header_line3(std::size_t sensorCount) {
    std::string s = "YYYY-MM-DD HH:MM:SS";
    for (std::size_t i = 0; i < sensorCount; ++i) {
        s += ";Counts;Permittivity;Water Content;Temperature";
    }
    return s;
}

std::string csv_timestamp(const Timestamp& t) {
    return date_time(t);
}

std::string csv_sensor_fields(int counts, double permittivity, double waterContent,
                              double temperature) {
    return csv_counts_field(counts) + csv_fixed_field(permittivity) +
           csv_fixed_field(waterContent) + csv_fixed_field(temperature);
}

std::string csv_counts_field(int counts) {
    return ";" + zero_filled(counts, 0);
}

std::string csv_fixed_field(double value) {
    return ";" + fixed2(value);
}

std::optional<std::string> csv_path_for(std::string_view textLogPath) {
    if (textLogPath.size() < 3 || textLogPath.ends_with("csv")) {
        return std::nullopt;
    }
    std::string path(textLogPath);
    path.replace(path.size() - 3, 3, "csv");
    return path;
}

std::string status_text(int address, std::string_view quantityName) {
    std::string s = "Reading Sensor " + hex_address(address) + " ";
    s += quantityName;
    s += "...";
    return s;
}

std::optional<int> read_counts_reply(std::string_view text) {
    const std::string z(text);  // strtol needs a terminator
    char* end = nullptr;
    errno = 0;
    const long v = strtol_l(z.c_str(), &end, 10, c_locale());
    if (end == z.c_str()) {
        return std::nullopt;
    }
    if (v > INT_MAX) {
        return INT_MAX;
    }
    if (v < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(v);
}

std::optional<float> read_float_reply(std::string_view text) {
    const std::string z(text);
    char* end = nullptr;
    const float v = strtof_l(z.c_str(), &end, c_locale());
    if (end == z.c_str()) {
        return std::nullopt;
    }
    return v;
}

int parse_counts_reply(std::string_view text) {
    return read_counts_reply(text).value_or(0);
}

float parse_float_reply(std::string_view text) {
    return read_float_reply(text).value_or(0.0f);
}

}  // namespace veldra::logfmt
