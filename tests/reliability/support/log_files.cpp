// Parsing of the log outputs for the reliability tests.
#include "log_files.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace veldra::reliability {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') {
        s.remove_prefix(1);
    }
    while (!s.empty() && s.back() == ' ') {
        s.remove_suffix(1);
    }
    return s;
}

std::vector<std::string_view> split(std::string_view s, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = s.find(separator);
        parts.push_back(s.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        s.remove_prefix(at + 1);
    }
}

bool is_timestamp(std::string_view s) {
    // "YYYY-MM-DD HH:MM:SS"
    if (s.size() != 19) {
        return false;
    }
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        const char expected = i == 4 || i == 7     ? '-'
                              : i == 10            ? ' '
                              : i == 13 || i == 16 ? ':'
                                                   : '0';
        if (expected == '0' ? (c < '0' || c > '9') : c != expected) {
            return false;
        }
    }
    return true;
}

std::string format_value(sim::Quantity q, const std::string& reply, const char* float_format) {
    char text[64];
    if (q == sim::Quantity::Counts) {
        // The cycle converts with "%d" into a 32-bit int; the simulator sends plain integers.
        std::snprintf(text, sizeof text, float_format[0] == 'd' ? "%d" : "%05d",
                      static_cast<int>(std::strtol(reply.c_str(), nullptr, 10)));
    } else {
        std::snprintf(text, sizeof text, "%.2f",
                      static_cast<double>(std::strtof(reply.c_str(), nullptr)));
    }
    return text;
}

}  // namespace

FileLines read_file_lines(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    FileLines result;
    std::size_t start = 0;
    for (;;) {
        const auto end = content.find('\n', start);
        if (end == std::string::npos) {
            result.torn_tail = content.substr(start);
            return result;
        }
        result.lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }
}

LineFollower::LineFollower(std::filesystem::path path) : path_(std::move(path)) {}

std::optional<std::string> LineFollower::next() {
    if (!in_.is_open()) {
        in_.open(path_, std::ios::binary);
        if (!in_.is_open()) {
            return std::nullopt;
        }
    }
    for (;;) {
        const int c = in_.get();
        if (c == std::char_traits<char>::eof()) {
            in_.clear();  // more may be appended later
            return std::nullopt;
        }
        if (c == '\n') {
            std::string line;
            line.swap(pending_);
            return line;
        }
        pending_.push_back(static_cast<char>(c));
    }
}

std::optional<DataRow> parse_display_line(std::string_view line, std::size_t sensors) {
    // The time stamp cell is "  YYYY-MM-DD HH:MM:SS " (22 characters); each cell after it
    // begins with "|".
    if (line.size() < 22 || line.substr(0, 2) != "  " || line[21] != ' ') {
        return std::nullopt;
    }
    DataRow row{std::string(line.substr(2, 19)), {}};
    if (!is_timestamp(row.timestamp)) {
        return std::nullopt;
    }
    const auto rest = line.substr(22);
    if (sensors == 0) {
        return rest.empty() ? std::optional(row) : std::nullopt;
    }
    if (rest.empty() || rest.front() != '|') {
        return std::nullopt;
    }
    const auto parts = split(rest.substr(1), '|');
    if (parts.size() != 4 * sensors) {
        return std::nullopt;
    }
    for (const auto part : parts) {
        const auto cell = trim(part);
        if (cell.empty()) {
            return std::nullopt;
        }
        row.cells.emplace_back(cell);
    }
    return row;
}

std::optional<DataRow> parse_csv_row(std::string_view line, std::size_t sensors) {
    const auto parts = split(line, ';');
    if (parts.size() != 1 + 4 * sensors || !is_timestamp(parts[0])) {
        return std::nullopt;
    }
    DataRow row{std::string(parts[0]), {}};
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].empty() || trim(parts[i]).size() != parts[i].size()) {
            return std::nullopt;
        }
        row.cells.emplace_back(parts[i]);
    }
    return row;
}

std::string expected_display_cell(sim::Quantity q, const std::optional<std::string>& reply) {
    return reply ? format_value(q, *reply, "05d") : "error";
}

std::string expected_csv_field(sim::Quantity q, const std::optional<std::string>& reply) {
    if (!reply) {
        return q == sim::Quantity::Counts ? "0" : "0.00";
    }
    return format_value(q, *reply, "d");
}

std::string format_timestamp(int year, int month, int day, int hour, int minute, int second) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                  minute, second);
    return text;
}

}  // namespace veldra::reliability
