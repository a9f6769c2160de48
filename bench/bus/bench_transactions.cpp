// Bus transactions (send + receive) over a pseudo-terminal against the simulated sensor bus
// without line pacing: our time per transaction, median and p99, wall clock and thread CPU;
// and the same exchange by a plain Python script with python3-serial against the same
// simulator, with the ratio. The sides take turns in rounds, so that a load that comes and
// goes on the machine falls on all alike.
//
// A third row is the floor: the four system calls an exchange cannot do without (drop stale
// input, write the request, wait, read the reply) issued bare, with no code of ours around
// them. What ours costs beyond that row is our software's own share of a transaction; the rest
// belongs to the kernel's pseudo-terminal and the simulator, and every side pays it alike.
// Each side leaves 25 ms untimed before every exchange: the quiet line our send waits for.
//
//   bench_bus_transactions [count] [--ours-only]
//   (count 1000 by default; the comparison needs /usr/bin/python3 with python3-serial)
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bus/bus.h"
#include "platform/rs232.h"
#include "platform/unique_fd.h"
#include "sim/sensor_sim.h"

namespace {

constexpr int kPort = 250;
constexpr int kRounds = 5;
constexpr std::uint32_t kSensor = 0x0A1B2C;
using veldra::bus::kBaud;
using veldra::bus::kCommands;

double thread_cpu_us() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

struct Samples {
    std::vector<double> wall_us, cpu_us;
    int failures = 0;
    double median() const { return percentile(wall_us, 0.5); }
    double p99() const { return percentile(wall_us, 0.99); }
    double cpu_median() const { return percentile(cpu_us, 0.5); }
};

// Warms up, then times `count` exchanges; `one(i)` does exchange i and tells whether it worked;
// `between()` runs untimed before each.
// Before a request our send waits for the line to have been quiet for 20 ms (the gap that ends
// a frame); in a cycle the pauses between queries give it. So every side leaves that gap
// between its exchanges, untimed: ours then finds the line quiet, and every side comes to each
// exchange after the same idle time.
constexpr int kGapMs = 25;
void leave_gap() {
    std::this_thread::sleep_for(std::chrono::milliseconds(kGapMs));
}

template <typename Exchange, typename Between>
void measure(int count, Samples& s, Exchange one, Between between) {
    for (int i = 0; i < 20; ++i) {
        between();
        one(i);
    }
    for (int i = 0; i < count; ++i) {
        between();
        const double c0 = thread_cpu_us();
        const auto w0 = std::chrono::steady_clock::now();
        const bool ok = one(i);
        const auto w1 = std::chrono::steady_clock::now();
        s.cpu_us.push_back(thread_cpu_us() - c0);
        s.wall_us.push_back(std::chrono::duration<double, std::micro>(w1 - w0).count());
        s.failures += ok ? 0 : 1;
    }
}

void run_ours(int count, Samples& s) {
    std::vector<char> reply(veldra::bus::kReplyBufferSize);
    const auto one = [&](int i) {
        if (send_n_bus_message(kPort, kBaud, 0, kSensor, kCommands[i % 4].data()) != 0) {
            return -1;
        }
        return receive_n_bus_message(kPort, kBaud, reply);
    };
    measure(
        count, s, [&](int i) { return one(i) > 0; }, leave_gap);
    CloseCom(kPort);  // the Python side opens the same device next
}

bool run_python(const std::string& device, int count, Samples& s) {
    const std::string script =
        (std::filesystem::path(BENCH_SOURCE_DIR) / "pyserial_exchange.py").string();
    const std::string command = "/usr/bin/python3 " + script + " " + device + " " +
                                std::to_string(count) + " 0a1b2c " + std::to_string(kGapMs);
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) {
        return false;
    }
    int read = 0;
    double wall = 0;
    double cpu = 0;
    int result = 0;
    while (std::fscanf(pipe.get(), "%lf %lf %d", &wall, &cpu, &result) == 3) {
        s.wall_us.push_back(wall);
        s.cpu_us.push_back(cpu);
        s.failures += result <= 0 ? 1 : 0;
        ++read;
    }
    return read == count;
}

