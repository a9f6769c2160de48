// Reads the panel file: a JSON document listing panels by resource number and their controls.
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/detail/panel_model.h"

namespace veldra::ui {

namespace {

using nlohmann::json;

constexpr std::string_view kPanelFileFormat = "veldra-panel-file";
constexpr int kPanelFileVersion = 1;

struct FormatError {
    std::string what;
};

const json& Member(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) {
        throw FormatError{std::string("missing \"") + key + "\""};
    }
    return *it;
}

int IntMember(const json& object, const char* key, std::optional<int> fallback = std::nullopt) {
    if (!object.contains(key)) {
        if (fallback) {
            return *fallback;
        }
        throw FormatError{std::string("missing \"") + key + "\""};
    }
    const json& v = object.at(key);
    if (!v.is_number_integer() ||
        (v.is_number_unsigned() &&
         v.get<unsigned long long>() > static_cast<unsigned>(std::numeric_limits<int>::max())) ||
        v.get<long long>() < std::numeric_limits<int>::min() ||
        v.get<long long>() > std::numeric_limits<int>::max()) {
        throw FormatError{std::string("\"") + key + "\" is not an integer"};
    }
    return static_cast<int>(v.get<long long>());
}

std::string TextMember(const json& object, const char* key, const char* fallback = "") {
    if (!object.contains(key)) {
        return fallback;
    }
    const json& v = object.at(key);
    if (!v.is_string()) {
        throw FormatError{std::string("\"") + key + "\" is not a text"};
    }
    return v.get<std::string>();
}

bool BoolMember(const json& object, const char* key) {
    if (!object.contains(key)) {
        return false;
    }
    const json& v = object.at(key);
    if (!v.is_boolean()) {
        throw FormatError{std::string("\"") + key + "\" is not true or false"};
    }
    return v.get<bool>();
}

ControlDef ReadControl(const json& c) {
    if (!c.is_object()) {
        throw FormatError{"a control is not an object"};
    }
    ControlDef d;
    d.id = IntMember(c, "id");
    const std::string where = "control " + std::to_string(d.id) + ": ";
    try {
        const auto kind = KindFromName(TextMember(c, "kind"));
        if (!kind) {
            throw FormatError{"unknown kind \"" + TextMember(c, "kind") + "\""};
        }
        d.kind = *kind;
        d.label = TextMember(c, "label");
        d.geometry = {IntMember(c, "left"), IntMember(c, "top"), IntMember(c, "width"),
                      IntMember(c, "height")};
        d.minValue = IntMember(c, "min", std::numeric_limits<int>::min());
        d.maxValue = IntMember(c, "max", std::numeric_limits<int>::max());
        if (d.minValue > d.maxValue) {
            throw FormatError{"\"min\" is above \"max\""};
        }
        d.hex = TextMember(c, "format", "decimal") == "hexadecimal";
        d.readOnly = BoolMember(c, "read_only");
        d.dimmed = BoolMember(c, "dimmed");
        d.style = TextMember(c, "style");
        d.callbackName = TextMember(c, "callback");
        d.tooltip = TextMember(c, "tooltip");
        if (d.kind == ControlKind::Numeric) {
            d.intValue = IntMember(c, "value", 0);
            if (d.intValue < d.minValue || d.intValue > d.maxValue) {
                throw FormatError{"\"value\" is outside its range"};
            }
        } else if (d.kind == ControlKind::ListBox) {
            if (c.contains("items")) {
                const json& items = c.at("items");
                if (!items.is_array()) {
                    throw FormatError{"\"items\" is not a list"};
                }
                for (const json& item : items) {
                    if (!item.is_object()) {
                        throw FormatError{"a list item is not an object"};
                    }
                    d.items.push_back({TextMember(item, "label"), IntMember(item, "value")});
                }
            }
        } else {
            d.textValue = TextMember(c, "value");
        }
    } catch (const FormatError& e) {
        throw FormatError{where + e.what};
    }
    return d;
}

PanelDef ReadPanel(const json& p) {
    PanelDef d;
    d.resource = IntMember(p, "resource");
    const std::string where = "panel " + std::to_string(d.resource) + ": ";
    try {
        d.title = TextMember(p, "title");
        d.width = IntMember(p, "width");
        d.height = IntMember(p, "height");
        d.minWidth = IntMember(p, "min_width", 0);
        d.minHeight = IntMember(p, "min_height", 0);
        const std::string style = TextMember(p, "style", "window");
        if (style == "window") {
            d.style = PanelStyle::Window;
        } else if (style == "dialog") {
            d.style = PanelStyle::Dialog;
        } else if (style == "splash") {
            d.style = PanelStyle::Splash;
        } else {
            throw FormatError{"unknown style \"" + style + "\""};
        }
        d.callbackName = TextMember(p, "callback");
        d.closeControl = IntMember(p, "close_control", 0);
        const json& controls = Member(p, "controls");
        std::set<int> ids;
        if (!controls.is_array()) {
            throw FormatError{"\"controls\" is not a list"};
        }
        for (const json& c : controls) {
            d.controls.push_back(ReadControl(c));
            if (!ids.insert(d.controls.back().id).second) {
                throw FormatError{"control id " + std::to_string(d.controls.back().id) +
                                  " appears twice"};
            }
        }
    } catch (const FormatError& e) {
        throw FormatError{where + e.what};
    }
    return d;
}

}  // namespace

int ParsePanelFile(std::string_view bytes, int resource, PanelDef& panel, std::string& error) {
    const json doc = json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (doc.is_discarded()) {
        error = "not valid JSON";
        return UIE_FILE_FORMAT;
    }
    try {
        if (!doc.is_object() || TextMember(doc, "format") != kPanelFileFormat) {
            throw FormatError{"not a panel file of this program"};
        }
        if (IntMember(doc, "version") > kPanelFileVersion) {
            throw FormatError{"made for a newer version of the program"};
        }
        const json& panels = Member(doc, "panels");
        if (!panels.is_array()) {
            throw FormatError{"\"panels\" is not a list"};
        }
        for (const json& p : panels) {
            if (!p.is_object()) {
                throw FormatError{"a panel is not an object"};
            }
            if (IntMember(p, "resource") == resource) {
                panel = ReadPanel(p);
                return 0;
            }
        }
        error = "has no panel " + std::to_string(resource);
        return UIE_NO_RESOURCE;
    } catch (const FormatError& e) {
        error = e.what;
        return UIE_FILE_FORMAT;
    } catch (const json::exception& e) {
        error = e.what();
        return UIE_FILE_FORMAT;
    }
}

}  // namespace veldra::ui
