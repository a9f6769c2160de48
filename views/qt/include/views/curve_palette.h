// The colours and line styles of the curves: one per listed sensor, in list order, the same in
// every chart and in the legend. The colours are chosen to stand out by at least 3:1 against a
// light and a dark chart background alike; beyond the tenth sensor they repeat dashed.
#pragma once

#include <QColor>
#include <QPen>
#include <array>

namespace veldra::views {

inline constexpr int kCurveColourCount = 10;

QColor curveColour(int index);
Qt::PenStyle curveStyle(int index);

// The WCAG contrast ratio of two colours (1 to 21).
double contrastRatio(const QColor& a, const QColor& b);

}  // namespace veldra::views
