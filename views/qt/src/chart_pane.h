// One chart of the plot view: its axes, grid, curves, the failed-query marks and the value under
// the pointer. The plot view owns the time axis; each chart scales its own values.
#pragma once

#include <QWidget>
#include <optional>
#include <vector>

#include "views/history.h"

namespace veldra::views {
class PlotView;
}

namespace veldra::views::detail {

class ChartPane : public QWidget {
  public:
    ChartPane(PlotView& plot, core::Quantity quantity, QWidget* parent);

    core::Quantity quantity() const { return quantity_; }
    // The curve of one sensor as last drawn (after thinning to the chart's width).
    const std::vector<PlotPoint>* drawnCurve(int address) const;
    // The text of the box under the pointer, empty when the pointer is elsewhere.
    QString pointerText() const { return pointerText_; }
    void resetValueZoom() { userValues_.reset(); }
    // The area the curves are drawn in, in widget coordinates.
    QRect plotArea() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    struct Curve {
        int address;
        int index;  // colour
        std::vector<PlotPoint> points;
    };
    void fetch(const QRect& area);
    QString describePointer(const QRect& area, int x) const;
    TimeMs timeAt(const QRect& area, double x) const;

    PlotView& plot_;
    core::Quantity quantity_;
    std::vector<Curve> curves_;
    std::optional<std::pair<double, double>> userValues_;
    std::pair<double, double> values_{0.0, 1.0};
    std::optional<int> pointerX_;
    QString pointerText_;
    std::optional<QPoint> dragFrom_;
    TimeMs dragTimeFrom_ = 0;
};

}  // namespace veldra::views::detail
