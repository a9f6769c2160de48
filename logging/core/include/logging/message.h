// A text for the person at the program: a message box's title and text in the window, one
// line on the standard error of a service.
#pragma once

#include <string>

namespace veldra::core {

struct Message {
    std::string title;  // "Info" or "Error"
    std::string text;
};

}  // namespace veldra::core
