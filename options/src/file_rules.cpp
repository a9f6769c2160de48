// From the options' megabytes and modes to the core's bytes and rules.
#include "options/file_rules.h"

#include <cstdint>

namespace veldra::options {
namespace {

std::uint64_t megabytes(int mb) {
    return mb > 0 ? static_cast<std::uint64_t>(mb) << 20 : 0;
}

core::FileRules::Rotation rotation(RotationMode mode) {
    switch (mode) {
        case RotationMode::Daily:
            return core::FileRules::Rotation::Daily;
        case RotationMode::Size:
            return core::FileRules::Rotation::Size;
        case RotationMode::Off:
            break;
    }
    return core::FileRules::Rotation::Off;
}

}  // namespace

core::FileRules file_rules(const Options& options) {
    core::FileRules rules;
    rules.rotation = rotation(options.rotation.mode);
    rules.rotate_bytes = megabytes(options.rotation.size_mb);
    rules.keep_days = options.rotation.keep_days;
    rules.disk_guard_bytes = megabytes(options.disk_guard_mb);  // 0: no warning
    return rules;
}

}  // namespace veldra::options
