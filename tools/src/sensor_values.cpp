// The four quantities: their commands, how a sensor writes a value, and the plausible slowly
// drifting values a simulated sensor reports.
#include "sensor_values.h"

#include <array>
#include <charconv>
#include <cmath>
#include <numbers>

#include "bus/protocol.h"

namespace veldra::sim {

namespace {

using veldra::bus::kCommands;
static_assert(kCommands.size() == kQuantityCount);

struct Range {
    double low;        // lowest base value
    double span;       // base values spread over this much
    double amplitude;  // how far the value drifts around its base
    double min, max;   // never outside
};
constexpr std::array<Range, kQuantityCount> kRanges = {{
    {2000, 6000, 400, 0, 65000},  // counts
    {5, 30, 3, 1, 80},            // permittivity
    {5, 35, 4, 0, 60},            // water content, %
    {5, 20, 3, -10, 40},          // temperature, degrees C
}};

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

double unit(std::uint64_t x) {
    return static_cast<double>(mix(x) >> 11) * 0x1.0p-53;
}

}  // namespace

std::optional<Quantity> quantity_for_command(std::string_view command) {
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        if (kCommands[i] == command) {
            return static_cast<Quantity>(i);
        }
    }
    return std::nullopt;
}

std::string_view command_for_quantity(Quantity q) {
    return kCommands[static_cast<std::size_t>(q)];
}

std::string format_value(Quantity q, double value) {
    std::array<char, 64> text{};
    std::to_chars_result r;
    if (q == Quantity::Counts) {
        r = std::to_chars(text.data(), text.data() + text.size(), std::lround(value));
    } else {
        r = std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed,
                          2);
    }
    return std::string(text.data(), r.ptr);
}

double drifting_value(std::uint64_t seed, std::uint32_t address, Quantity q, double seconds) {
    const auto qi = static_cast<std::size_t>(q);
    const std::uint64_t key = mix(seed) ^ (static_cast<std::uint64_t>(address) << 3 | qi);
    const Range& r = kRanges[qi];
    const double base = r.low + r.span * unit(key);
    const double period = 300.0 + 600.0 * unit(key + 1);  // minutes, not seconds
    const double phase = 2 * std::numbers::pi * unit(key + 2);
    double v = base + r.amplitude * std::sin(2 * std::numbers::pi * seconds / period + phase);
    v = std::clamp(v, r.min, r.max);
    return q == Quantity::Counts ? std::round(v) : v;
}

}  // namespace veldra::sim
