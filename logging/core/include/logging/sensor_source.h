// Where a session learns which sensors to ask: asked afresh at the start (for the header
// lines) and at every cycle, so a list that changes during a session is followed by the data
// lines. The window reads its sensor list; a service gives a fixed list.
#pragma once

#include <vector>

namespace veldra::core {

class SensorSource {
  public:
    virtual ~SensorSource() = default;
    // The addresses to ask now, in list order. Called on the thread that starts the session
    // and on the cycle's thread.
    virtual std::vector<int> sensors() = 0;
};

// A list that never changes.
class FixedSensorList final : public SensorSource {
  public:
    explicit FixedSensorList(std::vector<int> addresses) : addresses_(std::move(addresses)) {}
    std::vector<int> sensors() override { return addresses_; }

  private:
    const std::vector<int> addresses_;
};

}  // namespace veldra::core
