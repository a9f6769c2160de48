// 1,000 bus transactions (send + receive) over a pseudo-terminal against the simulated sensor
// bus without line pacing: our time per transaction, median and p99, wall clock and CPU; then
// the same exchange by a plain Python script with python3-serial against the same simulator,
// and the ratio.
//
//   bench_bus_transactions [count] [--ours-only]
//   (count 1000 by default; the comparison needs /usr/bin/python3 with python3-serial)
#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bus/bus.h"
#include "platform/rs232.h"
#include "sim/sensor_sim.h"

namespace {

constexpr int kPort = 250;
constexpr std::uint32_t kSensor = 0x0A1B2C;
constexpr const char* kCommands[] = {"GetCounts!", "GetPermittivity!", "GetWaterContent!",
                                     "GetTemperature!"};

double thread_cpu_us() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

struct Figures {
    double median_us = 0, p99_us = 0, cpu_median_us = 0;
    int failures = 0;
};

Figures run_ours(int count) {
    std::vector<char> reply(10000);
    const auto one = [&](int i) {
        if (send_n_bus_message(kPort, 9600, 0, kSensor, kCommands[i % 4]) != 0) {
            return -1;
        }
        return receive_n_bus_message(kPort, 9600, reply);
    };
    for (int i = 0; i < 50; ++i) {
        one(i);
    }
    std::vector<double> wall;
    std::vector<double> cpu;
    Figures f;
    for (int i = 0; i < count; ++i) {
        const double c0 = thread_cpu_us();
        const auto w0 = std::chrono::steady_clock::now();
        if (one(i) <= 0) {
            ++f.failures;
        }
        wall.push_back(std::chrono::duration<double, std::micro>(
                           std::chrono::steady_clock::now() - w0)
                           .count());
        cpu.push_back(thread_cpu_us() - c0);
    }
    f.median_us = percentile(wall, 0.5);
    f.p99_us = percentile(wall, 0.99);
    f.cpu_median_us = percentile(cpu, 0.5);
    return f;
}

// Runs the Python script and picks the numbers out of its one line of JSON.
bool run_python(const std::string& device, int count, Figures& f) {
    const std::string script =
        (std::filesystem::path(BENCH_SOURCE_DIR) / "pyserial_exchange.py").string();
    const std::string command =
        "/usr/bin/python3 " + script + " " + device + " " + std::to_string(count) + " 0a1b2c";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) {
        return false;
    }
    std::array<char, 512> line{};
    if (std::fgets(line.data(), line.size(), pipe.get()) == nullptr) {
        return false;
    }
    return std::sscanf(line.data(),
                       "{\"median_us\": %lf, \"p99_us\": %lf, \"cpu_median_us\": %lf, "
                       "\"failures\": %d}",
                       &f.median_us, &f.p99_us, &f.cpu_median_us, &f.failures) == 4;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const bool ours_only = argc > 2 && std::string(argv[2]) == "--ours-only";
    veldra::sim::SensorSimulator sim({.sensors = {kSensor}});
    const auto map = std::filesystem::temp_directory_path() /
                     ("veldra-bench-comports-" + std::to_string(::getpid()) + ".txt");
    std::ofstream(map) << kPort << ' ' << sim.device_path() << '\n';
    SetComPortMapFile(map.string());

    const Figures ours = run_ours(count);
    CloseCom(kPort);
    Figures python;
    const bool have_python = !ours_only && run_python(sim.device_path(), count, python);
    std::filesystem::remove(map);

    std::printf("%d transactions over a pseudo-terminal, simulator without line pacing\n", count);
    std::printf("%-24s %12s %12s %14s %9s\n", "", "median (us)", "p99 (us)", "CPU med (us)",
                "failures");
    std::printf("%-24s %12.1f %12.1f %14.1f %9d\n", "send+receive (C++)", ours.median_us,
                ours.p99_us, ours.cpu_median_us, ours.failures);
    if (ours_only) {
        return ours.failures == 0 ? 0 : 1;
    }
    if (!have_python) {
        std::printf("python3-serial script: could not run /usr/bin/python3 with serial\n");
        return 1;
    }
    std::printf("%-24s %12.1f %12.1f %14.1f %9d\n", "python3-serial script", python.median_us,
                python.p99_us, python.cpu_median_us, python.failures);
    std::printf("ratio (python / ours): median %.1fx, p99 %.1fx, CPU %.1fx\n",
                python.median_us / ours.median_us, python.p99_us / ours.p99_us,
                python.cpu_median_us / ours.cpu_median_us);
    return ours.failures == 0 && python.failures == 0 ? 0 : 1;
}
