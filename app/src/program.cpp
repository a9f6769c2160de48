// The program's life: start-up (panels, splash, settings, timer), the event loop, and quitting.
#include <algorithm>
#include <cstdio>
#include <string>

#include "app/app.h"
#include "app/panel_ids.h"
#include "asynctimer/asynctimer.h"
#include "comport_hint.h"
#include "logging/logging.h"
#include "platform/folder_lock.h"
#include "platform/rs232.h"
#include "platform/ui.h"
#include "state_notice.h"
#include "window_extras_hook.h"

namespace {

std::string load_failure_reason(int result, int resource) {
    switch (result) {
        case UIE_FILE_MISSING:
            return "cannot be opened";
        case UIE_FILE_FORMAT:
            return "malformed panel file";
        case UIE_NO_RESOURCE:
            return "no panel " + std::to_string(resource);
        default:
            return "cannot be loaded (error " + std::to_string(result) + ")";
    }
}

// Loads one panel; on failure says on stderr which file and why, since a program that ends
// before showing a window has no other way to tell the user.
bool load_panel(int& handle, int resource) {
    handle = LoadPanel(0, kPanelFileName, resource);
    if (handle >= 0) {
        return true;
    }
    std::string reason = LastPanelFileError();
    if (reason.empty()) {
        reason = std::string(kPanelFileName) + ": " + load_failure_reason(handle, resource);
    }
    // One line, whatever the reason text holds.
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    std::fprintf(stderr, "veldra-logger: cannot start: %s\n", reason.c_str());
    return false;
}

}  // namespace

int veldra_main(int, char** argv) {
    if (InitRunTime(nullptr, argv, nullptr) == 0) {
        return -1;
    }
    // One program per working folder, decided before any file in it is touched: a second one
    // would save over this one's settings and move its live log aside.
    const auto folder = veldra::platform::FolderLock::Take(".", "veldra-logger");
    if (!folder.Refusal().empty()) {
        MessagePopup("Error", folder.Refusal());
        return -1;
    }
    if (!load_panel(main_panel, MAIN_PANEL_RESOURCE) ||
        !load_panel(address_panel, ADDRESS_PANEL_RESOURCE) ||
        !load_panel(splash_panel, SPLASH_PANEL_RESOURCE)) {
        return -1;
    }

    DisplayPanel(splash_panel);
    Delay(1.5);
    HidePanel(splash_panel);

    // A missing or unreadable settings file (the first run) leaves the panel file's values.
    // One that is there but cannot be read is kept aside now, before the save at quit.
    if (RecallPanelState(main_panel, kSettingsFileName, 1) < 0) {
        KeepUnreadablePanelState(kSettingsFileName);
    }
    measurement_timer = NewAsyncTimer(5.0, -1, 0, timer_callback, nullptr);
    // What the record held for these belonged to an earlier run.
    ResetTextBox(main_panel, log_view, "");
    SetCtrlVal(main_panel, status_line, "");
    show_panel_state_notice();  // after the emptying, so it is there when the panel shows
    update_comport_hint();
    // The front-end's pages and dialog; they observe the session, so they go before the panel.
    std::unique_ptr<WindowExtras> extras = make_window_extras();

    DisplayPanel(main_panel);
    RunUserInterface();
    extras.reset();
    DiscardPanel(main_panel);
    return 0;
}

int quit_program(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    // End a running session first: after this no cycle touches the port, the files or the
    // panel, and the settings saved below are those of an idle program.
    end_logging_session();
    SavePanelState(main_panel, kSettingsFileName, 1);
    // Port 0 or an already closed port: the failure is harmless.
    CloseCom(com_port_number());
    QuitUserInterface(0);
    return 0;
}
