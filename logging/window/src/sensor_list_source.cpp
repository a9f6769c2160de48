// Reads sensor_list afresh whenever the session asks: at the start and at every cycle.
#include "sensor_list_source.h"

#include "app/panel_ids.h"
#include "platform/ui.h"

namespace veldra::window {

std::vector<int> SensorListSource::sensors() {
    int count = 0;
    GetNumListItems(main_panel, sensor_list, count);
    std::vector<int> addresses;
    addresses.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
    for (int i = 0; i < count; ++i) {
        int address = 0;
        if (GetValueFromIndex(main_panel, sensor_list, i, address) < 0) {
            break;  // the list became shorter meanwhile
        }
        addresses.push_back(address);
    }
    return addresses;
}

}  // namespace veldra::window
