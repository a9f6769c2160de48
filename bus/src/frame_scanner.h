// Finding whole, well-formed frames in bytes read off the line at any moment: what comes
// before a start byte is noise, a frame is whole once its length field says so, and a false
// start (a bad checksum) is given up one byte on, so a frame behind it is still found.
#pragma once

#include <cstdint>
#include <vector>

namespace veldra::bus {

class FrameScanner {
  public:
    // Takes one byte; returns the addresses of the frames it completes, oldest first (usually
    // none, at most a few when a false start hid frames behind it).
    std::vector<std::uint32_t> feed(std::uint8_t byte);
    void clear() { pending_.clear(); }

  private:
    std::vector<std::uint8_t> pending_;  // from a start byte on
};

}  // namespace veldra::bus
