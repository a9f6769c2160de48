// Keeps the main panel's controls fitted to the panel when its size changes: the log view grows
// both ways, the list column grows in height, the bottom rows keep their distance to the bottom
// edge and stretch with the width. Nothing is bounded: a tiny panel gives zero or negative sizes,
// which the toolkit handles.
#include "app/app.h"
#include "app/panel_ids.h"
#include "platform/ui.h"

int mainpanel_callback(int, int event, void*, int, int) {
    if (event != EVENT_PANEL_SIZE && event != EVENT_PANEL_SIZING && event != EVENT_PANEL_RESIZED) {
        return 0;
    }
    int width = 0;
    int height = 0;
    GetPanelAttribute(main_panel, ATTR_WIDTH, width);
    GetPanelAttribute(main_panel, ATTR_HEIGHT, height);

    const int bottom_top = height - 76;
    SetCtrlAttribute(main_panel, log_view_frame, ATTR_WIDTH, width - 293);
    SetCtrlAttribute(main_panel, log_view, ATTR_WIDTH, width - 313);
    SetCtrlAttribute(main_panel, bottom_frame, ATTR_WIDTH, width - 13);
    SetCtrlAttribute(main_panel, logfile_frame, ATTR_WIDTH, width - 68);
    SetCtrlAttribute(main_panel, status_frame, ATTR_WIDTH, width - 68);
    SetCtrlAttribute(main_panel, bottom_frame, ATTR_TOP, bottom_top);
    SetCtrlAttribute(main_panel, logfile_frame, ATTR_TOP, bottom_top + 8);
    SetCtrlAttribute(main_panel, status_frame, ATTR_TOP, bottom_top + 38);
    SetCtrlAttribute(main_panel, logfile_caption, ATTR_TOP, bottom_top + 13);
    SetCtrlAttribute(main_panel, status_caption, ATTR_TOP, bottom_top + 44);
    SetCtrlAttribute(main_panel, logfile_field, ATTR_TOP, bottom_top + 13);
    SetCtrlAttribute(main_panel, status_line, ATTR_TOP, bottom_top + 44);
    SetCtrlAttribute(main_panel, log_view_frame, ATTR_HEIGHT, height - 100);
    SetCtrlAttribute(main_panel, sensor_list_frame, ATTR_HEIGHT, height - 100);
    SetCtrlAttribute(main_panel, column_frame, ATTR_HEIGHT, height - 520);
    SetCtrlAttribute(main_panel, sensor_list, ATTR_HEIGHT, height - 130);
    SetCtrlAttribute(main_panel, log_view, ATTR_HEIGHT, height - 130);
    return 0;
}
