// Signals through a signalfd, wake-ups through an eventfd, and the watchdog's timing.
#include "main_loop.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace veldra::service {
namespace {

using Steady = std::chrono::steady_clock;

std::string signal_name(std::uint32_t number) {
    switch (number) {
        case SIGTERM:
            return "SIGTERM";
        case SIGINT:
            return "SIGINT";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "signal " + std::to_string(number);
    }
}

}  // namespace

MainLoop::MainLoop(SystemdNotify& notify) : notify_(notify), next_ping_(Steady::now()) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        failure_ = "the stop signals cannot be blocked";
        return;
    }
    signals_.reset(signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    wake_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!signals_ || !wake_) {
        failure_ = std::string("no signal or wake-up descriptor: ") + std::strerror(errno);
    }
}

void MainLoop::ping_if_due(const std::function<bool()>& healthy) {
    const auto interval = notify_.watchdog_interval();
    if (!interval || Steady::now() < next_ping_) {
        return;
    }
    if (healthy()) {
        notify_.watchdog();
    }
    // Twice per watchdog period, so that one late wake-up never lets the period run out.
    next_ping_ = Steady::now() + *interval / 2;
}

MainLoop::Result MainLoop::wait(std::chrono::milliseconds timeout,
                                const std::function<bool()>& healthy) {
    const bool forever = timeout.count() < 0;
    const Steady::time_point deadline =
        Steady::now() + (forever ? std::chrono::milliseconds(0) : timeout);
    for (;;) {
        ping_if_due(healthy);
        const Steady::time_point now = Steady::now();
        if (!forever && now >= deadline) {
            return {Woken::Time, {}};
        }
        Steady::time_point until = forever ? Steady::time_point::max() : deadline;
        if (notify_.watchdog_interval()) {
            until = std::min(until, next_ping_);
        }
        int wait_ms = -1;
        if (until != Steady::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
            wait_ms = static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000));
        }
        pollfd fds[2] = {{signals_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, wait_ms);
        if (ready < 0 && errno != EINTR) {
            return {Woken::Time, {}};
        }
        if (ready <= 0) {
            continue;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            if (::read(signals_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                return {Woken::Signal, signal_name(info.ssi_signo)};
            }
        }
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wake_.get(), &count, sizeof count);
            return {Woken::Wake, {}};
        }
    }
}

}  // namespace veldra::service
