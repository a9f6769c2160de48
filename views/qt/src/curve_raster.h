// Draws a dense curve (about one point per device pixel or more) straight into an image: one
// vertical run of pixels per column, from the column's least to its greatest value, stretched
// to meet the neighbouring column where the curve moves. Thousands of columns this way cost a
// fraction of what as many line segments cost the painter, and gaps stay exactly where a failed
// query lies.
#pragma once

#include <QImage>
#include <vector>

#include "views/history.h"

namespace veldra::views::detail {

class CurveRaster {
  public:
    // The plot area in device pixels; starts transparent.
    explicit CurveRaster(QSize devicePixels);

    // The time and value ranges that map onto the image.
    void setRanges(TimeMs from, TimeMs to, double lo, double hi);
    // markHeight: device pixels of the failure marks at the foot of the image.
    void draw(const std::vector<PlotPoint>& points, QRgb colour, bool dashed, int markHeight);

    void setDevicePixelRatio(double dpr);
    const QImage& image() const { return image_; }

  private:
    int columnOf(TimeMs t) const;
    int rowOf(double v) const;
    // Column x, rows top to bottom + thickness - 1, clipped.
    void run(int x, int top, int bottom, QRgb colour);
    void dot(int x, int y, QRgb colour);

    QImage image_;
    int thickness_ = 1;  // device pixels
    TimeMs from_ = 0, to_ = 1;
    double lo_ = 0.0, hi_ = 1.0;
};

}  // namespace veldra::views::detail
