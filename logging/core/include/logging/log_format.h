// The texts of the three log outputs (display table, text log, CSV log) and the reading of
// reply texts, as pure functions. Numbers always use a point as decimal separator, whatever
// the process locale.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace veldra::logfmt {

// A cycle's time stamp, local time.
struct Timestamp {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

inline constexpr std::size_t kTimestampColumnWidth = 22;
inline constexpr std::size_t kSensorBlockWidth = 54;

// Display table header lines, without their line end.
std::string display_header_line1(std::span<const int> addresses);
std::string display_header_line2(std::size_t sensorCount);
std::string display_header_line3(std::size_t sensorCount);

// Cells of a display data line.
std::string timestamp_cell(const Timestamp& t);
std::string counts_cell(int counts);
std::string permittivity_cell(double value);
std::string water_content_cell(double value);
std::string temperature_cell(double value);
inline constexpr std::string_view kCountsErrorCell = "|  error ";
inline constexpr std::string_view kPermittivityErrorCell = "|     error    ";
inline constexpr std::string_view kWaterContentErrorCell = "|      error    ";
inline constexpr std::string_view kTemperatureErrorCell = "|    error    ";

// CSV log lines and fields.
inline constexpr std::string_view kCsvSeparatorLine = "\"sep=;\"";
std::string csv_header_line2(std::span<const int> addresses);
std::string csv_header_line3(std::size_t sensorCount);
std::string csv_timestamp(const Timestamp& t);
// ";counts;permittivity;water content;temperature" for one sensor.
std::string csv_sensor_fields(int counts, double permittivity, double waterContent,
                              double temperature);
// One field with its separator: ";%d" and ";%.2f".
std::string csv_counts_field(int counts);
std::string csv_fixed_field(double value);

// The CSV log's path: the text log's path with its last three characters replaced by "csv".
// nullopt when the path has fewer than three characters or already ends in "csv" (the CSV
// log would then overwrite the text log).
std::optional<std::string> csv_path_for(std::string_view textLogPath);

// Status text of one query, e.g. "Reading Sensor 01a2b3 Counts...".
std::string status_text(int address, std::string_view quantityName);

// The address in lower-case hexadecimal, zero-filled to six digits.
std::string hex_address(int address);

// Reads the number at the start of a reply like scanf's "%d" and "%f" in the C locale: leading
// white space, an optional sign, then as much as fits. Text that does not begin with a number
// gives 0. Integers beyond the int range saturate.
int parse_counts_reply(std::string_view text);
float parse_float_reply(std::string_view text);
// The same reading, but nullopt when the text does not begin with a number.
std::optional<int> read_counts_reply(std::string_view text);
std::optional<float> read_float_reply(std::string_view text);

}  // namespace veldra::logfmt
