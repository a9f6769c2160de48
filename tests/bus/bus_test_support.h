// Shared fixtures for the serial, bus and simulator tests: a scratch directory, a raw
// pseudo-terminal the test drives by hand, and a simulator mapped to a COM number.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/rs232.h"
#include "platform/unique_fd.h"
#include "sim/sensor_sim.h"

namespace bus_test {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "veldra-bus-XXXXXX");
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Writes a COM map file with the given lines and makes it the one in use.
inline void use_map_file(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::trunc);
    for (const auto& l : lines) {
        out << l << '\n';
    }
    out.close();
    SetComPortMapFile(path);
}

// A pseudo-terminal whose master side the test reads and writes directly.
class RawPty {
  public:
    RawPty() {
        master_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        ::grantpt(master_.get());
        ::unlockpt(master_.get());
        char name[128] = {};
        ::ptsname_r(master_.get(), name, sizeof name);
        slave_path_ = name;
    }
    const std::string& slave_path() const { return slave_path_; }
    void write(const std::vector<std::uint8_t>& bytes) const {
        [[maybe_unused]] const auto n = ::write(master_.get(), bytes.data(), bytes.size());
    }
    // What the port has sent so far (waits a little for it to arrive).
    std::vector<std::uint8_t> read_all(int wait_ms = 2000) const {
        std::vector<std::uint8_t> result;
        pollfd p{master_.get(), POLLIN, 0};
        while (::poll(&p, 1, wait_ms) > 0 && (p.revents & POLLIN)) {
            std::uint8_t chunk[256];
            const ssize_t n = ::read(master_.get(), chunk, sizeof chunk);
            if (n <= 0) {
                break;
            }
            result.insert(result.end(), chunk, chunk + n);
            wait_ms = 100;
        }
        return result;
    }
    void hang_up() { master_.reset(); }
    // Holds the port's output off, as a line flow-controlled to a standstill would: software
    // flow control on, then the stop character. Nothing the port writes gets through.
    void hold_off() const {
        termios t{};
        ::tcgetattr(master_.get(), &t);
        t.c_iflag |= IXON;
        ::tcsetattr(master_.get(), TCSANOW, &t);
        write({0x13});
    }
    // The line settings of the slave side, read through the master: a second open of the slave
    // would be refused while the port holds it exclusively.
    termios line_settings() const {
        termios t{};
        ::tcgetattr(master_.get(), &t);
        return t;
    }

  private:
    veldra::serial::UniqueFd master_;
    std::string slave_path_;
};

// A simulator reachable as COM `port` through a map file in a scratch directory; the device is
// a stable symlink so that unplug/replug keeps the path.
class SimulatedLine {
  public:
    explicit SimulatedLine(int port, veldra::sim::Options options = {})
        : port_(port), sim_(with_link(std::move(options), dir_)) {
        use_map_file(dir_.file("comports.txt"), {std::to_string(port) + " " + sim_.device_path()});
    }
    ~SimulatedLine() {
        CloseCom(port_);
        SetComPortMapFile("comports.txt");
    }
    veldra::sim::SensorSimulator& sim() { return sim_; }
    int port() const { return port_; }

  private:
    static veldra::sim::Options with_link(veldra::sim::Options o, const TempDir& dir) {
        o.link_path = dir.file("bus-link");
        return o;
    }
    TempDir dir_;
    int port_;
    veldra::sim::SensorSimulator sim_;
};

}  // namespace bus_test
