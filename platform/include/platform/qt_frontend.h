// The Qt 6 Widgets front-end of the toolkit facade. Linking veldra_platform_qt attaches it
// automatically when the QApplication is created; tests may attach and detach it by hand.
#pragma once

#include <memory>
#include <string>

class QWidget;

// Attaches the front-end to the running QApplication (GUI thread only). Idempotent.
void AttachQtFrontEnd();
// Detaches it and closes its windows; the model stays. Called on its own before the
// QApplication goes away.
void DetachQtFrontEnd();

// For tests: the window of a panel (its control widgets are named "control_<id>"), and a
// refresh of every window from the model right now instead of at the next event.
QWidget* QtWindowForTesting(int panel);
void QtRefreshForTesting();

// Shows `page` as a further tab beside the text box `control` of `panel` (GUI thread only). The
// text box becomes the first tab, titled textBoxTitle; the tabs take the text box's place and
// follow its geometry from the resize rule, and the text box keeps its id, its attributes and
// everything the program does with it. The front-end owns the page from then on. Returns 0, or
// a negative result: no front-end (UIE_NOT_INITIALISED), no such panel (UIE_BAD_HANDLE) or no
// such text box (UIE_BAD_CONTROL).
int AddQtPageBesideTextBox(int panel, int control, const std::string& title,
                           std::unique_ptr<QWidget> page,
                           const std::string& textBoxTitle = "Table");

// The file in which the main window's size and position are kept ("window.ini" in the working
// folder when the front-end attaches); an empty path keeps nothing. GUI thread only.
void SetQtWindowStateFile(const std::string& path);
