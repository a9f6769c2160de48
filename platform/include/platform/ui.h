// The user-interface services the program calls: panels, controls, popups, panel-state files,
// delays, date and time, and the run-time initialisation with the table of callback names.
// Every call is safe from any thread; none waits for the GUI thread. Results are ints,
// negative on failure.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/wall_clock.h"

// Callback shapes bound by name from the panel file.
using CtrlCallbackPtr = int (*)(int panel, int control, int event, void* callbackData,
                                int eventData1, int eventData2);
using PanelCallbackPtr = int (*)(int panel, int event, void* callbackData, int eventData1,
                                 int eventData2);

// One entry of the program's table of external names. Exactly one of the pointers is set.
struct ExternalName {
    std::string_view name;
    CtrlCallbackPtr control = nullptr;
    PanelCallbackPtr panel = nullptr;
};

// Events.
inline constexpr int EVENT_COMMIT = 1;
inline constexpr int EVENT_VAL_CHANGED = 2;     // the user changed a value (before any commit)
inline constexpr int EVENT_PANEL_SIZE = 37;     // the panel's size was set
inline constexpr int EVENT_PANEL_SIZING = 52;   // the user is dragging the panel's edge
inline constexpr int EVENT_PANEL_RESIZED = 53;  // the user finished resizing

// Attributes (controls and panels).
inline constexpr int ATTR_DIMMED = 500;
inline constexpr int ATTR_LEFT = 531;
inline constexpr int ATTR_TOP = 532;
inline constexpr int ATTR_WIDTH = 533;
inline constexpr int ATTR_HEIGHT = 540;
inline constexpr int ATTR_FIRST_VISIBLE_LINE = 560;
inline constexpr int ATTR_LABEL_TEXT = 641;
inline constexpr int ATTR_TITLE = 642;         // panel title
inline constexpr int ATTR_TOOLTIP_TEXT = 643;  // text shown when the pointer rests on a control

// Generic negative results.
inline constexpr int UIE_BAD_HANDLE = -4;     // no such panel
inline constexpr int UIE_BAD_CONTROL = -5;    // no such control on the panel
inline constexpr int UIE_BAD_ATTRIBUTE = -6;  // attribute unknown or of the wrong type
inline constexpr int UIE_BAD_ARGUMENT = -7;   // index out of range, wrong value type
inline constexpr int UIE_FILE_MISSING = -10;  // file could not be opened
inline constexpr int UIE_FILE_FORMAT = -11;   // malformed panel file or panel-state record
inline constexpr int UIE_NO_RESOURCE = -12;   // the panel file has no such panel
inline constexpr int UIE_FILE_WRITE = -13;    // file could not be written
inline constexpr int UIE_NOT_INITIALISED = -20;

// Run-time initialisation. The process entry calls InitRunTime with the program's name table
// before main; main calls it again with (0, argv, 0), which then returns 1 at once.
// Nonzero means ready.
int InitRunTime(std::span<const ExternalName> names);
int InitRunTime(void* moduleHandle, char** argv, void* reserved);

// Panels.
int LoadPanel(int parent, const std::string& file, int resourceId);
// Why the last LoadPanel failed ("<file>: <reason>"), for a one-line report; empty after a
// successful load.
std::string LastPanelFileError();
int DisplayPanel(int panel);
int HidePanel(int panel);
int DiscardPanel(int panel);
int RunUserInterface();
int QuitUserInterface(int returnCode);
int ProcessDrawEvents();
int ProcessSystemEvents();

// Control values. On a text box, SetCtrlVal appends.
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, std::string_view text);
inline int SetCtrlVal(int panel, int control, const char* text) {
    return SetCtrlVal(panel, control, std::string_view(text));
}
int GetCtrlVal(int panel, int control, int& value);
int GetCtrlVal(int panel, int control, std::string& text);

// Text boxes. Line counts include an unended last line; lines come without their line end.
int ResetTextBox(int panel, int control, std::string_view text);
int GetNumTextBoxLines(int panel, int control, int& count);
int GetTextBoxLine(int panel, int control, int index, std::string& line);
// Removes count lines (-1: to the end) from index on; keeps a long-running view bounded.
int DeleteTextBoxLines(int panel, int control, int index, int count);

