// Request and reply frames on the sensor bus, their checksum, and one command/reply
// transaction over a serial port.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Transaction results.
inline constexpr int BUS_OK = 0;
inline constexpr int BUS_ERR_PORT = -1;        // the port could not be opened
inline constexpr int BUS_ERR_START_BYTE = -4;  // no reply, or the first byte is not 0x81
inline constexpr int BUS_ERR_CHECKSUM = -5;    // checksum mismatch
inline constexpr int BUS_ERR_TOO_LONG = -6;    // command or reply payload does not fit
inline constexpr int BUS_ERR_READ = -7;        // a read failed inside the frame
inline constexpr int BUS_ERR_WRITE = -8;       // the frame could not be written or drained
inline constexpr int BUS_ERR_STALE = -9;       // only replies meant for other requests came

inline constexpr std::uint8_t kFrameStartByte = 0x81;
inline constexpr std::size_t kFrameOverhead = 13;       // 11 leading bytes + 2 checksum bytes
inline constexpr std::size_t kRequestBufferSize = 100;  // so a command is at most 87 bytes
inline constexpr std::uint32_t kBusPolynomial = 0xA001;

// One checksum step over one (already complemented) byte.
std::uint32_t calcCRC16(std::uint32_t crc, std::uint32_t data, std::uint32_t polynomial);
// The frame checksum over bytes (each complemented before it is folded in).
std::uint16_t frame_checksum(std::span<const std::uint8_t> bytes);
// A whole frame with any payload of up to 65535 bytes (a sensor's reply, say); empty when the
// payload is longer.
std::vector<std::uint8_t> build_frame(int header, int address, std::string_view payload);
// A whole request frame; empty when the command does not fit (over 87 bytes).
std::vector<std::uint8_t> build_request_frame(int header, int address, std::string_view command);

// Sends one request; 0 once written and drained, -1 when the port cannot be opened (nothing
// written), BUS_ERR_TOO_LONG for a command over 87 bytes (nothing opened or written),
// BUS_ERR_WRITE when the line fails while the frame goes out or the frame never drains.
int send_n_bus_message(int port, int baud, int header, int address, const char* command);
// Reads one reply into buffer (payload + terminating zero). Returns the payload length, or
// -4 / -5 as above, BUS_ERR_TOO_LONG when the payload would not fit the buffer (nothing is
// written past it), BUS_ERR_READ when the line fails inside the frame.
// A reply is taken only from the addressed sensor: a frame from another address (a late
// answer to an earlier request) is skipped, BUS_ERR_STALE when nothing but such frames came.
// A sensor's own late answer is dropped by the next send to it, which first listens up to one
// more time-out after a request that met silence. So a value never lands in another sensor's
// or quantity's cell.
//
// info, when given, tells the caller what the result alone cannot: whether any byte came at
// all (silence and a wrong first byte are both -4), how many frames were skipped as late
// answers, and the line error that ended the read.
struct ReceiveInfo {
    std::size_t bytes_read = 0;       // bytes taken from the line, skipped frames included
    int stale_frames_skipped = 0;     // well-formed frames dropped as answers to earlier requests
    std::uint32_t reply_address = 0;  // the address the last frame read carried
    int line_error = 0;  // the serial error that ended the read (timeout, device gone...), or 0
};
int receive_n_bus_message(int port, int baud, std::span<char> buffer, ReceiveInfo* info = nullptr);

// The reply reader behind receive_n_bus_message, over any byte source: read_byte returns the
// next byte (0..255) or a negative value when none came. Lets the frame reader be exercised
// without a port (fuzzing, unit tests).
// When address is given, it receives the frame's 24-bit address.
int receive_bus_frame(const std::function<int()>& read_byte, std::span<char> buffer,
                      std::uint32_t* address = nullptr);

// Test seam: the reply time-out that send_n_bus_message sets (2.0 s by default).
void set_reply_timeout_for_testing(double seconds);
