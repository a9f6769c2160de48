// The table through which the panel file's callback names reach the program's functions.
#include <array>

#include "app/app.h"
#include "comport_hint.h"
#include "logging/logging.h"

namespace {

constexpr std::array kNames{
    ExternalName{"quit_program", quit_program},
    ExternalName{"add_sensor_to_list", add_sensor_to_list},
    ExternalName{"remove_sensor_from_list", remove_sensor_from_list},
    ExternalName{"start_logging", start_logging},
    ExternalName{"set_filename_for_loggerdata", set_filename_for_loggerdata},
    ExternalName{"save_configuration_to_file", save_configuration_to_file},
    ExternalName{"load_configuration_from_file", load_configuration_from_file},
    ExternalName{"add_to_list_and_hide_panel", add_to_list_and_hide_panel},
    ExternalName{"cancel_and_hide_panel", cancel_and_hide_panel},
    ExternalName{"show_comport_device", show_comport_device},
    ExternalName{"edit_options", edit_options},
    ExternalName{"mainpanel_callback", nullptr, mainpanel_callback},
};

}  // namespace

std::span<const ExternalName> callback_names() {
    return kNames;
}
