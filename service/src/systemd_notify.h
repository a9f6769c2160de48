// Telling systemd how the service is doing (Type=notify): READY once it runs, a STATUS text,
// watchdog pings and STOPPING. Without NOTIFY_SOCKET (started by hand, in a test) every call
// does nothing.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace veldra::service {

class SystemdNotify {
  public:
    SystemdNotify();

    void ready(std::string_view status);
    void status(std::string_view status);
    void watchdog();
    void stopping(std::string_view status);

    // How often systemd expects a ping (WatchdogSec), when it expects any.
    std::optional<std::chrono::microseconds> watchdog_interval() const { return watchdog_; }

  private:
    void send(std::string_view state);
    std::optional<std::chrono::microseconds> watchdog_;
};

}  // namespace veldra::service