// The floor: request bytes prepared beforehand, then only tcflush, write, ppoll and read
// until the whole reply frame is in.
void run_bare(const std::string& device, int count, Samples& s) {
    const veldra::serial::UniqueFd port(
        ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!port) {
        s.failures += count;
        return;
    }
    const int fd = port.get();
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
    std::array<std::vector<std::uint8_t>, 4> requests;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        requests[i] = build_request_frame(0, kSensor, kCommands[i]);
    }
    std::array<std::uint8_t, veldra::bus::kReplyBufferSize> reply{};
    const auto one = [&](int i) {
        const auto& request = requests[static_cast<std::size_t>(i % 4)];
        ::tcflush(fd, TCIFLUSH);
        if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
            return false;
        }
        std::size_t got = 0;
        std::size_t want = 11;  // the header, then the length it gives
        while (got < want) {
            pollfd p{fd, POLLIN, 0};
            const timespec two_seconds{2, 0};
            if (::ppoll(&p, 1, &two_seconds, nullptr) != 1) {
                return false;
            }
            const ssize_t n = ::read(fd, reply.data() + got, reply.size() - got);
            if (n <= 0) {
                return false;
            }
            got += static_cast<std::size_t>(n);
            if (got >= 11) {
                want = 11 + (static_cast<std::size_t>(reply[9]) << 8) + reply[10] + 2;
            }
        }
        return true;
    };
    measure(count, s, one, leave_gap);
}

void print_row(const char* name, const Samples& s) {
    std::printf("%-24s %12.1f %12.1f %14.1f %9d\n", name, s.median(), s.p99(), s.cpu_median(),
                s.failures);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(kRounds, std::atoi(argv[1])) : 1000;
    const bool ours_only = argc > 2 && std::string(argv[2]) == "--ours-only";
    veldra::sim::SensorSimulator sim({.sensors = {kSensor}});
    const auto map = std::filesystem::temp_directory_path() /
                     ("veldra-bench-comports-" + std::to_string(::getpid()) + ".txt");
    std::ofstream(map) << kPort << ' ' << sim.device_path() << '\n';
    SetComPortMapFile(map.string());

    Samples ours;
    Samples bare;
    Samples python;
    bool have_python = !ours_only;
    for (int round = 0; round < kRounds; ++round) {
        const int n = count / kRounds + (round < count % kRounds ? 1 : 0);
        run_ours(n, ours);
        run_bare(sim.device_path(), n, bare);
        if (have_python) {
            have_python = run_python(sim.device_path(), n, python);
        }
    }
    std::filesystem::remove(map);

    std::printf("%d transactions over a pseudo-terminal, simulator without line pacing\n", count);
    std::printf("%-24s %12s %12s %14s %9s\n", "", "median (us)", "p99 (us)", "CPU med (us)",
                "failures");
    print_row("send+receive (C++)", ours);
    print_row("floor: bare syscalls", bare);
    if (ours_only) {
        return ours.failures == 0 ? 0 : 1;
    }
    if (!have_python) {
        std::printf("python3-serial script: could not run /usr/bin/python3 with serial\n");
        return 1;
    }
    print_row("python3-serial script", python);
    std::printf("ratio (python / ours): median %.1fx, p99 %.1fx, CPU %.1fx\n",
                python.median() / ours.median(), python.p99() / ours.p99(),
                python.cpu_median() / ours.cpu_median());
    std::printf("ratio at best, ours at the floor (python / floor): median %.1fx, CPU %.1fx\n",
                python.median() / bare.median(), python.cpu_median() / bare.cpu_median());
    std::printf("beyond the floor (us): ours median %.1f, CPU %.1f; python median %.1f, CPU %.1f\n",
                ours.median() - bare.median(), ours.cpu_median() - bare.cpu_median(),
                python.median() - bare.median(), python.cpu_median() - bare.cpu_median());
    return ours.failures == 0 && python.failures == 0 && bare.failures == 0 ? 0 : 1;
}
