// Keeping earlier logs: before a session start empties a log file, an earlier log of ours in
// it is moved aside under a dated name, and a file holding anything else is left alone.
#pragma once

#include <string>
#include <vector>

#include "platform/kept_file.h"

namespace veldra::core {

enum class ExistingLog {
    None,     // missing, empty, or no regular file (opening decides)
    Ours,     // starts with the header of our text log or of our CSV log
    Foreign,  // holds something else, or cannot be read
};

ExistingLog inspect_existing_log(const std::string& path);

// An earlier log is renamed beside itself under its dated name, never replacing an existing
// file (the same rule keeps a settings file that could not be read).
using ArchiveResult = veldra::platform::KeptFile;
// A text log and its CSV log kept under one stamp and suffix, so they still pair up by name.
inline std::vector<ArchiveResult> archive_logs(const std::vector<std::string>& paths) {
    return veldra::platform::KeepTogetherUnderDatedName(paths);
}

}  // namespace veldra::core
