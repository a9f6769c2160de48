// From the options' megabytes and modes to the core's bytes and rules.
#include "logging/logging.h"

#include <cstdint>

namespace veldra::window {

namespace {

std::uint64_t megabytes(int mb) {
    return mb > 0 ? static_cast<std::uint64_t>(mb) << 20 : 0;
}

core::FileRules::Rotation rotation(options::RotationMode mode) {
    switch (mode) {
        case options::RotationMode::Daily:
            return core::FileRules::Rotation::Daily;
        case options::RotationMode::Size:
            return core::FileRules::Rotation::Size;
        case options::RotationMode::Off:
            break;
    }
    return core::FileRules::Rotation::Off;
}

}  // namespace

core::FileRules file_rules(const options::Options& options) {
    core::FileRules rules;
    rules.rotation = rotation(options.rotation.mode);
    rules.rotate_bytes = megabytes(options.rotation.size_mb);
    rules.keep_days = options.rotation.keep_days;
    rules.disk_guard_bytes = megabytes(options.disk_guard_mb);  // 0: no warning
    return rules;
}

}  // namespace veldra::window
