// The data behind panels and controls, shared by the headless facade and the Qt front-end.
// Not for the program: it goes through ui.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/panel_state_record.h"
#include "platform/ui.h"

namespace veldra::ui {

struct Geometry {
    int left = 0, top = 0, width = 0, height = 0;
};

// A control as the panel file describes it.
struct ControlDef {
    int id = 0;
    ControlKind kind = ControlKind::Decoration;
    std::string label;
    Geometry geometry;
    int intValue = 0;
    std::string textValue;        // string, text message, text box
    std::vector<ListItem> items;  // list box
    int minValue = INT32_MIN, maxValue = INT32_MAX;
    bool hex = false;  // numeric shown and typed in hexadecimal
    bool readOnly = false;
    bool dimmed = false;
    std::string style;  // "fixed", "bold", "title", "error", "small"
    std::string callbackName;
    std::string tooltip;
};

enum class PanelStyle { Window, Dialog, Splash };

// A panel as the panel file describes it.
struct PanelDef {
    int resource = 0;
    std::string title;
    int width = 0, height = 0;
    int minWidth = 0, minHeight = 0;
    PanelStyle style = PanelStyle::Window;
    std::string callbackName;
    int closeControl = 0;  // the close box commits this control; 0: the close box hides
    std::vector<ControlDef> controls;
};

// Parses a whole panel file and picks one resource. Returns 0 or UIE_FILE_FORMAT /
// UIE_NO_RESOURCE with a reason in error. Never throws.
int ParsePanelFile(std::string_view bytes, int resource, PanelDef& panel, std::string& error);

// Parses a panel-state record in full (ParsePanelStateRecord); returns 0 or UIE_FILE_FORMAT.
// Never throws.
int ParsePanelState(std::string_view bytes, PanelStateRecord& record, std::string& error);

}  // namespace veldra::ui
