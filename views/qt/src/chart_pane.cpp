// Painting and mouse handling of one chart. Curves are drawn as min/max bars per column joined
// by short segments; a column that holds a failed query is joined to nothing, and a small mark
// at the chart's foot shows where queries failed.
#include "chart_pane.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "axis_ticks.h"
#include "curve_raster.h"
#include "views/curve_palette.h"
#include "views/plot_view.h"

namespace veldra::views::detail {

namespace {

QString quantityTitle(core::Quantity q) {
    const std::string_view name = core::quantity_name(q);
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

QString valueText(core::Quantity q, double v) {
    return QString::number(v, 'f', q == core::Quantity::Counts ? 0 : 2);
}

QString addressText(int address) {
    return QStringLiteral("%1").arg(address & 0xffffff, 6, 16, QLatin1Char('0'));
}

}  // namespace

ChartPane::ChartPane(PlotView& plot, core::Quantity quantity, QWidget* parent)
    : QWidget(parent), plot_(plot), quantity_(quantity) {
    setMouseTracking(true);
    setMinimumHeight(fontMetrics().height() * 6);
    setObjectName(
        QStringLiteral("chart_%1")
            .arg(QString::fromLatin1(core::quantity_key(quantity).data(),
                                     static_cast<qsizetype>(core::quantity_key(quantity).size()))));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

const std::vector<PlotPoint>* ChartPane::drawnCurve(int address) const {
    for (const Curve& c : curves_) {
        if (c.address == address) {
            return &c.points;
        }
    }
    return nullptr;
}

QRect ChartPane::plotArea() const {
    const QFontMetrics fm = fontMetrics();
    const int left = fm.horizontalAdvance(QStringLiteral("-000000.00")) + 10;
    const int top = fm.height() + 6;
    const int bottom = fm.height() + 8;
    return QRect(left, top, std::max(1, width() - left - 12), std::max(1, height() - top - bottom));
}

TimeMs ChartPane::timeAt(const QRect& area, double x) const {
    const TimeRange r = plot_.timeRange();
    return r.from + static_cast<TimeMs>((x - area.left()) * static_cast<double>(r.to - r.from) /
                                        std::max(1, area.width()));
}

void ChartPane::fetch(const QRect& area) {
    curves_.clear();
    const TimeRange r = plot_.timeRange();
    const double dpr = std::max(1.0, devicePixelRatioF());
    const std::vector<int>& sensors = plot_.sensors();
    for (std::size_t i = 0; i < sensors.size(); ++i) {
        if (!plot_.sensorShown(sensors[i])) {
            continue;
        }
        // One column per device pixel: at a scale factor of 2 the curve has twice the detail
        // and its one-pixel bars still touch.
        curves_.push_back({sensors[i], static_cast<int>(i),
                           plot_.history().query({sensors[i], quantity_}, r.from, r.to,
                                                 static_cast<int>(area.width() * dpr))});
    }
}

void ChartPane::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    const QColor text = pal.color(QPalette::Text);
    const QColor base = pal.color(QPalette::Base);
    // Opaque mixtures rather than translucent pens: translucent lines go through the raster
    // engine's blending, which hands work to helper threads and costs a frame dearly.
    const auto mix = [&](double share) {
        return QColor::fromRgbF(
            static_cast<float>(base.redF() + (text.redF() - base.redF()) * share),
            static_cast<float>(base.greenF() + (text.greenF() - base.greenF()) * share),
            static_cast<float>(base.blueF() + (text.blueF() - base.blueF()) * share));
    };
    const QColor grid = mix(0.18);
    p.fillRect(rect(), base);
    const QRect area = plotArea();
    const QFontMetrics fm = fontMetrics();
    fetch(area);

    // The value axis: the user's, or what the visible curves need.
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (const Curve& c : curves_) {
        for (const PlotPoint& pt : c.points) {
            if (pt.has_value()) {
                lo = std::min(lo, static_cast<double>(pt.min));
                hi = std::max(hi, static_cast<double>(pt.max));
            }
        }
    }
    if (userValues_) {
        std::tie(lo, hi) = *userValues_;
    } else if (!(lo <= hi)) {
        lo = 0.0;
        hi = 1.0;
    } else {
        const double pad = hi > lo ? (hi - lo) * 0.06 : std::max(1.0, std::abs(hi) * 0.05);
        lo -= pad;
        hi += pad;
    }
    values_ = {lo, hi};
    const TimeRange r = plot_.timeRange();
    const double spanT = static_cast<double>(std::max<TimeMs>(1, r.to - r.from));
    const auto xOf = [&](TimeMs t) {
        return area.left() + static_cast<double>(t - r.from) * area.width() / spanT;
    };
    const auto yOf = [&](double v) {
        return area.bottom() + 1 - (v - lo) * area.height() / (hi - lo);
    };

    p.setPen(text);
    p.drawText(QRect(area.left(), 2, area.width(), fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               quantityTitle(quantity_));
    for (const Tick& t : valueTicks(lo, hi, area.height(), fm.height() * 2 + 8)) {
        const double y = yOf(t.at);
        p.setPen(grid);
        p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        p.setPen(text);
        p.drawText(QRectF(0, y - fm.height() / 2.0, area.left() - 6, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, t.label);
    }
    const int labelWidth = fm.horizontalAdvance(QStringLiteral("00:00:00"));
    for (const Tick& t : timeTicks(r.from, r.to, area.width(), labelWidth)) {
        const double x = xOf(static_cast<TimeMs>(t.at));
        p.setPen(grid);
        p.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        p.setPen(text);
        p.drawText(QRectF(x - labelWidth, area.bottom() + 4, labelWidth * 2, fm.height()),
                   Qt::AlignHCenter | Qt::AlignTop, t.label);
    }
    p.setPen(mix(0.45));
    p.drawRect(area.adjusted(0, 0, -1, -1));

    if (curves_.empty() || std::all_of(curves_.begin(), curves_.end(),
                                       [](const Curve& c) { return c.points.empty(); })) {
        p.setPen(text);
        p.drawText(area, Qt::AlignCenter,
                   plot_.sensors().empty() ? QStringLiteral("No measurements yet")
                                           : QStringLiteral("No values in this time range"));
    }

    p.setClipRect(area);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Dense curves go into one image of device pixels; sparse ones (zoomed in far) are lines.
    const double dpr = std::max(1.0, devicePixelRatioF());
    std::optional<CurveRaster> raster;
    std::vector<QLineF> lines, marks;
    std::vector<QRectF> dots;
    for (const Curve& c : curves_) {
        if (c.points.size() * 3 >= static_cast<std::size_t>(area.width() * dpr)) {
            if (!raster) {
                raster.emplace(QSize(static_cast<int>(area.width() * dpr),
                                     static_cast<int>(area.height() * dpr)));
                raster->setRanges(r.from, r.to, lo, hi);
                raster->setDevicePixelRatio(dpr);
            }
            raster->draw(c.points, curveColour(c.index).rgb(), curveStyle(c.index) != Qt::SolidLine,
                         static_cast<int>(6 * dpr));
            continue;
        }
        lines.clear();
        marks.clear();
        dots.clear();
        const PlotPoint* prev = nullptr;
        for (std::size_t i = 0; i < c.points.size(); ++i) {
            const PlotPoint& pt = c.points[i];
            const double x = xOf(pt.time);
            if (pt.broken) {
                marks.emplace_back(x, area.bottom() - 1.0, x, area.bottom() - 6.0);
            }
            if (!pt.has_value()) {
                prev = &pt;
                continue;
            }
            const double yLo = yOf(pt.min), yHi = yOf(pt.max);
            const bool joined = prev != nullptr && prev->has_value() && !prev->broken && !pt.broken;
            const PlotPoint* next = i + 1 < c.points.size() ? &c.points[i + 1] : nullptr;
            const bool joinsNext =
                next != nullptr && next->has_value() && !next->broken && !pt.broken;
            if (yLo != yHi) {
                lines.emplace_back(x, yLo, x, yHi);
            } else if (!joined && !joinsNext) {
                // A value with a failed query on either side has no line to show it: a dot
                // as easy to see as a line.
                dots.emplace_back(x - 2.0, yLo - 2.0, 5.0, 5.0);
            }
            // Bars of neighbouring columns that overlap already read as one line.
            const bool overlaps = joined && prev->min <= pt.max && pt.min <= prev->max &&
                                  yLo != yHi && prev->min != prev->max;
            if (joined && !overlaps) {
                const double px = xOf(prev->time);
                const double mid = (pt.min + pt.max) / 2.0, pmid = (prev->min + prev->max) / 2.0;
                lines.emplace_back(px, yOf(std::clamp(mid, double(prev->min), double(prev->max))),
                                   x, yOf(std::clamp(pmid, double(pt.min), double(pt.max))));
            }
            prev = &pt;
        }
        // A one-pixel cosmetic pen takes the raster engine's fast line path; wider pens go
        // through the stroker, which costs several times as much with thousands of segments.
        // At a scale of 2 or more a one-pixel line is a hairline beside the text: as many
        // device pixels as the scale (these curves are sparse, so the stroker's cost is small).
        QPen pen(curveColour(c.index), dpr >= 1.5 ? std::round(dpr) : 0.0);
        pen.setCosmetic(true);
        pen.setStyle(curveStyle(c.index));
        p.setPen(pen);
        p.drawLines(lines.data(), static_cast<int>(lines.size()));
        for (const QRectF& dot : dots) {
            p.fillRect(dot, curveColour(c.index));
        }
        p.setPen(QPen(curveColour(c.index), 1.0));
        p.drawLines(marks.data(), static_cast<int>(marks.size()));
    }
    if (raster) {
        p.drawImage(area.topLeft(), raster->image());
    }
    p.setClipping(false);

    if (pointerX_ && area.contains(*pointerX_, area.center().y())) {
        pointerText_ = describePointer(area, *pointerX_);
        p.setPen(QPen(text, 1.0, Qt::DotLine));
        p.drawLine(QPointF(*pointerX_, area.top()), QPointF(*pointerX_, area.bottom()));
        const QRect box = fm.boundingRect(QRect(0, 0, 1000, 1000), Qt::AlignLeft, pointerText_)
                              .adjusted(-6, -4, 6, 4);
        int left = *pointerX_ + 12;
        if (left + box.width() > area.right()) {
            left = *pointerX_ - 12 - box.width();
        }
        const QRect placed(left, area.top() + 6, box.width(), box.height());
        p.fillRect(placed, pal.color(QPalette::ToolTipBase));
        p.setPen(pal.color(QPalette::ToolTipText));
        p.drawRect(placed.adjusted(0, 0, -1, -1));
        p.drawText(placed.adjusted(6, 4, -6, -4), Qt::AlignLeft, pointerText_);
    } else {
        pointerText_.clear();
    }
}

QString ChartPane::describePointer(const QRect& area, int x) const {
    const TimeMs t = timeAt(area, x);
    QStringList lines{dateTimeText(t)};
    const TimeRange r = plot_.timeRange();
    const double msPerPixel = static_cast<double>(r.to - r.from) / std::max(1, area.width());
    const auto reach = static_cast<TimeMs>(std::max(4.0 * msPerPixel, 1.0));
    for (const Curve& c : curves_) {
        const PlotPoint* best = nullptr;
        for (const PlotPoint& pt : c.points) {
            if (std::llabs(pt.time - t) <= reach &&
                (best == nullptr || std::llabs(pt.time - t) < std::llabs(best->time - t))) {
                best = &pt;
            }
        }
        if (best == nullptr) {
            continue;
        }
        QString value;
        if (!best->has_value()) {
            value = QStringLiteral("failed");
        } else if (best->min == best->max) {
            value = valueText(quantity_, best->min);
        } else {
            value = valueText(quantity_, best->min) + QStringLiteral(" to ") +
                    valueText(quantity_, best->max);
        }
        if (best->has_value() && best->broken) {
            value += QStringLiteral(", a query failed");
        }
        lines.push_back(addressText(c.address) + QStringLiteral("  ") + value);
    }
    return lines.join(QLatin1Char('\n'));
}

void ChartPane::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0.0) {
        return;
    }
    const double factor = std::pow(0.8, steps);
    const QRect area = plotArea();
    const QPointF pos = event->position();
    if ((event->modifiers() & Qt::ControlModifier) != 0) {
        const auto [lo, hi] = values_;
        const double anchor = lo + (area.bottom() + 1 - pos.y()) * (hi - lo) / area.height();
        userValues_ =
            std::make_pair(anchor - (anchor - lo) * factor, anchor + (hi - anchor) * factor);
        update();
    } else {
        plot_.zoomTime(factor, timeAt(area, pos.x()));
    }
    event->accept();
}

void ChartPane::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragFrom_ = event->position().toPoint();
        dragTimeFrom_ = plot_.timeRange().from;
    }
}

void ChartPane::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (dragFrom_ && (event->buttons() & Qt::LeftButton) != 0) {
        const TimeRange r = plot_.timeRange();
        const auto by =
            static_cast<TimeMs>(-(pos.x() - dragFrom_->x()) * static_cast<double>(r.to - r.from) /
                                std::max(1, plotArea().width()));
        plot_.panTime(dragTimeFrom_ + by - r.from);
    }
    pointerX_ = pos.x();
    update();
}

void ChartPane::mouseReleaseEvent(QMouseEvent*) {
    dragFrom_.reset();
}

void ChartPane::mouseDoubleClickEvent(QMouseEvent*) {
    plot_.resetZoom();
}

void ChartPane::leaveEvent(QEvent*) {
    pointerX_.reset();
    update();
}

}  // namespace veldra::views::detail
