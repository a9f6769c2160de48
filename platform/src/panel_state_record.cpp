// Panel-state records: every stored control value of a panel, by id, in one JSON document per
// file. Parsing checks the whole record, so that a reader never acts on half of one.
#include "platform/panel_state_record.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

#include "file_util.h"

namespace veldra::ui {
namespace {

using nlohmann::json;

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
    if (!kind || !IsStoredKind(*kind)) {
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
                // Numbered from 1, as the user counts the sensor list.
                const std::string which =
                    where + "list item " + std::to_string(s.items.size() + 1) + ": ";
                ListItem i;
                if (!item.is_object()) {
                    error = which + "not an item with a label and a value";
                    return false;
                }
                if (!item.contains("label") || !item["label"].is_string()) {
                    error = which + "the label is not a text";
                    return false;
                }
                if (!item.contains("value") || !ToInt(item["value"], i.value)) {
                    error = which + "the value is not an integer";
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

bool IsStoredKind(ControlKind kind) {
    return kind == ControlKind::Numeric || kind == ControlKind::String ||
           kind == ControlKind::TextBox || kind == ControlKind::ListBox;
}

std::string_view KindName(ControlKind kind) {
    switch (kind) {
        case ControlKind::CommandButton:
            return "command_button";
        case ControlKind::Numeric:
            return "numeric";
        case ControlKind::String:
            return "string";
        case ControlKind::TextBox:
            return "text_box";
        case ControlKind::ListBox:
            return "list_box";
        case ControlKind::TextMessage:
            return "text_message";
        case ControlKind::Decoration:
            return "decoration";
    }
    return "decoration";
}

std::optional<ControlKind> KindFromName(std::string_view name) {
    for (const ControlKind k : {ControlKind::CommandButton, ControlKind::Numeric,
                                ControlKind::String, ControlKind::TextBox, ControlKind::ListBox,
                                ControlKind::TextMessage, ControlKind::Decoration}) {
        if (KindName(k) == name) {
            return k;
        }
    }
    return std::nullopt;
}

const StoredControl* PanelStateRecord::Find(int id) const {
    for (const StoredControl& c : controls) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

bool ParsePanelStateRecord(std::string_view bytes, PanelStateRecord& record, std::string& error) {
    if (bytes.empty()) {
        error = "the file is empty";
        return false;
    }
    json doc;
    try {
        doc = json::parse(bytes.begin(), bytes.end());
    } catch (const json::parse_error& e) {
        // The byte count tells a file cut off (a full disk, a copy broken off) from a damaged one.
        error =
            e.byte >= bytes.size()
                ? "the record ends early, after " + std::to_string(bytes.size()) + " bytes"
                : "not a panel-state record (no valid JSON at byte " + std::to_string(e.byte) + ")";
        return false;
    } catch (const json::exception& e) {
        // The parser's other refusal: a number too large for a double.
        error = "not a panel-state record (a number out of range)";
        return false;
    }
    if (!doc.is_object()) {
        error = "not a panel-state record";
        return false;
    }
    if (!doc.contains("format") || !doc["format"].is_string() ||
        doc["format"].get<std::string>() != kPanelStateFormat) {
        error = "written by another program";
        return false;
    }
    int version = 0;
    if (!doc.contains("version") || !ToInt(doc["version"], version) || version < 1) {
        error = "no valid format version";
        return false;
    }
    if (version > kPanelStateVersion) {
        error = "written by a newer version of the program";
        return false;
    }
    if (!doc.contains("slot") || !ToInt(doc["slot"], record.slot) || !doc.contains("controls") ||
        !doc["controls"].is_array()) {
        error = "the slot or the controls are missing";
        return false;
    }
    std::set<int> ids;
    record.controls.clear();
    for (const json& c : doc["controls"]) {
        StoredControl s;
        if (!ReadStored(c, s, error)) {
            return false;
        }
        if (!ids.insert(s.id).second) {
            error = "control " + std::to_string(s.id) + " is stored twice";
            return false;
        }
        record.controls.push_back(std::move(s));
    }
    return true;
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

RecordFile ReadPanelStateFile(const std::string& path, PanelStateRecord& record,
                              std::string& reason) {
    reason.clear();
    std::string bytes;
    switch (ReadWholeFile(path, bytes, reason)) {
        case ReadResult::Missing:
            reason.clear();
            return RecordFile::Missing;
        case ReadResult::Unreadable:
            return RecordFile::CannotRead;
        case ReadResult::Read:
            break;
    }
    return ParsePanelStateRecord(bytes, record, reason) ? RecordFile::Read : RecordFile::Malformed;
}

}  // namespace veldra::ui
