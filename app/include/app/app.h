// The program's own entry points: its main function, the callbacks the panel file binds by
// name, and the table of those names that the run-time is handed before main runs.
#pragma once

#include <span>
#include <string>

#include "platform/ui.h"

// The program's main: loads the panels, restores the settings, runs the event loop.
// Returns 0 after a normal quit and -1 when start-up fails.
int veldra_main(int argc, char** argv);

// Every callback the panel file may name, with its entry point.
std::span<const ExternalName> callback_names();

// Quit command: ends a running session, saves the settings, closes the port, leaves the loop.
int quit_program(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);

// Sensor list editing.
int add_sensor_to_list(int panel, int control, int event, void* callbackData, int eventData1,
                       int eventData2);
int add_to_list_and_hide_panel(int panel, int control, int event, void* callbackData,
                               int eventData1, int eventData2);
int cancel_and_hide_panel(int panel, int control, int event, void* callbackData, int eventData1,
                          int eventData2);
int remove_sensor_from_list(int panel, int control, int event, void* callbackData, int eventData1,
                            int eventData2);

// Configuration files.
int save_configuration_to_file(int panel, int control, int event, void* callbackData,
                               int eventData1, int eventData2);
int load_configuration_from_file(int panel, int control, int event, void* callbackData,
                                 int eventData1, int eventData2);

// "Options…": edits options.json beside settings.txt in the front-end's dialog.
int edit_options(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);

// Panel callback of the main panel: lays the controls out again when its size changes.
int mainpanel_callback(int panel, int event, void* callbackData, int eventData1, int eventData2);

// The sensor list's label for an address: "Adr. " and at least six upper-case hex digits.
std::string sensor_label(int address);

// A configuration file name as saved and loaded: ".set" is appended when missing.
std::string with_set_extension(std::string path);
