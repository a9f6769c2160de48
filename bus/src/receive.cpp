// Reading one reply frame byte by byte, folding each byte into the checksum as it comes.
// The leading fields are read whole and taken apart by name; the payload never goes past the
// caller's buffer, and a read that fails inside the frame ends the reception at once rather
// than costing a time-out for every byte still expected.
#include <array>
#include <cstddef>

#include "bus/bus.h"

using namespace veldra::bus;

namespace {

class FrameReader {
  public:
    explicit FrameReader(const std::function<int()>& read_byte) : read_byte_(read_byte) {}

    // The next byte, folded into the checksum; negative when the source failed.
    int next() {
        const int b = next_raw();
        if (b >= 0) {
            crc_ = calcCRC16(crc_, static_cast<std::uint32_t>(b) ^ 0xFFU, kChecksumPolynomial);
        }
        return b;
    }
    // The next byte without folding it in (the checksum bytes).
    int next_raw() {
        const int b = read_byte_();
        return b < 0 ? b : (b & 0xFF);
    }
    std::uint32_t crc() const { return crc_; }

  private:
    const std::function<int()>& read_byte_;
    std::uint32_t crc_ = 0;
};

// The fields before the payload, as read.
struct LeadingFields {
    std::array<std::uint8_t, kPayloadOffset> bytes{};

    std::uint32_t address() const {
        std::uint32_t a = 0;
        for (std::size_t i = 0; i < kAddressSize; ++i) {
            a = (a << 8) | bytes[kAddressOffset + i];
        }
        return a;
    }
    std::size_t payload_length() const {
        return static_cast<std::size_t>(bytes[kLengthOffset]) << 8 | bytes[kLengthOffset + 1];
    }
};

}  // namespace

int receive_bus_frame(const std::function<int()>& read_byte, std::span<char> buffer,
                      std::uint32_t* address) {
    FrameReader reader(read_byte);
    LeadingFields lead;
    for (std::size_t i = 0; i < lead.bytes.size(); ++i) {
        const int b = reader.next();
        if (i == kStartOffset && b != kStartByte) {
            return BUS_ERR_START_BYTE;  // also no byte at all within the time-out
        }
        if (b < 0) {
            return BUS_ERR_READ;
        }
        lead.bytes[i] = static_cast<std::uint8_t>(b);
    }
    if (address != nullptr) {
        *address = lead.address();
    }
    const std::size_t n = lead.payload_length();
    if (n >= buffer.size()) {  // payload plus terminator must fit
        if (!buffer.empty()) {
            buffer[0] = '\0';
        }
        return BUS_ERR_TOO_LONG;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const int b = reader.next();
        if (b < 0) {
            buffer[i] = '\0';
            return BUS_ERR_READ;
        }
        buffer[i] = static_cast<char>(b);
    }
    buffer[n] = '\0';
    const int high = reader.next_raw();
    const int low = high < 0 ? high : reader.next_raw();
    if (low < 0) {
        return BUS_ERR_READ;
    }
    if (reader.crc() != static_cast<std::uint32_t>(high * 256 + low)) {
        return BUS_ERR_CHECKSUM;
    }
    return static_cast<int>(n);
}
