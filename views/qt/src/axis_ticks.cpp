// Grid and labels of the chart axes.
#include "axis_ticks.h"

#include <QDateTime>
#include <array>
#include <cmath>

namespace veldra::views::detail {

std::vector<Tick> valueTicks(double lo, double hi, int length, int pixelsPerTick) {
    std::vector<Tick> ticks;
    if (!(hi > lo) || length <= 0) {
        return ticks;
    }
    const double wanted = std::max(2, length / std::max(1, pixelsPerTick));
    const double raw = (hi - lo) / wanted;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    // The nice steps 1, 2 and 5 times a power of ten, from the one just above `raw` down.
    const auto nice = [magnitude](int k) {
        static constexpr std::array<double, 3> kMantissa{1.0, 2.0, 5.0};
        const int decade = k >= 0 ? k / 3 : -((-k + 2) / 3);
        return kMantissa[static_cast<std::size_t>(k - decade * 3)] * std::pow(10.0, decade) *
               magnitude;
    };
    int k = 0;
    while (nice(k) < raw) {
        ++k;
    }
    // At least two lines, so even a short chart or a narrow range shows its scale: a step
    // as wide as half the range may leave only one line inside it.
    const auto lines = [lo, hi](double step) {
        return std::floor(hi / step + 1e-9) - std::ceil(lo / step - 1e-9) + 1;
    };
    while (lines(nice(k)) < 2 && k > -6) {
        --k;
    }
    const double step = nice(k);
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) {
        const double shown = std::abs(v) < step * 1e-6 ? 0.0 : v;
        ticks.push_back({shown, QString::number(shown, 'f', decimals)});
    }
    return ticks;
}

std::vector<Tick> timeTicks(TimeMs from, TimeMs to, int length, int labelWidth) {
    std::vector<Tick> ticks;
    if (to <= from || length <= 0) {
        return ticks;
    }
    constexpr TimeMs s = 1000, m = 60 * s, h = 60 * m, d = 24 * h;
    static constexpr std::array<TimeMs, 22> kSteps{
        1 * s,  2 * s, 5 * s, 10 * s, 15 * s, 30 * s, 1 * m, 2 * m, 5 * m, 10 * m, 15 * m,
        30 * m, 1 * h, 2 * h, 3 * h,  6 * h,  12 * h, 1 * d, 2 * d, 7 * d, 14 * d, 28 * d};
    const double msPerPixel = static_cast<double>(to - from) / length;
    TimeMs step = kSteps.back();
    for (const TimeMs candidate : kSteps) {
        if (static_cast<double>(candidate) / msPerPixel >= labelWidth * 1.4) {
            step = candidate;
            break;
        }
    }
    // Steps fall on the local clock's round times.
    const TimeMs offset =
        static_cast<TimeMs>(QDateTime::fromMSecsSinceEpoch(from).offsetFromUtc()) * 1000;
    TimeMs t = ((from + offset + step - 1) / step) * step - offset;
    for (; t <= to; t += step) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(t);
        QString label;
        if (step < m) {
            label = local.toString(QStringLiteral("HH:mm:ss"));
        } else if (step < d && local.time() != QTime(0, 0)) {
            label = local.toString(QStringLiteral("HH:mm"));
        } else {
            label = local.toString(QStringLiteral("dd.MM."));
        }
        ticks.push_back({static_cast<double>(t), label});
    }
    return ticks;
}

QString dateTimeText(TimeMs t) {
    return QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

}  // namespace veldra::views::detail
