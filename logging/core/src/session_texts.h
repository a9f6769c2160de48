// The refusals of a start that the session gives before any file is touched.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "logging/message.h"

namespace veldra::core {

// The port cannot be opened.
Message port_refusal();
// No file chosen, or no sensor listed (checked in this order).
std::optional<Message> entry_refusal(const std::string& log_file, std::size_t sensor_count);

}  // namespace veldra::core
