// Panel-state records: every control value of a panel, by id, in one JSON document per file.
// Recall validates the whole record before it touches the panel.
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "file_util.h"
#include "platform/ui.h"
#include "platform/ui_testing.h"
#include "registry.h"

using namespace veldra::ui;
using nlohmann::json;

namespace {

bool IsStored(ControlKind kind) {
    return kind == ControlKind::Numeric || kind == ControlKind::String ||
           kind == ControlKind::TextBox || kind == ControlKind::ListBox;
}

bool ToInt(const json& v, int& out) {
    if (!v.is_number_integer()) {
        return false;
    }
    if (v.is_number_unsigned()) {
        if (v.get<unsigned long long>() > static_cast<unsigned>(std::numeric_limits<int>::max())) {
            return false;
        }
    } else if (v.get<long long>() < std::numeric_limits<int>::min() ||
               v.get<long long>() > std::numeric_limits<int>::max()) {
        return false;
    }
    out = static_cast<int>(v.get<long long>());
    return true;
}

bool ReadStored(const json& c, StoredControl& s, std::string& error) {
    if (!c.is_object() || !c.contains("id") || !ToInt(c["id"], s.id) || !c.contains("kind") ||
        !c["kind"].is_string()) {
        error = "a control entry lacks its id or kind";
        return false;
    }
    const auto kind = KindFromName(c["kind"].get<std::string>());
    if (!kind || !IsStored(*kind)) {
        error = "control " + std::to_string(s.id) + " has an unknown kind";
        return false;
    }
    s.kind = *kind;
    const std::string where = "control " + std::to_string(s.id) + ": ";
    switch (s.kind) {
        case ControlKind::Numeric:
            if (!c.contains("value") || !ToInt(c["value"], s.intValue)) {
                error = where + "the value is not an integer";
                return false;
            }
            return true;
        case ControlKind::String:
        case ControlKind::TextBox:
            if (!c.contains("value") || !c["value"].is_string()) {
                error = where + "the value is not a text";
                return false;
            }
            s.text = c["value"].get<std::string>();
            return true;
        case ControlKind::ListBox: {
            if (!c.contains("items") || !c["items"].is_array() || !c.contains("index") ||
                !ToInt(c["index"], s.index)) {
                error = where + "the list lacks its items or index";
                return false;
            }
            for (const json& item : c["items"]) {
                ListItem i;
                if (!item.is_object() || !item.contains("label") || !item["label"].is_string() ||
                    !item.contains("value") || !ToInt(item["value"], i.value)) {
                    error = where + "a list item lacks its label or value";
                    return false;
                }
                i.label = item["label"].get<std::string>();
                s.items.push_back(std::move(i));
            }
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

namespace veldra::ui {

int ParsePanelState(std::string_view bytes, PanelStateRecord& record, std::string& error) {
    const json doc = json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        error = "not a panel-state record";
        return UIE_FILE_FORMAT;
    }
    if (!doc.contains("format") || !doc["format"].is_string() ||
        doc["format"].get<std::string>() != kPanelStateFormat) {
        error = "written by another program";
        return UIE_FILE_FORMAT;
    }
    int version = 0;
    if (!doc.contains("version") || !ToInt(doc["version"], version) || version < 1) {
        error = "no valid format version";
        return UIE_FILE_FORMAT;
    }
    if (version > kPanelStateVersion) {
        error = "written by a newer version of the program";
        return UIE_FILE_FORMAT;
    }
    if (!doc.contains("slot") || !ToInt(doc["slot"], record.slot) || !doc.contains("controls") ||
        !doc["controls"].is_array()) {
        error = "the slot or the controls are missing";
        return UIE_FILE_FORMAT;
    }
    std::set<int> ids;
    record.controls.clear();
    for (const json& c : doc["controls"]) {
        StoredControl s;
        if (!ReadStored(c, s, error)) {
            return UIE_FILE_FORMAT;
        }
        if (!ids.insert(s.id).second) {
            error = "control " + std::to_string(s.id) + " is stored twice";
            return UIE_FILE_FORMAT;
        }
        record.controls.push_back(std::move(s));
    }
    return 0;
}

std::string SerialisePanelState(const PanelStateRecord& record) {
    json controls = json::array();
    for (const StoredControl& s : record.controls) {
        json c = {{"id", s.id}, {"kind", KindName(s.kind)}};
        switch (s.kind) {
            case ControlKind::Numeric:
                c["value"] = s.intValue;
                break;
            case ControlKind::ListBox: {
                json items = json::array();
                for (const ListItem& i : s.items) {
                    items.push_back({{"label", i.label}, {"value", i.value}});
                }
                c["items"] = std::move(items);
                c["index"] = s.index;
                break;
            }
            default:
                c["value"] = s.text;
                break;
        }
        controls.push_back(std::move(c));
    }
    const json doc = {{"format", kPanelStateFormat},
                      {"version", kPanelStateVersion},
                      {"slot", record.slot},
                      {"controls", std::move(controls)}};
    // Text that is not valid UTF-8 is stored with replacement characters rather than lost.
    return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace veldra::ui

int SavePanelState(int panel, const std::string& file, int slot) {
    PanelStateRecord record;
    record.slot = slot;
    {
        Registry& r = TheRegistry();
        const std::lock_guard lock(r.mutex);
        const Panel* p = FindPanel(r, panel);
        if (p == nullptr) {
            return UIE_BAD_HANDLE;
        }
        for (const auto& [id, c] : p->controls) {
            if (!IsStored(c.def.kind)) {
                continue;
            }
            StoredControl s;
            s.id = id;
            s.kind = c.def.kind;
            s.intValue = c.intValue;
            s.items = c.items;
            s.index = c.index;
            if (c.def.kind == ControlKind::TextBox) {
                for (std::size_t i = 0; i < c.lines.size(); ++i) {
                    s.text += c.lines[i];
                    if (i + 1 < c.lines.size() || !c.lastLineOpen) {
                        s.text += '\n';
                    }
                }
            } else {
                s.text = c.text;
            }
            record.controls.push_back(std::move(s));
        }
    }
    return WriteFileAtomically(file, SerialisePanelState(record)) ? 0 : UIE_FILE_WRITE;
}

int RecallPanelState(int panel, const std::string& file, int slot) {
    std::string bytes;
    std::string reason;
    if (ReadWholeFile(file, bytes, reason) != ReadResult::Read) {
        return UIE_FILE_MISSING;
    }
    PanelStateRecord record;
    std::string error;
    if (const int parsed = ParsePanelState(bytes, record, error); parsed < 0) {
        return parsed;
    }
    if (record.slot != slot) {
        return UIE_FILE_FORMAT;
    }
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    Panel* p = FindPanel(r, panel);
    if (p == nullptr) {
        return UIE_BAD_HANDLE;
    }
    const bool track = r.frontEnd != nullptr;
    for (StoredControl& s : record.controls) {
        const auto it = p->controls.find(s.id);
        // Controls this panel no longer has, or has as another kind, are skipped.
        if (it == p->controls.end() || it->second.def.kind != s.kind) {
            continue;
        }
        Control& c = it->second;
        switch (s.kind) {
            case ControlKind::Numeric:
                c.intValue = std::clamp(s.intValue, c.def.minValue, c.def.maxValue);
                break;
            case ControlKind::String:
                c.text = std::move(s.text);
                break;
            case ControlKind::TextBox:
                TextBoxClear(c, track);
                TextBoxAppend(c, s.text, track);
                break;
            case ControlKind::ListBox:
                c.items = std::move(s.items);
                c.index = c.items.empty()
                              ? -1
                              : std::clamp(s.index, 0, static_cast<int>(c.items.size()) - 1);
                break;
            default:
                break;
        }
        ++c.version;
    }
    if (r.frontEnd != nullptr) {
        r.frontEnd->modelChanged();
    }
    return 0;
}
