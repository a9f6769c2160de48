// The Qt front-end's additions to the main window: the "Plot" and "Health" pages beside the
// display table, fed from the window's logging session, and the Options dialog.
#pragma once

// Sets the program's window-extras factory to the Qt one. Call before veldra_main, with the
// QApplication created.
void InstallQtWindowExtras();
