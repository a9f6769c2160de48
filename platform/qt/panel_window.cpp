// Builds and updates the widgets of one panel. Widgets are views: user input goes to the model
// (without echo) and commits dispatch the control's callback here on the GUI thread; the model's
// changes arrive through apply().
#include "panel_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMoveEvent>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include "text_table_view.h"
#include "window_state.h"

namespace veldra::ui::qt {

namespace {

// An integer field that can show and take its value in hexadecimal, six digits wide.
class NumericField : public QSpinBox {
  public:
    NumericField(QWidget* parent, bool hex) : QSpinBox(parent), hex_(hex) {
        setLocale(QLocale::c());  // no digit grouping, whatever the user's locale
        if (hex_) {
            setDisplayIntegerBase(16);
        }
    }

  protected:
    QString textFromValue(int value) const override {
        if (hex_) {
            return QString::number(value, 16).toUpper().rightJustified(6, QLatin1Char('0'));
        }
        return QString::number(value);
    }

  private:
    bool hex_;
};

QString FromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A red that keeps its contrast on the window's background: a dark red vanishes on a dark
// desktop theme. Chosen again whenever the palette changes.
void ColourAsError(QWidget* w, const QPalette& window) {
    const bool dark = window.color(QPalette::Window).lightness() < 128;
    QPalette palette = w->palette();
    palette.setColor(QPalette::WindowText, dark ? QColor(0xff8a80) : QColor(0xb00000));
    w->setPalette(palette);
}

void ApplyStyle(QWidget* w, const std::string& style) {
    QFont font = w->font();
    if (style == "fixed") {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    } else if (style == "bold") {
        font.setBold(true);
    } else if (style == "title") {
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * 2.0);
    } else if (style == "small") {
        font.setPointSizeF(font.pointSizeF() * 0.85);
    } else if (style == "error") {
        // Bold as well as red, so the colour is not all that says it (see ColourAsError).
        font.setBold(true);
    }
    w->setFont(font);
}

}  // namespace

PanelWindow::PanelWindow(int handle, PanelStyle style)
    : QWidget(nullptr),
      handle_(handle),
      style_(style),
      resizeSettled_(new QTimer(this)),
      geometrySettled_(new QTimer(this)) {
    switch (style) {
        case PanelStyle::Window:
            setWindowFlags(Qt::Window);
            break;
        case PanelStyle::Dialog:
            setWindowFlags(Qt::Dialog);  // not modal: the main panel stays operable
            break;
        case PanelStyle::Splash:
            setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
            break;
    }
    // A drag sends "sizing" on every step; "resized" once the size has held for a moment.
    resizeSettled_->setSingleShot(true);
    resizeSettled_->setInterval(250);
    connect(resizeSettled_, &QTimer::timeout, this,
            [this] { DispatchPanelEvent(handle_, EVENT_PANEL_RESIZED); });
    // The window's place is written once it has held still for a moment, not on every step.
    geometrySettled_->setSingleShot(true);
    geometrySettled_->setInterval(500);
    connect(geometrySettled_, &QTimer::timeout, this, [this] { saveGeometryNow(); });
}

PanelWindow::~PanelWindow() {
    if (geometrySettled_->isActive()) {
        saveGeometryNow();
    }
}

void PanelWindow::restoreGeometry() {
    geometryRestored_ = true;
    const QByteArray saved = LoadWindowGeometry(resource_);
    // Qt puts a window saved on a screen that is no longer there back onto one that is.
    if (!saved.isEmpty()) {
        QWidget::restoreGeometry(saved);
    }
}

void PanelWindow::saveGeometryNow() {
    geometrySettled_->stop();
    if (style_ == PanelStyle::Window && geometryRestored_) {
        SaveWindowGeometry(resource_, saveGeometry());
    }
}

void PanelWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (style_ == PanelStyle::Window && geometryRestored_ && isVisible()) {
        geometrySettled_->start();
    }
}

void PanelWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (style_ == PanelStyle::Window && geometryRestored_ && isVisible()) {
        geometrySettled_->start();
    }
    const QSize size = event->size();
    if (size.width() == modelWidth_ && size.height() == modelHeight_) {
        return;  // the model asked for this size
    }
    modelWidth_ = size.width();
    modelHeight_ = size.height();
    UserSetPanelSize(handle_, modelWidth_, modelHeight_);
    DispatchPanelEvent(handle_, EVENT_PANEL_SIZING);
    resizeSettled_->start();
}

void PanelWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        for (auto& [id, slot] : slots_) {
            if (slot.error) {
                ColourAsError(slot.widget, palette());
            }
        }
    }
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (style_ == PanelStyle::Splash) {
        return;
    }
    if (closeControl_ != 0) {
        // The close box does what its command does (the main panel's quit saves the settings).
        DispatchControlEvent(handle_, closeControl_, EVENT_COMMIT);
    } else {
        HidePanel(handle_);
    }
}

void PanelWindow::apply(const PanelView& view) {
    closeControl_ = view.closeControl;
    resource_ = view.resource;
    for (const ControlView& c : view.changedControls) {
        applyControl(c);
    }
    if (view.panelChanged) {
        setWindowTitle(FromUtf8(view.title));
        if (view.minWidth > 0 || view.minHeight > 0) {
            setMinimumSize(view.minWidth, view.minHeight);
        }
        if (style_ != PanelStyle::Window) {
            setFixedSize(view.width, view.height);
        }
        if (view.width != width() || view.height != height()) {
            modelWidth_ = view.width;
            modelHeight_ = view.height;
            resize(view.width, view.height);
        }
        if (view.visible && !isVisible()) {
            if (firstShow_ && style_ == PanelStyle::Window) {
                restoreGeometry();  // the size and place it had when the program last ran
            }
            if (firstShow_ && style_ != PanelStyle::Window) {
                if (const QScreen* screen = QGuiApplication::primaryScreen()) {
                    move(screen->availableGeometry().center() - rect().center());
                }
            }
            firstShow_ = false;
            show();
            raise();
        } else if (!view.visible && isVisible()) {
            hide();
        }
    }
}

PanelWindow::Slot& PanelWindow::slotFor(const ControlView& view) {
    auto it = slots_.find(view.id);
    if (it != slots_.end()) {
        return it->second;
    }
    Slot slot;
    slot.kind = view.kind;
    const int panel = handle_;
    const int id = view.id;
    switch (view.kind) {
        case ControlKind::CommandButton: {
            auto* b = new QPushButton(this);
            connect(b, &QPushButton::clicked, this,
                    [panel, id] { DispatchControlEvent(panel, id, EVENT_COMMIT); });
            slot.widget = b;
            break;
        }
        case ControlKind::Numeric: {
            auto* n = new NumericField(this, view.hex);
            n->setRange(view.minValue, view.maxValue);
            n->setKeyboardTracking(false);
            connect(n, &QSpinBox::valueChanged, this, [panel, id](int v) {
                UserSetInt(panel, id, v);
                DispatchControlEvent(panel, id, EVENT_VAL_CHANGED);
            });
            connect(n, &QSpinBox::editingFinished, this,
                    [panel, id] { DispatchControlEvent(panel, id, EVENT_COMMIT); });
            slot.widget = n;
            break;
        }
        case ControlKind::String: {
            auto* e = new QLineEdit(this);
            e->setReadOnly(view.readOnly);
            connect(e, &QLineEdit::textEdited, this,
                    [panel, id](const QString& t) { UserSetText(panel, id, t.toStdString()); });
            connect(e, &QLineEdit::returnPressed, this,
                    [panel, id] { DispatchControlEvent(panel, id, EVENT_COMMIT); });
            slot.widget = e;
            break;
        }
        case ControlKind::TextBox: {
            // The control's place holds tabs: the text box is the first page, and pages added
            // beside it follow the text box's geometry. With one page the tab bar hides.
            auto* tabs = new QTabWidget(this);
            tabs->setDocumentMode(true);
            tabs->setTabBarAutoHide(true);
            slot.text = new TextTableView(panel, id, tabs);
            slot.text->setObjectName(QStringLiteral("control_%1_text").arg(id));
            tabs->addTab(slot.text, QStringLiteral("Table"));
            slot.widget = tabs;
            break;
        }
        case ControlKind::ListBox: {
            auto* l = new QListWidget(this);
            connect(l, &QListWidget::currentRowChanged, this,
                    [panel, id](int row) { UserSetIndex(panel, id, row); });
            connect(l, &QListWidget::itemActivated, this,
                    [panel, id] { DispatchControlEvent(panel, id, EVENT_COMMIT); });
            slot.widget = l;
            break;
        }
        case ControlKind::TextMessage: {
            auto* l = new QLabel(this);
            l->setTextFormat(Qt::PlainText);
            slot.widget = l;
            break;
        }
        case ControlKind::Decoration: {
            auto* f = new QFrame(this);
            f->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
            slot.widget = f;
            break;
        }
    }
    slot.widget->setObjectName(QStringLiteral("control_%1").arg(id));
    ApplyStyle(slot.text != nullptr ? static_cast<QWidget*>(slot.text) : slot.widget, view.style);
    if (view.style == "error") {
        slot.error = true;
        ColourAsError(slot.widget, palette());
    }
    if (!view.label.empty() && view.kind != ControlKind::CommandButton &&
        view.kind != ControlKind::TextMessage) {
        slot.caption = new QLabel(this);
        slot.caption->setTextFormat(Qt::PlainText);
    }
    slot.widget->show();
    if (view.kind == ControlKind::Decoration) {
        slot.widget->lower();  // frames lie behind what they frame
    }
    if (slot.caption != nullptr) {
        slot.caption->show();
        slot.caption->raise();
    }
    return slots_.emplace(view.id, slot).first->second;
}

