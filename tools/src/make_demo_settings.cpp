// veldra-demo-settings: writes a first-run settings file for the program, so that a demo starts
// with sensors, a COM port, an interval and a log file already chosen. The record is made the
// way the program makes it: the panel file is loaded, the values are set through the toolkit
// facade, and SavePanelState writes the file.
#include <charconv>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/panel_ids.h"
#include "platform/ui.h"

namespace {

constexpr const char* kUsage = R"(Usage: veldra-demo-settings [options] OUTPUT

Writes the main panel's state, as the program saves it at quit, to OUTPUT (e.g. settings.txt).

Options:
  --panel-file PATH   the panel file to load (default VELDRA_Loggerprogramm.uir)
  --sensors LIST      sensor addresses, hexadecimal, comma-separated (default none)
  --com N             COM port number (default: the panel file's)
  --interval S        logging interval in seconds (default: the panel file's)
  --log PATH          the text log file (default: none chosen)
  --help              show this text
)";

[[noreturn]] void usage_error(const std::string& message) {
    std::cerr << "veldra-demo-settings: " << message << "\n(see --help)\n";
    std::exit(2);
}

int number(const std::string& text, const char* what, int base = 10) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, value, base);
    if (text.empty() || r.ec != std::errc{} || r.ptr != end || value < 0) {
        usage_error(std::string("bad ") + what + ": '" + text + "'");
    }
    return value;
}

std::vector<int> addresses(const std::string& list) {
    std::vector<int> result;
    std::istringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        const int a = number(item, "sensor address", 16);
        if (a > 0xFFFFFF) {
            usage_error("sensor address wider than 24 bits: " + item);
        }
        result.push_back(a);
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    std::string panel_file = kPanelFileName;
    std::string output;
    std::vector<int> sensors;
    int com = -1;
    int interval = -1;
    std::string log;
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
            return 0;
        } else if (a == "--panel-file") {
            panel_file = value();
        } else if (a == "--sensors") {
            sensors = addresses(value());
        } else if (a == "--com") {
            com = number(value(), "COM number");
        } else if (a == "--interval") {
            interval = number(value(), "interval");
        } else if (a == "--log") {
            log = value();
        } else if (!a.empty() && a.front() == '-') {
            usage_error("unknown option " + a);
        } else if (output.empty()) {
            output = a;
        } else {
            usage_error("one output file only");
        }
    }
    if (output.empty()) {
        usage_error("no output file");
    }

    InitRunTime(callback_names());
    const int panel = LoadPanel(0, panel_file, MAIN_PANEL_RESOURCE);
    if (panel < 0) {
        std::cerr << "veldra-demo-settings: " << LastPanelFileError() << '\n';
        return 1;
    }
    for (const int address : sensors) {
        InsertListItem(panel, sensor_list, -1, sensor_label(address), address);
    }
    // The facade clamps to the field's range; a value it cannot take is an error here.
    const auto set_checked = [&](int control, int wanted, const char* what) {
        int shown = 0;
        SetCtrlVal(panel, control, wanted);
        GetCtrlVal(panel, control, shown);
        if (shown != wanted) {
            std::cerr << "veldra-demo-settings: " << what << ' ' << wanted
                      << " is outside the field's range\n";
            std::exit(1);
        }
    };
    if (com >= 0) {
        set_checked(comport_field, com, "COM number");
    }
    if (interval >= 0) {
        set_checked(interval_field, interval, "interval");
    }
    if (!log.empty()) {
        SetCtrlVal(panel, logfile_field, log);
    }
    const int saved = SavePanelState(panel, output, 1);
    if (saved < 0) {
        std::cerr << "veldra-demo-settings: cannot write " << output << " (error " << saved
                  << ")\n";
        return 1;
    }
    return 0;
}
