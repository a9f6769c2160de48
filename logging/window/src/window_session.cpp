// The window's program-wide logging objects, the accessors the program reads, and the timer's
// callback.
#include "logging/logging.h"
#include "window_logging.h"

int measurement_timer = -1;

namespace veldra::window {

WindowLogging& window_logging() {
    static WindowLogging logging;
    return logging;
}

void reset_window_logging() {
    WindowLogging& logging = window_logging();
    end_logging_session();
    logging.pressed_port = 0;
    logging.pressed_interval = 0;
}

core::Session& logging_session() {
    return window_logging().session;
}

}  // namespace veldra::window

int logging_active() {
    return veldra::window::window_logging().session.running() ? 1 : 0;
}

int com_port_number() {
    return veldra::window::window_logging().pressed_port.load();
}

int logging_interval() {
    return veldra::window::window_logging().pressed_interval.load();
}

int timer_callback(int, int, int, void*, void*, void*) {
    veldra::window::window_logging().session.tick();
    return 0;
}
