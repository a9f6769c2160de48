// One serial port: its descriptor, line settings, time-out, input buffer and output queue,
// shared safely between threads. A waiting read polls the device together with a wake-up
// eventfd, so a stop (abort_wait) or close never waits for the time-out, and the descriptor
// is closed only once no thread is polling it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "termios_config.h"

namespace veldra::serial {

class SerialPort {
  public:
    // Reconfigures the port when it is open and its device not known to be gone; otherwise
    // (never opened, or the device went away) opens the device that `device_for` names,
    // afresh. A hang-up shows in the next read, write or input flush.
    int open(const std::function<std::string()>& device_for, const LineSettings& settings,
             int input_queue, int output_queue);
    int set_timeout(double seconds);
    int flush_input();
    int flush_output();
    int write_byte(std::uint8_t byte);
    int output_length();
    int read_byte();
    int close();
    int abort_wait();

  private:
    using Lock = std::unique_lock<std::mutex>;

    int open_device_locked(const std::string& device, const LineSettings& settings);
    void retire_locked(Lock& lock);  // wakes readers, waits for them to leave, closes
    int pump_output_locked();
    int fill_input_locked();
    void wake_readers_locked() const;

    std::mutex mutex_;
    std::condition_variable readers_left_;

    UniqueFd fd_;
    UniqueFd wake_;  // eventfd; readable when waiting readers must leave
    LineSettings settings_;
    double timeout_seconds_ = 10.0;
    bool has_driver_queue_ = true;  // false for pseudo-terminals: nothing waits in the driver
    bool gone_ = false;             // the device hung up; only open() or close() clear it
    bool aborted_ = false;          // latched by abort_wait() until close()
    bool closing_ = false;
    int readers_ = 0;  // threads waiting in poll() on fd_

    std::vector<std::uint8_t> input_;  // read from the device, not yet handed out
    std::size_t input_pos_ = 0;
    std::size_t input_chunk_ = 4096;
    std::vector<std::uint8_t> output_;  // queued, not yet accepted by the device
    std::size_t output_capacity_ = 4096;
};

}  // namespace veldra::serial
