// One panel shown as a top-level Qt window whose child widgets mirror the panel's controls.
#pragma once

#include <QWidget>
#include <map>
#include <memory>

#include "platform/detail/frontend.h"

class QLabel;
class QTabWidget;
class QTimer;

namespace veldra::ui::qt {

class TextTableView;

class PanelWindow : public QWidget {
  public:
    PanelWindow(int handle, PanelStyle style);
    ~PanelWindow() override;

    // Applies a view update from the model: title, size, visibility, changed controls.
    void apply(const PanelView& view);

    // Shows page as a further tab beside the text box `control`; the text box is the first
    // tab, titled textBoxTitle. 0, or UIE_BAD_CONTROL when the panel has no such text box.
    int addPage(int control, const QString& title, std::unique_ptr<QWidget> page,
                const QString& textBoxTitle);
    // The view of a text box, for tests and benchmarks.
    TextTableView* textView(int control) const;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    struct Slot {
        ControlKind kind = ControlKind::Decoration;
        QWidget* widget = nullptr;
        QLabel* caption = nullptr;      // label drawn above a field, or inside a frame
        TextTableView* text = nullptr;  // a text box's view, the first page of `widget`
        bool error = false;             // style "error": red, chosen against the background
    };
    Slot& slotFor(const ControlView& view);
    void applyControl(const ControlView& view);
    void restoreGeometry();
    void saveGeometryNow();

    int handle_;
    PanelStyle style_;
    int closeControl_ = 0;
    int modelWidth_ = -1, modelHeight_ = -1;
    bool firstShow_ = true;
    std::map<int, Slot> slots_;
    QTimer* resizeSettled_;
    QTimer* geometrySettled_;
    int resource_ = 0;
    bool geometryRestored_ = false;
};

}  // namespace veldra::ui::qt
