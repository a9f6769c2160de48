// The window-state file, written with QSettings (an INI file, replaced whole on every save).
#include "window_state.h"

#include <QSettings>

namespace veldra::ui::qt {

namespace {

QString& File() {
    static QString file;
    return file;
}

bool& Chosen() {
    static bool chosen = false;
    return chosen;
}

QString Group(int resource) {
    return QStringLiteral("panel_%1").arg(resource);
}

}  // namespace

QString WindowStateFile() {
    return File();
}

void SetWindowStateFile(const QString& path) {
    File() = path;
    Chosen() = true;
}

void ChooseDefaultWindowStateFile(const QString& path) {
    if (!Chosen()) {
        File() = path;
    }
}

QByteArray LoadWindowGeometry(int resource) {
    if (File().isEmpty()) {
        return {};
    }
    const QSettings settings(File(), QSettings::IniFormat);
    return settings.value(Group(resource) + QStringLiteral("/geometry")).toByteArray();
}

void SaveWindowGeometry(int resource, const QByteArray& geometry) {
    if (File().isEmpty()) {
        return;
    }
    QSettings settings(File(), QSettings::IniFormat);
    settings.setValue(Group(resource) + QStringLiteral("/geometry"), geometry);
    settings.sync();
}

}  // namespace veldra::ui::qt
