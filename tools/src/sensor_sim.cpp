// The simulator's thread: it reads requests from the master side of a pseudo-terminal, decides
// each answer (scripted, faulty or a plausible value), and writes the answers back at the right
// time, paced like a 9600-baud line when asked. Plugging and unplugging run on that thread too,
// so the master descriptor is never closed while it is being polled.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <system_error>
#include <thread>

#include "bus/bus.h"
#include "pty_pair.h"
#include "request_parser.h"
#include "sensor_values.h"
#include "sim/sensor_sim.h"

namespace veldra::sim {

namespace {

using Clock = std::chrono::steady_clock;

using bus::kAddressMask;
using bus::kStartByte;
constexpr std::size_t kReplyCheckBuffer = bus::kReplyBufferSize;
constexpr std::size_t kBabbleChunk = 64;  // noise bytes queued at a time while babbling

struct Scripted {
    std::vector<std::uint8_t> bytes;
    std::optional<std::string> text;  // set for script_reply_text
};

struct Outgoing {
    Clock::time_point start;
    std::vector<std::uint8_t> bytes;
    std::size_t sent = 0;
    Clock::duration byte_time{};  // zero: all at once
    Clock::time_point end() const {
        return start + byte_time * static_cast<Clock::rep>(bytes.size());
    }
    Clock::time_point next_due() const { return start + byte_time * static_cast<Clock::rep>(sent); }
};

// What a requester's frame reader makes of a reply: the payload when the frame checks out.
std::optional<std::string> accepted_payload(const std::vector<std::uint8_t>& bytes) {
    std::size_t pos = 0;
    const std::function<int()> source = [&]() -> int {
        return pos < bytes.size() ? bytes[pos++] : -1;
    };
    std::vector<char> buffer(kReplyCheckBuffer);
    const int n = receive_bus_frame(source, buffer);
    if (n < 0) {
        return std::nullopt;
    }
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

}  // namespace

constexpr std::array<std::string_view, kFaultCount> kFaultNames = {
    "silence",       "bad-checksum", "wrong-start-byte", "truncated",      "noise",
    "empty-payload", "non-numeric",  "late-reply",       "foreign-address"};

FaultRates FaultRates::all(double p) {
    FaultRates r;
    r.rate.fill(p);
    return r;
}

std::string_view fault_name(Fault f) {
    return kFaultNames[static_cast<std::size_t>(f)];
}

std::optional<Fault> fault_named(std::string_view name) {
    for (std::size_t i = 0; i < kFaultNames.size(); ++i) {
        if (kFaultNames[i] == name) {
            return static_cast<Fault>(i);
        }
    }
    return std::nullopt;
}

struct SensorSimulator::Impl {
    enum class Command { None, Unplug, Replug };

    explicit Impl(Options o) : options(std::move(o)), rng(options.seed) {
        for (const std::uint32_t a : options.sensors) {
            sensors.insert(a & kAddressMask);
        }
        std::map<std::uint32_t, SensorHabits> habits;
        for (const auto& [address, h] : options.habits) {
            habits[address & kAddressMask] = h;
        }
        options.habits = std::move(habits);
        pty = open_pty_pair();
        wake.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        if (!wake) {
            throw std::system_error(errno, std::generic_category(), "eventfd");
        }
        if (!options.link_path.empty()) {
            point_link(options.link_path, pty.slave_path);
        }
        running = true;
        thread = std::thread([this] { run(); });
    }

    void notify_thread() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wake.get(), &one, sizeof one);
    }

    void post(Command c) {
        std::unique_lock lock(mutex);
        if (!running) {
            return;
        }
        command = c;
        notify_thread();
        changed.wait(lock, [this] { return command == Command::None || !running; });
    }

    void stop() {
        {
            std::lock_guard lock(mutex);
            if (!running) {
                return;
            }
            stopping = true;
            notify_thread();
        }
        thread.join();
        std::lock_guard lock(mutex);
        running = false;
        pty = PtyPair{};
        if (!options.link_path.empty()) {
            ::unlink(options.link_path.c_str());
        }
        changed.notify_all();
    }

