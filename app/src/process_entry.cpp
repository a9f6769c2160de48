// The process entry of veldra-logger: readies the run-time with the callback names, creates the
// Qt application and runs the program. Its result is the exit status (-1 becomes 255).
#include <QApplication>

#include "app/app.h"
#include "platform/ui.h"

int main(int argc, char** argv) {
    if (InitRunTime(callback_names()) == 0) {
        return -1;
    }
    QApplication application(argc, argv);
    return veldra_main(argc, argv);
}
