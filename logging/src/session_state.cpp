// The program-wide session variables and the runtime the cycle shares with start and stop.
#include "logging/logging.h"
#include "session_runtime.h"

int logging_active = 0;
int com_port_number = 0;
int logging_interval = 0;
int text_log_file = -1;
int csv_log_file = -1;
int measurement_timer = -1;

namespace veldra::logging_detail {

SessionRuntime& session_runtime() {
    static SessionRuntime runtime;
    return runtime;
}

}  // namespace veldra::logging_detail
