// A timer of a session's own (for a program without a window, which creates no timer of its
// own), whose ticks run the session's cycles; discarded with this object.
#pragma once

#include "logging/session.h"

namespace veldra::core {

class SessionTimer {
  public:
    // Disabled until the session starts; its id goes into SessionConfig::timer.
    explicit SessionTimer(Session& session);
    ~SessionTimer();
    SessionTimer(const SessionTimer&) = delete;
    SessionTimer& operator=(const SessionTimer&) = delete;

    // Negative when the timer could not be created.
    int id() const { return id_; }

  private:
    int id_;
};

}  // namespace veldra::core
