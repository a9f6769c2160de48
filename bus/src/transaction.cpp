// One command/reply exchange over a serial port: (re)open and configure the port, drop what is
// left of earlier traffic, send the request frame and wait until it has left; then read the
// reply frame.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

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
    SetComTime(port, g_reply_timeout.load());
    FlushOutQ(port);
    for (const std::uint8_t b : frame) {
        if (ComWrtByte(port, b) < 0) {
            return BUS_ERR_WRITE;
        }
    }
    return wait_until_drained(port, baud, frame.size());
}

int receive_n_bus_message(int port, int /*baud*/, std::span<char> buffer) {
    const std::function<int()> read_byte = [port] { return ComRdByte(port); };
    return receive_bus_frame(read_byte, buffer);
}

void set_reply_timeout_for_testing(double seconds) {
    g_reply_timeout.store(seconds > 0.0 ? seconds : kReplyTimeoutSeconds);
}
