// Request framing for the simulator.
#include "request_parser.h"

#include <algorithm>

#include "bus/bus.h"

namespace veldra::sim {

using namespace veldra::bus;

void RequestParser::feed(std::span<const std::uint8_t> bytes, Clock::time_point now) {
    if (!buffer_.empty() && now - last_byte_ > kStaleAfter) {
        buffer_.clear();  // the rest of that frame is never coming
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    last_byte_ = now;
}

std::optional<RequestFrame> RequestParser::next() {
    for (;;) {
        const auto start = std::find(buffer_.begin(), buffer_.end(), kStartByte);
        buffer_.erase(buffer_.begin(), start);
        if (buffer_.size() < kPayloadOffset) {
            return std::nullopt;
        }
        const std::size_t n =
            static_cast<std::size_t>(buffer_[kLengthOffset]) << 8 | buffer_[kLengthOffset + 1];
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
        for (std::size_t i = 0; i < kAddressSize; ++i) {
            frame.address = frame.address << 8 | frame.bytes[kAddressOffset + i];
        }
        const auto payload = frame.bytes.begin() + kPayloadOffset;
        frame.payload.assign(payload, payload + static_cast<std::ptrdiff_t>(n));
        const std::size_t body = size - kChecksumSize;
        const std::uint16_t crc = frame_checksum(std::span(frame.bytes).first(body));
        frame.checksum_ok =
            frame.bytes[body] == (crc >> 8) && frame.bytes[body + 1] == (crc & 0xFF);
        // A garbled frame may have been a false start inside noise: look again one byte on.
        buffer_.erase(buffer_.begin(),
                      buffer_.begin() + static_cast<std::ptrdiff_t>(frame.checksum_ok ? size : 1));
        return frame;
    }
}

}  // namespace veldra::sim
