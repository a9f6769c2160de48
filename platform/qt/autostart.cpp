// Attaches the Qt front-end as soon as the program creates its QApplication, so the program
// needs no call of its own: linking veldra_platform_qt is enough.
#include <QCoreApplication>

#include "platform/qt_frontend.h"

namespace {

void AttachWhenTheApplicationStarts() {
    AttachQtFrontEnd();
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(AttachWhenTheApplicationStarts)
