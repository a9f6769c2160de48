// The session's sensors, read from the main panel's sensor list.
#pragma once

#include "logging/sensor_source.h"

namespace veldra::window {

class SensorListSource final : public core::SensorSource {
  public:
    // The item values of sensor_list, in list order, as they are now.
    std::vector<int> sensors() override;
};

}  // namespace veldra::window
