// Resets the whole facade between tests.
#include "platform/ui_testing.h"
#include "registry.h"

using namespace veldra::ui;

void ResetEventLoopForTesting();

void ResetUiForTesting() {
    {
        Registry& r = TheRegistry();
        const std::lock_guard lock(r.mutex);
        r.panels.clear();
        r.names.clear();
        r.initialised = false;
        r.nextHandle = 1;
        r.lastLoadError.clear();
        r.panelStateNotice.clear();
        if (r.frontEnd != nullptr) {
            r.frontEnd->modelChanged();
        }
    }
    ResetEventLoopForTesting();
    SetPopupResponder(nullptr);
    SetWallClockForTesting({});
    SetDelayScaleForTesting(1.0);
}
