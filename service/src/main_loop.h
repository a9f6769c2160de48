// The main thread's waiting: for a stop signal (SIGTERM, SIGINT, SIGHUP), for the wake-up of
// an observer, or for a time, while sending systemd its watchdog pings on time. The stop
// signals are blocked in every thread (the constructor runs before any thread is started) and
// read from a signalfd, so a signal never interrupts a write or lands on the timer's thread.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/unique_fd.h"
#include "systemd_notify.h"

namespace veldra::service {

class MainLoop {
  public:
    explicit MainLoop(SystemdNotify& notify);
    MainLoop(const MainLoop&) = delete;
    MainLoop& operator=(const MainLoop&) = delete;

    // Empty when the signals and the wake-up are in place, else why not.
    const std::string& failure() const { return failure_; }
    // For eventfd writes from other threads.
    int wake_fd() const { return wake_.get(); }

    enum class Woken { Signal, Wake, Time };
    struct Result {
        Woken why = Woken::Time;
        std::string signal;  // "SIGTERM"
    };
    // Waits up to `timeout` (or for ever when negative). The watchdog is pinged whenever it is
    // due and `healthy` says so.
    Result wait(std::chrono::milliseconds timeout, const std::function<bool()>& healthy);

  private:
    void ping_if_due(const std::function<bool()>& healthy);

    SystemdNotify& notify_;
    serial::UniqueFd signals_;
    serial::UniqueFd wake_;
    std::string failure_;
    std::chrono::steady_clock::time_point next_ping_;
};

}  // namespace veldra::service
