// One command/reply exchange over a serial port: (re)open and configure the port, drop what is
// left of earlier traffic, send the request frame and wait until it has left; then read the
// reply frame.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "bus/bus.h"
#include "platform/rs232.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kReplyTimeoutSeconds = 2.0;
constexpr int kQueueSize = 10000;
constexpr auto kMinDrainPause = std::chrono::microseconds(100);
constexpr auto kMaxDrainPause = std::chrono::milliseconds(5);

std::atomic<double> g_reply_timeout{kReplyTimeoutSeconds};

// Waits until the port's output queue is empty. The bytes still queued tell how long the line
// needs, so the wait sleeps about that long between polls rather than spinning; a line that
// does not drain within its own sending time plus the reply time-out is reported as failed.
int wait_until_drained(int port, int baud, std::size_t frame_bytes) {
    const double byte_seconds = baud > 0 ? 10.0 / baud : 10.0 / 9600;
    const auto limit = std::chrono::duration<double>(
        static_cast<double>(frame_bytes) * byte_seconds + g_reply_timeout.load() + 1.0);
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
    for (;;) {
        const int queued = GetOutQLen(port);
        if (queued == 0) {
            return BUS_OK;
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

// What a port's receive must know of the exchange in progress.
struct PortExchange {
    std::uint32_t address = 0;  // the sensor the last request went to
    // An earlier request got no (complete) answer in time: its reply may still turn up, just
    // before the answer to the current request.
    bool late_reply_possible = false;
};

std::mutex g_exchanges_mutex;
std::map<int, PortExchange> g_exchanges;

PortExchange exchange_of(int port) {
    const std::lock_guard lock(g_exchanges_mutex);
    return g_exchanges[port];
}

void update_exchange(int port, const std::function<void(PortExchange&)>& change) {
    const std::lock_guard lock(g_exchanges_mutex);
    change(g_exchanges[port]);
}

constexpr int kMaxFramesPerReply = 4;
constexpr double kLineQuietSeconds = 0.02;  // no byte for this long: the frame is over

// Before a request to a sensor that stayed silent last time, listens up to one more time-out
// for its late answer and drops it, so it cannot be read as the answer to this request. (A
// late answer to another sensor is told apart by its address.)
void drop_late_reply(int port, std::uint32_t address) {
    const PortExchange last = exchange_of(port);
    if (!last.late_reply_possible || last.address != address) {
        return;
    }
    SetComTime(port, g_reply_timeout.load());
    if (ComRdByte(port) >= 0) {
        SetComTime(port, kLineQuietSeconds);
        while (ComRdByte(port) >= 0) {
        }
    }
    FlushInQ(port);
}

}  // namespace

int send_n_bus_message(int port, int baud, int header, int address, const char* command) {
    const std::string_view text = command != nullptr ? std::string_view(command) : "";
    const std::vector<std::uint8_t> frame = build_request_frame(header, address, text);
    if (frame.empty()) {
        return BUS_ERR_TOO_LONG;
    }
    if (OpenComConfig(port, "", baud, 0, 8, 1, kQueueSize, kQueueSize) != 0) {
        return BUS_ERR_PORT;
    }
    // An adapter pulled (and perhaps plugged back) while the port sat idle shows first in the
    // flush; the port then opens afresh, so this exchange already reaches the device again.
    if (FlushInQ(port) == COM_ERR_DEVICE_GONE) {
        if (OpenComConfig(port, "", baud, 0, 8, 1, kQueueSize, kQueueSize) != 0) {
            return BUS_ERR_PORT;
        }
        FlushInQ(port);
    }
    const auto to = static_cast<std::uint32_t>(address) & 0xFFFFFFU;
    drop_late_reply(port, to);
    SetComTime(port, g_reply_timeout.load());
    FlushOutQ(port);
    update_exchange(port, [to](PortExchange& e) { e = PortExchange{to, false}; });
    for (const std::uint8_t b : frame) {
        if (ComWrtByte(port, b) < 0) {
            return BUS_ERR_WRITE;
        }
    }
    return wait_until_drained(port, baud, frame.size());
}

int receive_n_bus_message(int port, int /*baud*/, std::span<char> buffer, ReceiveInfo* info) {
    ReceiveInfo local;
    ReceiveInfo& seen = info != nullptr ? *info : local;
    seen = ReceiveInfo{};
    const PortExchange exchange = exchange_of(port);
    // Skipped frames do not extend the wait: the answer must come within one time-out.
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(g_reply_timeout.load()));
    const std::function<int()> read_byte = [port, &seen] {
        const int b = ComRdByte(port);
        if (b >= 0) {
            ++seen.bytes_read;
        } else {
            seen.line_error = b;
        }
        return b;
    };
    const auto mark_late_reply_possible = [port] {
        update_exchange(port, [](PortExchange& e) { e.late_reply_possible = true; });
    };
    bool shortened = false;
    for (int frame = 0; frame < kMaxFramesPerReply; ++frame) {
        std::uint32_t from = 0;
        const std::size_t read_before = seen.bytes_read;
        const int result = receive_bus_frame(read_byte, buffer, &from);
        seen.reply_address = from;
        if (shortened) {
            SetComTime(port, g_reply_timeout.load());
        }
        if (result < 0) {
            if (seen.bytes_read == read_before) {  // silence: the answer may still come, late
                mark_late_reply_possible();
            }
            return result;
        }
        if (from == exchange.address) {
            return result;
        }
        // Another sensor's frame (one that came too late for its own request): not ours.
        ++seen.stale_frames_skipped;
        const auto left = std::chrono::duration<double>(deadline - Clock::now()).count();
        if (left <= 0.0) {
            mark_late_reply_possible();
            buffer[0] = '\0';
            return BUS_ERR_START_BYTE;
        }
        SetComTime(port, left);
        shortened = true;
    }
    if (!buffer.empty()) {
        buffer[0] = '\0';
    }
    return BUS_ERR_STALE;
}

void set_reply_timeout_for_testing(double seconds) {
    g_reply_timeout.store(seconds > 0.0 ? seconds : kReplyTimeoutSeconds);
}
