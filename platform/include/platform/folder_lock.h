// One program per working folder. Two programs in one folder save over each other's settings
// and one moves the other's live log aside; so the window program and the service take the
// folder's lock at start-up, before they touch any file in it, and hold it while they run.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace veldra::platform {

// The lock file in the folder; it names the process that holds it ("<pid> <program>").
inline constexpr std::string_view kFolderLockFile = ".veldra.lock";

class FolderLock {
  public:
    // Takes the lock of `folder` (an flock on its lock file, created if missing) for this
    // process and writes "<pid> <program>" into the lock file. When another process holds it,
    // or the lock file is no regular file, nothing is held and Refusal() says so in one line
    // that names the folder and the other process. A folder that cannot hold a lock file at
    // all (read-only, or the lock file not ours to write) is neither locked nor refused:
    // nothing can be written there anyway. Taking the folder twice, even in one process, is
    // refused the second time.
    static FolderLock Take(const std::string& folder, std::string_view program);

    FolderLock();
    FolderLock(FolderLock&&) noexcept;
    FolderLock& operator=(FolderLock&&) noexcept;
    ~FolderLock();  // releases the lock and removes the lock file

    bool Held() const { return held_ != nullptr; }
    const std::string& Refusal() const { return refusal_; }

  private:
    struct Holding;
    std::unique_ptr<Holding> held_;
    std::string refusal_;
};

}  // namespace veldra::platform