    void run();
    void carry_out_locked(Command c);
    void read_requests();
    void answer(const RequestFrame& frame, Clock::time_point now);
    void decide_reply_locked(Exchange& ex, Clock::duration& delay);
    std::optional<Fault> draw_fault_locked(std::uint32_t address);
    void schedule(std::vector<std::uint8_t> bytes, Clock::time_point start, bool paced);
    void babble_locked();
    bool write_due();  // false when the line is full and must be waited on

    double value_locked(std::uint32_t address, Quantity q) const {
        const auto it = fixed.find({address, q});
        if (it != fixed.end()) {
            return it->second;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        return drifting_value(options.seed, address, q, seconds);
    }

    // Configuration and records, under mutex.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Options options;
    std::set<std::uint32_t> sensors;
    std::map<std::pair<std::uint32_t, Quantity>, double> fixed;
    std::map<std::uint32_t, std::deque<Scripted>> scripts;
    std::mt19937_64 rng;
    std::vector<Exchange> log;
    const Clock::time_point started = Clock::now();

    // The line. The descriptors change only on the thread (or when it is not running).
    PtyPair pty;
    bool plugged = true;
    serial::UniqueFd wake;
    Command command = Command::None;
    bool stopping = false;
    bool running = false;
    std::thread thread;

    // Thread only.
    RequestParser parser;
    std::deque<Outgoing> outgoing;
};

// While the line babbles, it always has noise on its way, one chunk behind the other, paced
// like the replies (without line emulation, as fast as the line takes it); replies take their
// turn between the chunks.
void SensorSimulator::Impl::babble_locked() {
    if (!options.babble || !outgoing.empty() || !plugged) {
        return;
    }
    std::uniform_int_distribution<int> any_byte(0, 255);
    std::vector<std::uint8_t> noise(kBabbleChunk);
    for (std::uint8_t& b : noise) {
        b = static_cast<std::uint8_t>(any_byte(rng));
    }
    schedule(std::move(noise), Clock::now(), options.baud_emulation);
}

void SensorSimulator::Impl::run() {
    bool line_full = false;
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (stopping) {
                return;
            }
            if (command != Command::None) {
                carry_out_locked(command);
                command = Command::None;
                changed.notify_all();
                continue;
            }
            babble_locked();
        }
        const int master = pty.master ? pty.master.get() : -1;
        pollfd fds[2] = {{wake.get(), POLLIN, 0},
                         {master, static_cast<short>(POLLIN | (line_full ? POLLOUT : 0)), 0}};
        timespec ts{};
        const timespec* timeout = nullptr;
        if (!outgoing.empty() && !line_full) {
            const auto wait =
                std::max(outgoing.front().next_due() - Clock::now(), Clock::duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            ts = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
            timeout = &ts;
        }
        if (::ppoll(fds, 2, timeout, nullptr) < 0 && errno != EINTR) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(wake.get(), &count, sizeof count);
        }
        if (fds[1].revents & POLLIN) {
            read_requests();
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            // Cannot happen while we hold the slave open; never spin on it if it does.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        line_full = !write_due();
    }
}

void SensorSimulator::Impl::carry_out_locked(Command c) {
    outgoing.clear();
    parser.clear();
    if (plugged) {
        pty.master.reset();
        pty.slave.reset();
        plugged = false;
    }
    if (c == Command::Unplug && !options.link_path.empty()) {
        // The link points at nothing while unplugged, as a pulled adapter's name vanishes: the
        // freed pseudo-terminal's number may go at once to another program on this machine,
        // which must not look like the device coming back.
        try {
            point_link(options.link_path, options.link_path + ".unplugged");
        } catch (const std::exception&) {
            // The link stays as it was; the closed master still hangs the device up.
        }
    }
    if (c == Command::Replug) {
        try {
            PtyPair fresh = open_pty_pair();
            if (!options.link_path.empty()) {
                point_link(options.link_path, fresh.slave_path);
            }
            pty = std::move(fresh);
            plugged = true;
        } catch (const std::exception&) {
            // Stays unplugged: no pseudo-terminal to be had, or the link cannot be set.
        }
    }
}

