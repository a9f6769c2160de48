// The window's broker export: one per session, made from the options read at its start.
#include "logging/logging.h"
#include "window_logging.h"

namespace veldra::window {

std::string use_broker_export(const options::MqttOptions& mqtt, const std::string& options_path) {
    end_broker_export();
    WindowLogging& logging = window_logging();
    logging.broker_export =
        exporter::make_broker_export(mqtt, options_path, logging.session.notices());
    if (!logging.broker_export) {
        return {};
    }
    logging.session.add_observer(*logging.broker_export);
    return logging.broker_export->problem();
}

void end_broker_export() {
    WindowLogging& logging = window_logging();
    if (logging.broker_export && logging.session.remove_observer(*logging.broker_export)) {
        logging.broker_export.reset();
    }
}

}  // namespace veldra::window
