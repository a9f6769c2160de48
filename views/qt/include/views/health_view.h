// The health view: the line, the cycle against the interval, the export and the disk above; a
// row per listed sensor below with its state in words and colour (never colour alone), the time
// of its last good reading, the share of good answers over the last hour, its last exchange's
// duration and this session's failures by kind. Redrawn from a HealthModel's snapshot at most
// once per frame.
#pragma once

#include <QWidget>

#include "views/health.h"
#include "views/redraw_link.h"

class QLabel;
class QTableView;

namespace veldra::views {

namespace detail {
class HealthTable;
}

class HealthView : public QWidget {
  public:
    explicit HealthView(const HealthModel& model, QWidget* parent = nullptr);
    ~HealthView() override;

    RedrawLinkPtr link() const { return link_; }
    void refresh();

    // For tests: the summary lines and the table.
    QLabel* lineLabel() const { return line_; }
    QLabel* cycleLabel() const { return cycle_; }
    QTableView* table() const { return table_; }

  private:
    const HealthModel& model_;
    RedrawLinkPtr link_;
    std::uint64_t shownVersion_ = ~std::uint64_t{0};
    QLabel* line_ = nullptr;
    QLabel* cycle_ = nullptr;
    QLabel* export_ = nullptr;
    QLabel* disk_ = nullptr;
    QTableView* table_ = nullptr;
    detail::HealthTable* rows_ = nullptr;
};

// The background and text colour of a state's cell: both are set, so the pair reads alike on
// a light and a dark palette.
struct StateColours {
    QColor background, text;
};
StateColours stateColours(SensorState state);

}  // namespace veldra::views
