// Curve colours: ten hues at one luminance, between what a white and a near-black background
// need, ordered so that neighbours in the list differ most.
#include "views/curve_palette.h"

#include <cmath>

namespace veldra::views {

namespace {

constexpr std::array<QRgb, kCurveColourCount> kColours{
    0x3484d4,  // blue
    0xd06111,  // orange
    0x0c9623,  // green
    0xd53ad5,  // magenta
    0x97800c,  // olive
    0xef3d3d,  // red
    0x0c9090,  // teal
    0xa65bf2,  // violet
    0x4f910c,  // leaf green
    0xd94c92,  // rose
};

double linear(double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c) {
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

}  // namespace

QColor curveColour(int index) {
    const int n = kCurveColourCount;
    return QColor::fromRgb(kColours[static_cast<std::size_t>(((index % n) + n) % n)]);
}

Qt::PenStyle curveStyle(int index) {
    return index / kCurveColourCount % 2 == 0 ? Qt::SolidLine : Qt::DashLine;
}

double contrastRatio(const QColor& a, const QColor& b) {
    double la = luminance(a);
    double lb = luminance(b);
    if (la < lb) {
        std::swap(la, lb);
    }
    return (la + 0.05) / (lb + 0.05);
}

}  // namespace veldra::views
