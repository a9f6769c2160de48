// The logging session in the window: the start/stop command, the measurement timer's callback
// and the choice of the log file, bound to the measurement core. The display table, the status
// line and the log-write error line are the window's observer of the session; the sensor list
// is read afresh at every cycle.
#pragma once

#include <string>

#include "logging/session.h"

// The one measurement timer: main creates it, disabled, with timer_callback; each start hands
// it to the session, whose cycles its ticks run.
extern int measurement_timer;

// 1 while a session runs, else 0.
int logging_active();
// What the last press of start_stop_button read: the COM port (quit_program closes it) and the
// interval after the interval rule.
int com_port_number();
int logging_interval();

// Callback of the measurement timer: one measurement cycle of the running session.
int timer_callback(int reserved, int timerId, int event, void* callbackData, void* eventData1,
                   void* eventData2);
// Callback of start_stop_button: starts a session when idle, stops it when running. A start is
// refused (message box, nothing changed, port closed again) when the port, the log file, the
// sensor list or the log files themselves are unusable; a stop is never refused.
int start_logging(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
// Callback of "Set Logfile": the chosen file is tested for writing but never emptied.
int set_filename_for_loggerdata(int panel, int control, int event, void* callbackData,
                                int eventData1, int eventData2);

// Ends a running session (timer off, running cycle cut short, files and port closed, controls
// usable again); does nothing when idle. quit_program calls it before saving the settings.
void end_logging_session();

namespace veldra::window {

// The window's session, for outputs that observe it beside the display table (plots, export).
// Observers are added while no session runs.
core::Session& logging_session();

}  // namespace veldra::window
