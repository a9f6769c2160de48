// Keeping earlier logs: before a session start empties a log file, an earlier log of ours in
// it is moved aside under a dated name, and a file holding anything else is left alone.
#pragma once

#include <string>

namespace veldra::core {

enum class ExistingLog {
    None,     // missing, empty, or no regular file (opening decides)
    Ours,     // starts with the header of our text log or of our CSV log
    Foreign,  // holds something else, or cannot be read
};

ExistingLog inspect_existing_log(const std::string& path);

// The name an earlier log gets: its last-modified time (local) before the extension,
// "field.txt" -> "field.2024-03-05_140709.txt"; suffix 0 adds nothing, n adds "-n".
std::string dated_log_name(const std::string& path, long long mtimeSeconds, int suffix);

struct ArchiveResult {
    bool ok = false;
    std::string newPath;  // where the earlier log now is
    int error = 0;        // errno when !ok
};
// Renames the file beside itself under its dated name, never replacing an existing file.
ArchiveResult archive_log(const std::string& path);

}  // namespace veldra::core
