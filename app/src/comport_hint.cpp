// Texts of the COM port hint and the callback that keeps it in step with comport_field.
#include "comport_hint.h"

#include "app/panel_ids.h"
#include "platform/ui.h"

namespace {

std::string com_name(int number) {
    return "COM " + std::to_string(number);
}

// The hint has room for a short device name only; a long path (a link in some folder, a
// by-id name) shows its last part, and the tooltip gives it in full.
std::string short_device(const std::string& device) {
    constexpr std::size_t kRoom = 16;
    const auto slash = device.rfind('/');
    if (device.size() <= kRoom || slash == std::string::npos) {
        return device;
    }
    return "\u2026/" + device.substr(slash + 1);
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
        const std::string absent = info.present ? "" : " (absent)";
        hint.text = com_name(number) + " = " + short_device(info.device) + absent;
        full = com_name(number) + " = " + info.device + absent;
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
