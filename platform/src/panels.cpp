// The facade's panel operations: run-time names, loading panels from the panel file, showing
// and hiding them, and panel attributes.
#include <unistd.h>

#include <filesystem>

#include "file_util.h"
#include "platform/ui.h"
#include "registry.h"

using namespace veldra::ui;

namespace {

// A bare name is looked for in the working directory first, then beside the executable.
std::string ResolvePanelFile(const std::string& file) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::path(file).is_absolute() || fs::exists(file, ec)) {
        return file;
    }
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path beside = exe.parent_path() / file;
        if (fs::exists(beside, ec)) {
            return beside.string();
        }
    }
    return file;
}

// Binds every callback name of the definition; false (with the name) for an unknown one.
bool BindCallbacks(const Registry& r, const PanelDef& def, Panel& panel, std::string& error) {
    if (!def.callbackName.empty()) {
        const auto it = r.names.find(def.callbackName);
        if (it == r.names.end() || it->second.panel == nullptr) {
            error = "panel callback \"" + def.callbackName + "\" is not known to the program";
            return false;
        }
        panel.callback = it->second.panel;
    }
    for (const ControlDef& c : def.controls) {
        Control& control = panel.controls[c.id];
        control.def = c;
        control.intValue = c.intValue;
        control.text = c.textValue;
        control.items = c.items;
        if (c.kind == ControlKind::TextBox) {
            control.text.clear();
            TextBoxAppend(control, c.textValue, false);
        }
        if (!c.callbackName.empty()) {
            const auto it = r.names.find(c.callbackName);
            if (it == r.names.end() || it->second.control == nullptr) {
                error = "control " + std::to_string(c.id) + ": callback \"" + c.callbackName +
                        "\" is not known to the program";
                return false;
            }
            control.callback = it->second.control;
        }
    }
    return true;
}

// Marks the panel changed; true when a front-end must be told (after the mutex is released).
bool Changed(Registry& r, Panel& p) {
    ++p.version;
    return r.frontEnd != nullptr;
}

}  // namespace

int InitRunTime(std::span<const ExternalName> names) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    r.names.clear();
    for (const ExternalName& n : names) {
        auto [it, inserted] = r.names.emplace(std::string(n.name), n);
        // The map owns the key; the entry's view must point at it, not at the caller's text.
        it->second.name = it->first;
        (void)inserted;
    }
    r.initialised = true;
    return 1;
}

int InitRunTime(void*, char**, void*) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    r.initialised = true;
    return 1;
}

std::string LastPanelFileError() {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    return r.lastLoadError;
}

int LoadPanel(int, const std::string& file, int resourceId) {
    Registry& r = TheRegistry();
    {
        const std::lock_guard lock(r.mutex);
        if (!r.initialised) {
            r.lastLoadError = file + ": the run-time is not initialised";
            return UIE_NOT_INITIALISED;
        }
    }
    std::string bytes;
    std::string reason;
    if (ReadWholeFile(ResolvePanelFile(file), bytes, reason) != ReadResult::Read) {
        const std::lock_guard lock(r.mutex);
        r.lastLoadError = file + ": cannot be opened (" + reason + ")";
        return UIE_FILE_MISSING;
    }
    PanelDef def;
    std::string error;
    const int parsed = ParsePanelFile(bytes, resourceId, def, error);
    int handle = 0;
    bool notify = false;
    {
        const std::lock_guard lock(r.mutex);
        if (parsed < 0) {
            r.lastLoadError = file + ": " + error;
            return parsed;
        }
        auto panel = std::make_unique<Panel>();
        if (!BindCallbacks(r, def, *panel, error)) {
            r.lastLoadError = file + ": " + error;
            return UIE_FILE_FORMAT;
        }
        panel->def = std::move(def);
        panel->handle = r.nextHandle++;
        handle = panel->handle;
        r.panels.emplace(handle, std::move(panel));
        r.lastLoadError.clear();
        notify = r.frontEnd != nullptr;
    }
    if (notify) {
        NotifyFrontEnd();
    }
    return handle;
}

