// veldra-logd: one logging session of the measurement core without any window, driven by a
// panel-state record, until a stop signal or the cycles asked for. Returns the exit status.
// Blocks the stop signals before it starts any thread, so it must be called before the
// process has started one.
#pragma once

#include <span>
#include <string_view>

namespace veldra::service {

int run_service(std::span<const std::string_view> words);

}  // namespace veldra::service
