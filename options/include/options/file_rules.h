// What options.json asks of a session's log files, in the measurement core's terms: the
// rotation mode, sizes in bytes, the retention and the disk guard. The window and the service
// both start sessions from the same options, so both take the rules from here.
#pragma once

#include "logging/log_files.h"
#include "options/options.h"

namespace veldra::options {

core::FileRules file_rules(const Options& options);

}  // namespace veldra::options
