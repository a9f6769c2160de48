// What the crash driver writes into the main panel before each save of the settings file, and
// how the crash test tells a whole record of one save from a mix of two.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

namespace veldra::reliability {

inline constexpr std::array<std::uint32_t, 4> kCrashSensors = {0x0A1B2C, 0x00FE01, 0x123456,
                                                               0xABCDEF};

// Generation g sets the interval to g and the log file entry to a text that names g and whose
// length changes with g, so a record cut short or spliced from two saves disagrees with itself.
std::string settings_text_for(int generation);
void write_settings_generation(int generation);
// The generation of the main panel's current values, or -1 when they disagree.
int read_settings_generation();

// What the driver had finished when it was killed, kept in a shared file mapping (the page
// cache outlives the process, so the values survive SIGKILL).
struct CrashProgress {
    std::atomic<std::int64_t> cycles_done{0};
    std::atomic<std::int64_t> generation_saved{0};
};
// Maps "<folder>/progress" (created when missing); nullptr on failure. Stays mapped until exit.
CrashProgress* map_crash_progress(const std::filesystem::path& folder);

}  // namespace veldra::reliability
