// Sizes of the reliability battery: a short form that runs by default, and a long form chosen
// with VELDRA_LONG=1. Individual figures can be overridden through the environment.
#pragma once

#include <cstdlib>
#include <string>

namespace veldra::reliability {

inline bool long_form() {
    const char* value = std::getenv("VELDRA_LONG");
    return value != nullptr && std::string(value) == "1";
}

// Sanitizer builds run several times slower; their short form is smaller still.
inline constexpr bool kSanitized =
#ifdef VELDRA_SANITIZED
    true;
#else
    false;
#endif

// The environment variable when set, else the long or short figure.
inline long battery_size(const char* variable, long short_form, long long_form_size) {
    if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
        return std::strtol(value, nullptr, 10);
    }
    return long_form() ? long_form_size : short_form;
}

}  // namespace veldra::reliability