namespace {

int SetVisible(int panel, bool visible) {
    Registry& r = TheRegistry();
    bool notify = false;
    {
        const std::lock_guard lock(r.mutex);
        Panel* p = FindPanel(r, panel);
        if (p == nullptr) {
            return UIE_BAD_HANDLE;
        }
        if (p->visible != visible) {
            p->visible = visible;
            notify = Changed(r, *p);
        }
    }
    if (notify) {
        NotifyFrontEnd();
    }
    return 0;
}

}  // namespace

int DisplayPanel(int panel) {
    return SetVisible(panel, true);
}

int HidePanel(int panel) {
    return SetVisible(panel, false);
}

int DiscardPanel(int panel) {
    Registry& r = TheRegistry();
    bool notify = false;
    {
        const std::lock_guard lock(r.mutex);
        if (r.panels.erase(panel) == 0) {
            return UIE_BAD_HANDLE;
        }
        notify = r.frontEnd != nullptr;
    }
    if (notify) {
        NotifyFrontEnd();
    }
    return 0;
}

int GetPanelAttribute(int panel, int attribute, int& value) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    const Panel* p = FindPanel(r, panel);
    if (p == nullptr) {
        return UIE_BAD_HANDLE;
    }
    switch (attribute) {
        case ATTR_WIDTH:
            value = p->def.width;
            return 0;
        case ATTR_HEIGHT:
            value = p->def.height;
            return 0;
        default:
            return UIE_BAD_ATTRIBUTE;
    }
}

int SetPanelAttribute(int panel, int attribute, int value) {
    Registry& r = TheRegistry();
    bool notify = false;
    {
        const std::lock_guard lock(r.mutex);
        Panel* p = FindPanel(r, panel);
        if (p == nullptr) {
            return UIE_BAD_HANDLE;
        }
        if (attribute == ATTR_WIDTH) {
            p->def.width = value;
        } else if (attribute == ATTR_HEIGHT) {
            p->def.height = value;
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        notify = Changed(r, *p);
    }
    if (notify) {
        NotifyFrontEnd();
    }
    DispatchPanelEvent(panel, EVENT_PANEL_SIZE);
    return 0;
}

int GetPanelAttribute(int panel, int attribute, std::string& text) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    const Panel* p = FindPanel(r, panel);
    if (p == nullptr) {
        return UIE_BAD_HANDLE;
    }
    if (attribute != ATTR_TITLE) {
        return UIE_BAD_ATTRIBUTE;
    }
    text = p->def.title;
    return 0;
}

int SetPanelAttribute(int panel, int attribute, std::string_view text) {
    Registry& r = TheRegistry();
    bool notify = false;
    {
        const std::lock_guard lock(r.mutex);
        Panel* p = FindPanel(r, panel);
        if (p == nullptr) {
            return UIE_BAD_HANDLE;
        }
        if (attribute != ATTR_TITLE) {
            return UIE_BAD_ATTRIBUTE;
        }
        p->def.title = text;
        notify = Changed(r, *p);
    }
    if (notify) {
        NotifyFrontEnd();
    }
    return 0;
}

namespace veldra::ui {

void DispatchControlEvent(int panel, int control, int event, int data1, int data2) {
    CtrlCallbackPtr callback = nullptr;
    {
        Registry& r = TheRegistry();
        const std::lock_guard lock(r.mutex);
        int error = 0;
        if (const Control* c = FindControl(r, panel, control, error)) {
            callback = c->callback;
        }
    }
    if (callback != nullptr) {
        callback(panel, control, event, nullptr, data1, data2);
    }
}

void DispatchPanelEvent(int panel, int event, int data1, int data2) {
    PanelCallbackPtr callback = nullptr;
    {
        Registry& r = TheRegistry();
        const std::lock_guard lock(r.mutex);
        if (const Panel* p = FindPanel(r, panel)) {
            callback = p->callback;
        }
    }
    if (callback != nullptr) {
        callback(panel, event, nullptr, data1, data2);
    }
}

void UserSetPanelSize(int panel, int width, int height) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    if (Panel* p = FindPanel(r, panel)) {
        p->def.width = width;
        p->def.height = height;
    }
}

}  // namespace veldra::ui
