// Drawing, scrolling, selecting and copying in the text box's view.
#include "text_table_view.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace veldra::ui::qt {

namespace {
constexpr int kMargin = 4;  // pixels left of the first column
}

TextTableView::TextTableView(int panel, int control, QWidget* parent)
    : QAbstractScrollArea(parent), panel_(panel), control_(control) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int line) {
        UserSetFirstVisibleLine(panel_, control_, line);
        viewport()->update();
    });
}

int TextTableView::charWidth() const {
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
}

int TextTableView::lineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int TextTableView::firstVisibleLine() const {
    return verticalScrollBar()->value();
}

void TextTableView::apply(const TextBoxChange& change) {
    QScrollBar* bar = verticalScrollBar();
    // A view scrolled to its end follows what is appended; one scrolled back stays put.
    const bool following = bar->value() >= bar->maximum();
    const int shownFrom = bar->value();
    const int longestBefore = longest_;
    // Appends touch the last line and what follows it; only that needs painting again.
    int touched = lineCount() - 1;
    bool whole = change.rebuild;
    if (change.rebuild) {
        lengths_ = {0};
        lastOpen_ = false;
        longest_ = 0;
        anchor_ = cursor_ = {};
        appendText(change.fullText);
    }
    for (const TextBoxChange::Op& op : change.ops) {
        if (op.kind == TextBoxChange::Op::Kind::Append) {
            appendText(op.text);
        } else {
            deleteLines(op.first, op.count);
            whole = true;
        }
    }
    updateScrollRanges();
    if (change.scrollTo && !change.rebuild) {
        bar->setValue(*change.scrollTo);
    } else if (following) {
        bar->setValue(bar->maximum());
    } else if (change.scrollTo) {
        bar->setValue(*change.scrollTo);
    }
    if (whole || bar->value() != shownFrom || longest_ != longestBefore) {
        viewport()->update();
    } else {
        const int top = (touched - bar->value()) * lineHeight();
        if (top < viewport()->height()) {
            viewport()->update(QRect(0, std::max(0, top), viewport()->width(),
                                     viewport()->height() - std::max(0, top)));
        }
    }
}

void TextTableView::appendText(const std::string& text) {
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t end = text.find('\n', from);
        const std::size_t piece = (end == std::string::npos ? text.size() : end) - from;
        lengths_.back() += static_cast<int>(piece);
        longest_ = std::max(longest_, lengths_.back());
        if (end == std::string::npos) {
            lastOpen_ = lastOpen_ || piece > 0;
            break;
        }
        lengths_.push_back(0);
        lastOpen_ = false;
        from = end + 1;
    }
}

void TextTableView::deleteLines(int first, int count) {
    // The model's lines: every shown line but the empty one after a final line end.
    const int modelLines = lineCount() - (lastOpen_ ? 0 : 1);
    first = std::clamp(first, 0, modelLines);
    count = std::clamp(count, 0, modelLines - first);
    if (count == 0) {
        return;
    }
    const bool toTheEnd = first + count == modelLines;
    lengths_.erase(lengths_.begin() + first, lengths_.begin() + first + count);
    if (toTheEnd && lastOpen_) {
        lengths_.push_back(0);  // the model's last line went; what is left ends in a line end
        lastOpen_ = false;
    }
    if (lengths_.empty()) {
        lengths_.push_back(0);
        lastOpen_ = false;
    }
    longest_ = *std::max_element(lengths_.begin(), lengths_.end());
    const auto shift = [&](Position& p) {
        p.line = p.line >= first + count ? p.line - count : std::min(p.line, first);
        p.line = std::min(p.line, lineCount() - 1);
    };
    shift(anchor_);
    shift(cursor_);
}

void TextTableView::updateScrollRanges() {
    const int visibleLines = std::max(1, viewport()->height() / lineHeight());
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, std::max(0, lineCount() - visibleLines));
    v->setPageStep(visibleLines);
    v->setSingleStep(1);
    QScrollBar* h = horizontalScrollBar();
    const int contentWidth = longest_ * charWidth() + 2 * kMargin;
    h->setRange(0, std::max(0, contentWidth - viewport()->width()));
    h->setPageStep(viewport()->width());
    h->setSingleStep(charWidth());
}

