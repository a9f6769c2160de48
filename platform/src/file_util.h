// Small file helpers shared by the panel-file and panel-state code.
#pragma once

#include <string>

namespace veldra::ui {

// Reads a whole regular file. False when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& contents);

// Writes contents to path atomically: a temporary file beside it, fsync, rename, fsync of the
// directory. On failure the old file is untouched and the temporary file removed.
bool WriteFileAtomically(const std::string& path, const std::string& contents);

}  // namespace veldra::ui
