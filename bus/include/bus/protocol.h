// The sensor bus protocol in one place: the frame layout, the four commands, the line settings
// and the queue and buffer sizes. The bus, the measurement core's query table, the simulated
// sensors and the benchmarks all take these from here, so they cannot drift apart.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace veldra::bus {

// Frame layout: every multi-byte field is sent most significant byte first.
//   start | header | address (3) | fixed field (4) | length n (2) | payload (n) | checksum (2)
inline constexpr std::size_t kStartOffset = 0;
inline constexpr std::size_t kHeaderOffset = 1;
inline constexpr std::size_t kAddressOffset = 2;
inline constexpr std::size_t kAddressSize = 3;
inline constexpr std::size_t kFixedFieldOffset = 5;
inline constexpr std::size_t kFixedFieldSize = 4;
inline constexpr std::size_t kLengthOffset = 9;
inline constexpr std::size_t kPayloadOffset = 11;  // also the size of the leading fields
inline constexpr std::size_t kChecksumSize = 2;
inline constexpr std::size_t kFrameOverhead = kPayloadOffset + kChecksumSize;  // 13
inline constexpr std::size_t kMaxPayload = 0xFFFF;

inline constexpr std::uint8_t kStartByte = 0x81;
inline constexpr std::uint8_t kRequestHeader = 0x00;  // every request the logger sends
inline constexpr std::array<std::uint8_t, kFixedFieldSize> kFixedField = {0xFD, 0xFD, 0xFD, 0xFD};
inline constexpr std::uint32_t kAddressMask = 0xFFFFFF;  // addresses are 24 bits on the bus
inline constexpr std::uint32_t kChecksumPolynomial = 0xA001;

// A request is assembled in a buffer of this size, so a command is at most 87 bytes.
inline constexpr std::size_t kRequestBufferSize = 100;
inline constexpr std::size_t kMaxCommandLength = kRequestBufferSize - kFrameOverhead;

// The four commands, in the order a cycle asks them.
inline constexpr const char* kCommandCounts = "GetCounts!";
inline constexpr const char* kCommandPermittivity = "GetPermittivity!";
inline constexpr const char* kCommandWaterContent = "GetWaterContent!";
inline constexpr const char* kCommandTemperature = "GetTemperature!";
inline constexpr std::array<std::string_view, 4> kCommands = {
    kCommandCounts, kCommandPermittivity, kCommandWaterContent, kCommandTemperature};

// The line: 9600 baud, 8 data bits, no parity, 1 stop bit (10 bit times per character).
inline constexpr int kBaud = 9600;
inline constexpr int kParityNone = 0;
inline constexpr int kDataBits = 8;
inline constexpr int kStopBits = 1;
inline constexpr int kBitsPerCharacter = 10;

// Queue sizes: every transaction opens the port with the larger ones, a session start (which
// only tests the port) with the smaller ones.
inline constexpr int kTransactionQueueSize = 10000;
inline constexpr int kSessionQueueSize = 512;

// The caller's reply buffer: a payload of up to 9,999 bytes and its terminator.
inline constexpr std::size_t kReplyBufferSize = 10000;

// How long a receive waits for the first byte of the answer.
inline constexpr double kReplyTimeoutSeconds = 2.0;

// Seconds one character takes on a line of this speed.
constexpr double character_seconds(int baud) {
    return static_cast<double>(kBitsPerCharacter) / (baud > 0 ? baud : kBaud);
}

}  // namespace veldra::bus
