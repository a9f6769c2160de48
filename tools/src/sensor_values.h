// The value model of a simulated sensor.
#pragma once

#include <algorithm>
#include <cstdint>

#include "sim/sensor_sim.h"

namespace veldra::sim {

// What sensor `address` reports for q at `seconds` since the simulator started: a base drawn
// from the seed and the address, drifting a little over minutes, always plausible for q.
double drifting_value(std::uint64_t seed, std::uint32_t address, Quantity q, double seconds);

}  // namespace veldra::sim
