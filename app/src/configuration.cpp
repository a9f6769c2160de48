// Configuration files: the main panel's state saved to and loaded from a "*.set" file.
#include <algorithm>
#include <cctype>
#include <string_view>

#include "app/app.h"
#include "app/panel_ids.h"
#include "comport_hint.h"
#include "logging/logging.h"
#include "platform/ui.h"
#include "state_notice.h"

namespace {

constexpr std::string_view kExtension = ".set";

// Both commands show the same dialog; the result says whether a name was given.
bool choose_configuration_file(std::string& path) {
    const int chosen = FileSelectPopup("", "*.set", "*.set", "Please select path and file...", 0, 0,
                                       1, 1, 1, path);
    if (chosen != VAL_EXISTING_FILE_SELECTED && chosen != VAL_NEW_FILE_SELECTED) {
        return false;
    }
    if (path.empty()) {
        return false;
    }
    path = with_set_extension(std::move(path));
    return true;
}

}  // namespace

std::string with_set_extension(std::string path) {
    // The dialog's filter matches the extension in any case, so accept "X.SET" as it is.
    const auto ends_with_extension = [&] {
        if (path.size() < kExtension.size()) {
            return false;
        }
        const std::string_view tail =
            std::string_view(path).substr(path.size() - kExtension.size());
        return std::equal(tail.begin(), tail.end(), kExtension.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == b;
        });
    };
    if (!ends_with_extension()) {
        path += kExtension;
    }
    return path;
}

int save_configuration_to_file(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    std::string path;
    if (choose_configuration_file(path)) {
        SavePanelState(main_panel, path, 1);
        show_panel_state_notice();  // a file there that held no configuration was kept aside
    }
    return 0;
}

int load_configuration_from_file(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    // A running session took its port, interval and log files at its start; swapping the whole
    // panel state under it would leave the display and the files disagreeing. The command is
    // dimmed during a session, so this only guards against a stray call.
    if (logging_active() == 1) {
        return 0;
    }
    std::string path;
    if (choose_configuration_file(path)) {
        // A failed recall leaves the panel as it was; the views are emptied all the same.
        RecallPanelState(main_panel, path, 1);
        ResetTextBox(main_panel, log_view, "");
        SetCtrlVal(main_panel, status_line, "");
        show_panel_state_notice();  // why nothing was loaded, if so
        update_comport_hint();
    }
    return 0;
}
