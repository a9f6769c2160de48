// veldra-logger as a desktop with a dark colour scheme shows it: the program's own entry, with
// the application's palette set to a dark one before any window is made, as a dark desktop
// theme sets it. The end-to-end run takes its picture at scale factor 2 with this, and it
// serves to look at the window by hand:
//     QT_SCALE_FACTOR=2 build/tests/e2e/veldra-logger-dark
#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QStyleFactory>

#include "app/app.h"
#include "platform/ui.h"
#include "qt_window_extras.h"

namespace {

QPalette DarkPalette() {
    const QColor window(0x2d, 0x2d, 0x30), base(0x1e, 0x1e, 0x1e), text(0xe6, 0xe6, 0xe6),
        dim(0x80, 0x80, 0x80), highlight(0x3d, 0x6f, 0xb4);
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dim);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x8a, 0xb4, 0xf8));
    p.setColor(QPalette::Light, QColor(0x50, 0x50, 0x55));
    p.setColor(QPalette::Midlight, QColor(0x44, 0x44, 0x48));
    p.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x33));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
    p.setColor(QPalette::Shadow, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, dim);
    }
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    if (InitRunTime(callback_names()) == 0) {
        return -1;
    }
    QApplication application(argc, argv);
    // Fusion draws every control from the palette, as desktop themes' own styles do.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(DarkPalette());
    InstallQtWindowExtras();
    return veldra_main(argc, argv);
}
