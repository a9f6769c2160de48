// Cutting request frames out of the byte stream the simulator reads: anything before a start
// byte is line noise, a frame is complete once its length field says so, and a frame left
// incomplete for longer than a gap between bytes can explain is dropped.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace veldra::sim {

struct RequestFrame {
    std::vector<std::uint8_t> bytes;  // the whole frame
    std::uint32_t address = 0;
    std::string payload;
    bool checksum_ok = false;
};

class RequestParser {
  public:
    using Clock = std::chrono::steady_clock;
    // Longest request payload taken seriously; a longer length field means a false start.
    static constexpr std::size_t kMaxPayload = 1024;
    static constexpr auto kStaleAfter = std::chrono::milliseconds(200);

    void feed(std::span<const std::uint8_t> bytes, Clock::time_point now);
    // The next complete frame, if any.
    std::optional<RequestFrame> next();
    void clear() { buffer_.clear(); }

  private:
    std::vector<std::uint8_t> buffer_;
    Clock::time_point last_byte_{};
};

}  // namespace veldra::sim
