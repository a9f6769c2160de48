// The display table as the session's events come, on the cycle's thread: the timestamp cell,
// the status text of each query, its cell, and the line's end after the files hold the line;
// a cycle cut short takes its unfinished line back off the screen.
#include "display_table.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <string>
#include <string_view>

#include "app/panel_ids.h"
#include "logging/log_format.h"
#include "logging/record_format.h"
#include "platform/ui.h"

namespace veldra::window {
namespace {

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

// "14:07:09", local time.
std::string clock_text(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    std::array<char, 16> text{};
    std::strftime(text.data(), text.size(), "%H:%M:%S", &local);
    return text.data();
}

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
    {
        const std::lock_guard lock(mutex_);
        files_ = {};
        disk_low_.clear();
        event_.clear();
        shown_.clear();
        SetCtrlVal(main_panel, log_error_line, "");
        SetCtrlAttribute(main_panel, log_error_line, ATTR_TOOLTIP_TEXT, "");
    }
    const auto& h = info.display_header;
    ResetTextBox(main_panel, log_view, h[0] + "\n" + h[1] + "\n" + h[2] + "\n");
}

void DisplayTable::cycle_started(const core::CycleStart& start) {
    SetCtrlVal(main_panel, log_view, logfmt::timestamp_cell(start.local));
}

void DisplayTable::query_started(const core::QueryStart& query) {
    SetCtrlVal(main_panel, status_line, query.status_text);
}

void DisplayTable::query_finished(const core::QueryEnd& query) {
    const std::string cell = core::display_cell(query.quantity, *query.result);
    if (core::shows_value(query.result->status)) {
        append_keeping_view(cell);
    } else {
        SetCtrlVal(main_panel, log_view, cell);
    }
}

void DisplayTable::cycle_finished(const core::CycleRecord&) {
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

}  // namespace veldra::window
