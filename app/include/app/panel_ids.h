// The panels of the panel file and the ids of the controls the program touches, with the
// program-wide panel handles. Shared by the window code and the logging code.
#pragma once

inline constexpr const char* kPanelFileName = "VELDRA_Loggerprogramm.uir";
inline constexpr const char* kSettingsFileName = "settings.txt";

// Resource numbers in the panel file.
inline constexpr int ADDRESS_PANEL_RESOURCE = 1;
inline constexpr int MAIN_PANEL_RESOURCE = 2;
inline constexpr int SPLASH_PANEL_RESOURCE = 3;

// Controls of the main panel. Ids 2 to 6 are the five commands dimmed during a session.
inline constexpr int MAIN_ADD_SENSOR = 2;
inline constexpr int MAIN_REMOVE_SENSOR = 3;
inline constexpr int MAIN_SET_LOGFILE = 4;
inline constexpr int MAIN_LOAD_CONFIG = 5;
inline constexpr int MAIN_SAVE_CONFIG = 6;
inline constexpr int start_stop_button = 7;
inline constexpr int MAIN_QUIT = 8;
inline constexpr int MAIN_OPTIONS = 9;  // "Options…": not dimmed, it edits the next session's
inline constexpr int column_frame = 10;
inline constexpr int sensor_list_frame = 18;
inline constexpr int log_view = 20;
inline constexpr int sensor_list = 21;
inline constexpr int log_view_frame = 22;
inline constexpr int interval_field = 23;
inline constexpr int comport_field = 24;
inline constexpr int comport_hint = 25;
inline constexpr int logfile_frame = 26;
inline constexpr int status_line = 27;
inline constexpr int logfile_field = 28;
inline constexpr int logfile_caption = 29;
inline constexpr int status_frame = 30;
inline constexpr int status_caption = 31;
inline constexpr int bottom_frame = 32;
inline constexpr int log_error_line = 33;  // shows a failed log write until the session stops

// Controls of the address dialog.
inline constexpr int address_field = 2;
inline constexpr int ADDRESS_OK = 3;
inline constexpr int ADDRESS_CANCEL = 4;

// Panel handles, set by main().
extern int main_panel;
extern int address_panel;
extern int splash_panel;
