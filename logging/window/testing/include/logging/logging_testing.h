// For tests that run the program's logging in one process one after another.
#pragma once

// Ends a running session and forgets the last press of start_stop_button, as at program
// start. Call while no timer runs the session's cycles (between tests).
void ResetLoggingForTesting();
