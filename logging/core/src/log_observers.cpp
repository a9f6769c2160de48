// Writes the two log files from the session's events: lines wait in memory while writing
// fails and go out first once it works again; failures, drops and recovery become notices.
#include "logging/log_observers.h"

#include <algorithm>
#include <utility>

#include "logging/record_format.h"
#include "platform/wall_clock.h"

namespace veldra::core {
namespace {

std::string two_digits(int v) {
    std::string s = std::to_string(v);
    return s.size() < 2 ? "0" + s : s;
}

std::string reason_text(int error) {
    return error > 0 ? describe_errno(error) : "the write failed";
}

std::string lines_text(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " line" : " lines");
}

}  // namespace

void LogFileObserver::attach(LogFile file) {
    outlets_.clear();
    Outlet& outlet = outlets_.emplace_back();
    outlet.path = file.path();
    outlet.file = std::move(file);
    waiting_ = 0;
    failing_ = false;
    error_ = 0;
    dropped_ = 0;
    drop_reported_ = false;
}

void LogFileObserver::begin_file(const std::string& path, std::span<const int> addresses) {
    Outlet& outlet = outlets_.emplace_back();
    outlet.path = path;
    for (std::string& line : header(addresses)) {
        queue(std::move(line), true);
    }
}

const std::string& LogFileObserver::current_path() const {
    static const std::string none;
    return outlets_.empty() ? none : outlets_.back().path;
}

std::uint64_t LogFileObserver::current_bytes() const {
    return outlets_.empty() ? 0 : outlets_.back().bytes;
}

bool LogFileObserver::current_has_data() const {
    return !outlets_.empty() && outlets_.back().has_data;
}

std::vector<std::string> LogFileObserver::held_paths() const {
    std::vector<std::string> paths;
    for (const Outlet& outlet : outlets_) {
        paths.push_back(outlet.path);
    }
    return paths;
}

void LogFileObserver::session_ended(const SessionEnd&) {
    if (waiting_ > 0) {
        std::size_t written = 0;
        const int error = flush(written);
        if (error == 0) {
            report(0, written, 0, 0);
        } else {
            // The last chance has passed: what still waits is lost, and the user is told.
            const std::string path = outlets_.front().path;
            const std::size_t lost = waiting_;
            error_ = error;
            dropped_ += lost;
            waiting_ = 0;
            post(NoticeKind::LinesDropped,
                 lines_text(lost) + " could not be written to " + path +
                     " before the session ended and are lost (" + reason_text(error) + ")",
                 path, false);
        }
    }
    outlets_.clear();  // closes every file
    waiting_ = 0;
    failing_ = false;
}

void LogFileObserver::write_header(std::span<const std::string> lines) {
    if (outlets_.empty()) {
        return;
    }
    for (const std::string& line : lines) {
        queue(line, true);
    }
    std::size_t written = 0;
    const int error = flush(written);
    report(error, written, lines.size(), 0);
}

void LogFileObserver::write_data(const std::string& line) {
    if (outlets_.empty()) {
        return;
    }
    queue(line, false);
    std::size_t written = 0;
    const int error = flush(written);
    // Only what still cannot go out counts against the bound.
    const std::size_t before = dropped_;
    drop_oldest_past_bound();
    report(error, written, 1, dropped_ - before);
}

void LogFileObserver::queue(std::string line, bool pinned) {
    Outlet& outlet = outlets_.back();
    outlet.bytes += line.size() + 1;
    if (pinned) {
        outlet.waiting.insert(outlet.waiting.begin() + static_cast<std::ptrdiff_t>(outlet.pinned),
                              std::move(line));
        ++outlet.pinned;
    } else {
        outlet.waiting.push_back(std::move(line));
        outlet.has_data = true;
    }
    ++waiting_;
}

void LogFileObserver::drop_oldest_past_bound() {
    while (waiting_ > kMaxWaitingLines) {
        // The oldest data line of the oldest file; header lines stay, so that every file
        // still says what its columns are and is known as ours.
        const auto outlet = std::find_if(outlets_.begin(), outlets_.end(), [](const Outlet& o) {
            return o.waiting.size() > o.pinned;
        });
        if (outlet == outlets_.end()) {
            return;
        }
        const auto line = outlet->waiting.begin() + static_cast<std::ptrdiff_t>(outlet->pinned);
        outlet->bytes -= line->size() + 1;
        outlet->waiting.erase(line);
        --waiting_;
        ++dropped_;
    }
}

