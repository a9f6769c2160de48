// Scanning the line for frames between exchanges.
#include "frame_scanner.h"

#include <algorithm>
#include <span>

#include "bus/bus.h"

namespace veldra::bus {

namespace {

// Longer payloads than a reply buffer holds are taken as a false start: waiting for tens of
// kilobytes would hide the frames behind it.
constexpr std::size_t kLongestScanned = kReplyBufferSize - 1;

}  // namespace

std::vector<std::uint32_t> FrameScanner::feed(std::uint8_t byte) {
    std::vector<std::uint32_t> found;
    if (pending_.empty() && byte != kStartByte) {
        return found;
    }
    pending_.push_back(byte);
    std::size_t at = 0;  // where the candidate frame starts in pending_
    while (pending_.size() - at >= kPayloadOffset) {
        const std::span<const std::uint8_t> rest = std::span(pending_).subspan(at);
        const std::size_t n =
            static_cast<std::size_t>(rest[kLengthOffset]) << 8 | rest[kLengthOffset + 1];
        std::size_t next = 0;  // how far the next candidate lies
        if (n <= kLongestScanned) {
            if (rest.size() < n + kFrameOverhead) {
                break;  // not whole yet
            }
            const std::size_t body = kPayloadOffset + n;
            const std::uint16_t crc = frame_checksum(rest.first(body));
            if (rest[body] == (crc >> 8) && rest[body + 1] == (crc & 0xFF)) {
                std::uint32_t address = 0;
                for (std::size_t i = 0; i < kAddressSize; ++i) {
                    address = (address << 8) | rest[kAddressOffset + i];
                }
                found.push_back(address);
                next = n + kFrameOverhead;
            }
        }
        if (next == 0) {  // a false start: look again from the next start byte after it
            next = static_cast<std::size_t>(std::find(rest.begin() + 1, rest.end(), kStartByte) -
                                            rest.begin());
        }
        at += next;
        while (at < pending_.size() && pending_[at] != kStartByte) {
            ++at;
        }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
    return found;
}

}  // namespace veldra::bus
