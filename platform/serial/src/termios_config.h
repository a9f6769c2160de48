// Turning the caller's line settings (baud, parity, data and stop bits) into a raw-mode termios.
#pragma once

#include <termios.h>

#include <optional>

namespace veldra::serial {

struct LineSettings {
    int baud = 9600;
    int parity = 0;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int data_bits = 8;
    int stop_bits = 1;
    bool operator==(const LineSettings&) const = default;
};

// The baud constant for a rate, nullopt for a rate the terminal layer does not know.
std::optional<speed_t> baud_constant(int baud);
// True when every field is one the terminal layer can set.
bool settings_valid(const LineSettings& s);
// Applies the settings in raw mode (no echo, no line editing, no translation, no flow
// control, reads return what is there). Returns false when the device refuses.
bool apply_settings(int fd, const LineSettings& s);

}  // namespace veldra::serial
