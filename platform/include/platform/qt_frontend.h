// The Qt 6 Widgets front-end of the toolkit facade. Linking veldra_platform_qt attaches it
// automatically when the QApplication is created; tests may attach and detach it by hand.
#pragma once

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
