// Reads veldra-logd's command line; a mistake is refused with one line that names it.
#include "service/arguments.h"

#include <algorithm>
#include <charconv>

namespace veldra::service {
namespace {

bool is_word(std::string_view word, std::string_view name, std::string_view& inline_value,
             bool& has_inline) {
    if (word == name) {
        has_inline = false;
        return true;
    }
    if (word.size() > name.size() && word.starts_with(name) && word[name.size()] == '=') {
        inline_value = word.substr(name.size() + 1);
        has_inline = true;
        return true;
    }
    return false;
}

std::optional<std::uint64_t> positive_number(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

CommandLine parse_command_line(std::span<const std::string_view> words) {
    CommandLine result;
    const auto has = [&](std::string_view w) {
        return std::find(words.begin(), words.end(), w) != words.end();
    };
    if (has("--help") || has("-h")) {
        result.action = Action::Help;
        return result;
    }
    if (has("--version")) {
        result.action = Action::Version;
        return result;
    }
    const auto refuse = [&](std::string error) {
        result.action = Action::Refuse;
        result.error = std::move(error);
        return result;
    };

    Arguments& args = result.arguments;
    bool have_config = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        if (word == "--verbose" || word == "-v") {
            args.verbose = true;
            continue;
        }
        std::string_view value;
        bool has_inline = false;
        std::string_view name;
        for (const std::string_view candidate : {"--config", "--log", "--cycles", "--options"}) {
            if (is_word(word, candidate, value, has_inline)) {
                name = candidate;
                break;
            }
        }
        if (name.empty()) {
            return refuse("unknown argument \"" + std::string(word) + "\"");
        }
        if (!has_inline) {
            if (i + 1 >= words.size()) {
                return refuse(std::string(name) + " needs a value");
            }
            value = words[++i];
        }
        if (value.empty()) {
            return refuse(std::string(name) + " needs a value");
        }
        if (name == "--config") {
            args.config = value;
            have_config = true;
        } else if (name == "--log") {
            args.log = std::string(value);
        } else if (name == "--options") {
            args.options = std::string(value);
        } else {
            args.cycles = positive_number(value);
            if (!args.cycles) {
                return refuse("--cycles needs a whole number of at least 1, not \"" +
                              std::string(value) + "\"");
            }
        }
    }
    if (!have_config) {
        return refuse("--config FILE is missing");
    }
    result.action = Action::Run;
    return result;
}

std::string usage_text() {
    return R"(Usage: veldra-logd --config FILE [--log PATH] [--cycles N] [--options FILE] [--verbose]
       veldra-logd --help | --version

Logs the sensors of one serial line without a window: one logging session with the sensor
list, interval, COM port and log file of FILE, a settings.txt or *.set configuration saved
by VELDRA Logger. The text log and its CSV sibling are the window's, byte for byte; an
earlier log at the same path is kept under a dated name. comports.txt beside FILE maps COM
numbers to devices. Runs until SIGTERM, SIGINT or SIGHUP, which stop it as the window's
"Stop Logging" does.

  --config FILE    the configuration to log with (required)
  --log PATH       the text log to write instead of FILE's log file entry; the CSV log is
                   PATH with its last three characters replaced by "csv"
  --cycles N       stop after N cycles
  --options FILE   options.json: log rotation and the disk guard (a missing file means the
                   defaults: no rotation, a warning under 100 MB of free space)
  --verbose        a status line for every cycle too
  --help           this text
  --version        the program's version

Status goes to standard error, one line per event, each beginning with the local time:
started, the port waited for, device gone and back, failed writes, disk low, stopped. A port
that cannot be opened at the start is tried again every interval. Under systemd
(Type=notify) it reports READY and sends watchdog pings while its cycles go on.

Exit status: 0 after a stop (a signal or --cycles); 1 when the session cannot start (another
program holds the log folder, the log files cannot be used); 2 for a bad command line, a
configuration that cannot be read or names no sensor or no log file, or a bad options file.
)";
}

std::string version_text() {
    return std::string("veldra-logd ") + VELDRA_VERSION + "\n";
}

}  // namespace veldra::service
