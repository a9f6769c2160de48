// The per-port state machine behind the RS-232 operations.
#include "serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>

#include "platform/rs232.h"

namespace veldra::serial {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMinChunk = 64;
constexpr std::size_t kMaxChunk = 1 << 16;
constexpr double kMaxTimeoutSeconds = 1e6;
constexpr unsigned kPtySlaveMajorFirst = 136;  // Unix98 pseudo-terminal slaves
constexpr unsigned kPtySlaveMajorLast = 143;

bool is_hangup_errno(int err) {
    return err == EIO || err == ENXIO || err == ENODEV;
}

timespec to_timespec(Clock::duration d) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

std::size_t queue_size(int requested) {
    return std::clamp<std::size_t>(static_cast<std::size_t>(requested), kMinChunk, kMaxChunk);
}

// One program per port: two programs on one line take each other's replies. The advisory lock
// binds every program that asks (ours do, and root is not exempt); the terminal's exclusive
// mode makes the kernel refuse any other open, of any program, by users other than root.
// Called before the line settings are touched, so a refused open leaves the owner's line as it
// was. A descriptor of our own, closed before the port reopens, never stands in the way.
int claim_exclusively(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? COM_ERR_BUSY : COM_ERR_OPEN_FAILED;
    }
    ::ioctl(fd, TIOCEXCL);  // a device that cannot do it is still ours by the lock
    return 0;
}

}  // namespace

int SerialPort::open(const std::function<std::string()>& device_for, const LineSettings& settings,
                     int input_queue, int output_queue) {
    if (!settings_valid(settings) || input_queue < 0 || output_queue < 0) {
        return COM_ERR_BAD_SETTING;
    }
    Lock lock(mutex_);
    input_chunk_ = queue_size(input_queue);
    output_capacity_ = queue_size(output_queue);
    if (fd_ && !gone_) {
        if (!output_.empty() && pump_output_locked() < 0) {
            // the device went away just now: fall through to a fresh open
        } else if (settings == settings_) {
            return 0;
        } else if (apply_settings(fd_.get(), settings)) {
            settings_ = settings;
            return 0;
        } else if (!is_hangup_errno(errno)) {
            return COM_ERR_OPEN_FAILED;
        }
    }
    const std::string device = device_for();
    if (device.empty()) {
        return COM_ERR_BAD_PORT;
    }
    if (fd_) {
        retire_locked(lock);
    }
    return open_device_locked(device, settings);
}

int SerialPort::open_device_locked(const std::string& device, const LineSettings& settings) {
    UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return errno == EBUSY ? COM_ERR_BUSY : COM_ERR_OPEN_FAILED;  // EBUSY: held exclusively
    }
    if (!::isatty(fd.get())) {
        return COM_ERR_OPEN_FAILED;
    }
    if (const int r = claim_exclusively(fd.get()); r < 0) {
        return r;
    }
    if (!apply_settings(fd.get(), settings)) {
        return COM_ERR_OPEN_FAILED;
    }
    UniqueFd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake) {
        return COM_ERR_OPEN_FAILED;
    }
    // A pseudo-terminal hands bytes straight to its other side and always reports an empty
    // driver queue; asking would only cost a system call per poll.
    struct stat st {};
    has_driver_queue_ = !(::fstat(fd.get(), &st) == 0 && major(st.st_rdev) >= kPtySlaveMajorFirst &&
                          major(st.st_rdev) <= kPtySlaveMajorLast);
    fd_ = std::move(fd);
    wake_ = std::move(wake);
    settings_ = settings;
    gone_ = false;
    input_.clear();
    input_pos_ = 0;
    output_.clear();
    return 0;
}

void SerialPort::wake_readers_locked() const {
    if (wake_) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wake_.get(), &one, sizeof one);
    }
}

void SerialPort::retire_locked(Lock& lock) {
    closing_ = true;
    if (readers_ > 0) {
        wake_readers_locked();
        readers_left_.wait(lock, [this] { return readers_ == 0; });
    }
    // The exclusive mode stays with the terminal, not the descriptor: clear it, or a terminal
    // that someone else keeps open (the simulator, a modem daemon) refuses our own next open.
    ::ioctl(fd_.get(), TIOCNXCL);
    fd_.reset();  // and with the descriptor goes the lock
    wake_.reset();
    gone_ = false;
    closing_ = false;
    input_.clear();
    input_pos_ = 0;
    output_.clear();
}

int SerialPort::set_timeout(double seconds) {
    if (!(seconds >= 0.0)) {  // also refuses NaN
        return COM_ERR_BAD_SETTING;
    }
    Lock lock(mutex_);
    timeout_seconds_ = std::min(seconds, kMaxTimeoutSeconds);
    return 0;
}

int SerialPort::flush_input() {
    Lock lock(mutex_);
    if (!fd_) {
        return COM_ERR_NOT_OPEN;
    }
    input_.clear();
    input_pos_ = 0;
    if (gone_) {
        return COM_ERR_DEVICE_GONE;
    }
    if (::tcflush(fd_.get(), TCIFLUSH) == 0) {
        return 0;
    }
    if (is_hangup_errno(errno)) {
        gone_ = true;  // a pulled adapter shows here first when nobody was reading
        return COM_ERR_DEVICE_GONE;
    }
    return COM_ERR_IO;
}

