// Texts of the COM port hint and the callback that keeps it in step with comport_field.
#include "comport_hint.h"

#include "app/panel_ids.h"
#include "platform/ui.h"

namespace {

std::string com_name(int number) {
    return "COM " + std::to_string(number);
}

// The hint has room for about 23 characters a line. A longer line names a device under /dev
// by its name alone, and any other long path (a link in some folder, a by-id name) by its last
// part; the tooltip gives the whole path.
std::string fitted_device(const std::string& prefix, const std::string& device) {
    constexpr std::size_t kRoom = 23;
    const auto slash = device.rfind('/');
    if (prefix.size() + device.size() <= kRoom || slash == std::string::npos) {
        return device;
    }
    const std::string name = device.substr(slash + 1);
    return device.compare(0, slash + 1, "/dev/") == 0 ? name : "\u2026/" + name;
}

}  // namespace

ComPortHint describe_com_port(int number, const ComPortInfo& info,
                              const std::vector<ComPortInfo>& present) {
    ComPortHint hint;
    std::string full;
    if (number < 1 || number > kMaxComPort) {
        hint.text = full = com_name(number) + ": out of range";
    } else if (info.device.empty()) {
        hint.text = full = com_name(number) + ": no device";
    } else {
        const std::string prefix = com_name(number) + " = ";
        // An absent device gets a second line: the field's hint has room for two short ones.
        hint.text =
            prefix + fitted_device(prefix, info.device) + (info.present ? "" : "\n(absent)");
        full = prefix + info.device + (info.present ? "" : " (absent)");
    }

    hint.tooltip = full + "\n\n";
    if (present.empty()) {
        hint.tooltip += "No serial devices present.";
    } else {
        hint.tooltip += "Serial devices present:";
        for (const ComPortInfo& port : present) {
            hint.tooltip += "\n" + com_name(port.number) + " = " + port.device;
        }
    }
    return hint;
}

void update_comport_hint() {
    int number = 0;
    if (GetCtrlVal(main_panel, comport_field, number) < 0) {
        return;
    }
    const ComPortHint hint = describe_com_port(number, ResolveComPort(number), ListSerialPorts());
    SetCtrlVal(main_panel, comport_hint, hint.text);
    SetCtrlAttribute(main_panel, comport_hint, ATTR_TOOLTIP_TEXT, hint.tooltip);
    SetCtrlAttribute(main_panel, comport_field, ATTR_TOOLTIP_TEXT, hint.tooltip);
}

int show_comport_device(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT || event == EVENT_VAL_CHANGED) {
        update_comport_hint();
    }
    return 0;
}
