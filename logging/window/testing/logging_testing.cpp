// Resets the window's logging session between tests.
#include "logging/logging_testing.h"

#include "window_logging.h"

void ResetLoggingForTesting() {
    veldra::window::reset_window_logging();
}
