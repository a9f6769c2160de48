// Recognises our own logs by their first bytes and moves an earlier one aside under a name
// with its modification time, so that a new session never destroys data.
#include "log_archive.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <fstream>
#include <string_view>

namespace veldra::core {
namespace {

constexpr std::string_view kTextLogStart = "     ISO Timestamp    |";
constexpr std::string_view kCsvLogStart = "\"sep=;\"\nISO Timestamp;";
constexpr std::string_view kCsvLogStartCrLf = "\"sep=;\"\r\nISO Timestamp;";

// Renames without ever replacing an existing file.
int rename_no_replace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without the flag: a hard link fails just as well on an existing name.
    if (link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    if (unlink(from.c_str()) != 0) {
        const int error = errno;
        unlink(to.c_str());
        return error;
    }
    return 0;
}

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

std::string dated_log_name(const std::string& path, long long mtimeSeconds, int suffix) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) {
        dot = path.size();  // no extension (a leading dot names a hidden file)
    }
    const time_t t = static_cast<time_t>(mtimeSeconds);
    struct tm local {};
    localtime_r(&t, &local);
    std::array<char, 32> stamp{};
    strftime(stamp.data(), stamp.size(), "%Y-%m-%d_%H%M%S", &local);
    std::string name = path.substr(0, dot) + "." + stamp.data();
    if (suffix > 0) {
        name += "-" + std::to_string(suffix);
    }
    return name + path.substr(dot);
}

ArchiveResult archive_log(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return {false, {}, errno};
    }
    for (int suffix = 0; suffix < 1000; ++suffix) {
        const std::string target = dated_log_name(path, st.st_mtim.tv_sec, suffix);
        const int error = rename_no_replace(path, target);
        if (error == 0) {
            return {true, target, 0};
        }
        if (error != EEXIST) {
            return {false, {}, error};
        }
    }
    return {false, {}, EEXIST};
}

}  // namespace veldra::core
