// The checks of a start that come before anything is prepared: the interval rule, and the
// texts of the port test, the file entry and the sensor list.
#include <climits>

#include "logging/session.h"
#include "session_texts.h"

namespace veldra::core {

IntervalDecision apply_interval_rule(int requested_seconds, std::size_t sensor_count) {
    const long long minimum = 3LL * static_cast<long long>(sensor_count);
    if (requested_seconds >= minimum) {
        return {requested_seconds, std::nullopt};
    }
    return {minimum > INT_MAX ? INT_MAX : static_cast<int>(minimum),
            Message{"Info",
                    "The interval must be at least 3 seconds per sensor.\n\nThe interval has "
                    "been adjusted automatically!"}};
}

Message port_refusal() {
    return {"Error",
            "Cannot open specified ComPort!\n\nPlease check if the correct ComPort number has "
            "been selected!\nPlease ensure, that no other application is blocking the selected "
            "ComPort!"};
}

std::optional<Message> entry_refusal(const std::string& log_file, std::size_t sensor_count) {
    if (log_file.starts_with("no file selected")) {
        return Message{"Info",
                       "No target file has been selected for logging the data. Please select "
                       "file first and then press  \"Start Logging\" again!"};
    }
    if (sensor_count == 0) {
        return Message{"Info",
                       "No sensor has been added to the list! Please add at least one sensor "
                       "address and then press  \"Start Logging\" again!"};
    }
    return std::nullopt;
}

}  // namespace veldra::core