void SensorSimulator::Impl::read_requests() {
    std::array<std::uint8_t, 4096> chunk{};
    for (;;) {
        const ssize_t n = ::read(pty.master.get(), chunk.data(), chunk.size());
        if (n <= 0) {
            break;
        }
        parser.feed(std::span(chunk.data(), static_cast<std::size_t>(n)), Clock::now());
        if (static_cast<std::size_t>(n) < chunk.size()) {
            break;  // drained; the next poll says when more comes
        }
    }
    while (auto frame = parser.next()) {
        answer(*frame, Clock::now());
    }
}

void SensorSimulator::Impl::answer(const RequestFrame& frame, Clock::time_point now) {
    Exchange ex;
    ex.address = frame.address;
    ex.command = frame.payload;
    ex.request = frame.bytes;
    ex.request_valid = frame.checksum_ok;
    ex.quantity = quantity_for_command(frame.payload);
    ex.when = now;
    Clock::duration delay{};
    std::lock_guard lock(mutex);
    if (frame.checksum_ok) {  // a sensor ignores a garbled request
        decide_reply_locked(ex, delay);
    }
    ex.answered = !ex.reply.empty();
    if (ex.answered) {
        schedule(ex.reply, now + delay, options.baud_emulation);
    }
    log.push_back(std::move(ex));
    changed.notify_all();
}

std::optional<Fault> SensorSimulator::Impl::draw_fault_locked(std::uint32_t address) {
    const auto& only = options.fault_sensors;
    if (!only.empty() && std::none_of(only.begin(), only.end(), [address](std::uint32_t a) {
            return (a & kAddressMask) == address;
        })) {
        return std::nullopt;
    }
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    for (std::size_t i = 0; i < kFaultCount; ++i) {
        const double p = options.faults.rate[i];
        if (p > 0 && chance(rng) < p) {
            return static_cast<Fault>(i);
        }
    }
    return std::nullopt;
}

