// The working folder's lock: an flock on a small file in the folder that names its holder. The
// lock file is removed on release; a taker that opened it just before checks afterwards that
// the name still leads to the file it locked, and tries again if not.
#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>

#include "regular_file.h"

namespace veldra::platform {

using veldra::ui::Fd;

struct FolderLock::Holding {
    Fd fd;
    std::string path;

    Holding(Fd f, std::string p) : fd(std::move(f)), path(std::move(p)) {}
    Holding(const Holding&) = delete;
    Holding& operator=(const Holding&) = delete;
    ~Holding() {
        // Only our own file: one put in its place by someone else is not ours to remove.
        struct stat mine {
        }, named{};
        if (::fstat(fd.get(), &mine) == 0 && ::lstat(path.c_str(), &named) == 0 &&
            mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
            ::unlink(path.c_str());  // still locked here, so no taker can think it has it
        }
    }
};

namespace {

constexpr int kAttempts = 10;

std::string ShownFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::path shown = std::filesystem::absolute(folder, ec);
    if (ec) {
        return folder;
    }
    shown = shown.lexically_normal();
    std::string text = shown.string();
    if (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

// "veldra-logger (process 1234)" from the lock file's "1234 veldra-logger", or "another
// program" when it says nothing usable (its holder may not have written it yet).
std::string Holder(int fd) {
    char buffer[128] = {};
    const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
    const std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    const std::size_t space = text.find(' ');
    if (space == 0 || space == std::string::npos || text.find_first_not_of("0123456789") != space) {
        return "another program";
    }
    std::string program;
    for (std::size_t i = space + 1; i < text.size() && text[i] != '\n'; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        program += std::isprint(c) ? static_cast<char>(c) : '?';
    }
    if (program.empty()) {
        program = "another program";
    }
    return program + " (process " + text.substr(0, space) + ")";
}

std::string InUse(const std::string& folder, const std::string& holder) {
    return "The folder \"" + folder + "\" is already in use by " + holder +
           ". Only one program at a time can work in a folder: please end the other program or "
           "start this one in another folder.";
}

std::string Unusable(const std::string& folder, const std::string& path,
                     const std::string& reason) {
    return "The folder \"" + folder + "\" cannot be locked for this program: its lock file \"" +
           path + "\" cannot be used (" + reason + "). Please remove it and start again.";
}

}  // namespace

FolderLock::FolderLock() = default;
FolderLock::FolderLock(FolderLock&&) noexcept = default;
FolderLock& FolderLock::operator=(FolderLock&&) noexcept = default;
FolderLock::~FolderLock() = default;

FolderLock FolderLock::Take(const std::string& folder, std::string_view program) {
    FolderLock lock;
    const std::string path = (std::filesystem::path(folder) / kFolderLockFile).string();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        struct stat named {};
        if (::lstat(path.c_str(), &named) == 0 && S_ISLNK(named.st_mode)) {
            // Writing our line through it would empty whatever it points at.
            lock.refusal_ = Unusable(ShownFolder(folder), path, "it is a symbolic link");
            return lock;
        }
        std::string reason;
        bool writable = true;
        Fd fd = veldra::ui::OpenRegularFile(path, O_RDWR | O_CREAT | O_NOFOLLOW, 0644, reason);
        if (!fd && errno == EACCES) {
            // Left by another user: it can still be locked, only not written.
            fd = veldra::ui::OpenRegularFile(path, O_RDONLY | O_NOFOLLOW, 0, reason);
            writable = false;
        }
        if (!fd) {
            if (errno == EISDIR || errno == EINVAL || errno == ELOOP) {
                lock.refusal_ = Unusable(ShownFolder(folder), path, reason);
            }
            return lock;  // otherwise the folder holds no files of ours either
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                lock.refusal_ = InUse(ShownFolder(folder), Holder(fd.get()));
            }
            return lock;  // otherwise a file system without locks: nothing to go by
        }
        struct stat mine {};
        if (::fstat(fd.get(), &mine) != 0 || ::lstat(path.c_str(), &named) != 0 ||
            mine.st_dev != named.st_dev || mine.st_ino != named.st_ino) {
            continue;  // its holder removed it as we opened it: take the new one
        }
        if (writable) {
            const std::string line = std::to_string(::getpid()) + " " + std::string(program) + "\n";
            if (::ftruncate(fd.get(), 0) == 0) {
                [[maybe_unused]] const ssize_t n = ::pwrite(fd.get(), line.data(), line.size(), 0);
            }
        }
        lock.held_ = std::make_unique<Holding>(std::move(fd), path);
        return lock;
    }
    lock.refusal_ = InUse(ShownFolder(folder), "another program");
    return lock;
}

}  // namespace veldra::platform
