// The file access of the options: a read that refuses anything but a regular file (and never
// blocks on a FIFO), and an atomic replace with a chosen mode.
#pragma once

#include <string>

namespace veldra::options::detail {

struct ReadOutcome {
    bool missing = false;  // no such file: the defaults apply
    std::string error;     // why the file could not be read; empty on success
};

ReadOutcome read_regular_file(const std::string& path, std::string& contents);

// Empty on success, else the reason; the old file stays as it was on failure.
std::string write_file_atomically(const std::string& path, const std::string& contents,
                                  unsigned mode);

}  // namespace veldra::options::detail
