// The headless event loop's state, shared by the loop and the test seams that post to it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/detail/frontend.h"

namespace veldra::ui {

struct HeadlessLoop {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> queue;
    bool running = false;
    bool quit = false;
    int code = 0;
    std::thread::id thread;
};

HeadlessLoop& TheLoop();
// The attached front-end, or nullptr.
FrontEnd* CurrentFrontEnd();

}  // namespace veldra::ui
