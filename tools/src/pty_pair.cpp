// Opening pseudo-terminals and keeping a stable symlink to the current one.
#include "pty_pair.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace veldra::sim {

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PtyPair open_pty_pair() {
    PtyPair pair;
    pair.master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!pair.master) {
        fail("posix_openpt");
    }
    if (::grantpt(pair.master.get()) != 0 || ::unlockpt(pair.master.get()) != 0) {
        fail("unlockpt");
    }
    std::array<char, 128> name{};
    if (::ptsname_r(pair.master.get(), name.data(), name.size()) != 0) {
        fail("ptsname_r");
    }
    pair.slave_path = name.data();
    pair.slave.reset(::open(name.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!pair.slave) {
        fail("open pty slave");
    }
    // Raw from the start: no echo of requests back into the simulator, no line editing.
    termios t{};
    if (::tcgetattr(pair.slave.get(), &t) != 0) {
        fail("tcgetattr");
    }
    ::cfmakeraw(&t);
    if (::tcsetattr(pair.slave.get(), TCSANOW, &t) != 0) {
        fail("tcsetattr");
    }
    return pair;
}

void point_link(const std::string& link, const std::string& target) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        throw std::runtime_error(link + " exists and is not a symlink; not replacing it");
    }
    const std::string temp = link + ".tmp" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0) {
        fail("symlink");
    }
    if (::rename(temp.c_str(), link.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        errno = err;
        fail("rename symlink");
    }
}

}  // namespace veldra::sim
