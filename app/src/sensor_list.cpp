// Editing of the sensor list: the address dialog's commands and removal of the selected item.
#include <cstdio>

#include "app/app.h"
#include "app/panel_ids.h"
#include "platform/ui.h"

std::string sensor_label(int address) {
    // Hex digits follow no locale. The int's bit pattern is shown, padded but never cut.
    char text[32];
    std::snprintf(text, sizeof text, "Adr. %06X", static_cast<unsigned int>(address));
    return text;
}

int add_sensor_to_list(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    // Not modal, and nothing reset: the dialog offers the address entered last.
    DisplayPanel(address_panel);
    return 0;
}

int add_to_list_and_hide_panel(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    int address = 0;
    GetCtrlVal(address_panel, address_field, address);
    InsertListItem(main_panel, sensor_list, -1, sensor_label(address), address);
    HidePanel(address_panel);
    return 0;
}

int cancel_and_hide_panel(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    HidePanel(address_panel);
    return 0;
}

int remove_sensor_from_list(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    int index = -1;
    GetCtrlIndex(main_panel, sensor_list, index);
    // An empty list has no selection (-1); the deletion then fails quietly.
    DeleteListItem(main_panel, sensor_list, index, 1);
    return 0;
}
