// What a graphical front-end adds to the main window beyond the panel file: pages beside the
// display table (plots, health) and the Options dialog. The program itself stays free of any
// toolkit: it runs headless in tests, where there are no such pages and a test may stand in
// for the dialog.
#pragma once

#include <functional>
#include <memory>

#include "options/options.h"

// Built by main once the panels are loaded, on the GUI thread and while no session runs;
// destroyed after the event loop, before the main panel is discarded.
class WindowExtras {
  public:
    virtual ~WindowExtras() = default;
};
using WindowExtrasFactory = std::function<std::unique_ptr<WindowExtras>()>;
// The process entry of a front-end sets this before main; none (the default): no extras.
void SetWindowExtrasFactory(WindowExtrasFactory factory);

// The Options dialog: shows `options` and lets the user change them. Returns true with
// `options` changed when the user confirmed values that validate_options accepts; false, with
// `options` unchanged, when the user cancelled. Runs modally on the GUI thread.
class OptionsEditor {
  public:
    virtual ~OptionsEditor() = default;
    virtual bool edit(veldra::options::Options& options) = 0;
};
// The editor the "Options…" command uses; nullptr (the default) makes the command say that
// this program has no dialog for it. Not owned.
void SetOptionsEditor(OptionsEditor* editor);
