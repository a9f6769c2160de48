// The process entry of veldra-logger: readies the run-time with the callback names, creates the
// Qt application, adds the Qt pages and dialog to the main window and runs the program. Its
// result is the exit status (-1 becomes 255).
#include <QApplication>

#include "app/app.h"
#include "platform/ui.h"
#include "qt_window_extras.h"

int main(int argc, char** argv) {
    if (InitRunTime(callback_names()) == 0) {
        return -1;
    }
    QApplication application(argc, argv);
    InstallQtWindowExtras();
    return veldra_main(argc, argv);
}
