// The disk guard: watches the free space of the log folder, so that the user hears of a disk
// that fills up before writes fail, once each time the space falls under the threshold and
// once when it is back.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "logging/session_observer.h"

namespace veldra::core {

// The space that an unprivileged writer may still use in the folder's file system; nullopt
// when the folder cannot be looked at.
std::optional<std::uint64_t> free_bytes(const std::string& folder);

// "80.0 MB", "1.2 GB": sizes for people, in units of 1024.
std::string size_text(std::uint64_t bytes);

class DiskGuard {
  public:
    // Watches the folder that holds `log_path`; a threshold of 0 never warns. The space
    // counts as back only some way above the threshold (a twentieth of it), so that a level
    // that wavers around it does not repeat the warning every cycle.
    void reset(std::uint64_t threshold_bytes, const std::string& log_path);
    // A DiskLow or DiskOk notice when the free space crossed the threshold since the last look.
    std::optional<Notice> check(std::chrono::system_clock::time_point now);
    bool low() const { return low_; }

  private:
    std::uint64_t threshold_ = 0;
    std::string folder_;
    bool low_ = false;
};

}  // namespace veldra::core
