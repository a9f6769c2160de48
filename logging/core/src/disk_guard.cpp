// Free space of the log folder from statvfs, and the notices of the disk guard.
#include "logging/disk_guard.h"

#include <sys/statvfs.h>

#include <array>
#include <charconv>
#include <filesystem>

namespace veldra::core {

std::optional<std::uint64_t> free_bytes(const std::string& folder) {
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(fs.f_bavail) * static_cast<std::uint64_t>(fs.f_frsize);
}

std::string size_text(std::uint64_t bytes) {
    constexpr std::array<const char*, 4> kUnits{"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < kUnits.size()) {
        value /= 1024.0;
        ++unit;
    }
    std::array<char, 32> buf{};
    const auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, 1);
    (void)ec;
    return std::string(buf.data(), end) + " " + kUnits[unit];
}

void DiskGuard::reset(std::uint64_t threshold_bytes, const std::string& log_path) {
    threshold_ = threshold_bytes;
    const std::string folder = std::filesystem::path(log_path).parent_path().string();
    folder_ = folder.empty() ? "." : folder;
    low_ = false;
}

std::optional<Notice> DiskGuard::check(std::chrono::system_clock::time_point now) {
    if (threshold_ == 0) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> free = free_bytes(folder_);
    if (!free) {
        return std::nullopt;  // a folder that cannot be looked at shows in the writes
    }
    if (!low_ && *free < threshold_) {
        low_ = true;
        return Notice{NoticeKind::DiskLow,
                      "Free space low in " + folder_ + ": " + size_text(*free) +
                          " left (warning under " + size_text(threshold_) + ")",
                      now};
    }
    if (low_ && *free >= threshold_ + threshold_ / 20) {
        low_ = false;
        return Notice{NoticeKind::DiskOk,
                      "Free space in " + folder_ + " is back: " + size_text(*free) + " left", now};
    }
    return std::nullopt;
}

}  // namespace veldra::core
