// The window's one logging session and what binds it to the main panel.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "display_table.h"
#include "logging/session.h"
#include "sensor_list_source.h"

namespace veldra::window {

struct WindowLogging {
    SensorListSource sensors;
    DisplayTable display;
    core::Session session{sensors};
    // What the last press read (after the interval rule), refused or not.
    std::atomic<int> pressed_port{0};
    std::atomic<int> pressed_interval{0};
    // Outputs the options switched on for the running session (the broker export; see
    // start_logging.cpp).
    std::vector<std::unique_ptr<core::SessionObserver>> option_outputs;

    WindowLogging() { session.add_observer(display); }
};

WindowLogging& window_logging();
// Ends a running session and forgets the last press, as at program start. For tests, while no
// timer runs the session.
void reset_window_logging();

}  // namespace veldra::window
