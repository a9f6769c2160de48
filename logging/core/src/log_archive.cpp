// Recognises our own logs by their first bytes, so that a new session moves an earlier one
// aside (the platform's dated name) and never empties a file holding anything else.
#include "log_archive.h"

#include <sys/stat.h>

#include <array>
#include <fstream>
#include <string_view>

namespace veldra::core {
namespace {

constexpr std::string_view kTextLogStart = "     ISO Timestamp    |";
constexpr std::string_view kCsvLogStart = "\"sep=;\"\nISO Timestamp;";
constexpr std::string_view kCsvLogStartCrLf = "\"sep=;\"\r\nISO Timestamp;";

}  // namespace

ExistingLog inspect_existing_log(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return ExistingLog::None;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return ExistingLog::Foreign;  // cannot tell what it holds: leave it alone
    }
    std::array<char, 64> head{};
    in.read(head.data(), head.size());
    const std::string_view start(head.data(), static_cast<std::size_t>(in.gcount()));
    if (start.empty()) {
        return ExistingLog::None;
    }
    if (start.starts_with(kTextLogStart) || start.starts_with(kCsvLogStart) ||
        start.starts_with(kCsvLogStartCrLf)) {
        return ExistingLog::Ours;
    }
    return ExistingLog::Foreign;
}

}  // namespace veldra::core