// Lists: each item is a label and an integer value.
int InsertListItem(int panel, int control, int index, std::string_view label, int value);
int DeleteListItem(int panel, int control, int index, int count);
int GetNumListItems(int panel, int control, int& count);
int GetValueFromIndex(int panel, int control, int index, int& value);
int GetCtrlIndex(int panel, int control, int& index);  // -1 when nothing is selected
int SetCtrlIndex(int panel, int control, int index);

// Attributes.
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, std::string_view text);
inline int SetCtrlAttribute(int panel, int control, int attribute, const char* text) {
    return SetCtrlAttribute(panel, control, attribute, std::string_view(text));
}
int GetCtrlAttribute(int panel, int control, int attribute, int& value);
int GetCtrlAttribute(int panel, int control, int attribute, std::string& text);
int GetPanelAttribute(int panel, int attribute, int& value);
int SetPanelAttribute(int panel, int attribute, int value);  // width/height send EVENT_PANEL_SIZE
int GetPanelAttribute(int panel, int attribute, std::string& text);  // ATTR_TITLE
int SetPanelAttribute(int panel, int attribute, std::string_view text);
inline int SetPanelAttribute(int panel, int attribute, const char* text) {
    return SetPanelAttribute(panel, attribute, std::string_view(text));
}

// Popups: modal in the GUI, answered by the installed responder in tests.
inline constexpr int VAL_EXISTING_FILE_SELECTED = 1;
inline constexpr int VAL_NEW_FILE_SELECTED = 2;
inline constexpr int VAL_NO_FILE_SELECTED = 0;

int MessagePopup(std::string_view title, std::string_view message);
int FileSelectPopup(std::string_view defaultDirectory, std::string_view defaultFileSpec,
                    std::string_view fileTypeList, std::string_view title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, std::string& path);

struct FileSelectRequest {
    std::string defaultDirectory, defaultFileSpec, fileTypeList, title;
    int buttonLabel = 0, restrictDirectory = 0, restrictExtension = 0, allowCancel = 1,
        allowMakeDirectory = 1;
};

// Answers popups. The GUI installs one that shows Qt dialogs; tests install their own.
class PopupResponder {
  public:
    virtual ~PopupResponder() = default;
    virtual int message(std::string_view title, std::string_view text) = 0;
    // Returns 1, 2, 0 or negative like FileSelectPopup, and fills path on 1 or 2.
    virtual int fileSelect(const FileSelectRequest& request, std::string& path) = 0;
};
// The responder must outlive its use; nullptr restores the default (GUI dialogs, or, without
// a GUI, "cancelled" for file selection and "dismissed" for messages).
void SetPopupResponder(PopupResponder* responder);

// Panel-state records (settings file, configuration files). Saving is atomic.
//
// A file that is there but holds no readable record (cut off, binary, written by another
// program, an item of the wrong type, a named pipe or device under that name) is never
// destroyed: SavePanelState first moves it aside under a dated name beside it
// (platform/kept_file.h), and refuses to save (UIE_FILE_WRITE) when it cannot. A recall that
// fails on such a file changes nothing and says why in the notice below.
int SavePanelState(int panel, const std::string& file, int slot);
int RecallPanelState(int panel, const std::string& file, int slot);
// Moves `file` aside now when it is there but holds no readable record, as a save would.
// 1 when it moved it, 0 when there was nothing to keep (no file, or a readable record),
// UIE_FILE_WRITE when it could not be moved.
int KeepUnreadablePanelState(const std::string& file);
// The text for the user about the last file that could not be read, once; then "". After a
// failed recall "settings.txt could not be read (reason)"; after the file was kept aside
// "settings.txt could not be read (reason); kept as settings.2024-03-05_140709.txt".
std::string TakePanelStateNotice();

// Time. Delay blocks the calling thread; the event loop keeps running on the main thread.
int Delay(double seconds);
int GetSystemDate(int& month, int& day, int& year);
int GetSystemTime(int& hours, int& minutes, int& seconds);

// The local date and time from one reading of the clock (see wall_clock.h).
int GetSystemDateTime(WallClockReading& now);
