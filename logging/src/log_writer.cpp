// Log file writes for the session start and the measurement cycle. A failed write is shown
// once per session with the time it first happened; the platform's WriteLine never leaves a
// torn line, so what was written before stays readable.
#include "log_writer.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "app/panel_ids.h"
#include "logging/log_format.h"
#include "platform/textfile.h"
#include "platform/ui.h"
#include "session_runtime.h"

namespace veldra::logging_detail {
namespace {

std::string two_digits(int v) {
    std::string s = std::to_string(v);
    return s.size() < 2 ? "0" + s : s;
}

void report_failure(const std::string& path, int error) {
    SessionRuntime& rt = session_runtime();
    if (rt.write_failure_shown) {
        return;  // the first failure stays on screen with its time
    }
    rt.write_failure_shown = true;
    int h = 0, m = 0, s = 0;
    GetSystemTime(h, m, s);
    const std::string reason = error != 0 ? describe_errno(error) : "the write failed";
    SetCtrlVal(main_panel, log_error_line,
               "Writing the log failed: " + path + ": " + reason + " (since " + two_digits(h) +
                   ":" + two_digits(m) + ":" + two_digits(s) + ")");
}

}  // namespace

std::string describe_errno(int error) {
    char buf[256] = {};
    // The GNU strerror_r returns the message, which need not be in buf.
    return strerror_r(error, buf, sizeof buf);
}

bool write_log_lines(int handle, const std::string& path, const std::string* lines,
                     std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        errno = 0;
        if (WriteLine(handle, lines[i], -1) < 0) {
            report_failure(path, errno);
            return false;
        }
    }
    errno = 0;
    if (SyncFile(handle) < 0) {
        report_failure(path, errno);
        return false;
    }
    return true;
}

bool write_log_line(int handle, const std::string& path, std::string_view line) {
    const std::string text(line);
    return write_log_lines(handle, path, &text, 1);
}

void clear_log_failure() {
    session_runtime().write_failure_shown = false;
    SetCtrlVal(main_panel, log_error_line, "");
}

}  // namespace veldra::logging_detail
