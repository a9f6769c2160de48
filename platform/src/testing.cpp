// The test seams of the user-interface services: resetting the whole facade between tests,
// posting work to the event loop, and commits as if the user had pressed a control. Linked
// only by tests.
#include "event_loop.h"
#include "platform/ui_testing.h"
#include "registry.h"

using namespace veldra::ui;

namespace {

void ResetEventLoop() {
    HeadlessLoop& loop = TheLoop();
    const std::lock_guard lock(loop.mutex);
    loop.queue.clear();
    loop.quit = false;
    loop.code = 0;
}

}  // namespace

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
    }
    NotifyFrontEnd();
    ResetEventLoop();
    SetPopupResponder(nullptr);
    SetWallClockForTesting({});
    SetDelayScaleForTesting(1.0);
}

void PostToUserInterface(std::function<void()> work) {
    if (FrontEnd* f = CurrentFrontEnd()) {
        f->post(std::move(work));
        return;
    }
    HeadlessLoop& loop = TheLoop();
    const std::lock_guard lock(loop.mutex);
    loop.queue.push_back(std::move(work));
    loop.wake.notify_all();
}

bool IsUserInterfaceRunning() {
    HeadlessLoop& loop = TheLoop();
    const std::lock_guard lock(loop.mutex);
    return loop.running;
}

int SimulateCommit(int panel, int control) {
    {
        Registry& r = TheRegistry();
        const std::lock_guard lock(r.mutex);
        int error = 0;
        if (FindControl(r, panel, control, error) == nullptr) {
            return error;
        }
    }
    FrontEnd* f = CurrentFrontEnd();
    const bool direct = f != nullptr ? f->isGuiThread() : !IsUserInterfaceRunning();
    if (direct) {
        DispatchControlEvent(panel, control, EVENT_COMMIT);
        return 0;
    }
    PostToUserInterface([panel, control] { DispatchControlEvent(panel, control, EVENT_COMMIT); });
    return 0;
}