void SensorSimulator::Impl::decide_reply_locked(Exchange& ex, Clock::duration& delay) {
    delay = options.reply_delay;
    if (auto it = scripts.find(ex.address); it != scripts.end() && !it->second.empty()) {
        Scripted s = std::move(it->second.front());
        it->second.pop_front();
        ex.scripted = true;
        ex.reply = std::move(s.bytes);
        const auto payload = s.text ? s.text : accepted_payload(ex.reply);
        ex.reply_text = payload.value_or("");
        ex.valid_reply = payload.has_value() && !payload->empty();
        return;
    }
    if (!sensors.contains(ex.address) || !ex.quantity) {
        return;  // nobody there, or a command no sensor knows: silence
    }
    ex.reply_text = format_value(*ex.quantity, value_locked(ex.address, *ex.quantity));
    ex.fault = draw_fault_locked(ex.address);
    ex.valid_reply = true;
    std::uniform_int_distribution<int> any_byte(0, 255);
    const auto not_start = [&] {
        const auto b = static_cast<std::uint8_t>(any_byte(rng));
        return b == kStartByte ? std::uint8_t{0x80} : b;
    };
    if (ex.fault == Fault::EmptyPayload) {
        ex.reply_text.clear();
    } else if (ex.fault == Fault::NonNumeric) {
        static constexpr std::array<const char*, 5> kTexts = {"abc", "Error", "--", "x12", "?"};
        ex.reply_text = kTexts[std::uniform_int_distribution<std::size_t>(0, 4)(rng)];
    }
    ReplyIdentity identity{.address = ex.address};
    if (ex.fault == Fault::ForeignAddress) {
        // Another sensor's look: an address other than its own, any header byte, any field.
        identity.address =
            (ex.address ^ static_cast<std::uint32_t>(1 + rng() % kAddressMask)) & kAddressMask;
        identity.header = static_cast<std::uint8_t>(any_byte(rng));
        for (std::uint8_t& b : identity.fixed_field) {
            b = static_cast<std::uint8_t>(any_byte(rng));
        }
    }
    if (const auto it = options.habits.find(ex.address); it != options.habits.end()) {
        const SensorHabits& h = it->second;
        identity.address = h.reply_address.value_or(identity.address) & kAddressMask;
        identity.header = h.reply_header.value_or(identity.header);
        identity.fixed_field = h.reply_fixed_field.value_or(identity.fixed_field);
        if (!ex.fault && (h.reply_address || h.reply_header || h.reply_fixed_field)) {
            ex.fault = Fault::ForeignAddress;
        }
        if (h.late()) {
            const auto low = std::min(h.late_min, h.late_max).count();
            ex.late_by = std::chrono::milliseconds(
                std::uniform_int_distribution<long long>(low, h.late_max.count())(rng));
            delay = ex.late_by;
            ex.valid_reply = false;
            if (!ex.fault || ex.fault == Fault::ForeignAddress) {
                ex.fault = Fault::LateReply;
            }
        }
    }
    ex.reply = reply_frame(identity, ex.reply_text);
    if (!ex.fault) {
        return;
    }
    switch (*ex.fault) {
        case Fault::Silence:
            ex.reply.clear();
            ex.reply_text.clear();
            ex.valid_reply = false;
            break;
        case Fault::BadChecksum: {
            const std::size_t at = ex.reply.size() - 1 - (rng() & 1);
            ex.reply[at] ^= static_cast<std::uint8_t>(1U << (rng() % 8));
            ex.valid_reply = false;
            break;
        }
        case Fault::WrongStartByte:
            ex.reply[0] = not_start();
            ex.valid_reply = false;
            break;
        case Fault::Truncated:
            ex.reply.resize(1 + rng() % (ex.reply.size() - 1));
            ex.valid_reply = false;
            break;
        case Fault::Noise: {
            const std::size_t count = 1 + rng() % 4;
            for (std::size_t i = 0; i < count; ++i) {
                ex.reply.insert(ex.reply.begin(), not_start());
            }
            ex.valid_reply = false;
            break;
        }
        case Fault::EmptyPayload:
            ex.valid_reply = false;
            break;
        case Fault::NonNumeric:
            break;  // a good frame; only its text is useless
        case Fault::LateReply:
            if (ex.late_by.count() == 0) {
                ex.late_by = options.late_reply_delay;
                delay = ex.late_by;
            }
            ex.valid_reply = false;
            break;
        case Fault::ForeignAddress:
            break;  // a good frame all the same
    }
}

void SensorSimulator::Impl::schedule(std::vector<std::uint8_t> bytes, Clock::time_point start,
                                     bool paced) {
    Outgoing out;
    // One line: a reply cannot begin before the previous one has gone out.
    out.start = outgoing.empty() ? start : std::max(start, outgoing.back().end());
    out.bytes = std::move(bytes);
    if (paced && options.baud > 0) {
        out.byte_time = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(10.0 / options.baud));
    }
    outgoing.push_back(std::move(out));
}

bool SensorSimulator::Impl::write_due() {
    while (!outgoing.empty() && pty.master) {
        Outgoing& out = outgoing.front();
        const auto now = Clock::now();
        if (now < out.next_due()) {
            return true;
        }
        std::size_t due = out.bytes.size();
        if (out.byte_time > Clock::duration::zero()) {
            due = std::min<std::size_t>(
                due, static_cast<std::size_t>((now - out.start) / out.byte_time) + 1);
        }
        const ssize_t n = ::write(pty.master.get(), out.bytes.data() + out.sent, due - out.sent);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return false;
            }
            outgoing.pop_front();  // the line is broken; this reply is lost
            continue;
        }
        out.sent += static_cast<std::size_t>(n);
        if (out.sent == out.bytes.size()) {
            outgoing.pop_front();
        } else if (out.sent < due) {
            return false;
        }
    }
    return true;
}

// ---- the public face ----

SensorSimulator::SensorSimulator(Options options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

SensorSimulator::~SensorSimulator() {
    stop();
}

void SensorSimulator::stop() {
    impl_->stop();
}

std::string SensorSimulator::slave_path() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->pty.slave_path;
}

std::string SensorSimulator::device_path() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->options.link_path.empty() ? impl_->pty.slave_path : impl_->options.link_path;
}

