// Reads the four values a session takes from the main panel's record, by control id.
#include "service/panel_settings.h"

#include "app/panel_ids.h"
#include "platform/panel_state_record.h"

namespace veldra::service {
namespace {

using ui::ControlKind;

// A control of the wrong kind is skipped by the window's recall, so it counts as missing.
const ui::StoredControl* find(const ui::PanelStateRecord& record, int id, ControlKind kind) {
    const ui::StoredControl* c = record.Find(id);
    return c != nullptr && c->kind == kind ? c : nullptr;
}

int in_range(int value, int low, int high, const std::string& what, const std::string& unit,
             std::vector<std::string>& adjusted) {
    if (value >= low && value <= high) {
        return value;
    }
    const int used = value < low ? low : high;
    adjusted.push_back("the " + what + " " + std::to_string(value) + unit + " is outside " +
                       std::to_string(low) + " to " + std::to_string(high) + unit + "; " +
                       std::to_string(used) + unit + " is used");
    return used;
}

}  // namespace

SettingsRead read_panel_settings(const std::string& path) {
    ui::PanelStateRecord record;
    std::string reason;
    switch (ui::ReadPanelStateFile(path, record, reason)) {
        case ui::RecordFile::Read:
            break;
        case ui::RecordFile::Missing:
            return {std::nullopt, "no such file"};
        case ui::RecordFile::CannotRead:
            return {std::nullopt, "cannot be read (" + reason + ")"};
        case ui::RecordFile::Malformed:
            return {std::nullopt, "holds no readable configuration (" + reason + ")"};
    }
    if (record.slot != 1) {
        return {std::nullopt, "holds no readable configuration (it holds the values of slot " +
                                  std::to_string(record.slot) + ", not of slot 1)"};
    }

    PanelSettings settings;
    if (const auto* list = find(record, sensor_list, ControlKind::ListBox)) {
        for (const ui::ListItem& item : list->items) {
            settings.sensors.push_back(item.value);
        }
    }
    if (const auto* interval = find(record, interval_field, ControlKind::Numeric)) {
        settings.interval_seconds = in_range(interval->intValue, kMinInterval, kMaxInterval,
                                             "interval", " s", settings.adjusted);
    }
    if (const auto* port = find(record, comport_field, ControlKind::Numeric)) {
        settings.com_port =
            in_range(port->intValue, kMinComPort, kMaxComPort, "COM port", "", settings.adjusted);
    }
    if (const auto* entry = find(record, logfile_field, ControlKind::String)) {
        settings.log_file = entry->text;
    }
    return {std::move(settings), {}};
}

std::optional<std::string> unusable_reason(const PanelSettings& settings) {
    // The window's file check comes before its list check; the same order here.
    if (settings.log_file.empty() || settings.log_file.starts_with("no file selected")) {
        return "names no log file (its entry reads \"" + settings.log_file +
               "\"); choose one in the window, or give --log PATH";
    }
    if (settings.sensors.empty()) {
        return "lists no sensor; add at least one in the window and save the configuration";
    }
    return std::nullopt;
}

}  // namespace veldra::service
