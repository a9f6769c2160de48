// Texts of the health view.
#include "views/health_text.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace veldra::views {

namespace {

std::string fixed(double value, int decimals) {
    char buffer[64];
    const auto r =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, r.ptr);
}

std::string hex_address(int address) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%06x", static_cast<unsigned>(address));
    return buffer;
}

std::string port_text(const LineHealth& line) {
    std::string text = "COM " + std::to_string(line.port);
    if (!line.device.empty()) {
        text += " = " + line.device;
    }
    return text;
}

}  // namespace

std::string clock_text(Clock::time_point t) {
    const std::time_t seconds = Clock::to_time_t(t);
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
    return buffer;
}

std::string seconds_text(std::chrono::microseconds d, int decimals) {
    return fixed(static_cast<double>(d.count()) / 1e6, decimals) + " s";
}

std::string line_text(const HealthSnapshot& s) {
    const LineHealth& line = s.line;
    if (!s.running && !s.started && !s.last_cycle) {
        return "No logging session yet";
    }
    std::string text = port_text(line);
    switch (line.condition) {
        case LineCondition::Unknown:
            return text + ": waiting for the first cycle";
        case LineCondition::Open:
            text += ": open";
            break;
        case LineCondition::Gone:
            text += ": device gone";
            if (line.gone_since) {
                text += " since " + clock_text(*line.gone_since);
            }
            break;
        case LineCondition::Back:
            text += ": open again";
            if (line.back_at) {
                text += ", back at " + clock_text(*line.back_at);
            }
            if (line.gone_since) {
                text += " (gone since " + clock_text(*line.gone_since) + ")";
            }
            break;
    }
    if (!s.running && s.ended && s.last_cycle) {
        text += "; logging stopped, last cycle at " + clock_text(*s.last_cycle);
    }
    return text;
}

std::string cycle_text(const HealthSnapshot& s) {
    const CycleHealth& c = s.cycle;
    const std::string interval = std::to_string(c.interval_seconds) + " s";
    if (c.cycles == 0) {
        return "Interval " + interval + "; no cycle has run yet";
    }
    const std::string took = seconds_text(c.last_duration);
    if (!c.overrun) {
        std::string text = "Cycle " + took + " of the " + interval + " interval";
        if (c.overruns > 0) {
            text += " (" + std::to_string(c.overruns) + " of " + std::to_string(c.cycles) +
                    " cycles overran it)";
        }
        return text;
    }
    std::string text = "Cycles overrun the interval: the last took " + took + " for a " + interval +
                       " interval (" + std::to_string(c.overruns) + " of " +
                       std::to_string(c.cycles) + " cycles); the time goes to ";
    for (std::size_t i = 0; i < c.costly_sensors.size(); ++i) {
        const int address = c.costly_sensors[i];
        text += (i == 0 ? "" : ", ") + hex_address(address);
        for (const SensorHealth& h : s.sensors) {
            if (h.address == address) {
                text += " (" + seconds_text(h.cycle_cost) + ")";
                break;
            }
        }
    }
    return text;
}

std::string last_good_text(const SensorHealth& h) {
    return h.last_good ? clock_text(*h.last_good) : "never";
}

std::string good_share_text(const SensorHealth& h) {
    const auto share = h.good_share();
    return share ? fixed(*share * 100.0, 1) + " %" : "-";
}

std::string exchange_text(const SensorHealth& h) {
    // A sensor on a fast line answers within milliseconds, which "0.00 s" would hide.
    if (h.last_exchange < std::chrono::seconds(1)) {
        return std::to_string(
                   std::chrono::round<std::chrono::milliseconds>(h.last_exchange).count()) +
               " ms";
    }
    return seconds_text(h.last_exchange, 2);
}

}  // namespace veldra::views
