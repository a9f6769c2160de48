// Keeping a file instead of destroying it: it is renamed beside itself under a dated name
// (an earlier log before a new session empties its name, a settings file that could not be
// read before a save replaces it).
#pragma once

#include <string>
#include <vector>

namespace veldra::platform {

// The name a kept file gets: its last-modified time (local) before the extension,
// "field.txt" -> "field.2024-03-05_140709.txt"; suffix 0 adds nothing, n adds "-n".
std::string DatedName(const std::string& path, long long mtimeSeconds, int suffix);

struct KeptFile {
    bool ok = false;
    std::string newPath;  // where the file now is
    int error = 0;        // errno when !ok
};
// Renames the file (of any kind; a symlink itself) beside itself under its dated name, never
// replacing an existing file.
KeptFile KeepUnderDatedName(const std::string& path);
// Keeps files that belong together (a text log and its CSV log) under one stamp and one
// suffix, so that they still pair up by name: the stamp is the newest of their times, the
// suffix the first that is free for all of them. Paths that do not exist are skipped; the
// results come in the order of the paths.
std::vector<KeptFile> KeepTogetherUnderDatedName(const std::vector<std::string>& paths);

}  // namespace veldra::platform
