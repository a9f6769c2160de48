// A headless main panel with a running session against a simulated bus, for the benchmarks.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/sensor_sim.h"

namespace logging_bench {

class BenchSession {
  public:
    // Starts a session of the given sensors (first cycle included) and pauses its timer, so
    // that the benchmark drives cycles itself.
    BenchSession(veldra::sim::Options options, double delayScale);
    ~BenchSession();
    BenchSession(const BenchSession&) = delete;
    BenchSession& operator=(const BenchSession&) = delete;

    void run_cycle();
    // From now on the session's COM number maps to no device (closed, so the next send
    // looks it up afresh and fails to open it).
    void unmap_port();
    veldra::sim::SensorSimulator& sim() { return *sim_; }
    const std::filesystem::path& text_log() const { return text_; }

  private:
    std::filesystem::path dir_, text_;
    std::unique_ptr<veldra::sim::SensorSimulator> sim_;
};

// Resident set size of this process in kB.
long resident_kb();

}  // namespace logging_bench
