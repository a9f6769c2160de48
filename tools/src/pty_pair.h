// A pseudo-terminal pair in raw mode: the master side the simulator serves, and its own open
// handle on the slave side, which keeps the master from seeing a hang-up while no client has
// the slave open.
#pragma once

#include <string>

#include "platform/unique_fd.h"

namespace veldra::sim {

struct PtyPair {
    serial::UniqueFd master;
    serial::UniqueFd slave;
    std::string slave_path;
};

// Throws std::system_error when no pseudo-terminal can be had.
PtyPair open_pty_pair();

// Points `link` at `target` atomically (a temporary link renamed over it). Refuses, with
// std::runtime_error, to replace anything that is not a symlink.
void point_link(const std::string& link, const std::string& target);

}  // namespace veldra::sim
