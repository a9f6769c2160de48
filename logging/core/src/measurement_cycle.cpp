// One measurement cycle, on the timer's thread: one clock reading, then every listed sensor
// asked for its four quantities in table order with a pause between the queries of a sensor,
// each result told to the observers as it comes; at the end the whole record. A stop may come
// at any moment: the cycle looks at it before and after every bus transaction and is woken
// from its pauses, and a cycle cut short is abandoned (its observers write nothing of it).
#include <algorithm>
#include <charconv>

#include "asynctimer/asynctimer.h"
#include "bus/bus.h"
#include "logging/log_format.h"
#include "logging/query_table.h"
#include "logging/reply_status.h"
#include "logging/session.h"
#include "platform/rs232.h"

namespace veldra::core {
namespace {

using Steady = std::chrono::steady_clock;

constexpr int kBaud = bus::kBaud;
constexpr int kHeaderByte = bus::kRequestHeader;
constexpr double kPauseBetweenQueries = 0.1;

// Marks the cycle inside for the stop, which waits until it has left.
class CycleInside {
  public:
    CycleInside(std::mutex& mutex, std::condition_variable& left, bool& inside)
        : mutex_(mutex), left_(left), inside_(inside) {}
    CycleInside(const CycleInside&) = delete;
    CycleInside& operator=(const CycleInside&) = delete;
    ~CycleInside() {
        {
            const std::lock_guard lock(mutex_);
            inside_ = false;
        }
        left_.notify_all();
    }

  private:
    std::mutex& mutex_;
    std::condition_variable& left_;
    bool& inside_;
};

std::string seconds_text(std::chrono::microseconds d) {
    std::array<char, 32> buf{};
    const auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), std::chrono::duration<double>(d).count(),
                      std::chars_format::fixed, 1);
    (void)ec;
    return std::string(buf.data(), end) + " s";
}

std::string port_text(const LineState& line) {
    std::string text = "COM " + std::to_string(line.port);
    if (!line.device.empty()) {
        text += " = " + line.device;
    }
    return text;
}

// "Cycle 12 took 14.2 s, longer than the interval of 9 s; the time went to 0a1b2c (8.1 s),
// 00fe01 (4.0 s)": the sensors that took longest, at most three.
std::string overrun_text(const CycleRecord& record) {
    std::vector<std::pair<std::chrono::microseconds, int>> cost;
    for (const SensorReading& sensor : record.sensors) {
        std::chrono::microseconds sum{0};
        for (const QueryResult& q : sensor.queries) {
            sum += q.duration;
        }
        cost.emplace_back(sum, sensor.address);
    }
    std::sort(cost.begin(), cost.end(), [](const auto& a, const auto& b) { return a > b; });
    std::string text = "Cycle " + std::to_string(record.cycle) + " took " +
                       seconds_text(record.duration) + ", longer than the interval of " +
                       std::to_string(record.interval_seconds) + " s";
    for (std::size_t i = 0; i < cost.size() && i < 3; ++i) {
        text += (i == 0 ? "; the time went to " : ", ") + logfmt::hex_address(cost[i].second) +
                " (" + seconds_text(cost[i].first) + ")";
    }
    return text;
}

}  // namespace

void Session::tick() {
    SessionConfig config;
    {
        const std::lock_guard lock(mutex_);
        if (state_ != State::Running || cycle_inside_) {
            return;  // no session, it is ending, or a cycle is already under way
        }
        cycle_inside_ = true;
        config = config_;
    }
    const CycleInside inside(mutex_, cycle_left_, cycle_inside_);
    run_cycle(config);
}

void Session::run_cycle(const SessionConfig& config) {
    // The session started the timer with the interval 0; every cycle gives the next ticks the
    // session's interval.
    SetAsyncTimerAttribute(config.timer, TIMER_ATTR_INTERVAL,
                           static_cast<double>(config.interval_seconds));
    const WallClockReading now = ReadWallClock();
    CycleRecord record;
    record.cycle = ++cycles_begun_;
    record.local = {now.year, now.month, now.day, now.hour, now.minute, now.second};
    record.utc = now.utc;
    record.interval_seconds = config.interval_seconds;
    tell(&SessionObserver::cycle_started, CycleStart{record.cycle, record.local, record.utc});

    bool device_gone = false;
    if (!run_queries(config, record, device_gone)) {
        tell(&SessionObserver::cycle_abandoned);
        return;
    }
    const ComPortInfo port = ResolveComPort(config.com_port);
    record.line = {config.com_port, port.device, port.present && !device_gone};
    before_lines_written(record);
    tell(&SessionObserver::cycle_finished, record);
    ++cycles_written_;
    last_cycle_ = record.utc;
    tell_line_changes(record);
}

bool Session::run_queries(const SessionConfig& config, CycleRecord& record, bool& device_gone) {
    const Steady::time_point began = Steady::now();
    const std::vector<int> addresses = sensors_.sensors();
    // Reserved whole, so that a result told to the observers never moves.
    record.sensors.reserve(addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        SensorReading& reading = record.sensors.emplace_back();
        reading.address = addresses[i];
        for (const QueryRow& row : query_table()) {
            const bool go_on =
                row.slot > 0 ? pause_.sleepFor(kPauseBetweenQueries) && !stopping() : !stopping();
            if (!go_on) {
                return false;
            }
            tell(&SessionObserver::query_started,
                 QueryStart{i, reading.address, row.quantity,
                            logfmt::status_text(reading.address, row.status_name)});
            QueryResult& result = reading.queries[row.slot];
            ask(config.com_port, reading.address, row.quantity, result, device_gone);
            if (stopping()) {
                return false;  // an aborted read is no failed query: the cycle is cut short
            }
            tell(&SessionObserver::query_finished,
                 QueryEnd{i, reading.address, row.quantity, &result});
        }
    }
    record.duration = std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - began);
    return true;
}

void Session::ask(int port, int address, Quantity quantity, QueryResult& result,
                  bool& device_gone) {
    const QueryRow& row = query_row(quantity);
    const Steady::time_point began = Steady::now();
    const int sent = send_n_bus_message(port, kBaud, kHeaderByte, address, row.command);
    if (sent != 0) {
        result.status = QueryStatus::NotSent;
        result.bus_result = sent;
    } else {
        ReceiveInfo info;
        const int received = receive_n_bus_message(port, kBaud, reply_, &info);
        result.bus_result = received;
        result.status = reception_status(received, info);
        device_gone = device_gone || info.line_error == COM_ERR_DEVICE_GONE;
        if (received >= 0) {
            result.reply.assign(reply_.data(), static_cast<std::size_t>(received));
        }
        if (result.status == QueryStatus::Received) {
            result.value = convert_reply(row, result.reply);
            if (!result.value) {
                result.status = QueryStatus::NotANumber;
            }
        }
    }
    result.duration = std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - began);
}

void Session::tell_line_changes(const CycleRecord& record) {
    const auto ended = record.utc + record.duration;
    if (record.line.present != device_present_) {
        device_present_ = record.line.present;
        post_notice({device_present_ ? NoticeKind::DeviceBack : NoticeKind::DeviceGone,
                     port_text(record.line) +
                         (device_present_ ? ": the device is back" : ": the device is gone"),
                     ended});
    }
    const bool overran = record.duration > std::chrono::seconds(record.interval_seconds);
    if (overran && !overrunning_) {
        post_notice({NoticeKind::CycleOverrun, overrun_text(record), ended});
    }
    overrunning_ = overran;
}

}  // namespace veldra::core
