// The observer that feeds a session's records and notices into the plot history and the health
// model. It runs on the cycle's thread and touches no widget: it updates the two models (each
// behind its own short lock) and then calls `changed`, which must not block (the Qt views post
// a coalesced redraw from it).
#pragma once

#include <functional>

#include "logging/session_observer.h"
#include "views/health.h"
#include "views/history.h"

namespace veldra::views {

class ViewFeed final : public core::SessionObserver {
  public:
    ViewFeed(HistoryStore& history, HealthModel& health, std::function<void()> changed = {});

    void session_started(const core::SessionInfo& info) override;
    void cycle_finished(const core::CycleRecord& record) override;
    void notice(const core::Notice& notice) override;
    void session_ended(const core::SessionEnd& end) override;

  private:
    void tell() const;

    HistoryStore& history_;
    HealthModel& health_;
    std::function<void()> changed_;
};

}  // namespace veldra::views
