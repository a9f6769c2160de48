// Reading the text log and the CSV log back: complete lines, a possibly torn last line, and
// the cells of a data line, so the reliability tests can compare them with what the simulated
// sensors sent.
#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sensor_sim.h"

namespace veldra::reliability {

// A whole file split at "\n": every ended line, and the bytes after the last line end.
struct FileLines {
    std::vector<std::string> lines;
    std::string torn_tail;  // empty when the file ends with a line end
};
FileLines read_file_lines(const std::filesystem::path& path);

// Reads ended lines as they are appended to a file that another party keeps writing.
class LineFollower {
  public:
    explicit LineFollower(std::filesystem::path path);
    // The next ended line, or nullopt when none is complete yet.
    std::optional<std::string> next();

  private:
    std::filesystem::path path_;
    std::ifstream in_;
    std::string pending_;
};

// One data line of the display table / text log or one CSV row: the time stamp and four
// cell texts per sensor, trimmed ("error" for an error cell of the display table).
struct DataRow {
    std::string timestamp;
    std::vector<std::string> cells;
};
// nullopt when the line is not a well-formed data line for that many sensors.
std::optional<DataRow> parse_display_line(std::string_view line, std::size_t sensors);
std::optional<DataRow> parse_csv_row(std::string_view line, std::size_t sensors);

// What a cell must show for a reply the sensor sent: the value as the display table and the
// CSV log format it when the reply is one the requester must accept, otherwise the error cell
// ("error" on the display, 0 or 0.00 in the CSV).
std::string expected_display_cell(sim::Quantity q, const std::optional<std::string>& reply);
std::string expected_csv_field(sim::Quantity q, const std::optional<std::string>& reply);

// "YYYY-MM-DD HH:MM:SS".
std::string format_timestamp(int year, int month, int day, int hour, int minute, int second);

}  // namespace veldra::reliability
