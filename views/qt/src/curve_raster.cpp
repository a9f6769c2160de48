// Column runs for dense curves.
#include "curve_raster.h"

#include <algorithm>
#include <cmath>

namespace veldra::views::detail {

CurveRaster::CurveRaster(QSize devicePixels)
    : image_(devicePixels.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied) {
    image_.fill(Qt::transparent);
}

void CurveRaster::setDevicePixelRatio(double dpr) {
    image_.setDevicePixelRatio(dpr);
    // As thick on the screen at any scale: a one-pixel line at twice the scale is a hairline
    // next to text twice the size.
    thickness_ = std::max(1, static_cast<int>(std::lround(dpr)));
}

void CurveRaster::setRanges(TimeMs from, TimeMs to, double lo, double hi) {
    from_ = from;
    to_ = std::max(to, from + 1);
    lo_ = lo;
    hi_ = hi > lo ? hi : lo + 1.0;
}

int CurveRaster::columnOf(TimeMs t) const {
    return static_cast<int>(std::floor(static_cast<double>(t - from_) * image_.width() /
                                       static_cast<double>(to_ - from_)));
}

int CurveRaster::rowOf(double v) const {
    return static_cast<int>(std::lround((hi_ - v) * (image_.height() - 1) / (hi_ - lo_)));
}

void CurveRaster::run(int x, int top, int bottom, QRgb colour) {
    if (x < 0 || x >= image_.width()) {
        return;
    }
    if (top > bottom) {
        std::swap(top, bottom);
    }
    // The thickness goes downwards only: a flat stretch, where a thin line is hardest to see,
    // gets it in full, and a steep one is a tall run already; widening every column as well
    // would double the pixels written per frame.
    bottom += thickness_ - 1;
    top = std::max(top, 0);
    bottom = std::min(bottom, image_.height() - 1);
    const auto stride = static_cast<std::size_t>(image_.bytesPerLine()) / sizeof(QRgb);
    auto* pixel = reinterpret_cast<QRgb*>(image_.bits()) + static_cast<std::size_t>(top) * stride +
                  static_cast<std::size_t>(x);
    for (int y = top; y <= bottom; ++y, pixel += stride) {
        *pixel = colour;
    }
}

void CurveRaster::dot(int x, int y, QRgb colour) {
    // A value with a gap on either side has no line to show it: a square of about 5 pixels
    // a side at scale 1 makes it as easy to see as a line.
    const int half = 2 * thickness_;
    for (int c = x - half; c <= x + half; ++c) {
        run(c, y - half, y + half - (thickness_ - 1), colour);
    }
}

void CurveRaster::draw(const std::vector<PlotPoint>& points, QRgb colour, bool dashed,
                       int markHeight) {
    const QRgb opaque = colour | 0xff000000U;
    const int dash = std::max(4, image_.height() / 60);
    const auto visible = [&](int x) { return !dashed || (x / dash) % 2 == 0; };
    const PlotPoint* prev = nullptr;
    int prevX = 0, prevTop = 0, prevBottom = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const PlotPoint& pt = points[i];
        const int x = columnOf(pt.time);
        if (pt.broken) {
            run(x, image_.height() - markHeight, image_.height() - 1, opaque);
        }
        if (!pt.has_value()) {
            prev = &pt;
            continue;
        }
        int top = rowOf(pt.max);
        int bottom = rowOf(pt.min);
        const bool joined = prev != nullptr && prev->has_value() && !prev->broken && !pt.broken;
        if (joined) {
            if (x - prevX > 1) {
                // Columns without a point of their own between two joined points: a straight
                // line from one to the other, a run per column.
                const double from = (prevTop + prevBottom) / 2.0, to = (top + bottom) / 2.0;
                double last = from;
                for (int c = prevX + 1; c < x; ++c) {
                    const double y = from + (to - from) * (c - prevX) / (x - prevX);
                    if (visible(c)) {
                        run(c, static_cast<int>(std::lround(last)),
                            static_cast<int>(std::lround(y)), opaque);
                    }
                    last = y;
                }
                top = std::min(top, static_cast<int>(std::lround(last)));
                bottom = std::max(bottom, static_cast<int>(std::lround(last)));
            } else {
                // Meet the neighbour: reach up or down to the nearer end of its run.
                top = std::min(top, prevBottom);
                bottom = std::max(bottom, prevTop);
            }
        } else {
            const PlotPoint* next = i + 1 < points.size() ? &points[i + 1] : nullptr;
            const bool joinsNext =
                next != nullptr && next->has_value() && !next->broken && !pt.broken;
            if (!joinsNext && visible(x)) {
                dot(x, (top + bottom) / 2, opaque);  // a lone value
            }
        }
        if (visible(x)) {
            run(x, top, bottom, opaque);
        }
        prev = &pt;
        prevX = x;
        prevTop = rowOf(pt.max);
        prevBottom = rowOf(pt.min);
    }
}

}  // namespace veldra::views::detail
