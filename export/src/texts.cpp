// The shared pieces of the export's notices.
#include "texts.h"

#include <array>
#include <charconv>
#include <ctime>

namespace veldra::exporter::texts {

std::string clock_time(std::chrono::system_clock::time_point t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::array<char, 16> buf{};
    std::strftime(buf.data(), buf.size(), "%H:%M:%S", &local);
    return buf.data();
}

std::string broker(const ExportSettings& s) {
    std::string text = s.host + ":" + std::to_string(s.port);
    if (!s.ca_file.empty() || !s.cert_file.empty()) {
        text += " (TLS)";
    }
    return text;
}

std::string waiting(std::uint64_t count) {
    if (count == 0) {
        return "no message waiting";
    }
    return std::to_string(count) + (count == 1 ? " message waiting" : " messages waiting");
}

std::string acknowledged(const std::optional<Acknowledged>& last) {
    if (!last) {
        return "no cycle acknowledged yet";
    }
    return "last acknowledged cycle: seq " + std::to_string(last->seq) + " of " + last->local;
}

std::string size(std::uint64_t bytes) {
    if (bytes < kMegabyte) {
        return std::to_string((bytes + 512) / 1024) + " kB";
    }
    std::array<char, 32> buf{};
    const auto [end, ec] = std::to_chars(
        buf.data(), buf.data() + buf.size(),
        static_cast<double>(bytes) / static_cast<double>(kMegabyte), std::chars_format::fixed, 1);
    (void)ec;
    return std::string(buf.data(), end) + " MB";
}

}  // namespace veldra::exporter::texts
