// The session observer behind the plot and health views.
#include "views/view_feed.h"

#include <utility>

namespace veldra::views {

ViewFeed::ViewFeed(HistoryStore& history, HealthModel& health, std::function<void()> changed)
    : history_(history), health_(health), changed_(std::move(changed)) {}

void ViewFeed::session_started(const core::SessionInfo& info) {
    // The plots show one session, the whole of it.
    history_.clear();
    health_.session_started(info);
    tell();
}

void ViewFeed::cycle_finished(const core::CycleRecord& record) {
    history_.append(record);
    health_.add(record);
    tell();
}

void ViewFeed::notice(const core::Notice& notice) {
    health_.notice(notice);
    tell();
}

void ViewFeed::session_ended(const core::SessionEnd& end) {
    health_.session_ended(end);
    tell();
}

void ViewFeed::tell() const {
    if (changed_) {
        changed_();
    }
}

}  // namespace veldra::views
