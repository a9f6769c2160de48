// veldra-sensor-sim: a simulated line of sensors on a pseudo-terminal, for demos and manual
// tests without hardware. Prints the slave path, optionally links and maps it to a COM number,
// and serves until interrupted.
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/sensor_sim.h"

namespace {

using veldra::sim::Fault;

constexpr const char* kUsage = R"(Usage: veldra-sensor-sim [options]

Serves a simulated line of sensors on a new pseudo-terminal until interrupted (Ctrl-C).
The first line on standard output is the pseudo-terminal's slave path, printed once the
link and the map line (when asked for) are in place.

Options:
  --sensors LIST        addresses that answer, hexadecimal, comma-separated
                        (default 0a1b2c,01a2b3)
  --link PATH           keep a symlink PATH pointing at the pseudo-terminal
  --com N               with --map-file: map COM port N to the link (or the slave path)
  --map-file PATH       the COM map file to write the line "N path" into (e.g. comports.txt)
  --baud-emulation      send reply bytes at the pace of a real line
  --baud RATE           line speed for --baud-emulation (default 9600)
  --reply-delay-ms MS   pause before every reply (default 0)
  --late-delay-ms MS    how late a late reply comes (default 2500)
  --fault-rate P        probability 0..1 of every fault kind per request
  --fault KIND=P        probability of one kind: silence, bad-checksum, wrong-start-byte,
                        truncated, noise, empty-payload, non-numeric, late-reply,
                        foreign-address (repeatable)
  --late ADDR=MS[-MS]   sensor ADDR answers every request MS milliseconds after it (a delay
                        drawn from the range), e.g. --late 0a1b2c=2300-2600 (repeatable)
  --foreign ADDR=[REPLY][/HEADER[/FIXED]]
                        sensor ADDR's answers carry address REPLY, header byte HEADER and
                        fixed field FIXED (hexadecimal, 6, 2 and 8 digits; an empty part
                        keeps its own), e.g. --foreign 0a1b2c=000000/05 (repeatable)
  --babble              the line carries random bytes without pause
  --fault-sensors LIST  inject the faults only into these addresses' replies
                        (hexadecimal, comma-separated; default: every sensor)
  --seed N              seed for faults and values (default 1)
  --verbose             print every request and its answer on standard error
  --help                show this text
)";

struct CommandLine {
    veldra::sim::Options options;
    int com = 0;
    std::string map_file;
    bool verbose = false;
};

[[noreturn]] void usage_error(const std::string& message) {
    std::cerr << "veldra-sensor-sim: " << message << "\n(see --help)\n";
    std::exit(2);
}

template <typename T>
T number(const std::string& text, const char* what, int base = 10) {
    T value{};
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, value, base);
    if (text.empty() || r.ec != std::errc{} || r.ptr != end) {
        usage_error(std::string("bad ") + what + ": '" + text + "'");
    }
    return value;
}

double probability(const std::string& text) {
    double p = 0;
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    if (!(in >> p) || !in.eof() || p < 0 || p > 1) {
        usage_error("bad probability: '" + text + "' (want 0..1)");
    }
    return p;
}

std::uint32_t address(const std::string& text) {
    const auto a = number<std::uint32_t>(text, "sensor address", 16);
    if (a > 0xFFFFFF) {
        usage_error("sensor address wider than 24 bits: " + text);
    }
    return a;
}

// "ADDR=REST" -> {address, REST}
std::pair<std::uint32_t, std::string> addressed(const std::string& spec, const char* option) {
    const auto eq = spec.find('=');
    if (eq == std::string::npos) {
        usage_error(std::string(option) + " wants ADDR=...: '" + spec + "'");
    }
    return {address(spec.substr(0, eq)), spec.substr(eq + 1)};
}

// "2300" or "2300-2600", milliseconds.
void late_habit(const std::string& spec, veldra::sim::SensorHabits& habits) {
    const auto dash = spec.find('-');
    habits.late_min = std::chrono::milliseconds(number<int>(spec.substr(0, dash), "delay"));
    habits.late_max = dash == std::string::npos
                          ? habits.late_min
                          : std::chrono::milliseconds(number<int>(spec.substr(dash + 1), "delay"));
    if (habits.late_max.count() <= 0 || habits.late_max < habits.late_min) {
        usage_error("bad late delay: '" + spec + "' (want MS or MS-MS, above 0)");
    }
}

// "[REPLY][/HEADER[/FIXED]]"
void foreign_habit(const std::string& spec, veldra::sim::SensorHabits& habits) {
    std::vector<std::string> parts;
    std::istringstream in(spec);
    std::string part;
    while (std::getline(in, part, '/')) {
        parts.push_back(part);
    }
    if (parts.empty() || parts.size() > 3) {
        usage_error("bad foreign identity: '" + spec + "'");
    }
    if (!parts[0].empty()) {
        habits.reply_address = address(parts[0]);
    }
    if (parts.size() > 1 && !parts[1].empty()) {
        const auto h = number<unsigned>(parts[1], "header byte", 16);
        if (h > 0xFF) {
            usage_error("header byte wider than 8 bits: " + parts[1]);
        }
        habits.reply_header = static_cast<std::uint8_t>(h);
    }
    if (parts.size() > 2 && !parts[2].empty()) {
        if (parts[2].size() != 8) {
            usage_error("the fixed field is 8 hexadecimal digits: " + parts[2]);
        }
        const auto f = number<std::uint32_t>(parts[2], "fixed field", 16);
        habits.reply_fixed_field = std::array<std::uint8_t, 4>{
            static_cast<std::uint8_t>(f >> 24), static_cast<std::uint8_t>(f >> 16),
            static_cast<std::uint8_t>(f >> 8), static_cast<std::uint8_t>(f)};
    }
}

