// Opening a path only when it is a regular file: the type is looked at before the open (so a
// device is never opened at all) and again on the descriptor (in case the name was replaced in
// between), and the open itself never waits for the other end of a named pipe.
#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace veldra::ui {

namespace {

const char* KindName(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFDIR:
            return "a directory";
        case S_IFIFO:
            return "a named pipe (FIFO)";
        case S_IFSOCK:
            return "a socket";
        case S_IFCHR:
            return "a character device";
        case S_IFBLK:
            return "a block device";
        default:
            return "a special file";
    }
}

// Fails with the reason for a type that is not a regular file.
Fd Refuse(mode_t mode, std::string& reason) {
    reason = NotRegularReason(mode);
    errno = S_ISDIR(mode) ? EISDIR : EINVAL;
    return Fd();
}

}  // namespace

std::string NotRegularReason(mode_t mode) {
    return std::string("it is ") + KindName(mode) + ", not a regular file";
}

std::string SystemReason(int error) {
    char buffer[256] = {};
    // The GNU strerror_r returns the message, which need not be in buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

Fd OpenRegularFile(const std::string& path, int flags, mode_t createMode, std::string& reason) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return Refuse(st.st_mode, reason);
    }
    flags &= ~O_TRUNC;
    Fd fd(::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, createMode));
    if (!fd) {
        const int error = errno;
        reason = SystemReason(error);
        errno = error;
        return fd;
    }
    if (::fstat(fd.get(), &st) != 0) {
        const int error = errno;
        reason = SystemReason(error);
        errno = error;
        return Fd();
    }
    if (!S_ISREG(st.st_mode)) {
        return Refuse(st.st_mode, reason);
    }
    // Blocking again: the flag means nothing for a regular file, but a later reader should not
    // have to wonder.
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    reason.clear();
    return fd;
}

}  // namespace veldra::ui
