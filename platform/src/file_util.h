// Small file helpers shared by the panel-file and panel-state code.
#pragma once

#include <string>

namespace veldra::ui {

enum class ReadResult {
    Read,        // contents hold the whole file
    Missing,     // no file under that name
    Unreadable,  // there is something, but it cannot be read as a regular file; see reason
};

// Reads a whole regular file. A named pipe, socket, device or directory is refused at once
// (Unreadable, with the reason), without waiting for a writer or opening a device.
ReadResult ReadWholeFile(const std::string& path, std::string& contents, std::string& reason);

// Writes contents to path atomically: a temporary file beside it, fsync, rename, fsync of the
// directory. On failure the old file is untouched and the temporary file removed.
bool WriteFileAtomically(const std::string& path, const std::string& contents);

}  // namespace veldra::ui