void TextTableView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    updateScrollRanges();
    if (following) {
        bar->setValue(bar->maximum());
    }
}

void TextTableView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateScrollRanges();
    }
}

void TextTableView::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    const QPalette& pal = palette();
    p.fillRect(event->rect(),
               pal.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Base));
    const int cw = charWidth();
    const int lh = lineHeight();
    const int ascent = fontMetrics().ascent();
    // Only the rows the paint event asks for: an append repaints one line, not the screen.
    const QRect dirty = event->rect();
    const int top = verticalScrollBar()->value();
    const int first = top + std::max(0, dirty.top()) / lh;
    const int rows = (dirty.bottom() + 1 + lh - 1) / lh - (first - top) + 1;
    const int scrolled = horizontalScrollBar()->value() - kMargin;
    const auto firstColumn = static_cast<std::size_t>(std::max(0, scrolled / cw));
    const int columns = viewport()->width() / cw + 2;
    const int x0 = static_cast<int>(firstColumn) * cw - scrolled;

    TextBoxSlice slice;
    ReadTextBoxSlice(panel_, control_, first, rows, firstColumn, static_cast<std::size_t>(columns),
                     slice);
    painted_ = std::move(slice.lines);

    const Position from = std::min(anchor_, cursor_);
    const Position to = std::max(anchor_, cursor_);
    const QColor text =
        pal.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text);
    for (int row = 0; row < static_cast<int>(painted_.size()); ++row) {
        const int line = first + row;
        const int y = (line - top) * lh;
        if (from != to && line >= from.line && line <= to.line) {
            // The selected part of this line, in columns, then in pixels.
            const auto selFrom = static_cast<long long>(line == from.line ? from.column : 0);
            const long long selTo =
                line == to.line
                    ? static_cast<long long>(to.column)
                    : static_cast<long long>(
                          lengths_[static_cast<std::size_t>(std::min(line, lineCount() - 1))]) +
                          1;
            const auto left = static_cast<int>(selFrom * cw - scrolled);
            const auto right = static_cast<int>(selTo * cw - scrolled);
            p.fillRect(QRect(left, y, std::max(0, right - left), lh),
                       pal.color(QPalette::Highlight));
        }
        p.setPen(text);
        const std::string& s = painted_[static_cast<std::size_t>(row)];
        p.drawText(x0, y + ascent, QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())));
    }
}

TextTableView::Position TextTableView::positionAt(const QPoint& point) const {
    const int cw = charWidth();
    Position pos;
    pos.line =
        std::clamp(verticalScrollBar()->value() + point.y() / lineHeight(), 0, lineCount() - 1);
    const int x = point.x() + horizontalScrollBar()->value() - kMargin;
    const int column = std::max(0, (x + cw / 2) / cw);
    pos.column =
        static_cast<std::size_t>(std::min(column, lengths_[static_cast<std::size_t>(pos.line)]));
    return pos;
}

void TextTableView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    cursor_ = positionAt(event->position().toPoint());
    if ((event->modifiers() & Qt::ShiftModifier) == 0) {
        anchor_ = cursor_;
    }
    viewport()->update();
}

void TextTableView::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) != 0) {
        cursor_ = positionAt(event->position().toPoint());
        viewport()->update();
    }
}

void TextTableView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void TextTableView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copyAction = menu.addAction(QStringLiteral("Copy"), [this] { copy(); });
    copyAction->setEnabled(anchor_ != cursor_);
    menu.addAction(QStringLiteral("Select All"), [this] { selectAll(); });
    menu.exec(event->globalPos());
}

void TextTableView::select(Position from, Position to) {
    anchor_ = from;
    cursor_ = to;
    viewport()->update();
}

void TextTableView::selectAll() {
    select({0, 0}, {lineCount() - 1, static_cast<std::size_t>(lengths_.back())});
}

std::string TextTableView::selectedText() const {
    const Position from = std::min(anchor_, cursor_);
    const Position to = std::max(anchor_, cursor_);
    std::string text;
    if (from != to) {
        ReadTextBoxRange(panel_, control_, from.line, from.column, to.line, to.column, text);
    }
    return text;
}

void TextTableView::copy() const {
    const std::string text = selectedText();
    if (!text.empty()) {
        QGuiApplication::clipboard()->setText(
            QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }
}

}  // namespace veldra::ui::qt