int LogFileObserver::flush(std::size_t& written) {
    written = 0;
    for (std::size_t i = 0; i < outlets_.size();) {
        Outlet& outlet = outlets_[i];
        if (!outlet.waiting.empty() && !outlet.file.is_open()) {
            int error = 0;
            outlet.file = LogFile::create_new(outlet.path, error);
            if (!outlet.file.is_open()) {
                return error;
            }
        }
        int error = 0;
        bool wrote = false;
        while (!outlet.waiting.empty()) {
            error = outlet.file.write_line(outlet.waiting.front());
            if (error != 0) {
                break;
            }
            outlet.waiting.pop_front();
            if (outlet.pinned > 0) {
                --outlet.pinned;
            }
            --waiting_;
            ++written;
            wrote = true;
        }
        // One sync per file and cycle: a crash loses at most the cycle in progress.
        if (wrote) {
            const int synced = outlet.file.sync();
            error = error != 0 ? error : synced;
        }
        if (error != 0) {
            return error;
        }
        if (i + 1 < outlets_.size()) {
            outlets_.erase(outlets_.begin() + static_cast<std::ptrdiff_t>(i));  // closes it
        } else {
            ++i;
        }
    }
    return 0;
}

void LogFileObserver::report(int error, std::size_t written, std::size_t new_lines,
                             std::size_t dropped_now) {
    if (error == 0) {
        if (!failing_) {
            return;
        }
        const std::size_t waited = written > new_lines ? written - new_lines : 0;
        std::string text = "Writing the log works again: " + current_path();
        if (waited > 0) {
            text += "; " + lines_text(waited) + " that waited written";
        }
        if (dropped_ > 0) {
            text += "; " + lines_text(dropped_) + " lost while it failed";
        }
        failing_ = false;
        Notice notice{NoticeKind::WriteRecovered, std::move(text), ReadWallClock().utc,
                      status(current_path()), false};
        notice.file->lines_written = waited;
        notices_.post_notice(notice);
        dropped_ = 0;
        drop_reported_ = false;
        return;
    }
    const bool first = !failing_;
    if (first) {
        const WallClockReading now = ReadWallClock();
        failing_ = true;
        since_ = now.utc;
        since_text_ =
            two_digits(now.hour) + ":" + two_digits(now.minute) + ":" + two_digits(now.second);
    }
    error_ = error;
    const std::string& path = outlets_.front().path;
    if (dropped_now > 0) {
        post(NoticeKind::LinesDropped, failure_text(), path, drop_reported_);
        drop_reported_ = true;
    } else {
        post(NoticeKind::WriteFailed, failure_text(), path, !first);
    }
}

LogFileStatus LogFileObserver::status(const std::string& path) const {
    LogFileStatus s;
    s.output = output_;
    s.path = path;
    s.reason = failing_ ? reason_text(error_) : std::string();
    s.failing_since = failing_ ? since_ : std::chrono::system_clock::time_point{};
    s.lines_waiting = waiting_;
    s.lines_dropped = dropped_;
    return s;
}

std::string LogFileObserver::failure_text() const {
    std::string text = "Writing the log failed: " + outlets_.front().path + ": " +
                       reason_text(error_) + " (since " + since_text_ + "); " +
                       lines_text(waiting_) + (waiting_ == 1 ? " waits" : " wait");
    if (dropped_ > 0) {
        text += ", the oldest " + std::to_string(dropped_) + " dropped";
    }
    return text;
}

void LogFileObserver::post(NoticeKind kind, std::string text, const std::string& path,
                           bool update) {
    notices_.post_notice({kind, std::move(text), ReadWallClock().utc, status(path), update});
}

void TextLogObserver::session_started(const SessionInfo& info) {
    write_header(info.display_header);
}

void TextLogObserver::cycle_finished(const CycleRecord& record) {
    write_data(display_data_line(record));
}

std::array<std::string, 3> TextLogObserver::header(std::span<const int> addresses) const {
    return display_header(addresses);
}

void CsvLogObserver::session_started(const SessionInfo& info) {
    write_header(info.csv_header);
}

void CsvLogObserver::cycle_finished(const CycleRecord& record) {
    write_data(csv_data_row(record));
}

std::array<std::string, 3> CsvLogObserver::header(std::span<const int> addresses) const {
    return csv_header(addresses);
}

}  // namespace veldra::core