void PanelWindow::applyControl(const ControlView& view) {
    Slot& slot = slotFor(view);
    QWidget* w = slot.widget;
    const Geometry& g = view.geometry;
    w->setGeometry(g.left, g.top, std::max(0, g.width), std::max(0, g.height));
    w->setVisible(g.width > 0 && g.height > 0);
    w->setEnabled(!view.dimmed);
    w->setToolTip(FromUtf8(view.tooltip));
    if (slot.caption != nullptr) {
        slot.caption->setText(FromUtf8(view.label));
        if (view.kind == ControlKind::Decoration) {
            slot.caption->setGeometry(g.left + 8, g.top + 3, std::max(0, g.width - 16), 16);
        } else {
            slot.caption->setGeometry(g.left, g.top - 18, std::max(0, g.width), 16);
        }
        slot.caption->setEnabled(!view.dimmed);
    }
    const QSignalBlocker block(w);
    switch (view.kind) {
        case ControlKind::CommandButton:
            static_cast<QPushButton*>(w)->setText(FromUtf8(view.label));
            break;
        case ControlKind::Numeric: {
            auto* n = static_cast<QSpinBox*>(w);
            n->setRange(view.minValue, view.maxValue);
            if (n->value() != view.intValue) {
                n->setValue(view.intValue);
            }
            break;
        }
        case ControlKind::String: {
            auto* e = static_cast<QLineEdit*>(w);
            const QString text = FromUtf8(view.text);
            if (e->text() != text) {
                e->setText(text);
                e->setCursorPosition(0);
            }
            break;
        }
        case ControlKind::TextBox:
            slot.text->apply(view.textBox);
            break;
        case ControlKind::ListBox: {
            auto* l = static_cast<QListWidget*>(w);
            l->clear();
            for (const ListItem& item : view.items) {
                l->addItem(FromUtf8(item.label));
            }
            l->setCurrentRow(view.index);
            break;
        }
        case ControlKind::TextMessage:
            static_cast<QLabel*>(w)->setText(FromUtf8(view.text));
            break;
        case ControlKind::Decoration:
            break;
    }
}

int PanelWindow::addPage(int control, const QString& title, std::unique_ptr<QWidget> page,
                         const QString& textBoxTitle) {
    const auto it = slots_.find(control);
    if (it == slots_.end() || it->second.text == nullptr) {
        return UIE_BAD_CONTROL;
    }
    auto* tabs = static_cast<QTabWidget*>(it->second.widget);
    tabs->setTabText(0, textBoxTitle);
    tabs->addTab(page.release(), title);  // the tab widget owns its pages
    return 0;
}

TextTableView* PanelWindow::textView(int control) const {
    const auto it = slots_.find(control);
    return it == slots_.end() ? nullptr : it->second.text;
}

}  // namespace veldra::ui::qt
