// A regular file that refuses every write: an empty in-memory file sealed against writing,
// reached through a symlink at the path a test gives. Log paths must be regular files, so a
// device such as /dev/full no longer serves to make writes fail.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace logging_test {

class UnwritableFile {
  public:
    explicit UnwritableFile(const std::filesystem::path& link)
        : fd_(memfd_create("unwritable-log", MFD_ALLOW_SEALING | MFD_CLOEXEC)) {
        if (fd_ >= 0 && fcntl(fd_, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW) == 0) {
            std::filesystem::create_symlink("/proc/self/fd/" + std::to_string(fd_), link);
        }
    }
    ~UnwritableFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    UnwritableFile(const UnwritableFile&) = delete;
    UnwritableFile& operator=(const UnwritableFile&) = delete;
    bool ready() const { return fd_ >= 0; }

    // What a write to it fails with.
    static constexpr const char* kReason = "Operation not permitted";

  private:
    int fd_;
};

}  // namespace logging_test
