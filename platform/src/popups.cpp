// Popups go to the installed responder; without one, to the GUI's dialogs; without a GUI they
// are answered at once (message dismissed, file selection cancelled).
#include <mutex>

#include "platform/ui.h"
#include "registry.h"

using namespace veldra::ui;

namespace {

std::mutex responderMutex;
PopupResponder* installedResponder = nullptr;

PopupResponder* CurrentResponder() {
    {
        const std::lock_guard lock(responderMutex);
        if (installedResponder != nullptr) {
            return installedResponder;
        }
    }
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    return r.frontEnd != nullptr ? &r.frontEnd->popups() : nullptr;
}

}  // namespace

void SetPopupResponder(PopupResponder* responder) {
    const std::lock_guard lock(responderMutex);
    installedResponder = responder;
}

int MessagePopup(std::string_view title, std::string_view message) {
    PopupResponder* responder = CurrentResponder();
    return responder != nullptr ? responder->message(title, message) : 0;
}

int FileSelectPopup(std::string_view defaultDirectory, std::string_view defaultFileSpec,
                    std::string_view fileTypeList, std::string_view title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, std::string& path) {
    PopupResponder* responder = CurrentResponder();
    if (responder == nullptr) {
        return VAL_NO_FILE_SELECTED;
    }
    FileSelectRequest request;
    request.defaultDirectory = defaultDirectory;
    request.defaultFileSpec = defaultFileSpec;
    request.fileTypeList = fileTypeList;
    request.title = title;
    request.buttonLabel = buttonLabel;
    request.restrictDirectory = restrictDirectory;
    request.restrictExtension = restrictExtension;
    request.allowCancel = allowCancel;
    request.allowMakeDirectory = allowMakeDirectory;
    return responder->fileSelect(request, path);
}
