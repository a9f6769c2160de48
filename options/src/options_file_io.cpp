// POSIX file access for options.json.
#include "options_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

namespace veldra::options::detail {

namespace {

constexpr off_t kMaxOptionsBytes = 1 << 20;  // a settings document, not a data file

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

std::string reason(int error) {
    char buf[256] = {};
    return strerror_r(error, buf, sizeof buf);
}

std::string kind_of(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    return "not a regular file";
}

bool write_all(int fd, const std::string& data) {
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

ReadOutcome read_regular_file(const std::string& path, std::string& contents) {
    // Non-blocking, so that a FIFO under the name cannot hang the open; checked before reading.
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            return {true, {}};
        }
        return {false, reason(errno)};
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return {false, reason(errno)};
    }
    if (!S_ISREG(st.st_mode)) {
        return {false, "is " + kind_of(st.st_mode) + ", not a regular file"};
    }
    if (st.st_size > kMaxOptionsBytes) {
        return {false,
                "is too large for an options file (" + std::to_string(st.st_size) + " bytes)"};
    }
    contents.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {false, reason(errno)};
        }
        if (n == 0) {
            return {};
        }
        contents.append(buffer, static_cast<std::size_t>(n));
        if (contents.size() > static_cast<std::size_t>(kMaxOptionsBytes)) {
            return {false, "is too large for an options file"};
        }
    }
}

std::string write_file_atomically(const std::string& path, const std::string& contents,
                                  unsigned mode) {
    const std::filesystem::path target(path);
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) {
        dir = ".";
    }
    std::random_device random;
    const std::string temporary =
        (dir / ("." + target.filename().string() + ".tmp" + std::to_string(random()))).string();
    {
        Fd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            return reason(errno);
        }
        // The exact mode, whatever the umask: never wider than asked for.
        const bool ok = ::fchmod(fd.get(), static_cast<mode_t>(mode)) == 0 &&
                        write_all(fd.get(), contents) && ::fsync(fd.get()) == 0;
        const int error = errno;
        if (!ok || ::close(fd.release()) != 0) {
            ::unlink(temporary.c_str());
            return reason(ok ? errno : error);
        }
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return reason(error);
    }
    Fd dir_fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir_fd.get() >= 0) {
        ::fsync(dir_fd.get());
    }
    return {};
}

}  // namespace veldra::options::detail
