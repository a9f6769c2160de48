// The logging session: the start/stop command, the measurement cycle run at every tick of the
// measurement timer, the log outputs and the choice of the log file.
#pragma once

// Session state, written on the main thread before the timer is enabled.
extern int logging_active;
extern int com_port_number;
extern int logging_interval;
extern int text_log_file;
extern int csv_log_file;
extern int measurement_timer;

// Callback of the measurement timer: one measurement cycle.
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

// Ends a running session (timer off, running cycle finished, files and port closed); does
// nothing when idle. quit_program calls it before saving the settings.
void end_logging_session();
