// The command line of veldra-logd: what to log with, and what to do.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace veldra::service {

struct Arguments {
    std::string config;                   // --config: the panel-state record
    std::optional<std::string> log;       // --log: instead of the record's log file entry
    std::optional<std::uint64_t> cycles;  // --cycles: stop after this many
    std::optional<std::string> options;   // --options: options.json
    bool verbose = false;                 // one line per cycle
};

enum class Action { Run, Help, Version, Refuse };

struct CommandLine {
    Action action = Action::Refuse;
    Arguments arguments;
    std::string error;  // for Refuse: what is wrong, in one line
};

// The words after the program's name. "--name VALUE" and "--name=VALUE" both work; --help and
// --version win over everything else.
CommandLine parse_command_line(std::span<const std::string_view> words);

std::string usage_text();
std::string version_text();

}  // namespace veldra::service
