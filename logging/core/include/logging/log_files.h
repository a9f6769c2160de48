// The rules for a session's two log files: the CSV log's name beside the text log, an earlier
// log of ours kept under a dated name instead of being emptied, and a file that holds anything
// else refused. Either both files come back open and emptied, or the reason the start must not
// go on.
#pragma once

#include <optional>
#include <string>

#include "logging/log_file.h"
#include "logging/message.h"

namespace veldra::core {

struct PreparedLogFiles {
    LogFile text;
    LogFile csv;
    std::optional<Message> refusal;  // when set, neither file is open
};

PreparedLogFiles prepare_log_files(const std::string& text_path);

}  // namespace veldra::core
