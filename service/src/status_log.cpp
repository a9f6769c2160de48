// Status lines on standard error.
#include "service/status_log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "logging/log_format.h"
#include "platform/rs232.h"

namespace veldra::service {
namespace {

std::string seconds_text(std::chrono::milliseconds d) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f s", static_cast<double>(d.count()) / 1000.0);
    return buffer;
}

std::string port_text(int port) {
    const ComPortInfo info = ResolveComPort(port);
    std::string text = "COM " + std::to_string(port);
    if (!info.device.empty()) {
        text += " = " + info.device;
    }
    return text;
}

}  // namespace

std::string local_time_text(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    char buffer[80];  // room for any int in every field, though a year has four digits
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

void StatusLog::line(std::string_view text) {
    line(text, std::chrono::system_clock::now());
}

void StatusLog::line(std::string_view text, std::chrono::system_clock::time_point when) {
    std::string whole = local_time_text(when) + " ";
    bool line_end = false;  // a run of line ends (a paragraph break) becomes one space
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            if (!line_end) {
                whole += ' ';
            }
            line_end = true;
        } else {
            whole += c;
            line_end = false;
        }
    }
    whole += '\n';
    const std::lock_guard lock(mutex_);
    std::size_t done = 0;
    while (done < whole.size()) {
        const ssize_t n = ::write(fd_, whole.data() + done, whole.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // nobody reads the status any more; logging goes on
        }
        done += static_cast<std::size_t>(n);
    }
}

void StatusLog::set_stop_reason(std::string reason) {
    const std::lock_guard lock(mutex_);
    stop_reason_ = std::move(reason);
}

void StatusLog::session_started(const core::SessionInfo& info) {
    std::string text = "started: " + std::to_string(info.addresses.size()) +
                       (info.addresses.size() == 1 ? " sensor (" : " sensors (");
    for (std::size_t i = 0; i < info.addresses.size(); ++i) {
        text += (i > 0 ? ", " : "") + logfmt::hex_address(info.addresses[i]);
    }
    text += "), every " + std::to_string(info.interval_seconds) + " s, " +
            port_text(info.com_port) + ", logs " + info.text_log_path + " and " + info.csv_log_path;
    if (!rules_text_.empty()) {
        text += "; " + rules_text_;
    }
    line(text, info.started);
}

void StatusLog::cycle_finished(const core::CycleRecord& record) {
    if (verbose_) {
        line(cycle_text(record), record.utc);
    }
}

void StatusLog::notice(const core::Notice& notice) {
    // While writes fail, every cycle brings new figures (one more line waits); the first
    // notice said what happened, the rest only with --verbose, so a full disk does not flood
    // the journal.
    if (notice.update && !verbose_) {
        return;
    }
    line(notice.text, notice.when);
}

void StatusLog::session_ended(const core::SessionEnd& end) {
    std::string reason;
    {
        const std::lock_guard lock(mutex_);
        reason = stop_reason_;
    }
    std::string text = "stopped";
    if (!reason.empty()) {
        text += " (" + reason + ")";
    }
    text +=
        ": " + std::to_string(end.cycles) + (end.cycles == 1 ? " cycle" : " cycles") + " written";
    if (end.cycles > 0) {
        text += ", the last at " + local_time_text(end.last_cycle);
    }
    line(text);
}

std::string cycle_text(const core::CycleRecord& record) {
    std::size_t received = 0;
    std::size_t asked = 0;
    std::string missing;
    for (const core::SensorReading& sensor : record.sensors) {
        std::string_view first_failure;
        for (const core::QueryResult& q : sensor.queries) {
            ++asked;
            if (q.status == core::QueryStatus::Received) {
                ++received;
            } else if (first_failure.empty()) {
                first_failure = core::status_name(q.status);
            }
        }
        if (!first_failure.empty()) {
            missing += (missing.empty() ? "; " : ", ") + logfmt::hex_address(sensor.address) +
                       ": " + std::string(first_failure);
        }
    }
    return "cycle " + std::to_string(record.cycle) + ": " + std::to_string(received) + " of " +
           std::to_string(asked) + " values in " + seconds_text(record.duration) + missing;
}

}  // namespace veldra::service
