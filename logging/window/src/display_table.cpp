// The display table as the session's events come, on the cycle's thread: the timestamp cell,
// the status text of each query, its cell, and the line's end after the files hold the line;
// a cycle cut short takes its unfinished line back off the screen.
#include "display_table.h"

#include <algorithm>
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

}  // namespace

void DisplayTable::session_started(const core::SessionInfo& info) {
    data_lines_shown_ = 0;
    failure_shown_ = false;
    SetCtrlVal(main_panel, log_error_line, "");
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
    if (notice.kind == core::NoticeKind::WriteFailed && !failure_shown_.exchange(true)) {
        SetCtrlVal(main_panel, log_error_line, notice.text);
    }
}

}  // namespace veldra::window
