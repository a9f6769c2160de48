// The specified texts made from a cycle record: the display table's cells and data line, the
// CSV row, and the header lines of both. The display table and the text log use the same
// cells, so the file always shows what the screen shows.
#pragma once

#include <array>
#include <span>
#include <string>

#include "logging/cycle_record.h"

namespace veldra::core {

// The cell of one query: the success cell with the value (0 for a reply that is not a
// number), or the error cell.
std::string display_cell(Quantity q, const QueryResult& result);
// The timestamp cell and every cell of the record, without a line end.
std::string display_data_line(const CycleRecord& record);
// The time stamp and four fields per sensor; a failed query writes 0 (0.00).
std::string csv_data_row(const CycleRecord& record);

// The three header lines of each file, without line ends, for the sensors listed at the start.
std::array<std::string, 3> display_header(std::span<const int> addresses);
std::array<std::string, 3> csv_header(std::span<const int> addresses);

}  // namespace veldra::core