int SerialPort::flush_output() {
    Lock lock(mutex_);
    if (!fd_) {
        return COM_ERR_NOT_OPEN;
    }
    output_.clear();
    if (gone_) {
        return COM_ERR_DEVICE_GONE;
    }
    if (!has_driver_queue_) {
        return 0;  // a pseudo-terminal queues nothing on our side to discard
    }
    return ::tcflush(fd_.get(), TCOFLUSH) == 0 ? 0 : COM_ERR_IO;
}

int SerialPort::pump_output_locked() {
    std::size_t written = 0;
    int result = 0;
    while (written < output_.size()) {
        const ssize_t n = ::write(fd_.get(), output_.data() + written, output_.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        if (n < 0 && !is_hangup_errno(errno)) {
            result = COM_ERR_IO;
            break;
        }
        gone_ = true;
        result = COM_ERR_DEVICE_GONE;
        break;
    }
    output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(written));
    return result;
}

int SerialPort::write_byte(std::uint8_t byte) {
    Lock lock(mutex_);
    if (!fd_) {
        return COM_ERR_NOT_OPEN;
    }
    if (gone_) {
        return COM_ERR_DEVICE_GONE;
    }
    if (output_.size() >= output_capacity_) {
        if (const int r = pump_output_locked(); r < 0) {
            return r;
        }
        if (output_.size() >= output_capacity_) {
            return COM_ERR_OUTQ_FULL;
        }
    }
    // The queue goes out as one write when the caller next waits on the port (GetOutQLen,
    // ComRdByte, CloseCom) or when it fills: a frame written byte by byte costs one system
    // call instead of one per byte, and the far end sees it whole.
    output_.push_back(byte);
    return 1;
}

int SerialPort::output_length() {
    Lock lock(mutex_);
    if (!fd_) {
        return COM_ERR_NOT_OPEN;
    }
    if (aborted_) {
        return COM_ERR_ABORTED;  // a stop must not wait for a line that cannot drain
    }
    if (gone_) {
        return COM_ERR_DEVICE_GONE;
    }
    if (const int r = pump_output_locked(); r < 0) {
        return r;
    }
    int in_driver = 0;
    if (has_driver_queue_ && (::ioctl(fd_.get(), TIOCOUTQ, &in_driver) != 0 || in_driver < 0)) {
        in_driver = 0;  // not every device can tell
    }
    return static_cast<int>(output_.size()) + in_driver;
}

// Moves whatever the device has into input_. Returns the bytes read, 0 when there were none,
// or a negative code.
int SerialPort::fill_input_locked() {
    if (input_pos_ >= input_.size()) {
        input_.clear();
        input_pos_ = 0;
    }
    const std::size_t old = input_.size();
    input_.resize(old + input_chunk_);
    ssize_t n;
    do {
        n = ::read(fd_.get(), input_.data() + old, input_chunk_);
    } while (n < 0 && errno == EINTR);
    const int err = errno;
    input_.resize(old + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n > 0) {
        return static_cast<int>(n);
    }
    if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK)) {
        return 0;
    }
    if (n == 0 || is_hangup_errno(err)) {
        gone_ = true;
        return COM_ERR_DEVICE_GONE;
    }
    return COM_ERR_IO;
}

int SerialPort::read_byte() {
    Lock lock(mutex_);
    if (!fd_) {
        return COM_ERR_NOT_OPEN;
    }
    if (aborted_ || closing_) {
        return COM_ERR_ABORTED;
    }
    if (input_pos_ < input_.size()) {
        return input_[input_pos_++];
    }
    if (gone_) {
        return COM_ERR_DEVICE_GONE;
    }
    if (!output_.empty()) {  // a request still queued must go out before its reply can come
        if (const int r = pump_output_locked(); r < 0) {
            return r;
        }
    }
    const auto timeout = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(timeout_seconds_));
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto remaining = std::max(deadline - Clock::now(), Clock::duration::zero());
        const timespec ts = to_timespec(remaining);
        pollfd fds[2] = {{fd_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        ++readers_;
        lock.unlock();
        const int polled = ::ppoll(fds, 2, &ts, nullptr);
        const int poll_errno = errno;
        lock.lock();
        if (--readers_ == 0) {
            readers_left_.notify_all();
        }
        if (aborted_ || closing_) {
            return COM_ERR_ABORTED;
        }
        if (polled < 0) {
            if (poll_errno == EINTR) {
                continue;
            }
            return COM_ERR_IO;
        }
        if (polled == 0) {
            return COM_ERR_TIMEOUT;
        }
        if (fds[0].revents & POLLIN) {
            const int got = fill_input_locked();
            if (got < 0) {
                return got;
            }
            if (input_pos_ < input_.size()) {
                return input_[input_pos_++];
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            gone_ = true;
            return COM_ERR_DEVICE_GONE;
        }
        if (Clock::now() >= deadline) {
            return COM_ERR_TIMEOUT;
        }
    }
}

int SerialPort::close() {
    Lock lock(mutex_);
    aborted_ = false;
    if (!fd_) {
        return COM_ERR_NOT_OPEN;
    }
    if (!gone_ && !output_.empty()) {
        pump_output_locked();  // best effort; never waits for a stuck line
    }
    retire_locked(lock);
    return 0;
}

int SerialPort::abort_wait() {
    Lock lock(mutex_);
    aborted_ = true;
    wake_readers_locked();
    return 0;
}

}  // namespace veldra::serial