void SensorSimulator::set_sensors(std::vector<std::uint32_t> addresses) {
    std::lock_guard lock(impl_->mutex);
    impl_->sensors.clear();
    for (const std::uint32_t a : addresses) {
        impl_->sensors.insert(a & kAddressMask);
    }
}

void SensorSimulator::add_sensor(std::uint32_t address) {
    std::lock_guard lock(impl_->mutex);
    impl_->sensors.insert(address & kAddressMask);
}

void SensorSimulator::remove_sensor(std::uint32_t address) {
    std::lock_guard lock(impl_->mutex);
    impl_->sensors.erase(address & kAddressMask);
}

void SensorSimulator::set_value(std::uint32_t address, Quantity q, double value) {
    std::lock_guard lock(impl_->mutex);
    impl_->fixed[{address & kAddressMask, q}] = value;
}

void SensorSimulator::clear_value(std::uint32_t address, Quantity q) {
    std::lock_guard lock(impl_->mutex);
    impl_->fixed.erase({address & kAddressMask, q});
}

double SensorSimulator::current_value(std::uint32_t address, Quantity q) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->value_locked(address & kAddressMask, q);
}

void SensorSimulator::script_reply_text(std::uint32_t address, std::string payload) {
    auto bytes = reply_frame(address, payload);
    std::lock_guard lock(impl_->mutex);
    impl_->scripts[address & kAddressMask].push_back({std::move(bytes), std::move(payload)});
}

void SensorSimulator::script_raw_reply(std::uint32_t address, std::vector<std::uint8_t> bytes) {
    std::lock_guard lock(impl_->mutex);
    impl_->scripts[address & kAddressMask].push_back({std::move(bytes), std::nullopt});
}

std::vector<std::uint8_t> SensorSimulator::reply_frame(std::uint32_t address,
                                                       std::string_view payload) {
    return reply_frame(ReplyIdentity{.address = address}, payload);
}

std::vector<std::uint8_t> SensorSimulator::reply_frame(const ReplyIdentity& from,
                                                       std::string_view payload) {
    return build_frame(from.header, static_cast<int>(from.address & kAddressMask), payload,
                       from.fixed_field);
}

void SensorSimulator::set_fault_rates(const FaultRates& rates) {
    std::lock_guard lock(impl_->mutex);
    impl_->options.faults = rates;
}

void SensorSimulator::set_fault_rate(Fault f, double probability) {
    std::lock_guard lock(impl_->mutex);
    impl_->options.faults[f] = probability;
}

void SensorSimulator::set_reply_delay(std::chrono::microseconds delay) {
    std::lock_guard lock(impl_->mutex);
    impl_->options.reply_delay = delay;
}

void SensorSimulator::set_late_reply_delay(std::chrono::milliseconds delay) {
    std::lock_guard lock(impl_->mutex);
    impl_->options.late_reply_delay = delay;
}

void SensorSimulator::set_habits(std::uint32_t address, SensorHabits habits) {
    std::lock_guard lock(impl_->mutex);
    impl_->options.habits[address & kAddressMask] = habits;
}

void SensorSimulator::set_babble(bool on) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->options.babble = on;
    }
    impl_->notify_thread();
}

void SensorSimulator::set_baud_emulation(bool on, int baud) {
    std::lock_guard lock(impl_->mutex);
    impl_->options.baud_emulation = on;
    impl_->options.baud = baud;
}

std::vector<Exchange> SensorSimulator::exchanges() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->log;
}

std::size_t SensorSimulator::exchange_count() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->log.size();
}

void SensorSimulator::clear_exchanges() {
    std::lock_guard lock(impl_->mutex);
    impl_->log.clear();
}

bool SensorSimulator::wait_for_exchanges(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->log.size() >= n; });
}

void SensorSimulator::unplug() {
    impl_->post(Impl::Command::Unplug);
}

void SensorSimulator::replug() {
    impl_->post(Impl::Command::Replug);
}

bool SensorSimulator::plugged() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->plugged && impl_->running;
}

}  // namespace veldra::sim
