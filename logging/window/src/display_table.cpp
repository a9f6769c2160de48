// The display table as the session's events come, on the cycle's thread: the timestamp cell,
// the status text of each query, its cell, and the line's end after the files hold the line;
// a cycle cut short takes its unfinished line back off the screen. The status line and the COM
// hint follow the serial device and the end of the session; the error line follows the log
// files and the disk.
#include "display_table.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <string>
#include <string_view>

#include "app/panel_ids.h"
#include "logging/log_format.h"
#include "logging/record_format.h"
#include "platform/ui.h"
#include "platform/wall_clock.h"

namespace veldra::window {
namespace {

using SystemClock = std::chrono::system_clock;

// Appends to log_view without moving a view that the user has scrolled.
void append_keeping_view(std::string_view text) {
    int firstVisible = 0;
    GetCtrlAttribute(main_panel, log_view, ATTR_FIRST_VISIBLE_LINE, firstVisible);
    SetCtrlVal(main_panel, log_view, text);
    SetCtrlAttribute(main_panel, log_view, ATTR_FIRST_VISIBLE_LINE, firstVisible);
}

// Drops the oldest data lines from the on-screen table once it holds more than its history.
void trim_display_history(std::size_t& shown) {
    if (shown <= kDisplayHistoryLines) {
        return;
    }
    const int excess = static_cast<int>(shown - kDisplayHistoryLines);
    int firstVisible = 0;
    GetCtrlAttribute(main_panel, log_view, ATTR_FIRST_VISIBLE_LINE, firstVisible);
    if (DeleteTextBoxLines(main_panel, log_view, kDisplayHeaderLines, excess) >= 0) {
        shown = kDisplayHistoryLines;
        // Lines vanished above a view scrolled into the data: follow its content.
        if (firstVisible > kDisplayHeaderLines) {
            firstVisible = std::max(kDisplayHeaderLines, firstVisible - excess);
        }
    }
    SetCtrlAttribute(main_panel, log_view, ATTR_FIRST_VISIBLE_LINE, firstVisible);
}

}  // namespace

logfmt::Timestamp local_timestamp(SystemClock::time_point t) {
    const std::time_t seconds = SystemClock::to_time_t(t);
    std::tm local{};
    localtime_r(&seconds, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string clock_text(SystemClock::time_point t) {
    const logfmt::Timestamp s = local_timestamp(t);
    // The time part of the files' time stamp: "YYYY-MM-DD HH:MM:SS".
    return logfmt::csv_timestamp(s).substr(11);
}

namespace {

std::string lines_text(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " line" : " lines");
}

}  // namespace

std::string failing_logs_text(const std::vector<core::LogFileStatus>& failing) {
    if (failing.empty()) {
        return {};
    }
    std::size_t waiting = 0;
    std::size_t dropped = 0;
    const core::LogFileStatus* first = &failing.front();
    for (const core::LogFileStatus& s : failing) {
        waiting = std::max(waiting, s.lines_waiting);
        dropped = std::max(dropped, s.lines_dropped);
        if (s.failing_since < first->failing_since) {
            first = &s;
        }
    }
    std::string text;
    if (waiting > 0) {
        text = lines_text(waiting) + (waiting == 1 ? " waits" : " wait");
    }
    if (dropped > 0) {
        text += (text.empty() ? "" : ", ") + std::to_string(dropped) + " dropped";
    }
    if (!text.empty()) {
        text += ": ";
    }
    const bool text_log = failing.size() == 1 && first->output == core::LogFileStatus::Output::Text;
    text += failing.size() > 1 ? "logs" : text_log ? "text log" : "CSV log";
    text += " not written since " + clock_text(first->failing_since);
    if (!first->reason.empty()) {
        text += " (" + first->reason + ")";
    }
    return text;
}

void DisplayTable::session_started(const core::SessionInfo& info) {
    data_lines_shown_ = 0;
    last_written_.reset();
    {
        const std::lock_guard lock(mutex_);
        files_ = {};
        disk_low_.clear();
        event_.clear();
        shown_.clear();
        port_ = info.com_port;
        gone_since_.reset();
        // The port test has just opened the device: a hint still saying it was gone in an
        // earlier session no longer holds.
        restore_hint();
    }
    SetCtrlVal(main_panel, log_error_line, "");
    SetCtrlAttribute(main_panel, log_error_line, ATTR_TOOLTIP_TEXT, "");
    const auto& h = info.display_header;
    ResetTextBox(main_panel, log_view, h[0] + "\n" + h[1] + "\n" + h[2] + "\n");
}

void DisplayTable::cycle_started(const core::CycleStart& start) {
    SetCtrlVal(main_panel, log_view, logfmt::timestamp_cell(start.local));
}

void DisplayTable::query_started(const core::QueryStart& query) {
    const std::lock_guard lock(mutex_);
    // While the device is gone the status line keeps saying so: "Reading Sensor ..." would
    // claim an exchange that cannot happen.
    if (!gone_since_) {
        SetCtrlVal(main_panel, status_line, query.status_text);
    }
}

void DisplayTable::query_finished(const core::QueryEnd& query) {
    const std::string cell = core::display_cell(query.quantity, *query.result);
    if (core::shows_value(query.result->status)) {
        append_keeping_view(cell);
    } else {
        SetCtrlVal(main_panel, log_view, cell);
    }
}

void DisplayTable::cycle_finished(const core::CycleRecord& record) {
    last_written_ = record.local;  // the files already hold this line
    append_keeping_view("\n");
    ++data_lines_shown_;
    trim_display_history(data_lines_shown_);
    ProcessDrawEvents();
    ProcessSystemEvents();
}

void DisplayTable::cycle_abandoned() {
    // Its unfinished line leaves the display too, so the display and the text log keep
    // showing the same lines.
    int lines = 0;
    GetNumTextBoxLines(main_panel, log_view, lines);
    if (lines > kDisplayHeaderLines) {
        DeleteTextBoxLines(main_panel, log_view, lines - 1, 1);
    }
}

void DisplayTable::notice(const core::Notice& notice) {
    switch (notice.kind) {
        case core::NoticeKind::DeviceGone:
            device_gone(notice);
            return;
        case core::NoticeKind::DeviceBack:
            device_back(notice);
            return;
        default:
            break;
    }
    using core::NoticeKind;
    const std::lock_guard lock(mutex_);
    FileState* file =
        notice.file ? &files_[static_cast<std::size_t>(notice.file->output)] : nullptr;
    switch (notice.kind) {
        case NoticeKind::WriteFailed:
        case NoticeKind::LinesDropped:
            if (file == nullptr) {
                return;
            }
            // Dropped with nothing left waiting: the session ended with lines it could not
            // write; an event, no longer a failure under way.
            file->failing =
                notice.kind == NoticeKind::WriteFailed || notice.file->lines_waiting > 0;
            file->status = *notice.file;
            file->text = notice.text;
            if (!file->failing) {
                event_ = notice.text;
            }
            break;
        case NoticeKind::WriteRecovered:
            if (file != nullptr) {
                file->failing = false;
            }
            event_ = notice.text;
            break;
        case NoticeKind::DiskLow:
            disk_low_ = notice.text;
            break;
        case NoticeKind::DiskOk:
            disk_low_.clear();
            event_ = notice.text;
            break;
        default:
            return;
    }
    show_error_line();
}

void DisplayTable::show_error_line() {
    std::vector<core::LogFileStatus> failing;
    std::string tooltip;
    for (const FileState& file : files_) {
        if (file.failing) {
            failing.push_back(file.status);
            tooltip += (tooltip.empty() ? "" : "\n") + file.text;
        }
    }
    std::string line;
    if (!failing.empty()) {
        line = failing_logs_text(failing);
        if (!disk_low_.empty()) {
            tooltip += "\n" + disk_low_;
        }
    } else {
        line = !disk_low_.empty() ? disk_low_ : event_;
        tooltip = line;
    }
    if (line != shown_) {
        shown_ = line;
        SetCtrlVal(main_panel, log_error_line, line);
    }
    SetCtrlAttribute(main_panel, log_error_line, ATTR_TOOLTIP_TEXT, tooltip);
}

void DisplayTable::device_gone(const core::Notice& notice) {
    const std::lock_guard lock(mutex_);
    if (gone_since_) {
        return;
    }
    gone_since_ = notice.when;
    const std::string since = clock_text(notice.when);
    SetCtrlVal(main_panel, status_line,
               notice.text + " since " + since + "; logging goes on and tries again every cycle");
    if (hint_shown_.empty()) {
        GetCtrlVal(main_panel, comport_hint, hint_before_);
    }
    hint_shown_ = "COM " + std::to_string(port_) + ": device gone\nsince " + since;
    SetCtrlVal(main_panel, comport_hint, hint_shown_);
}

void DisplayTable::device_back(const core::Notice& notice) {
    const std::lock_guard lock(mutex_);
    gone_since_.reset();
    SetCtrlVal(main_panel, status_line, notice.text + " at " + clock_text(notice.when));
    restore_hint();
}

void DisplayTable::restore_hint() {
    if (hint_shown_.empty()) {
        return;
    }
    // Unless the user has changed the port meanwhile, which gave the hint a text of its own.
    std::string now;
    GetCtrlVal(main_panel, comport_hint, now);
    if (now == hint_shown_) {
        SetCtrlVal(main_panel, comport_hint, hint_before_);
    }
    hint_shown_.clear();
}

void DisplayTable::session_ended(const core::SessionEnd& end) {
    // Without this the status line would go on naming the last sensor it read, as though
    // logging continued.
    const WallClockReading now = ReadWallClock();
    std::string text =
        "Logging stopped at " +
        logfmt::csv_timestamp({now.year, now.month, now.day, now.hour, now.minute, now.second});
    if (end.cycles == 0 || !last_written_) {
        text += "; no cycle had been written.";
    } else {
        text += "; the last cycle ran at " + logfmt::csv_timestamp(*last_written_) + " (" +
                std::to_string(end.cycles) + (end.cycles == 1 ? " cycle" : " cycles") +
                " written).";
    }
    const std::lock_guard lock(mutex_);
    if (gone_since_) {
        // The hint keeps saying so too: the device is still missing.
        text += " The device of COM " + std::to_string(port_) + " has been gone since " +
                clock_text(*gone_since_) + ".";
    }
    SetCtrlVal(main_panel, status_line, text);
}

}  // namespace veldra::window
