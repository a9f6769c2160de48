// What a logging session needs from a panel-state record (settings.txt or a *.set file): the
// sensor list, the interval, the COM port and the log file entry, read by the main panel's
// control ids. A control the record lacks keeps the value the panel file gives it, and a
// number out of the control's range is brought into it, exactly as the window's recall does,
// so the service logs with what the window would show.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace veldra::service {

// The main panel's initial values and ranges for the controls the service reads (the panel
// file's, checked against it by the tests).
inline constexpr int kDefaultInterval = 10;
inline constexpr int kMinInterval = 1;
inline constexpr int kMaxInterval = 86400;
inline constexpr int kDefaultComPort = 1;
inline constexpr int kMinComPort = 1;
inline constexpr int kMaxComPort = 255;
inline constexpr const char* kNoFileSelected =
    "no file selected, please press Button \"Set Logfile\"...";

struct PanelSettings {
    std::vector<int> sensors;  // the list items' values, in list order
    int interval_seconds = kDefaultInterval;
    int com_port = kDefaultComPort;
    std::string log_file = kNoFileSelected;
    // Values brought into their range, one text each ("the interval 0 s is outside 1 to
    // 86400 s; 1 s is used").
    std::vector<std::string> adjusted;
};

struct SettingsRead {
    std::optional<PanelSettings> settings;
    std::string reason;  // when there are none: why, to follow the file's name
};

// Reads the record of the main panel (slot 1) from `path`.
SettingsRead read_panel_settings(const std::string& path);

// Why these settings cannot drive a session, or nothing: no log file (the entry still says
// "no file selected", or is empty), no sensor. A log path given on the command line stands
// in for the entry.
std::optional<std::string> unusable_reason(const PanelSettings& settings);

}  // namespace veldra::service
