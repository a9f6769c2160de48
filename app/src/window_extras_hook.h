// main's side of the window extras: builds them when a front-end has set a factory.
#pragma once

#include <memory>

#include "app/window_extras.h"

// nullptr without a factory (headless) or when the factory builds nothing.
std::unique_ptr<WindowExtras> make_window_extras();
