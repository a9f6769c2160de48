// The GUI's popups: Qt message boxes and file dialogs.
#pragma once

#include "platform/ui.h"

namespace veldra::ui::qt {

class QtPopups : public PopupResponder {
  public:
    // From the GUI thread: a modal message box. From another thread: the box is shown later
    // by the GUI thread and the call returns at once, so no worker ever waits on the GUI.
    int message(std::string_view title, std::string_view text) override;
    // GUI thread only; from another thread it is refused (UIE_BAD_ARGUMENT), for the same reason.
    int fileSelect(const FileSelectRequest& request, std::string& path) override;
};

// Whether name is acceptable under the request's extension rule; fills in a missing extension.
// Returns false when a restricted request gets another extension.
bool CompleteExtension(const FileSelectRequest& request, std::string& name);

}  // namespace veldra::ui::qt
