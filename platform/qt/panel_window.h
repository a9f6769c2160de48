// One panel shown as a top-level Qt window whose child widgets mirror the panel's controls.
#pragma once

#include <QWidget>
#include <map>

#include "platform/detail/frontend.h"

class QLabel;
class QTimer;

namespace veldra::ui::qt {

class PanelWindow : public QWidget {
  public:
    PanelWindow(int handle, PanelStyle style);

    // Applies a view update from the model: title, size, visibility, changed controls.
    void apply(const PanelView& view);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    struct Slot {
        ControlKind kind = ControlKind::Decoration;
        QWidget* widget = nullptr;
        QLabel* caption = nullptr;  // label drawn above a field, or inside a frame
    };
    Slot& slotFor(const ControlView& view);
    void applyControl(const ControlView& view);
    void applyTextBox(QWidget* widget, const TextBoxChange& change);

    int handle_;
    PanelStyle style_;
    int closeControl_ = 0;
    int modelWidth_ = -1, modelHeight_ = -1;
    bool firstShow_ = true;
    std::map<int, Slot> slots_;
    QTimer* resizeSettled_;
};

}  // namespace veldra::ui::qt
