// The plot view: one chart per quantity (counts, permittivity, water content, temperature), one
// curve per listed sensor, on a shared wall-clock time axis. It follows the last N minutes or
// shows the whole session; the mouse zooms (wheel; with Ctrl the value axis), pans (drag) and
// a double-click resets; the pointer shows the values under it; a click on a legend entry hides
// or shows that sensor's curves; failed queries are gaps. Draws from a HistoryStore, at most
// once per frame, and never holds the store for more than one curve at a time.
#pragma once

#include <QWidget>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "views/history.h"
#include "views/redraw_link.h"

class QComboBox;
class QHBoxLayout;
class QLabel;
class QToolButton;

namespace veldra::views {

namespace detail {
class ChartPane;
}

struct TimeRange {
    TimeMs from = 0, to = 0;
    friend bool operator==(const TimeRange&, const TimeRange&) = default;
};

class PlotView : public QWidget {
  public:
    explicit PlotView(const HistoryStore& history, QWidget* parent = nullptr);
    ~PlotView() override;

    // Give this to whatever feeds the history (ViewFeed's `changed`): [l = view.link()] {
    // l->notify(); }.
    RedrawLinkPtr link() const { return link_; }

    // The follow choices, in minutes; 0 stands for the whole session.
    static const std::vector<int>& followChoices();
    void setFollowMinutes(int minutes);
    int followMinutes() const { return followMinutes_; }

    // Reads the history again now (normally paced by the link).
    void refresh();
    // The charts as shown, as one PNG. False when the file cannot be written.
    bool exportPng(const QString& path);

    // The time axis shown now; zoom and pan make it the user's until a double-click.
    TimeRange timeRange() const { return range_; }
    bool userZoomed() const { return userRange_.has_value(); }
    void zoomTime(double factor, TimeMs anchor);
    void panTime(TimeMs by);
    void setUserRange(TimeRange range);
    void resetZoom();

    bool sensorShown(int address) const { return hidden_.count(address) == 0; }
    void setSensorShown(int address, bool shown);
    const std::vector<int>& sensors() const { return sensors_; }
    // The legend entry of a sensor (named "legend_%06x"), for tests.
    QToolButton* legendEntry(int address) const;
    detail::ChartPane* chart(core::Quantity q) const;

    const HistoryStore& history() const { return history_; }

  private:
    void rebuildLegend();
    void updateRange();
    void exportAsked();

    const HistoryStore& history_;
    RedrawLinkPtr link_;
    int followMinutes_ = 60;
    std::optional<TimeRange> userRange_;
    TimeRange range_;
    std::vector<int> sensors_;
    std::set<int> hidden_;
    std::uint64_t drawnVersion_ = ~std::uint64_t{0};

    QComboBox* follow_ = nullptr;
    QLabel* rangeLabel_ = nullptr;
    QWidget* charts_ = nullptr;
    QHBoxLayout* legend_ = nullptr;
    std::vector<detail::ChartPane*> panes_;
    std::vector<QToolButton*> legendEntries_;
};

}  // namespace veldra::views
