// "Set Logfile": the user chooses the text log; the choice is tested for writing at once
// without emptying the file, which only a session start does (after keeping an earlier log).
#include <string>

#include "app/panel_ids.h"
#include "logging/logging.h"
#include "platform/textfile.h"
#include "platform/ui.h"

int set_filename_for_loggerdata(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    std::string selected;
    const int choice =
        FileSelectPopup("", "*.txt", "*.txt", "Please enter Path and Filename for logging Data...",
                        0, 0, 0, 1, 1, selected);
    if (choice != VAL_EXISTING_FILE_SELECTED && choice != VAL_NEW_FILE_SELECTED) {
        return 0;
    }
    // Its own handle: the files of a running session stay untouched.
    const int handle = OpenFile(selected, VAL_READ_WRITE, VAL_OPEN_AS_IS, VAL_ASCII);
    if (handle < 0) {
        MessagePopup("Error",
                     "Selected file could not be opened! Please check if file is protected!");
        SetCtrlVal(main_panel, logfile_field,
                   "no file selected, please press Button \"Set Logfile\"...");
        return 0;
    }
    SetCtrlVal(main_panel, logfile_field, selected);
    CloseFile(handle);
    return 0;
}
