// Log files over the platform's text files: whole lines, synced to the disk when the owner
// says; the platform's WriteLine never leaves a torn line, so what was written before stays
// readable.
#include "logging/log_file.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/textfile.h"

namespace veldra::core {

LogFile::LogFile(LogFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), path_(std::move(other.path_)) {}

LogFile& LogFile::operator=(LogFile&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

LogFile::~LogFile() {
    close();
}

LogFile LogFile::open_emptied(const std::string& path, int& error) {
    errno = 0;
    const int handle = OpenFile(path, VAL_READ_WRITE, VAL_TRUNCATE, VAL_ASCII);
    error = handle < 0 ? errno : 0;
    return handle < 0 ? LogFile{} : LogFile(handle, path);
}

LogFile LogFile::create_new(const std::string& path, int& error) {
    errno = 0;
    const int handle = OpenFile(path, VAL_READ_WRITE, VAL_CREATE_NEW, VAL_ASCII);
    error = handle < 0 ? (errno != 0 ? errno : -1) : 0;
    return handle < 0 ? LogFile{} : LogFile(handle, path);
}

int LogFile::write_line(std::string_view line) {
    errno = 0;
    if (WriteLine(handle_, line, -1) < 0) {
        return errno != 0 ? errno : -1;
    }
    return 0;
}

int LogFile::sync() {
    errno = 0;
    if (SyncFile(handle_) < 0) {
        return errno != 0 ? errno : -1;
    }
    return 0;
}

void LogFile::close() {
    if (handle_ >= 0) {
        CloseFile(std::exchange(handle_, -1));
    }
}

std::string describe_errno(int error) {
    char buf[256] = {};
    // The GNU strerror_r returns the message, which need not be in buf.
    return strerror_r(error, buf, sizeof buf);
}

}  // namespace veldra::core
