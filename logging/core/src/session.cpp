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
    const std::lock_guard lock(mutex_);
    if (state_ != State::Idle || starting_) {
        return false;
    }
    observers_.push_back(&observer);
    return true;
}

bool Session::remove_observer(SessionObserver& observer) {
    const std::lock_guard lock(mutex_);
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
    std::optional<Message> refusal = entry_refusal(config.log_file, addresses.size());
    PreparedLogFiles files;
    if (!refusal) {
        files = prepare_log_files(config.log_file);
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
    info.started = ReadWallClock().utc;
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
    // posted meanwhile (a header that could not be written) waits until every observer knows
    // the session.
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

void Session::post_notice(const Notice& notice) {
    {
        const std::lock_guard lock(mutex_);
        if (starting_) {
            held_notices_.push_back(notice);
            return;
        }
    }
    tell(&SessionObserver::notice, notice);
}

}  // namespace veldra::core
