// Moving a file aside under a name with its modification time, never over an existing name.
#include "platform/kept_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace veldra::platform {
namespace {

// Renames without ever replacing an existing file.
int RenameNoReplace(const std::string& from, const std::string& to) {
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

std::string DatedName(const std::string& path, long long mtimeSeconds, int suffix) {
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

KeptFile KeepUnderDatedName(const std::string& path) {
    // The time is the file's own, also behind a symlink; a dangling one is dated by itself.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 && lstat(path.c_str(), &st) != 0) {
        return {false, {}, errno};
    }
    for (int suffix = 0; suffix < 1000; ++suffix) {
        const std::string target = DatedName(path, st.st_mtim.tv_sec, suffix);
        const int error = RenameNoReplace(path, target);
        if (error == 0) {
            return {true, target, 0};
        }
        if (error != EEXIST) {
            return {false, {}, error};
        }
    }
    return {false, {}, EEXIST};
}

std::vector<KeptFile> KeepTogetherUnderDatedName(const std::vector<std::string>& paths) {
    std::vector<KeptFile> results(paths.size());
    std::vector<std::size_t> present;
    long long stamp = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        struct stat st {};
        if (stat(paths[i].c_str(), &st) != 0 && lstat(paths[i].c_str(), &st) != 0) {
            results[i] = {true, {}, 0};  // nothing to keep
            continue;
        }
        present.push_back(i);
        stamp = std::max<long long>(stamp, st.st_mtim.tv_sec);
    }
    for (int suffix = 0; suffix < 1000 && !present.empty(); ++suffix) {
        const bool free_for_all = std::all_of(present.begin(), present.end(), [&](std::size_t i) {
            struct stat st {};
            return lstat(DatedName(paths[i], stamp, suffix).c_str(), &st) != 0;
        });
        if (!free_for_all) {
            continue;
        }
        // A name taken meanwhile by someone else sends what is left to the next suffix.
        std::vector<std::size_t> left;
        for (const std::size_t i : present) {
            const std::string target = DatedName(paths[i], stamp, suffix);
            const int error = RenameNoReplace(paths[i], target);
            if (error == 0) {
                results[i] = {true, target, 0};
            } else if (error == EEXIST) {
                left.push_back(i);
            } else {
                results[i] = {false, {}, error};
            }
        }
        present.swap(left);
    }
    for (const std::size_t i : present) {
        results[i] = {false, {}, EEXIST};
    }
    return results;
}

}  // namespace veldra::platform
