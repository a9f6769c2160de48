// One open log file: opened emptied (the entry the user chose) or created under a new name (a
// dated file of a rotation), written in whole lines that are forced to the disk, and closed
// with its owner. A failed write says why (errno); what was written before stays whole.
#pragma once

#include <string>
#include <string_view>

namespace veldra::core {

class LogFile {
  public:
    LogFile() = default;
    LogFile(LogFile&& other) noexcept;
    LogFile& operator=(LogFile&& other) noexcept;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile();

    // Opens for reading and writing, emptied, in text mode; creates a missing file. Not open
    // on failure, with the errno of the failure in error (0 when none was given).
    static LogFile open_emptied(const std::string& path, int& error);
    // Creates the file; fails (EEXIST) when anything has that name already, so nothing is
    // ever replaced. Not open on failure, with the errno in error.
    static LogFile create_new(const std::string& path, int& error);

    bool is_open() const { return handle_ >= 0; }
    int handle() const { return handle_; }
    const std::string& path() const { return path_; }

    // Writes the line with its line end, whole or not at all. 0, or the errno of the failure
    // (-1 when the platform gave none).
    int write_line(std::string_view line);
    // Forces what was written to the storage device. 0, or the errno as above.
    int sync();
    void close();

  private:
    LogFile(int handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    int handle_ = -1;
    std::string path_;
};

// The text of a failure from errno, e.g. "No space left on device".
std::string describe_errno(int error);

}  // namespace veldra::core
