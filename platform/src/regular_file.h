// Opening the files that must be regular files: logs, settings and configuration files, the
// panel file, the folder's lock file. A named pipe, socket, device or directory under such a
// name is refused with a reason, without blocking and without a byte read or written.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace veldra::ui {

// An owned descriptor, closed when it goes out of scope.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// "it is a named pipe (FIFO), not a regular file", and so on for the kind that `mode` names.
std::string NotRegularReason(mode_t mode);

// The system's text for an errno value ("Permission denied").
std::string SystemReason(int error);

// Opens `path` with `flags` (O_CREAT creates a missing file with `createMode`; O_TRUNC is
// ignored: truncate only what this returns) and makes sure it is a regular file. The type is
// checked before the open and again on the descriptor, and the open does not wait, so a named
// pipe never blocks and a device is never opened for writing. On failure the Fd is empty,
// errno is set and `reason` says why (NotRegularReason or SystemReason).
Fd OpenRegularFile(const std::string& path, int flags, mode_t createMode, std::string& reason);

}  // namespace veldra::ui
