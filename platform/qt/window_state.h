// Where the main window's size and position are kept between runs: a small file "window.ini"
// in the working folder, beside settings.txt, so each working folder keeps its own window like
// its own settings and the panel-state record stays exactly the specified one.
#pragma once

#include <QByteArray>
#include <QString>

namespace veldra::ui::qt {

// The file, absolute; empty: remember nothing.
QString WindowStateFile();
void SetWindowStateFile(const QString& path);
// The file unless one was set: the front-end's choice when it attaches.
void ChooseDefaultWindowStateFile(const QString& path);

// The saved geometry of a panel (by its number in the panel file), empty when none.
QByteArray LoadWindowGeometry(int resource);
void SaveWindowGeometry(int resource, const QByteArray& geometry);

}  // namespace veldra::ui::qt
