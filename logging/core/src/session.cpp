// The session's state machine: start (checks, files, observers, timer), stop (cut the cycle
// short, wait for it to leave, then close files and port) and the observers' list.
#include "logging/session.h"

#include <algorithm>

#include "asynctimer/asynctimer.h"
#include "bus/protocol.h"
#include "logging/log_files.h"
#include "logging/record_format.h"
#include "platform/rs232.h"
#include "session_texts.h"

namespace veldra::core {
namespace {

// The port test's settings; each bus transaction reconfigures the port for itself.
constexpr int kBaud = bus::kBaud;
constexpr int kQueueSize = bus::kSessionQueueSize;
constexpr std::size_t kReplyBufferSize = bus::kReplyBufferSize;

}  // namespace

Session::Session(SensorSource& sensors) : sensors_(sensors), reply_(kReplyBufferSize) {
    observers_ = {&text_log_, &csv_log_};
}

Session::~Session() {
    stop();
}

bool Session::add_observer(SessionObserver& observer) {
    std::unique_lock lock(mutex_);
    cycle_left_.wait(lock, [this] { return notices_inside_ == 0; });
    if (state_ != State::Idle || starting_) {
        return false;
    }
    observers_.push_back(&observer);
    return true;
}

bool Session::remove_observer(SessionObserver& observer) {
    std::unique_lock lock(mutex_);
    cycle_left_.wait(lock, [this] { return notices_inside_ == 0; });
    const auto it = std::find(observers_.begin(), observers_.end(), &observer);
    if (state_ != State::Idle || starting_ || it == observers_.end() || *it == &text_log_ ||
        *it == &csv_log_) {
        return false;
    }
    observers_.erase(it);
    return true;
}

StartResult Session::start(const SessionConfig& config) {
    {
        const std::lock_guard lock(mutex_);
        if (state_ != State::Idle) {
            return {};
        }
    }
    // The port test leaves the port open for the session; a refusal after it closes it again.
    if (OpenComConfig(config.com_port, "", kBaud, 0, 8, 1, kQueueSize, kQueueSize) < 0) {
        return {false, port_refusal()};
    }
    const std::vector<int> addresses = sensors_.sensors();
    const WallClockReading now = ReadWallClock();
    const LogDate today{now.year, now.month, now.day};
    std::optional<Message> refusal = entry_refusal(config.log_file, addresses.size());
    PreparedLogFiles files;
    if (!refusal) {
        files = rotation_.start(config.log_file, config.files, today);
        refusal = std::move(files.refusal);
    }
    if (refusal) {
        CloseCom(config.com_port);
        return {false, std::move(refusal)};
    }

    SessionInfo info;
    info.com_port = config.com_port;
    info.interval_seconds = config.interval_seconds;
    info.text_log_path = files.text.path();
    info.csv_log_path = files.csv.path();
    info.addresses = addresses;
    info.display_header = display_header(addresses);
    info.csv_header = csv_header(addresses);
    info.started = now.utc;
    disk_guard_.reset(config.files.disk_guard_bytes, info.text_log_path);
    text_log_.attach(std::move(files.text));
    csv_log_.attach(std::move(files.csv));
    {
        const std::lock_guard lock(mutex_);
        config_ = config;
        stop_requested_ = false;
        cycles_begun_ = 0;
        cycles_written_ = 0;
        last_cycle_ = {};
        device_present_ = true;
        overrunning_ = false;
        starting_ = true;
    }
    pause_.rearm();
    // The header lines go out before anything else is said about the session: a notice
    // posted meanwhile (a header that could not be written, little free space, old logs
    // deleted) waits until every observer knows the session.
    if (std::optional<Notice> space = disk_guard_.check(now.utc)) {
        post_notice(*space);
    }
    remove_expired_logs(today, nullptr);
    tell(&SessionObserver::session_started, info);
    std::vector<Notice> held;
    {
        const std::lock_guard lock(mutex_);
        starting_ = false;
        held.swap(held_notices_);
        state_ = State::Running;
    }
    for (const Notice& notice : held) {
        tell(&SessionObserver::notice, notice);
    }
    SetAsyncTimerAttribute(config.timer, TIMER_ATTR_INTERVAL, 0.0);
    SetAsyncTimerAttribute(config.timer, TIMER_ATTR_ENABLED, 1);
    return {true, std::nullopt};
}

void Session::stop() {
    SessionConfig config;
    {
        const std::lock_guard lock(mutex_);
        if (state_ != State::Running) {
            return;
        }
        state_ = State::Stopping;
        stop_requested_ = true;
        config = config_;
    }
    // Cut a pause short, wake a read that waits for a silent sensor, stop the ticks, and take
    // away what a cycle uses only once none is inside.
    pause_.interrupt();
    AbortComWait(config.com_port);
    SetAsyncTimerAttribute(config.timer, TIMER_ATTR_ENABLED, 0);
    SessionEnd end;
    {
        std::unique_lock lock(mutex_);
        cycle_left_.wait(lock, [this] { return !cycle_inside_; });
        end = {cycles_written_, last_cycle_};
    }
    tell(&SessionObserver::session_ended, end);  // the log observers close their files
    CloseCom(config.com_port);
    const std::lock_guard lock(mutex_);
    state_ = State::Idle;
}

int Session::on_timer(int, int, int, void* session, void*, void*) {
    static_cast<Session*>(session)->tick();
    return 0;
}

bool Session::running() const {
    const std::lock_guard lock(mutex_);
    return state_ == State::Running;
}

void Session::before_lines_written(const CycleRecord& record) {
    if (std::optional<Notice> space = disk_guard_.check(ReadWallClock().utc)) {
        post_notice(*space);
    }
    const LogDate date{record.local.year, record.local.month, record.local.day};
    const std::optional<LogPair> pair =
        rotation_.next_pair(date, text_log_.current_bytes(), text_log_.current_has_data());
    if (!pair) {
        return;
    }
    // The new files say what their columns are: the sensors of this cycle, the first lines
    // that go into them.
    std::vector<int> addresses;
    addresses.reserve(record.sensors.size());
    for (const SensorReading& sensor : record.sensors) {
        addresses.push_back(sensor.address);
    }
    text_log_.begin_file(pair->text, addresses);
    csv_log_.begin_file(pair->csv, addresses);
    remove_expired_logs(date, &*pair);
}

void Session::remove_expired_logs(const LogDate& today, const LogPair* new_pair) {
    std::vector<std::string> held = text_log_.held_paths();
    for (std::string& path : csv_log_.held_paths()) {
        held.push_back(std::move(path));
    }
    const std::size_t removed = rotation_.remove_expired(today, held);
    if (new_pair == nullptr && removed == 0) {
        return;
    }
    std::string text = new_pair != nullptr
                           ? "New log files: " + new_pair->text + " and " + new_pair->csv
                           : "Log files";
    if (removed > 0) {
        text += (new_pair != nullptr ? "; " : ": ") + std::to_string(removed) +
                (removed == 1 ? " dated log" : " dated logs") + " older than " +
                std::to_string(rotation_.rules().keep_days) +
                (rotation_.rules().keep_days == 1 ? " day" : " days") + " deleted";
    }
    Notice notice{NoticeKind::FilesRotated, std::move(text), ReadWallClock().utc};
    if (new_pair != nullptr) {
        notice.file = LogFileStatus{};
        notice.file->path = new_pair->text;
    }
    post_notice(notice);
}

void Session::post_notice(const Notice& notice) {
    {
        const std::lock_guard lock(mutex_);
        if (starting_) {
            held_notices_.push_back(notice);
            return;
        }
        ++notices_inside_;
    }
    // Handed on without the lock: an observer may take its time, or post a notice itself.
    tell(&SessionObserver::notice, notice);
    {
        const std::lock_guard lock(mutex_);
        --notices_inside_;
    }
    cycle_left_.notify_all();
}

}  // namespace veldra::core
