// Panel-state records (settings.txt, *.set) as data: the stored value of every control by id,
// the record's JSON form, and reading one from a file. No panel or UI model here, so that a
// program without a window (the service) reads the same files the window writes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veldra::ui {

enum class ControlKind {
    CommandButton,
    Numeric,
    String,
    TextBox,
    ListBox,
    TextMessage,
    Decoration
};

// The names that panel files and panel-state records use for the kinds ("numeric", ...).
std::string_view KindName(ControlKind kind);
std::optional<ControlKind> KindFromName(std::string_view name);
// The kinds whose values a record stores: numerics, strings, text boxes and list boxes.
bool IsStoredKind(ControlKind kind);

struct ListItem {
    std::string label;
    int value = 0;
};

// One control's stored state in a panel-state record.
struct StoredControl {
    int id = 0;
    ControlKind kind = ControlKind::Numeric;
    int intValue = 0;
    std::string text;
    std::vector<ListItem> items;
    int index = -1;
};

struct PanelStateRecord {
    int slot = 1;
    std::vector<StoredControl> controls;

    // The stored control with this id, or nullptr.
    const StoredControl* Find(int id) const;
};

inline constexpr std::string_view kPanelStateFormat = "veldra-panel-state";
inline constexpr int kPanelStateVersion = 1;

// Parses and checks a whole record. False with the reason in `error` ("the file is empty",
// "control 21: list item 2: the value is not an integer", ...); `record` is then unspecified.
// Never throws.
bool ParsePanelStateRecord(std::string_view bytes, PanelStateRecord& record, std::string& error);
std::string SerialisePanelState(const PanelStateRecord& record);

enum class RecordFile {
    Read,        // the record is in `record`
    Missing,     // no file under that name; `reason` is empty
    CannotRead,  // something is there that cannot be read as a file; `reason` says why
    Malformed,   // the file was read but holds no valid record; `reason` says why
};

// Reads a record from a regular file. A named pipe, device or folder under the name is
// CannotRead at once, without waiting or opening a device.
RecordFile ReadPanelStateFile(const std::string& path, PanelStateRecord& record,
                              std::string& reason);

}  // namespace veldra::ui