std::vector<std::uint32_t> addresses(const std::string& list) {
    std::vector<std::uint32_t> result;
    std::istringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        result.push_back(address(item));
    }
    return result;
}

CommandLine parse(int argc, char** argv) {
    CommandLine cl;
    cl.options.sensors = {0x0A1B2C, 0x01A2B3};
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) {
                usage_error(a + " needs a value");
            }
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else if (a == "--sensors") {
            cl.options.sensors = addresses(value());
        } else if (a == "--link") {
            cl.options.link_path = value();
        } else if (a == "--com") {
            cl.com = number<int>(value(), "COM number");
        } else if (a == "--map-file") {
            cl.map_file = value();
        } else if (a == "--baud-emulation") {
            cl.options.baud_emulation = true;
        } else if (a == "--baud") {
            cl.options.baud = number<int>(value(), "baud rate");
        } else if (a == "--reply-delay-ms") {
            cl.options.reply_delay = std::chrono::milliseconds(number<int>(value(), "delay"));
        } else if (a == "--late-delay-ms") {
            cl.options.late_reply_delay = std::chrono::milliseconds(number<int>(value(), "delay"));
        } else if (a == "--fault-rate") {
            cl.options.faults = veldra::sim::FaultRates::all(probability(value()));
        } else if (a == "--fault") {
            const std::string& spec = value();
            const auto eq = spec.find('=');
            const auto kind = eq == std::string::npos
                                  ? std::nullopt
                                  : veldra::sim::fault_named(std::string_view(spec).substr(0, eq));
            if (!kind) {
                usage_error("bad fault: '" + spec + "' (want KIND=P)");
            }
            cl.options.faults[*kind] = probability(spec.substr(eq + 1));
        } else if (a == "--late") {
            const auto [sensor, delay] = addressed(value(), "--late");
            late_habit(delay, cl.options.habits[sensor]);
        } else if (a == "--foreign") {
            const auto [sensor, identity] = addressed(value(), "--foreign");
            foreign_habit(identity, cl.options.habits[sensor]);
        } else if (a == "--babble") {
            cl.options.babble = true;
        } else if (a == "--fault-sensors") {
            cl.options.fault_sensors = addresses(value());
        } else if (a == "--seed") {
            cl.options.seed = number<std::uint64_t>(value(), "seed");
        } else if (a == "--verbose") {
            cl.verbose = true;
        } else {
            usage_error("unknown option " + a);
        }
    }
    if ((cl.com != 0) != !cl.map_file.empty()) {
        usage_error("--com and --map-file go together");
    }
    if (cl.options.baud <= 0) {
        usage_error("the baud rate must be positive");
    }
    return cl;
}

// Replaces (or adds) the line for `com` in the map file, keeping every other line, and swaps
// the new file in whole so a reader never sees half of it.
void write_map_line(const std::string& path, int com, const std::string& device) {
    std::vector<std::string> lines;
    {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string first;
            words >> first;
            if (first != std::to_string(com)) {
                lines.push_back(line);
            }
        }
    }
    lines.push_back(std::to_string(com) + " " + device);
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const auto& l : lines) {
            out << l << '\n';
        }
        out.flush();
        if (!out) {
            throw std::runtime_error("cannot write " + temp);
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        throw std::runtime_error("cannot replace " + path + ": " + std::strerror(errno));
    }
}

std::string hex_address(std::uint32_t a) {
    char text[16];
    std::snprintf(text, sizeof text, "%06x", a);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine cl = parse(argc, argv);

    // Signals are taken with sigwait below, so block them before any thread starts.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    try {
        veldra::sim::SensorSimulator sim(cl.options);
        if (!cl.options.link_path.empty()) {
            std::cerr << "linked " << cl.options.link_path << " -> " << sim.slave_path() << '\n';
        }
        if (cl.com != 0) {
            write_map_line(cl.map_file, cl.com, sim.device_path());
            std::cerr << "COM" << cl.com << " -> " << sim.device_path() << " in " << cl.map_file
                      << '\n';
        }
        std::cerr << "serving " << cl.options.sensors.size() << " sensor(s); Ctrl-C stops\n";
        // Printed last, so that a script reading it knows the link and the map line are there.
        std::cout << sim.slave_path() << std::endl;

        if (cl.verbose) {
            // A reporter that prints each exchange as it is recorded.
            std::thread reporter([&sim] {
                std::size_t shown = 0;
                while (sim.plugged()) {
                    sim.wait_for_exchanges(shown + 1, std::chrono::milliseconds(200));
                    const auto log = sim.exchanges();
                    for (; shown < log.size(); ++shown) {
                        const auto& e = log[shown];
                        std::cerr << hex_address(e.address) << ' ' << e.command << " -> "
                                  << (e.answered ? '"' + e.reply_text + '"' : "(silent)");
                        if (e.fault) {
                            std::cerr << " [" << veldra::sim::fault_name(*e.fault) << ']';
                        }
                        std::cerr << '\n';
                    }
                }
            });
            int sig = 0;
            sigwait(&stop_signals, &sig);
            sim.stop();
            reporter.join();
        } else {
            int sig = 0;
            sigwait(&stop_signals, &sig);
        }
    } catch (const std::exception& e) {
        std::cerr << "veldra-sensor-sim: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
