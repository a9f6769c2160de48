// The start/stop command of the logging session and the end of a session at quit.
//
// A start press reads the fields, applies the interval rule (an "Info" box when it raised the
// interval), reads options.json and asks the session to start; a refusal, if any, is shown as
// its message box and changes nothing. Only a started session dims the settings. A stop press
// always stops.
#include <array>
#include <string>

#include "app/panel_ids.h"
#include "export/broker_export.h"
#include "logging/logging.h"
#include "options/file_rules.h"
#include "options/options.h"
#include "platform/ui.h"
#include "window_logging.h"

namespace {

// Dimmed during a session, undimmed after it, in this order.
constexpr std::array<int, 7> kSessionDimmed{comport_field,     interval_field,   MAIN_SAVE_CONFIG,
                                            MAIN_LOAD_CONFIG,  MAIN_SET_LOGFILE, MAIN_ADD_SENSOR,
                                            MAIN_REMOVE_SENSOR};

void set_session_controls(int dimmed) {
    for (int control : kSessionDimmed) {
        SetCtrlAttribute(main_panel, control, ATTR_DIMMED, dimmed);
    }
}

void show(const veldra::core::Message& message) {
    MessagePopup(message.title, message.text);
}

// The options as this start finds them; a file that is there but cannot be used refuses the
// start (and is left as it is), since logging without the rotation or export it asks for
// would quietly do something else than the user set up.
bool read_options(veldra::options::Options& options) {
    const veldra::options::Result read =
        veldra::options::load_options(veldra::options::kOptionsFileName, options);
    if (!read) {
        MessagePopup("Error", read.error +
                                  "\n\nLogging has not started. Correct the options with "
                                  "\"Options\u2026\" or in the file, or remove the file to log "
                                  "with the defaults.");
    }
    return read.ok;
}

// The one place where the options add outputs of their own to a session (the broker export):
// attached while the session is idle, so each sees the session from its start, after the
// files, the display table and the window's views; detached and ended after the stop (or a
// refused start). An export that cannot work (a setting, its outbox) says why through the
// session's notices, and the session and its files go on without it.
void attach_option_outputs(veldra::window::WindowLogging& logging,
                           const veldra::options::Options& options) {
    if (auto broker = veldra::exporter::make_broker_export(
            options.mqtt, veldra::options::kOptionsFileName, logging.session.notices())) {
        logging.option_outputs.push_back(std::move(broker));
    }
    for (const auto& output : logging.option_outputs) {
        logging.session.add_observer(*output);
    }
}

void detach_option_outputs(veldra::window::WindowLogging& logging) {
    for (const auto& output : logging.option_outputs) {
        logging.session.remove_observer(*output);
    }
    logging.option_outputs.clear();
}

}  // namespace

void end_logging_session() {
    veldra::window::WindowLogging& logging = veldra::window::window_logging();
    if (!logging.session.running()) {
        return;
    }
    logging.session.stop();
    detach_option_outputs(logging);
    SetCtrlAttribute(main_panel, start_stop_button, ATTR_LABEL_TEXT, "Start Logging");
    set_session_controls(0);
}

int start_logging(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    veldra::window::WindowLogging& logging = veldra::window::window_logging();
    if (logging.session.running()) {
        // A stop is never refused: not by a pulled adapter, nor by a changed field or list.
        end_logging_session();
        return 0;
    }

    int port = 0;
    int interval = 0;
    std::string logfile;
    int sensorCount = 0;
    GetCtrlVal(main_panel, comport_field, port);
    GetCtrlVal(main_panel, interval_field, interval);
    GetCtrlVal(main_panel, logfile_field, logfile);
    GetNumListItems(main_panel, sensor_list, sensorCount);

    const veldra::core::IntervalDecision rule = veldra::core::apply_interval_rule(
        interval, static_cast<std::size_t>(sensorCount > 0 ? sensorCount : 0));
    logging.pressed_port = port;
    logging.pressed_interval = rule.interval_seconds;
    if (rule.info) {
        SetCtrlVal(main_panel, interval_field, rule.interval_seconds);
        show(*rule.info);
    }
    veldra::options::Options options;
    if (!read_options(options)) {
        return 0;
    }
    attach_option_outputs(logging, options);
    const veldra::core::StartResult result =
        logging.session.start({port, rule.interval_seconds, logfile, measurement_timer,
                               veldra::options::file_rules(options)});
    if (!result.started) {
        detach_option_outputs(logging);
        if (result.refusal) {
            show(*result.refusal);
        }
        return 0;
    }
    SetCtrlAttribute(main_panel, start_stop_button, ATTR_LABEL_TEXT, "Stop Logging");
    set_session_controls(1);
    return 0;
}
