// The status line's notice about a settings or configuration file that could not be read.
#include "state_notice.h"

#include <string>

#include "app/panel_ids.h"
#include "platform/ui.h"

void show_panel_state_notice() {
    if (const std::string notice = TakePanelStateNotice(); !notice.empty()) {
        SetCtrlVal(main_panel, status_line, notice);
    }
}
