// The rules for a session's two log files: what the options add (rotation, retention, the
// disk guard), and for the plain pair the CSV log's name beside the text log, an earlier log
// of ours kept under a dated name instead of being emptied, and a file that holds anything
// else refused. Either both files come back open and emptied, or the reason the start must
// not go on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "logging/log_file.h"
#include "logging/message.h"

namespace veldra::core {

// What the options add to the log files. The defaults are the plain behaviour: one pair of
// files for the whole session, no warning about free space.
struct FileRules {
    enum class Rotation { Off, Daily, Size };
    Rotation rotation = Rotation::Off;
    std::uint64_t rotate_bytes = 100ull << 20;  // Size: a new pair once the text log is this big
    int keep_days = 0;  // with rotation: keep the dated logs of this many days; 0: keep all
    std::uint64_t disk_guard_bytes = 0;  // warn under this much free space; 0: never
};

struct PreparedLogFiles {
    LogFile text;
    LogFile csv;
    std::optional<Message> refusal;  // when set, neither file is open
};

// The CSV log's path for a text log's path; nullopt with the start's refusal when the
// path gives none (too short, or it ends in "csv" already).
std::optional<std::string> csv_log_path(const std::string& text_path,
                                        std::optional<Message>& refusal);

// The entry itself, emptied; an earlier log of ours in it is kept aside first.
PreparedLogFiles prepare_log_files(const std::string& text_path);

// A pair under names that must be free: both created new, never replacing anything; when the
// second cannot be created, the first is removed again.
PreparedLogFiles create_log_files(const std::string& text_path, const std::string& csv_path);

}  // namespace veldra::core
