// The Qt view of a text box: draws only the lines and columns that are visible, reading them
// from the model, which keeps the text. The view itself keeps one length per line (for the
// scroll range), so appending a cell or repainting costs in proportion to what is on screen,
// not to how wide or long the table is. Fixed-width text; selection with the mouse (Shift
// extends), Ctrl+A, and Ctrl+C or the context menu copy exactly the model's text.
#pragma once

#include <QAbstractScrollArea>
#include <deque>
#include <string>

#include "platform/detail/frontend.h"

namespace veldra::ui::qt {

class TextTableView : public QAbstractScrollArea {
  public:
    TextTableView(int panel, int control, QWidget* parent);

    // Applies what changed in the model since the view last looked.
    void apply(const TextBoxChange& change);

    // Lines as shown: the model's, plus an empty one after a final line end.
    int lineCount() const { return static_cast<int>(lengths_.size()); }
    int firstVisibleLine() const;
    // The text painted last time, line by line (only the visible part of each line).
    const std::vector<std::string>& paintedLines() const { return painted_; }

    struct Position {
        int line = 0;
        std::size_t column = 0;
        friend auto operator<=>(const Position&, const Position&) = default;
    };
    void select(Position from, Position to);
    void selectAll();
    std::string selectedText() const;
    void copy() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void appendText(const std::string& text);
    void deleteLines(int first, int count);
    void updateScrollRanges();
    Position positionAt(const QPoint& viewportPoint) const;
    int charWidth() const;
    int lineHeight() const;

    int panel_, control_;
    std::deque<int> lengths_{0};
    // Whether the last shown line is the model's unended last line; when false it is the empty
    // line after a final line end (or of an empty box), which the model does not count.
    bool lastOpen_ = false;
    int longest_ = 0;
    Position anchor_, cursor_;
    std::vector<std::string> painted_;
};

}  // namespace veldra::ui::qt
