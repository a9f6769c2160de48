// Writes the two log files from the session's events and reports failed writes.
#include "logging/log_observers.h"

#include <array>

#include "logging/record_format.h"
#include "platform/wall_clock.h"

namespace veldra::core {
namespace {

std::string two_digits(int v) {
    std::string s = std::to_string(v);
    return s.size() < 2 ? "0" + s : s;
}

}  // namespace

void LogFileObserver::attach(LogFile file) {
    file_ = std::move(file);
    failing_ = false;
}

void LogFileObserver::session_ended(const SessionEnd&) {
    file_.close();
}

void LogFileObserver::write(std::span<const std::string> lines) {
    if (!file_.is_open()) {
        return;
    }
    const int error = file_.write_lines(lines);
    if (error == 0) {
        if (failing_) {
            failing_ = false;
            notices_.post_notice({NoticeKind::WriteRecovered,
                                  "Writing the log works again: " + file_.path(),
                                  ReadWallClock().utc});
        }
        return;
    }
    if (failing_) {
        return;  // the first failure stays reported with its time
    }
    failing_ = true;
    const WallClockReading now = ReadWallClock();
    const std::string reason = error > 0 ? describe_errno(error) : "the write failed";
    notices_.post_notice({NoticeKind::WriteFailed,
                          "Writing the log failed: " + file_.path() + ": " + reason + " (since " +
                              two_digits(now.hour) + ":" + two_digits(now.minute) + ":" +
                              two_digits(now.second) + ")",
                          now.utc});
}

void TextLogObserver::session_started(const SessionInfo& info) {
    write(info.display_header);
}

void TextLogObserver::cycle_finished(const CycleRecord& record) {
    const std::array<std::string, 1> line{display_data_line(record)};
    write(line);
}

void CsvLogObserver::session_started(const SessionInfo& info) {
    write(info.csv_header);
}

void CsvLogObserver::cycle_finished(const CycleRecord& record) {
    const std::array<std::string, 1> row{csv_data_row(record)};
    write(row);
}

}  // namespace veldra::core
