// Request framing for the simulator.
#include "request_parser.h"

#include <algorithm>

#include "bus/bus.h"

namespace veldra::sim {

void RequestParser::feed(std::span<const std::uint8_t> bytes, Clock::time_point now) {
    if (!buffer_.empty() && now - last_byte_ > kStaleAfter) {
        buffer_.clear();  // the rest of that frame is never coming
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    last_byte_ = now;
}

std::optional<RequestFrame> RequestParser::next() {
    for (;;) {
        const auto start = std::find(buffer_.begin(), buffer_.end(), kFrameStartByte);
        buffer_.erase(buffer_.begin(), start);
        if (buffer_.size() < 11) {
            return std::nullopt;
        }
        const std::size_t n = static_cast<std::size_t>(buffer_[9]) << 8 | buffer_[10];
        if (n > kMaxPayload) {
            buffer_.erase(buffer_.begin());  // not a frame after all; look for the next start
            continue;
        }
        const std::size_t size = n + kFrameOverhead;
        if (buffer_.size() < size) {
            return std::nullopt;
        }
        RequestFrame frame;
        frame.bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(size));
        frame.address = static_cast<std::uint32_t>(frame.bytes[2]) << 16 |
                        static_cast<std::uint32_t>(frame.bytes[3]) << 8 | frame.bytes[4];
        frame.payload.assign(frame.bytes.begin() + 11,
                             frame.bytes.begin() + 11 + static_cast<std::ptrdiff_t>(n));
        const std::uint16_t crc = frame_checksum(std::span(frame.bytes).first(size - 2));
        frame.checksum_ok =
            frame.bytes[size - 2] == (crc >> 8) && frame.bytes[size - 1] == (crc & 0xFF);
        // A garbled frame may have been a false start inside noise: look again one byte on.
        buffer_.erase(buffer_.begin(),
                      buffer_.begin() + static_cast<std::ptrdiff_t>(frame.checksum_ok ? size : 1));
        return frame;
    }
}

}  // namespace veldra::sim
