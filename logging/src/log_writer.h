// Writing the log files: whole lines, synced to the disk, and a failure shown in the main
// window (log_error_line) while logging goes on.
#pragma once

#include <string>
#include <string_view>

namespace veldra::logging_detail {

// Writes the line to the open log file and forces it to the disk. On failure shows the
// failure in log_error_line, unless an earlier failure of this session is already shown.
// Returns false on failure.
bool write_log_line(int handle, const std::string& path, std::string_view line);
// Like write_log_line for several lines, synced once at the end.
bool write_log_lines(int handle, const std::string& path, const std::string* lines,
                     std::size_t count);

// Clears log_error_line and forgets earlier failures (at a session start).
void clear_log_failure();

// The text of a failure from errno, e.g. "No space left on device".
std::string describe_errno(int error);

}  // namespace veldra::logging_detail
