// The event loop: the Qt one when a front-end is attached, otherwise a plain queue of posted
// work run on the thread that calls RunUserInterface.
#include "event_loop.h"

#include "platform/ui.h"
#include "registry.h"

using namespace veldra::ui;

namespace veldra::ui {

HeadlessLoop& TheLoop() {
    static HeadlessLoop loop;
    return loop;
}

FrontEnd* CurrentFrontEnd() {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    return r.frontEnd;
}

}  // namespace veldra::ui

namespace {

void SetLoopRunning(HeadlessLoop& loop, bool running) {
    const std::lock_guard lock(loop.mutex);
    loop.running = running;
    loop.thread = running ? std::this_thread::get_id() : std::thread::id{};
}

// Runs what is queued now (not what that work queues in turn); loop thread only.
void DrainQueue() {
    HeadlessLoop& loop = TheLoop();
    std::deque<std::function<void()>> work;
    {
        const std::lock_guard lock(loop.mutex);
        if (!loop.running || loop.thread != std::this_thread::get_id()) {
            return;
        }
        work.swap(loop.queue);
    }
    for (auto& w : work) {
        w();
    }
}

}  // namespace

namespace veldra::ui {

void AttachFrontEnd(FrontEnd* frontEnd) {
    Registry& r = TheRegistry();
    // No notification reaches a front-end once it is detached: notifying holds this lock.
    const std::lock_guard notifying(r.frontEndMutex);
    {
        const std::lock_guard lock(r.mutex);
        r.frontEnd = frontEnd;
        // A new view has seen nothing yet.
        for (auto& [handle, p] : r.panels) {
            p->viewVersion = 0;
            for (auto& [id, c] : p->controls) {
                c.viewVersion = 0;
                c.pending = TextBoxChange{};
                c.pendingBytes = 0;
            }
        }
    }
    if (frontEnd != nullptr) {
        frontEnd->modelChanged();
    }
}

}  // namespace veldra::ui

int RunUserInterface() {
    HeadlessLoop& loop = TheLoop();
    if (FrontEnd* f = CurrentFrontEnd()) {
        // The flag tells tests and callers that a loop runs, whichever kind it is.
        SetLoopRunning(loop, true);
        const int code = f->runLoop();
        SetLoopRunning(loop, false);
        return code;
    }
    std::unique_lock lock(loop.mutex);
    loop.running = true;
    loop.quit = false;
    loop.thread = std::this_thread::get_id();
    while (!loop.quit) {
        if (loop.queue.empty()) {
            loop.wake.wait(lock, [&] { return loop.quit || !loop.queue.empty(); });
            continue;
        }
        auto work = std::move(loop.queue.front());
        loop.queue.pop_front();
        lock.unlock();
        work();
        lock.lock();
    }
    loop.running = false;
    loop.thread = {};
    return loop.code;
}

int QuitUserInterface(int returnCode) {
    if (FrontEnd* f = CurrentFrontEnd()) {
        f->quitLoop(returnCode);
        return 0;
    }
    HeadlessLoop& loop = TheLoop();
    const std::lock_guard lock(loop.mutex);
    loop.quit = true;
    loop.code = returnCode;
    loop.wake.notify_all();
    return 0;
}

int ProcessDrawEvents() {
    return ProcessSystemEvents();
}

int ProcessSystemEvents() {
    if (FrontEnd* f = CurrentFrontEnd()) {
        // Another thread's view refresh is already posted; only the GUI thread may pump.
        if (f->isGuiThread()) {
            f->processEvents();
        }
        return 0;
    }
    DrainQueue();
    return 0;
}
