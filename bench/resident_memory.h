// The process's resident memory from /proc/self/status, for benchmarks that report it.
#pragma once

#include <fstream>
#include <string>
#include <string_view>

namespace bench_memory {

// A "Vm...:" line of /proc/self/status in MB (0 when missing).
inline double StatusMb(std::string_view key) {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == key) {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
        std::getline(status, word);
    }
    return 0.0;
}

inline double ResidentMb() {
    return StatusMb("VmRSS:");
}

inline double PeakResidentMb() {
    return StatusMb("VmHWM:");
}

}  // namespace bench_memory
