// Raw-mode line settings over POSIX termios.
#include "termios_config.h"

#include <utility>

namespace veldra::serial {

std::optional<speed_t> baud_constant(int baud) {
    static constexpr std::pair<int, speed_t> kRates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& [rate, constant] : kRates) {
        if (rate == baud) {
            return constant;
        }
    }
    return std::nullopt;
}

bool settings_valid(const LineSettings& s) {
    return baud_constant(s.baud).has_value() && s.parity >= 0 && s.parity <= 4 &&
           s.data_bits >= 5 && s.data_bits <= 8 && (s.stop_bits == 1 || s.stop_bits == 2);
}

bool apply_settings(int fd, const LineSettings& s) {
    termios t{};
    if (!settings_valid(s) || ::tcgetattr(fd, &t) != 0) {
        return false;
    }
    ::cfmakeraw(&t);
    const speed_t speed = *baud_constant(s.baud);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);

    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[s.data_bits - 5];
    if (s.stop_bits == 2) {
        t.c_cflag |= CSTOPB;
    }
    switch (s.parity) {
        case 1:
            t.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            t.c_cflag |= PARENB;
            break;
        case 3:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // The port waits in poll(), where a stop can reach it, and reads without blocking
    // (O_NONBLOCK). VMIN 1 makes a read that finds nothing say EAGAIN; with VMIN 0 it would
    // return 0, which could not be told from a hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace veldra::serial
