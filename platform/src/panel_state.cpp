// Panel-state records: every control value of a panel, by id, in one JSON document per file.
// Recall validates the whole record before it touches the panel; a save never destroys a file
// that holds no readable record, it keeps it aside first.
#include <cerrno>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

#include "file_util.h"
#include "platform/kept_file.h"
#include "platform/ui.h"
#include "registry.h"
#include "regular_file.h"

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

namespace veldra::ui {
namespace {

// Reads and checks the record in `file`: 0, or UIE_FILE_MISSING / UIE_FILE_FORMAT. `reason`
// stays empty only for a readable record or no file at all.
int ReadRecord(const std::string& file, std::string& bytes, PanelStateRecord& record,
               std::string& reason) {
    reason.clear();
    switch (ReadWholeFile(file, bytes, reason)) {
        case ReadResult::Missing:
            reason.clear();
            return UIE_FILE_MISSING;
        case ReadResult::Unreadable:
            return UIE_FILE_MISSING;
        case ReadResult::Read:
            break;
    }
    return ParsePanelState(bytes, record, reason);
}

void SetNotice(std::string text) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    r.panelStateNotice = std::move(text);
}

}  // namespace

int ParsePanelState(std::string_view bytes, PanelStateRecord& record, std::string& error) {
    if (bytes.empty()) {
        error = "the file is empty";
        return UIE_FILE_FORMAT;
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
        return UIE_FILE_FORMAT;
    }
    if (!doc.is_object()) {
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
    if (KeepUnreadablePanelState(file) < 0) {
        return UIE_FILE_WRITE;  // what is there stays, even if this save is lost
    }
    return WriteFileAtomically(file, SerialisePanelState(record)) ? 0 : UIE_FILE_WRITE;
}

int RecallPanelState(int panel, const std::string& file, int slot) {
    std::string bytes;
    std::string reason;
    PanelStateRecord record;
    const int read = ReadRecord(file, bytes, record, reason);
    if (read == UIE_FILE_MISSING && reason.empty()) {
        SetNotice("");  // no file at all (the first run): nothing to tell
        return read;
    }
    if (read == 0 && record.slot != slot) {
        reason = "it holds the values of slot " + std::to_string(record.slot) + ", not of slot " +
                 std::to_string(slot);
    }
    if (!reason.empty()) {
        SetNotice(file + " could not be read (" + reason + ")");
        return read < 0 ? read : UIE_FILE_FORMAT;
    }
    SetNotice("");
    Registry& r = TheRegistry();
    std::unique_lock lock(r.mutex);
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
    const bool notify = r.frontEnd != nullptr;
    lock.unlock();
    if (notify) {
        NotifyFrontEnd();
    }
    return 0;
}

int KeepUnreadablePanelState(const std::string& file) {
    std::string bytes;
    std::string reason;
    PanelStateRecord record;
    ReadRecord(file, bytes, record, reason);
    if (reason.empty()) {
        SetNotice("");
        return 0;  // a readable record, or nothing there
    }
    const veldra::platform::KeptFile kept = veldra::platform::KeepUnderDatedName(file);
    if (!kept.ok && kept.error == ENOENT) {
        SetNotice("");
        return 0;  // gone meanwhile (another save kept it first)
    }
    if (!kept.ok) {
        SetNotice(file + " could not be read (" + reason +
                  "), and it could not be kept under another name (" + SystemReason(kept.error) +
                  "), so it was not replaced");
        return UIE_FILE_WRITE;
    }
    SetNotice(file + " could not be read (" + reason + "); kept as " + kept.newPath);
    return 1;
}

std::string TakePanelStateNotice() {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    return std::exchange(r.panelStateNotice, std::string());
}
