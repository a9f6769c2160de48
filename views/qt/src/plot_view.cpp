// The plot view: the follow choice, the range line, four charts and the legend; it owns the
// time axis that the charts share.
#include "views/plot_view.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "axis_ticks.h"
#include "chart_pane.h"
#include "views/curve_palette.h"

namespace veldra::views {

namespace {

constexpr TimeMs kMinimumSpan = 10'000;  // zooming stops at ten seconds across

QString followLabel(int minutes) {
    switch (minutes) {
        case 0:
            return QStringLiteral("Whole session");
        case 60:
            return QStringLiteral("Last hour");
        default:
            return minutes % 60 == 0 ? QStringLiteral("Last %1 hours").arg(minutes / 60)
                                     : QStringLiteral("Last %1 minutes").arg(minutes);
    }
}

// The legend's mark: a short stroke in the curve's colour and style.
QIcon swatch(int index, int size) {
    QPixmap pixmap(size * 2, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    QPen pen(curveColour(index), 3.0);
    pen.setStyle(curveStyle(index));
    p.setPen(pen);
    p.drawLine(1, size / 2, size * 2 - 2, size / 2);
    return QIcon(pixmap);
}

}  // namespace

const std::vector<int>& PlotView::followChoices() {
    static const std::vector<int> choices{5, 15, 60, 240, 1440, 0};
    return choices;
}

PlotView::PlotView(const HistoryStore& history, QWidget* parent)
    : QWidget(parent), history_(history), link_(std::make_shared<RedrawLink>()) {
    setObjectName(QStringLiteral("plot_view"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(4);

    auto* bar = new QHBoxLayout;
    auto* showLabel = new QLabel(QStringLiteral("Show:"), this);
    follow_ = new QComboBox(this);
    follow_->setObjectName(QStringLiteral("plot_follow"));
    for (const int minutes : followChoices()) {
        follow_->addItem(followLabel(minutes), minutes);
    }
    follow_->setCurrentIndex(follow_->findData(followMinutes_));
    connect(follow_, &QComboBox::currentIndexChanged, this,
            [this](int i) { setFollowMinutes(follow_->itemData(i).toInt()); });
    showLabel->setBuddy(follow_);
    rangeLabel_ = new QLabel(this);
    rangeLabel_->setObjectName(QStringLiteral("plot_range"));
    auto* exportButton = new QPushButton(QStringLiteral("Export PNG…"), this);
    exportButton->setObjectName(QStringLiteral("plot_export"));
    connect(exportButton, &QPushButton::clicked, this, [this] { exportAsked(); });
    bar->addWidget(showLabel);
    bar->addWidget(follow_);
    bar->addSpacing(12);
    bar->addWidget(rangeLabel_, 1);
    bar->addWidget(exportButton);
    column->addLayout(bar);

    charts_ = new QWidget(this);
    auto* chartColumn = new QVBoxLayout(charts_);
    chartColumn->setContentsMargins(0, 0, 0, 0);
    chartColumn->setSpacing(2);
    for (const core::Quantity q : core::kQuantities) {
        auto* pane = new detail::ChartPane(*this, q, charts_);
        chartColumn->addWidget(pane, 1);
        panes_.push_back(pane);
    }
    column->addWidget(charts_, 1);

    auto* legendArea = new QScrollArea(this);
    legendArea->setObjectName(QStringLiteral("plot_legend"));
    legendArea->setFrameShape(QFrame::NoFrame);
    legendArea->setWidgetResizable(true);
    legendArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* legendBox = new QWidget(legendArea);
    legend_ = new QHBoxLayout(legendBox);
    legend_->setContentsMargins(0, 0, 0, 0);
    legend_->addStretch(1);
    legendArea->setWidget(legendBox);
    legendArea->setFixedHeight(fontMetrics().height() * 2 + 8);
    column->addWidget(legendArea);

    link_->attach(this, [this] { refresh(); });
    refresh();
}

PlotView::~PlotView() {
    link_->detach(this);
}

void PlotView::setFollowMinutes(int minutes) {
    followMinutes_ = minutes;
    const int i = follow_->findData(minutes);
    if (i >= 0 && i != follow_->currentIndex()) {
        const QSignalBlocker block(follow_);
        follow_->setCurrentIndex(i);
    }
    resetZoom();
}

void PlotView::refresh() {
    const std::uint64_t version = history_.version();
    if (version != drawnVersion_) {
        drawnVersion_ = version;
        const std::vector<int> sensors = history_.addresses();
        if (sensors != sensors_) {
            sensors_ = sensors;
            rebuildLegend();
        }
    }
    updateRange();
}

void PlotView::updateRange() {
    if (userRange_) {
        range_ = *userRange_;
    } else if (const auto span = history_.time_span()) {
        range_.to = span->last;
        // A session shorter than the followed minutes fills the width instead of sitting in a
        // sliver at its right edge.
        range_.from = followMinutes_ > 0
                          ? std::max(span->first, span->last - TimeMs{followMinutes_} * 60'000)
                          : span->first;
        if (range_.to - range_.from < kMinimumSpan) {
            range_.from = range_.to - kMinimumSpan;
        }
        // A little room after the newest cycle, so it does not sit on the frame.
        range_.to += (range_.to - range_.from) / 50;
    } else {
        const TimeMs now = to_time_ms(std::chrono::system_clock::now());
        range_ = {now - TimeMs{std::max(followMinutes_, 60)} * 60'000, now};
    }
    rangeLabel_->setText(
        detail::dateTimeText(range_.from) + QStringLiteral("  to  ") +
        detail::dateTimeText(range_.to) +
        (userRange_ ? QStringLiteral("   (zoomed: double-click to reset)") : QString()));
    for (detail::ChartPane* pane : panes_) {
        pane->update();
    }
}

void PlotView::zoomTime(double factor, TimeMs anchor) {
    const TimeRange r = range_;
    TimeRange z{anchor - static_cast<TimeMs>(static_cast<double>(anchor - r.from) * factor),
                anchor + static_cast<TimeMs>(static_cast<double>(r.to - anchor) * factor)};
    if (z.to - z.from < kMinimumSpan) {
        return;
    }
    setUserRange(z);
}

void PlotView::panTime(TimeMs by) {
    setUserRange({range_.from + by, range_.to + by});
}

void PlotView::setUserRange(TimeRange range) {
    userRange_ = range;
    updateRange();
}

void PlotView::resetZoom() {
    userRange_.reset();
    for (detail::ChartPane* pane : panes_) {
        pane->resetValueZoom();
    }
    updateRange();
}

void PlotView::setSensorShown(int address, bool shown) {
    if (shown) {
        hidden_.erase(address);
    } else {
        hidden_.insert(address);
    }
    if (QToolButton* entry = legendEntry(address)) {
        const QSignalBlocker block(entry);
        entry->setChecked(shown);
        QFont f = entry->font();
        f.setStrikeOut(!shown);
        entry->setFont(f);
        entry->setToolTip(shown ? QStringLiteral("Click to hide this sensor's curves")
                                : QStringLiteral("Click to show this sensor's curves"));
    }
    for (detail::ChartPane* pane : panes_) {
        pane->update();
    }
}

QToolButton* PlotView::legendEntry(int address) const {
    return findChild<QToolButton*>(
        QStringLiteral("legend_%1").arg(address & 0xffffff, 6, 16, QLatin1Char('0')));
}

detail::ChartPane* PlotView::chart(core::Quantity q) const {
    return panes_[static_cast<std::size_t>(q)];
}

void PlotView::rebuildLegend() {
    for (QToolButton* entry : legendEntries_) {
        delete entry;
    }
    legendEntries_.clear();
    const int size = fontMetrics().height();
    for (std::size_t i = 0; i < sensors_.size(); ++i) {
        const int address = sensors_[i];
        auto* entry = new QToolButton(legend_->parentWidget());
        const QString name = QStringLiteral("%1").arg(address & 0xffffff, 6, 16, QLatin1Char('0'));
        entry->setObjectName(QStringLiteral("legend_") + name);
        entry->setText(name);
        entry->setIcon(swatch(static_cast<int>(i), size));
        entry->setIconSize(QSize(size * 2, size));
        entry->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        entry->setCheckable(true);
        entry->setAutoRaise(true);
        connect(entry, &QToolButton::toggled, this,
                [this, address](bool on) { setSensorShown(address, on); });
        legend_->insertWidget(legend_->count() - 1, entry);
        entry->show();
        legendEntries_.push_back(entry);
        setSensorShown(address, sensorShown(address));
    }
}

bool PlotView::exportPng(const QString& path) {
    const QPixmap picture = charts_->grab();
    return picture.save(path, "PNG");
}

void PlotView::exportAsked() {
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export the charts as PNG"),
                                                QStringLiteral("plot.png"),
                                                QStringLiteral("PNG images (*.png)"));
    if (path.isEmpty()) {
        return;
    }
    if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) {
        path += QStringLiteral(".png");
    }
    if (!exportPng(path)) {
        QMessageBox::warning(this, QStringLiteral("Error"),
                             QStringLiteral("The charts could not be written to %1.").arg(path));
    }
}

}  // namespace veldra::views
