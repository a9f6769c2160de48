// The factory of the front-end's additions to the main window.
#include "app/window_extras.h"

#include <utility>

#include "window_extras_hook.h"

namespace {

WindowExtrasFactory& Factory() {
    static WindowExtrasFactory factory;
    return factory;
}

}  // namespace

void SetWindowExtrasFactory(WindowExtrasFactory factory) {
    Factory() = std::move(factory);
}

std::unique_ptr<WindowExtras> make_window_extras() {
    return Factory() ? Factory()() : nullptr;
}
