// The "Options…" command: options.json beside settings.txt, read, edited in the front-end's
// dialog and written back. A file that cannot be read is never replaced (its reason is shown,
// the file stays as the user left it); unknown keys survive the rewrite; a file holding a
// password is written readable by its owner only.
#include "app/app.h"
#include "app/panel_ids.h"
#include "app/window_extras.h"
#include "options/options.h"
#include "platform/ui.h"

namespace {

OptionsEditor*& Editor() {
    static OptionsEditor* editor = nullptr;
    return editor;
}

}  // namespace

void SetOptionsEditor(OptionsEditor* editor) {
    Editor() = editor;
}

int edit_options(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    namespace opt = veldra::options;
    OptionsEditor* editor = Editor();
    if (editor == nullptr) {
        MessagePopup("Info", std::string("This program has no Options dialog; edit ") +
                                 opt::kOptionsFileName + " beside " + kSettingsFileName +
                                 " instead.");
        return 0;
    }
    opt::Options options;
    if (const opt::Result read = opt::load_options(opt::kOptionsFileName, options); !read) {
        MessagePopup("Error", read.error +
                                  "\n\nThe file has not been changed. Correct it in a text "
                                  "editor, or remove it to start again from the defaults.");
        return 0;
    }
    if (!editor->edit(options)) {
        return 0;
    }
    // The dialog refuses what these refuse; checked again so that nothing unchecked is saved.
    opt::Result saved = opt::validate_options(options);
    if (saved) {
        saved = opt::save_options(opt::kOptionsFileName, options);
    }
    if (!saved) {
        MessagePopup("Error", "The options have not been saved:\n\n" + saved.error);
        return 0;
    }
    SetCtrlVal(main_panel, status_line,
               std::string("Options saved in ") + opt::kOptionsFileName +
                   "; they apply from the next start of logging.");
    return 0;
}
