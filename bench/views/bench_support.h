// What the plot benchmarks share: the week of records they draw, a percentile, resident memory.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "logging/cycle_record.h"
#include "resident_memory.h"

namespace bench_views {

struct Workload {
    int sensors = 10;
    int days = 7;
    int interval_seconds = 3;
    int cycles() const { return days * 86400 / interval_seconds; }
};

// 2026-03-01 00:00 UTC.
inline const std::chrono::system_clock::time_point kStart =
    std::chrono::system_clock::from_time_t(1772323200);

// Cycle i of the workload: smooth daily waves with noise, a failed query now and then.
inline veldra::core::CycleRecord MakeCycle(const Workload& w, int i) {
    veldra::core::CycleRecord r;
    r.cycle = static_cast<std::uint64_t>(i) + 1;
    r.utc = kStart + std::chrono::seconds(static_cast<long long>(i) * w.interval_seconds);
    r.interval_seconds = w.interval_seconds;
    r.line = {40, "/dev/ttyUSB0", true};
    r.sensors.resize(static_cast<std::size_t>(w.sensors));
    const double day = i * w.interval_seconds / 86400.0;
    for (int s = 0; s < w.sensors; ++s) {
        auto& reading = r.sensors[static_cast<std::size_t>(s)];
        reading.address = 0x0a0000 + s;
        for (std::size_t q = 0; q < veldra::core::kQuantityCount; ++q) {
            auto& result = reading.queries[q];
            const unsigned hash = static_cast<unsigned>(i) * 2654435761U + s * 97U + q * 13U;
            if (hash % 997 == 0) {
                result.status = veldra::core::QueryStatus::NoReply;
                continue;
            }
            result.status = veldra::core::QueryStatus::Received;
            const double wave = std::sin(2 * M_PI * day + s) + 0.1 * ((hash >> 8) % 100) / 100.0;
            const double scale[] = {2000.0, 5.0, 10.0, 8.0};
            const double base[] = {12000.0, 20.0, 30.0, 18.0};
            result.value = base[q] + s * scale[q] * 0.3 + scale[q] * wave;
            result.duration = std::chrono::milliseconds(120);
        }
    }
    return r;
}

inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    const auto k = static_cast<std::size_t>(std::clamp(p * (v.size() - 1), 0.0, v.size() - 1.0));
    return v[k];
}

using bench_memory::PeakResidentMb;
using bench_memory::ResidentMb;

inline double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

template <typename F>
double Ms(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace bench_views
