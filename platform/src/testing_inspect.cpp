// Helpers for tests and benchmarks: read from the UI model whether a panel is shown and a
// control's place, dimmed state and label, and resize a panel with the events a resize sends.
#include "platform/ui_testing.h"
#include "registry.h"

using namespace veldra::ui;

int SimulatePanelResize(int panel, int width, int height) {
    bool notify = false;
    {
        Registry& r = TheRegistry();
        const std::lock_guard lock(r.mutex);
        Panel* p = FindPanel(r, panel);
        if (p == nullptr) {
            return UIE_BAD_HANDLE;
        }
        p->def.width = width;
        p->def.height = height;
        ++p->version;
        notify = r.frontEnd != nullptr;
    }
    if (notify) {
        NotifyFrontEnd();
    }
    DispatchPanelEvent(panel, EVENT_PANEL_SIZING);
    DispatchPanelEvent(panel, EVENT_PANEL_RESIZED);
    return 0;
}

bool IsPanelVisible(int panel) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    const Panel* p = FindPanel(r, panel);
    return p != nullptr && p->visible;
}

ControlRect ControlGeometry(int panel, int control) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    int error = 0;
    const Control* c = FindControl(r, panel, control, error);
    if (c == nullptr) {
        return {};
    }
    const Geometry& g = c->def.geometry;
    return {g.left, g.top, g.width, g.height};
}

bool IsControlDimmed(int panel, int control) {
    int dimmed = 0;
    GetCtrlAttribute(panel, control, ATTR_DIMMED, dimmed);
    return dimmed != 0;
}

std::string ControlLabel(int panel, int control) {
    std::string label;
    GetCtrlAttribute(panel, control, ATTR_LABEL_TEXT, label);
    return label;
}
