// sd_notify from libsystemd.
#include "systemd_notify.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <string>

namespace veldra::service {

SystemdNotify::SystemdNotify() {
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        watchdog_ = std::chrono::microseconds(usec);
    }
}

void SystemdNotify::send(std::string_view state) {
    const std::string text(state);
    sd_notify(0, text.c_str());  // a failure only means nobody listens
}

void SystemdNotify::ready(std::string_view status) {
    send("READY=1\nSTATUS=" + std::string(status));
}

void SystemdNotify::status(std::string_view status) {
    send("STATUS=" + std::string(status));
}

void SystemdNotify::watchdog() {
    send("WATCHDOG=1");
}

void SystemdNotify::stopping(std::string_view status) {
    send("STOPPING=1\nSTATUS=" + std::string(status));
}

}  // namespace veldra::service
