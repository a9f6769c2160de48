// One command/reply exchange over a serial port: (re)open and configure the port; listen for a
// late answer of the sensor about to be asked, when one may still come; wait for a quiet line,
// drop what is left of earlier traffic, send the request frame and wait until it has left;
// then read the reply frame and judge whether it is the answer (late_reply_guard.h).
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include "bus/bus.h"
#include "frame_scanner.h"
#include "late_reply_guard.h"
#include "platform/rs232.h"

using namespace veldra::bus;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kMinDrainPause = std::chrono::microseconds(100);
constexpr auto kMaxDrainPause = std::chrono::milliseconds(5);
// The end of a frame on the line: no byte for this many character times, and never for less
// than the longest a USB adapter may hold received bytes back before it hands them on (its
// latency timer, 16 ms by default): shorter gaps are seen in the middle of a transmission.
constexpr double kQuietCharacters = 3.5;
constexpr double kMinQuietSeconds = 0.020;
// A line that never falls quiet is given up after this share of the reply time-out.
constexpr double kBusyLineShareOfTimeout = 0.25;

std::atomic<double> g_reply_timeout{kReplyTimeoutSeconds};
// Bumped by the test seams: a port whose state is older forgets what it knew on next use.
std::atomic<unsigned> g_state_epoch{0};

Clock::duration seconds(double s) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

// Tests shorten the reply time-out to run fast; the line's other waits shrink with it, so
// that a time-out of a tenth stands for a line running ten times as fast.
double test_time_scale() {
    return std::min(1.0, g_reply_timeout.load() / kReplyTimeoutSeconds);
}

double seconds_until(Clock::time_point t) {
    return std::max(0.0, std::chrono::duration<double>(t - Clock::now()).count());
}

// What the bus keeps of one port between its exchanges. The mutex makes the exchanges on one
// port follow each other: a send or a receive holds it for its whole length.
struct PortState {
    std::mutex mutex;
    unsigned epoch = 0;
    LateReplyGuard guard;
    Clock::time_point last_byte{};  // when a byte was last read off the line
    FrameScanner scanner;           // bytes read between exchanges
};

PortState* state_of(int port) {
    static std::array<PortState, kMaxComPort + 1> ports;
    if (port < 1 || port > kMaxComPort) {
        return nullptr;
    }
    return &ports[static_cast<std::size_t>(port)];
}

// Takes the port's state for one send or receive; a test seam used since its last use resets
// it first.
std::unique_lock<std::mutex> take(PortState& state) {
    std::unique_lock lock(state.mutex);
    if (const unsigned epoch = g_state_epoch.load(); state.epoch != epoch) {
        state.guard = LateReplyGuard{};
        state.last_byte = {};
        state.scanner.clear();
        state.epoch = epoch;
    }
    return lock;
}

// One byte read between exchanges (while listening or waiting for a quiet line): a frame it
// completes may settle a request whose answer came late.
void take_stray_byte(PortState& state, int byte) {
    const Clock::time_point now = Clock::now();
    state.last_byte = now;
    for (const std::uint32_t from : state.scanner.feed(static_cast<std::uint8_t>(byte))) {
        state.guard.frame_seen(from, now);
    }
}

// Before a request to a sensor with a request still unanswered (and not taken as absent):
// reads the line until its late answer has come or can no longer come, so that the answer to
// the new request cannot be mistaken for it. BUS_ERR_ABORTED when a stop came meanwhile.
int listen_for_late_answer(int port, PortState& state, std::uint32_t address) {
    for (;;) {
        const std::optional<Clock::time_point> until =
            state.guard.listen_until(address, Clock::now());
        if (!until || Clock::now() >= *until) {
            return BUS_OK;
        }
        SetComTime(port, seconds_until(*until));
        const int b = ComRdByte(port);
        if (b >= 0) {
            take_stray_byte(state, b);
        } else if (b == COM_ERR_ABORTED) {
            return BUS_ERR_ABORTED;
        } else if (b != COM_ERR_TIMEOUT) {
            return BUS_OK;  // the line failed: the send finds out and says so
        }
    }
}

// Waits until no byte has come for 3.5 character times (at least 20 ms), so that a frame still
// arriving (the tail of a reply, a late answer) is not cut by the flush and spilled into the
// next answer.
// A line that keeps talking is given up: BUS_ERR_LINE_BUSY.
int wait_for_quiet_line(int port, int baud, PortState& state) {
    const Clock::duration gap = seconds(
        std::max(kQuietCharacters * character_seconds(baud), kMinQuietSeconds) * test_time_scale());
    const Clock::time_point give_up =
        Clock::now() + seconds(kBusyLineShareOfTimeout * g_reply_timeout.load());
    for (;;) {
        SetComTime(port, seconds_until(state.last_byte + gap));
        const int b = ComRdByte(port);
        if (b == COM_ERR_ABORTED) {
            return BUS_ERR_ABORTED;
        }
        if (b < 0) {
            return BUS_OK;  // quiet (or failed: the send finds out and says so)
        }
        take_stray_byte(state, b);
        if (Clock::now() >= give_up) {
            return BUS_ERR_LINE_BUSY;
        }
    }
}

