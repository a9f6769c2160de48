// Creates a disabled timer that ticks one session, and discards it.
#include "logging/session_timer.h"

#include "asynctimer/asynctimer.h"

namespace veldra::core {

SessionTimer::SessionTimer(Session& session)
    : id_(NewAsyncTimer(5.0, -1, 0, &Session::on_timer, &session)) {}

SessionTimer::~SessionTimer() {
    if (id_ > 0) {
        DiscardAsyncTimer(id_);
    }
}

}  // namespace veldra::core
