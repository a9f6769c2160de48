// Keeping earlier logs: before a session start empties a log file, an earlier log of ours in
// it is moved aside under a dated name, and a file holding anything else is left alone.
#pragma once

#include <string>

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
inline ArchiveResult archive_log(const std::string& path) {
    return veldra::platform::KeepUnderDatedName(path);
}

}  // namespace veldra::core
