// The frame layout and its checksum: start byte, header byte, 24-bit address, the fixed field,
// 16-bit length, payload, 16-bit checksum, every multi-byte field high byte first.
#include <algorithm>

#include "bus/bus.h"

using namespace veldra::bus;

std::uint32_t calcCRC16(std::uint32_t crc, std::uint32_t data, std::uint32_t polynomial) {
    for (int bit = 0; bit < 8; ++bit) {
        if (((crc ^ data) & 1U) != 0) {
            crc = (crc >> 1) ^ polynomial;
        } else {
            crc >>= 1;
        }
        data >>= 1;
    }
    return crc;
}

std::uint16_t frame_checksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0;
    for (const std::uint8_t b : bytes) {
        crc = calcCRC16(crc, b ^ 0xFFU, kChecksumPolynomial);
    }
    return static_cast<std::uint16_t>(crc);
}

std::vector<std::uint8_t> build_frame(
    int header, int address, std::string_view payload,
    const std::array<std::uint8_t, kFixedFieldSize>& fixed_field) {
    if (payload.size() > kMaxPayload) {
        return {};
    }
    const auto addr = static_cast<std::uint32_t>(address);
    const std::size_t n = payload.size();
    std::vector<std::uint8_t> frame(kPayloadOffset);
    frame.reserve(n + kFrameOverhead);
    frame[kStartOffset] = kStartByte;
    frame[kHeaderOffset] = static_cast<std::uint8_t>(header & 0xFF);
    frame[kAddressOffset] = static_cast<std::uint8_t>((addr >> 16) & 0xFF);
    frame[kAddressOffset + 1] = static_cast<std::uint8_t>((addr >> 8) & 0xFF);
    frame[kAddressOffset + 2] = static_cast<std::uint8_t>(addr & 0xFF);
    std::copy(fixed_field.begin(), fixed_field.end(),
              frame.begin() + static_cast<std::ptrdiff_t>(kFixedFieldOffset));
    frame[kLengthOffset] = static_cast<std::uint8_t>(n >> 8);
    frame[kLengthOffset + 1] = static_cast<std::uint8_t>(n & 0xFF);
    frame.insert(frame.end(), payload.begin(), payload.end());
    const std::uint16_t crc = frame_checksum(frame);
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return frame;
}

std::vector<std::uint8_t> build_request_frame(int header, int address, std::string_view command) {
    if (command.size() > kMaxCommandLength) {
        return {};
    }
    return build_frame(header, address, command);
}
