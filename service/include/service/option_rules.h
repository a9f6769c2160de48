// What options.json asks of a session's log files, as the measurement core takes it, and the
// one place where options add observers to the service's session (the broker export).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "logging/session.h"
#include "options/file_rules.h"
#include "options/options.h"

namespace veldra::service {

using options::file_rules;

// "rotation daily, keeping 30 days; disk guard 100 MB": for the started line.
std::string describe_file_rules(const core::FileRules& rules);

// The observers the options ask for (the broker export), in the order they are to be added
// after the service's own; they post what the user should know through `notices` (the
// session's). Relative paths of TLS files are taken beside the options file, a relative
// outbox beside the log file. `said` receives what the service should say about them now (one
// line each).
std::vector<std::unique_ptr<core::SessionObserver>> observers_from_options(
    const options::Options& options, const std::string& options_path, const std::string& log_path,
    core::NoticeSink& notices, std::vector<std::string>& said);

}  // namespace veldra::service
