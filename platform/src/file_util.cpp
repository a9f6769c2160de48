// Whole-file read and atomic replace over POSIX calls, so that a crash never leaves half a file.
#include "file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>

#include "regular_file.h"

namespace veldra::ui {

namespace {

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string& contents, std::string& reason) {
    Fd fd = OpenRegularFile(path, O_RDONLY, 0, reason);
    if (!fd) {
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Unreadable;
    }
    contents.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            reason = SystemReason(errno);
            return ReadResult::Unreadable;
        }
        if (n == 0) {
            return ReadResult::Read;
        }
        contents.append(buffer, static_cast<std::size_t>(n));
    }
}

bool WriteFileAtomically(const std::string& path, const std::string& contents) {
    const std::filesystem::path target(path);
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) {
        dir = ".";
    }
    std::random_device random;
    const std::string temporary =
        (dir / ("." + target.filename().string() + ".tmp" + std::to_string(random()))).string();
    {
        Fd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (!fd) {
            return false;
        }
        const bool ok =
            WriteAll(fd.get(), contents) && ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0;
        if (!ok) {
            ::unlink(temporary.c_str());
            return false;
        }
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename is only durable once the directory entry is on disk too.
    Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd) {
        ::fsync(dirFd.get());
    }
    return true;
}

}  // namespace veldra::ui
