// The display table as the session's events come, on the cycle's thread: the timestamp cell,
// the status text of each query, its cell, and the line's end after the files hold the line;
// a cycle cut short takes its unfinished line back off the screen. The status line and the COM
// hint follow the serial device and the end of the session.
#include "display_table.h"

#include <algorithm>
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

void DisplayTable::session_started(const core::SessionInfo& info) {
    data_lines_shown_ = 0;
    last_written_.reset();
    {
        const std::lock_guard lock(mutex_);
        failure_shown_ = false;
        disk_low_shown_ = false;
        port_ = info.com_port;
        gone_since_.reset();
        // The port test has just opened the device: a hint still saying it was gone in an
        // earlier session no longer holds.
        restore_hint();
    }
    SetCtrlVal(main_panel, log_error_line, "");
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
    const std::lock_guard lock(mutex_);
    switch (notice.kind) {
        case core::NoticeKind::WriteFailed:
            if (!failure_shown_) {
                failure_shown_ = true;
                SetCtrlVal(main_panel, log_error_line, notice.text);
            }
            break;
        case core::NoticeKind::DiskLow:
            // A write failure says more than a warning about space; it stays.
            if (!failure_shown_) {
                disk_low_shown_ = true;
                SetCtrlVal(main_panel, log_error_line, notice.text);
            }
            break;
        case core::NoticeKind::DiskOk:
            if (!failure_shown_ && disk_low_shown_) {
                disk_low_shown_ = false;
                SetCtrlVal(main_panel, log_error_line, "");
            }
            break;
        default:
            break;
    }
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
