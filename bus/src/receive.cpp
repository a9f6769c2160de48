// Reading one reply frame byte by byte, folding each byte into the checksum as it comes.
// The payload never goes past the caller's buffer, and a read that fails inside the frame ends
// the reception at once rather than costing a time-out for every byte still expected.
#include <cstddef>

#include "bus/bus.h"

namespace {

constexpr std::size_t kLeadingBytes = 11;

class FrameReader {
  public:
    explicit FrameReader(const std::function<int()>& read_byte) : read_byte_(read_byte) {}

    // The next byte, folded into the checksum; negative when the source failed.
    int next() {
        const int b = read_byte_();
        if (b >= 0) {
            crc_ = calcCRC16(crc_, static_cast<std::uint32_t>(b & 0xFF) ^ 0xFFU, kBusPolynomial);
        }
        return b < 0 ? b : (b & 0xFF);
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

}  // namespace

int receive_bus_frame(const std::function<int()>& read_byte, std::span<char> buffer,
                      std::uint32_t* address) {
    FrameReader reader(read_byte);
    if (reader.next() != kFrameStartByte) {
        return BUS_ERR_START_BYTE;  // also no byte at all within the time-out
    }
    int length_high = 0;
    int length_low = 0;
    std::uint32_t from = 0;
    for (std::size_t i = 1; i < kLeadingBytes; ++i) {
        const int b = reader.next();
        if (b < 0) {
            return BUS_ERR_READ;
        }
        if (i >= 2 && i <= 4) {  // the address, high byte first
            from = (from << 8) | static_cast<std::uint32_t>(b);
        }
        length_high = length_low;
        length_low = b;
    }
    if (address != nullptr) {
        *address = from;
    }
    const auto n = static_cast<std::size_t>(length_high * 256 + length_low);
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