// Waits until the port's output queue is empty. The bytes still queued tell how long the line
// needs, so the wait sleeps about that long between polls rather than spinning; a line that
// does not drain within its own sending time plus the reply time-out is reported as failed,
// and a stop ends the wait at once.
int wait_until_drained(int port, int baud, std::size_t frame_bytes) {
    const double byte_seconds = character_seconds(baud);
    const Clock::time_point deadline =
        Clock::now() +
        seconds(static_cast<double>(frame_bytes) * byte_seconds + g_reply_timeout.load() + 1.0);
    for (;;) {
        const int queued = GetOutQLen(port);
        if (queued == 0) {
            return BUS_OK;
        }
        if (queued == COM_ERR_ABORTED) {
            return BUS_ERR_ABORTED;
        }
        if (queued < 0 || Clock::now() >= deadline) {
            return BUS_ERR_WRITE;
        }
        const auto pause = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::duration<double>(queued * byte_seconds));
        std::this_thread::sleep_for(
            std::clamp<std::chrono::microseconds>(pause, kMinDrainPause, kMaxDrainPause));
    }
}

int open_port(int port, int baud) {
    return OpenComConfig(port, "", baud, kParityNone, kDataBits, kStopBits, kTransactionQueueSize,
                         kTransactionQueueSize);
}

}  // namespace

int send_n_bus_message(int port, int baud, int header, int address, const char* command) {
    const std::string_view text = command != nullptr ? std::string_view(command) : "";
    const std::vector<std::uint8_t> frame = build_request_frame(header, address, text);
    if (frame.empty()) {
        return BUS_ERR_TOO_LONG;
    }
    if (open_port(port, baud) != 0) {
        return BUS_ERR_PORT;
    }
    PortState& state = *state_of(port);  // the open succeeded: the number is in range
    const auto lock = take(state);
    const auto to = static_cast<std::uint32_t>(address) & kAddressMask;
    if (const int r = listen_for_late_answer(port, state, to); r != BUS_OK) {
        return r;
    }
    if (const int r = wait_for_quiet_line(port, baud, state); r != BUS_OK) {
        return r;
    }
    state.scanner.clear();
    // An adapter pulled (and perhaps plugged back) while the port sat idle shows here at the
    // latest; the port then opens afresh, so this exchange already reaches the device again.
    if (FlushInQ(port) == COM_ERR_DEVICE_GONE) {
        if (open_port(port, baud) != 0) {
            return BUS_ERR_PORT;
        }
        FlushInQ(port);
    }
    const double timeout = g_reply_timeout.load();
    SetComTime(port, timeout);
    FlushOutQ(port);
    for (const std::uint8_t b : frame) {
        if (ComWrtByte(port, b) < 0) {
            return BUS_ERR_WRITE;
        }
    }
    const int drained = wait_until_drained(port, baud, frame.size());
    state.guard.request_sent(to, Clock::now(), seconds(timeout));
    if (drained != BUS_OK) {
        // No receive follows; the frame may have gone out all the same, and its answer come.
        state.guard.reply_missing(Clock::now(), false);
    }
    return drained;
}

int receive_n_bus_message(int port, int /*baud*/, std::span<char> buffer, ReceiveInfo* info) {
    ReceiveInfo local;
    ReceiveInfo& seen = info != nullptr ? *info : local;
    seen = ReceiveInfo{};
    PortState unknown_port;  // a port number out of range: every read fails at once
    PortState* found = state_of(port);
    PortState& state = found != nullptr ? *found : unknown_port;
    const auto lock = take(state);

    const double timeout = g_reply_timeout.load();
    // The answer's first byte must come within one time-out of now, skipped frames or not;
    // each later byte of a frame within one time-out of the byte before.
    const Clock::time_point deadline = Clock::now() + seconds(timeout);
    std::size_t frame_bytes = 0;
    const std::function<int()> read_byte = [&]() -> int {
        if (frame_bytes == 0) {
            const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
            if (left <= 0.0) {
                seen.line_error = COM_ERR_TIMEOUT;
                return COM_ERR_TIMEOUT;
            }
            SetComTime(port, left);
        } else if (frame_bytes == 1) {
            SetComTime(port, timeout);
        }
        const int b = ComRdByte(port);
        if (b >= 0) {
            ++seen.bytes_read;
            ++frame_bytes;
            state.last_byte = Clock::now();
        } else {
            seen.line_error = b;
        }
        return b;
    };
    // An address wider than 24 bits: the frame's address field was not read.
    constexpr std::uint32_t kNoAddress = ~kAddressMask;
    int result = BUS_ERR_START_BYTE;
    for (;;) {
        frame_bytes = 0;
        std::uint32_t from = kNoAddress;
        result = receive_bus_frame(read_byte, buffer, &from);
        seen.reply_address = from != kNoAddress ? from : 0;
        if (result < 0 && frame_bytes == 0) {
            // Nothing more came: the answer is missing, and may yet come late.
            state.guard.reply_missing(Clock::now(), seen.line_error == COM_ERR_TIMEOUT);
            if (seen.stale_frames_skipped > 0) {
                result = BUS_ERR_STALE;
            }
            break;
        }
        if (result < 0) {
            // Bytes came, but no frame fit to take.
            state.guard.reply_spoiled(from != kNoAddress ? std::optional(from) : std::nullopt,
                                      Clock::now());
            break;
        }
        if (state.guard.judge_reply(from, Clock::now()) == LateReplyGuard::Verdict::Answer) {
            state.guard.reply_taken(from);
            break;
        }
        ++seen.stale_frames_skipped;
    }
    SetComTime(port, timeout);
    if (result < 0 && result != BUS_ERR_CHECKSUM && !buffer.empty()) {
        buffer[0] = '\0';  // a skipped late answer leaves nothing behind
    }
    return result;
}

void set_reply_timeout_for_testing(double seconds) {
    g_reply_timeout.store(seconds > 0.0 ? seconds : kReplyTimeoutSeconds);
    // What the ports knew was reckoned with the old time-out (the covered lateness above all).
    reset_bus_state_for_testing();
}

void reset_bus_state_for_testing() {
    ++g_state_epoch;
}
