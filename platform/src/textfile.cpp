// Text files for the logs over POSIX descriptors: a handle table, regular files only, whole-line
// writes that leave no torn line behind on failure, and fdatasync.
#include "platform/textfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "regular_file.h"

using veldra::ui::Fd;
using veldra::ui::OpenRegularFile;
using veldra::ui::SystemReason;

namespace {

struct OpenTextFile {
    int fd = -1;
    bool append = false;
    std::mutex mutex;  // one writer at a time per file, so a line and its rollback stay paired
    ~OpenTextFile() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

std::mutex tableMutex;
std::map<int, std::shared_ptr<OpenTextFile>> table;
int nextHandle = 1;
thread_local std::string lastOpenError;

std::shared_ptr<OpenTextFile> Lookup(int handle) {
    const std::lock_guard lock(tableMutex);
    const auto it = table.find(handle);
    return it == table.end() ? nullptr : it->second;
}

}  // namespace

int OpenFile(const std::string& path, int mode, int action, int) {
    lastOpenError.clear();
    int flags = 0;
    switch (mode) {
        case VAL_READ_WRITE:
            flags |= O_RDWR | O_CREAT;
            break;
        case VAL_READ_ONLY:
            flags |= O_RDONLY;
            break;
        case VAL_WRITE_ONLY:
            flags |= O_WRONLY | O_CREAT;
            break;
        default:
            lastOpenError = "unknown open mode";
            return -1;
    }
    const bool writable = mode != VAL_READ_ONLY;
    if (action == VAL_APPEND) {
        flags |= O_APPEND;
    } else if (action == VAL_CREATE_NEW) {
        if (!writable) {
            lastOpenError = "a new file must be opened for writing";
            return -1;
        }
        flags |= O_CREAT | O_EXCL;
    } else if (action != VAL_OPEN_AS_IS && action != VAL_TRUNCATE) {
        lastOpenError = "unknown open action";
        return -1;
    }
    // Emptied only once it is known to be a regular file: never a device given as a log path.
    Fd fd = OpenRegularFile(path, flags, 0644, lastOpenError);
    if (!fd) {
        return -1;
    }
    if (action == VAL_TRUNCATE && writable && ::ftruncate(fd.get(), 0) != 0) {
        const int error = errno;
        lastOpenError = SystemReason(error);
        errno = error;
        return -1;
    }
    auto file = std::make_shared<OpenTextFile>();
    file->fd = fd.release();
    file->append = (flags & O_APPEND) != 0;
    const std::lock_guard lock(tableMutex);
    const int handle = nextHandle++;
    table.emplace(handle, std::move(file));
    return handle;
}

std::string LastOpenFileError() {
    return lastOpenError;
}

int WriteLine(int handle, std::string_view text, int count) {
    const auto file = Lookup(handle);
    if (!file) {
        return -1;
    }
    if (count >= 0 && static_cast<std::size_t>(count) < text.size()) {
        text = text.substr(0, static_cast<std::size_t>(count));
    }
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text).push_back('\n');

    const std::lock_guard lock(file->mutex);
    // Where this line starts, to cut a partial line off again.
    off_t start = -1;
    if (file->append) {
        struct stat st {};
        if (::fstat(file->fd, &st) == 0) {
            start = st.st_size;
        }
    } else {
        start = ::lseek(file->fd, 0, SEEK_CUR);
    }
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(file->fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int saved = errno;
            if (done > 0 && start >= 0) {
                // A device that cannot be truncated (a pipe, /dev/full) has nothing to undo.
                if (::ftruncate(file->fd, start) == 0 && !file->append) {
                    ::lseek(file->fd, start, SEEK_SET);
                }
            }
            errno = saved;
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<int>(done);
}

int SyncFile(int handle) {
    const auto file = Lookup(handle);
    if (!file) {
        return -1;
    }
    const std::lock_guard lock(file->mutex);
    return ::fdatasync(file->fd) == 0 ? 0 : -1;
}

int CloseFile(int handle) {
    std::shared_ptr<OpenTextFile> file;
    {
        const std::lock_guard lock(tableMutex);
        const auto it = table.find(handle);
        if (it == table.end()) {
            return -1;
        }
        file = std::move(it->second);
        table.erase(it);
    }
    // A writer still holding it finishes first; the descriptor closes with the last reference.
    const std::lock_guard lock(file->mutex);
    const int fd = std::exchange(file->fd, -1);
    return ::close(fd) == 0 ? 0 : -1;
}
