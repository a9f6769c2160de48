// What a silent and a late sensor cost a measurement cycle, in real time: five sensors on the
// simulated line at true 9600-baud pacing, in the order good, silent, good, late, good, each
// asked its four quantities with 0.1 s pauses between the queries of a sensor and none between
// sensors, cycle after cycle at once (as when cycles overrun their interval). The silent
// sensor never answers; the late one answers every request 2.3 to 2.6 s after it, past the
// 2.0 s time-out. Per cycle and per sensor: seconds taken against the protocol's cost (the
// pauses, every byte on the line, and the time-out for each query that gets no answer in
// time), and whether any cell took a value that was not its own sensor's answer in time.
//
//   bench_bus_late_and_silent [cycles]     (4 by default; about 20 s each)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bus/bus.h"
#include "platform/rs232.h"
#include "sim/sensor_sim.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace veldra::bus;

constexpr int kPort = 249;
constexpr auto kPause = 100ms;

struct Sensor {
    const char* role;
    std::uint32_t address;
};
constexpr Sensor kSensors[] = {
    {"good", 0x100001}, {"silent", 0x5111E7}, {"good", 0x100002},
    {"late", 0x1A7E00}, {"good", 0x100003},
};
constexpr std::size_t kSensorCount = std::size(kSensors);

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// One query's outcome as the measurement cycle would show it.
struct Cell {
    int result = 0;
    std::string text;
};

struct CycleFigures {
    double seconds = 0;
    std::vector<double> sensor_seconds = std::vector<double>(kSensorCount);
    std::vector<Cell> cells;
};

CycleFigures run_cycle() {
    CycleFigures f;
    std::vector<char> reply(kReplyBufferSize);
    const Clock::time_point cycle_start = Clock::now();
    for (std::size_t i = 0; i < kSensorCount; ++i) {
        const Clock::time_point sensor_start = Clock::now();
        for (std::size_t q = 0; q < kCommands.size(); ++q) {
            if (q > 0) {
                std::this_thread::sleep_for(kPause);
            }
            Cell cell;
            cell.result = send_n_bus_message(kPort, kBaud, kRequestHeader,
                                             static_cast<int>(kSensors[i].address),
                                             std::string(kCommands[q]).c_str());
            if (cell.result == BUS_OK) {
                cell.result = receive_n_bus_message(kPort, kBaud, reply);
                if (cell.result > 0) {
                    cell.text = reply.data();
                }
            } else {
                cell.result = -1000 + cell.result;  // could not be sent
            }
            f.cells.push_back(cell);
        }
        f.sensor_seconds[i] = seconds(Clock::now() - sensor_start);
    }
    f.seconds = seconds(Clock::now() - cycle_start);
    return f;
}

// The protocol's cost of one sensor's four queries: its pauses, the request and reply bytes of
// each query on the line, and the whole time-out for a query that gets no answer in time.
double protocol_cost(const std::vector<veldra::sim::Exchange>& exchanges) {
    double cost = 0.3;
    for (const auto& e : exchanges) {
        if (e.valid_reply) {
            cost +=
                static_cast<double>(e.request.size() + e.reply.size()) * character_seconds(kBaud);
        } else {
            cost += static_cast<double>(e.request.size()) * character_seconds(kBaud) +
                    kReplyTimeoutSeconds;
        }
    }
    return cost;
}

}  // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::max(2, std::atoi(argv[1])) : 4;

    veldra::sim::Options options;
    options.baud_emulation = true;
    options.baud = kBaud;
    for (const Sensor& s : kSensors) {
        if (std::string(s.role) != "silent") {
            options.sensors.push_back(s.address);
        }
        if (std::string(s.role) == "late") {
            options.habits[s.address] = {.late_min = 2300ms, .late_max = 2600ms};
        }
    }
    veldra::sim::SensorSimulator sim(options);
    const auto map = std::filesystem::temp_directory_path() /
                     ("veldra-bench-late-" + std::to_string(::getpid()) + ".txt");
    std::ofstream(map) << kPort << ' ' << sim.device_path() << '\n';
    SetComPortMapFile(map.string());

    std::printf(
        "%zu sensors (good, silent, good, late 2.3-2.6 s, good) at 9600 baud, 2.0 s "
        "time-out, 0.1 s pauses, %d cycles back to back\n\n",
        kSensorCount, cycles);
    std::printf("%-6s %10s %10s %8s   %s\n", "cycle", "took (s)", "protocol", "excess",
                "per sensor: took / protocol (s)");
    int wrong_values = 0;
    int late_values = 0;
    double steady_sum = 0;
    double steady_protocol = 0;
    std::vector<double> steady_sensor(kSensorCount);
    std::vector<double> steady_sensor_protocol(kSensorCount);
    for (int c = 0; c < cycles; ++c) {
        sim.clear_exchanges();
        const CycleFigures f = run_cycle();
        const auto exchanges = sim.exchanges();
        if (exchanges.size() != f.cells.size()) {
            std::fprintf(stderr, "cycle %d: %zu requests on the line, %zu queries\n", c + 1,
                         exchanges.size(), f.cells.size());
            return 1;
        }
        double protocol = 0;
        std::string per_sensor;
        for (std::size_t i = 0; i < kSensorCount; ++i) {
            const std::vector<veldra::sim::Exchange> own(exchanges.begin() + 4 * i,
                                                         exchanges.begin() + 4 * i + 4);
            const double cost = protocol_cost(own);
            protocol += cost;
            char text[64];
            std::snprintf(text, sizeof text, "  %s %.2f/%.2f", kSensors[i].role,
                          f.sensor_seconds[i], cost);
            per_sensor += text;
            if (c > 0) {
                steady_sensor[i] += f.sensor_seconds[i];
                steady_sensor_protocol[i] += cost;
            }
        }
        for (std::size_t k = 0; k < f.cells.size(); ++k) {
            if (f.cells[k].result > 0) {
                const bool own =
                    exchanges[k].valid_reply && f.cells[k].text == exchanges[k].reply_text;
                wrong_values += own ? 0 : 1;
                late_values += exchanges[k].late_by.count() > 0 ? 1 : 0;
            }
        }
        if (c > 0) {
            steady_sum += f.seconds;
            steady_protocol += protocol;
        }
        std::printf("%-6d %10.2f %10.2f %8.2f %s\n", c + 1, f.seconds, protocol,
                    f.seconds - protocol, per_sensor.c_str());
    }
    CloseCom(kPort);
    std::filesystem::remove(map);

    const double n = cycles - 1;
    std::printf("\ncycles 2..%d, mean: %.2f s per cycle against the protocol's %.2f s (%+.2f s)\n",
                cycles, steady_sum / n, steady_protocol / n, (steady_sum - steady_protocol) / n);
    for (std::size_t i = 0; i < kSensorCount; ++i) {
        std::printf("  %-6s %06x: %.2f s against %.2f s (%+.2f s)\n", kSensors[i].role,
                    kSensors[i].address, steady_sensor[i] / n, steady_sensor_protocol[i] / n,
                    (steady_sensor[i] - steady_sensor_protocol[i]) / n);
    }
    std::printf(
        "cells with a value not their own sensor's answer in time: %d (late answers "
        "among them: %d)\n",
        wrong_values, late_values);
    return wrong_values == 0 ? 0 : 1;
}
