// The live model: panels, controls and the run-time's bindings, behind one mutex.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/detail/frontend.h"
#include "platform/detail/panel_model.h"

namespace veldra::ui {

struct Control {
    ControlDef def;  // geometry, label, dimmed, range... as they are now
    int intValue = 0;
    std::string text;               // string, text message
    std::deque<std::string> lines;  // text box
    bool lastLineOpen = false;      // the last line has no line end yet
    int firstVisibleLine = 0;
    std::vector<ListItem> items;
    int index = -1;
    CtrlCallbackPtr callback = nullptr;

    std::uint64_t version = 1;      // bumped by every change the view must show
    std::uint64_t viewVersion = 0;  // version the view last collected
    TextBoxChange pending;          // text-box changes the view has not collected
    std::size_t pendingBytes = 0;
};

struct Panel {
    int handle = 0;
    PanelDef def;  // title and size as they are now
    PanelCallbackPtr callback = nullptr;
    bool visible = false;
    std::map<int, Control> controls;
    std::uint64_t version = 1, viewVersion = 0;
};

struct Registry {
    std::mutex mutex;
    bool initialised = false;
    std::map<std::string, ExternalName, std::less<>> names;  // name -> entry (owning keys)
    std::map<int, std::unique_ptr<Panel>> panels;
    int nextHandle = 1;
    std::string lastLoadError;
    std::string panelStateNotice;  // a settings or configuration file that could not be read
    // Read under mutex (to decide whether to track view changes) or under frontEndMutex (to
    // notify); changed only with both held, so a front-end is never told after it is gone.
    FrontEnd* frontEnd = nullptr;
    std::mutex frontEndMutex;  // taken after mutex, or alone
};

Registry& TheRegistry();

// Looks a panel/control up; the mutex must be held. nullptr when missing.
Panel* FindPanel(Registry& r, int panel);
Control* FindControl(Registry& r, int panel, int control, int& error);

// Tells the front-end (if any) that the model changed. Call after the model mutex has been
// released: the front-end may read the model.
void NotifyFrontEnd();

// Text-box editing on a locked control.
void TextBoxAppend(Control& c, std::string_view text, bool track);
void TextBoxClear(Control& c, bool track);

}  // namespace veldra::ui
