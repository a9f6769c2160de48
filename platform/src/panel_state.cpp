// Saving a panel's state to a panel-state record and recalling it (the record's format is in
// panel_state_record.cpp). Recall validates the whole record before it touches the panel; a
// save never destroys a file that holds no readable record, it keeps it aside first.
#include <algorithm>
#include <cerrno>
#include <utility>

#include "file_util.h"
#include "platform/kept_file.h"
#include "platform/ui.h"
#include "registry.h"
#include "regular_file.h"

using namespace veldra::ui;

namespace veldra::ui {
namespace {

// Reads and checks the record in `file`: 0, or UIE_FILE_MISSING / UIE_FILE_FORMAT. `reason`
// stays empty only for a readable record or no file at all.
int ReadRecord(const std::string& file, PanelStateRecord& record, std::string& reason) {
    switch (ReadPanelStateFile(file, record, reason)) {
        case RecordFile::Read:
            return 0;
        case RecordFile::Missing:
        case RecordFile::CannotRead:
            return UIE_FILE_MISSING;
        case RecordFile::Malformed:
            break;
    }
    return UIE_FILE_FORMAT;
}

void SetNotice(std::string text) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    r.panelStateNotice = std::move(text);
}

}  // namespace

int ParsePanelState(std::string_view bytes, PanelStateRecord& record, std::string& error) {
    return ParsePanelStateRecord(bytes, record, error) ? 0 : UIE_FILE_FORMAT;
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
            if (!IsStoredKind(c.def.kind)) {
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
    std::string reason;
    PanelStateRecord record;
    const int read = ReadRecord(file, record, reason);
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
    std::string reason;
    PanelStateRecord record;
    ReadRecord(file, record, reason);
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
