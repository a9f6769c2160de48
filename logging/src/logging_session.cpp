// The start/stop command of the logging session and the end of a session at quit.
//
// A start press checks the interval, the port, the log file and the sensor list, in that
// order, prepares both log files (an earlier log of ours is kept under a dated name, a file
// holding anything else is refused) and only then dims the settings and enables the timer,
// so a refused start changes nothing. A stop press always stops: it asks a running cycle to
// give up, wakes a read that waits for a silent sensor, and closes the files and the port only
// once no cycle runs any more.
#include <array>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "app/panel_ids.h"
#include "asynctimer/asynctimer.h"
#include "log_archive.h"
#include "log_writer.h"
#include "logging/log_format.h"
#include "logging/logging.h"
#include "platform/rs232.h"
#include "platform/textfile.h"
#include "platform/ui.h"
#include "session_runtime.h"

namespace {

using namespace veldra::logging_detail;
namespace logfmt = veldra::logfmt;

constexpr const char* kNoFileSelected = "no file selected";

// Dimmed during a session, undimmed after it, in this order.
constexpr std::array<int, 7> kSessionDimmed{comport_field,     interval_field,   MAIN_SAVE_CONFIG,
                                            MAIN_LOAD_CONFIG,  MAIN_SET_LOGFILE, MAIN_ADD_SENSOR,
                                            MAIN_REMOVE_SENSOR};

constexpr const char* kAgain = "and then press  \"Start Logging\" again!";

void set_session_controls(int dimmed) {
    for (int control : kSessionDimmed) {
        SetCtrlAttribute(main_panel, control, ATTR_DIMMED, dimmed);
    }
}

void refuse(const std::string& message) {
    MessagePopup("Error", message);
}

std::vector<int> read_addresses(int count) {
    std::vector<int> addresses;
    addresses.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        int address = 0;
        GetValueFromIndex(main_panel, sensor_list, i, address);
        addresses.push_back(address);
    }
    return addresses;
}

// Makes both paths ready to be emptied: refuses a file that is not one of our logs and moves
// an earlier log of ours aside. False (after telling the user) when the start must not go on.
bool keep_earlier_logs(const std::string& textPath, const std::string& csvPath) {
    for (const std::string* path : {&textPath, &csvPath}) {
        if (inspect_existing_log(*path) == ExistingLog::Foreign) {
            refuse("The file \"" + *path +
                   "\" already holds data that is not a log of this program; a new session "
                   "would overwrite it.\n\nPlease choose another log file " +
                   kAgain);
            return false;
        }
    }
    for (const std::string* path : {&textPath, &csvPath}) {
        if (inspect_existing_log(*path) != ExistingLog::Ours) {
            continue;
        }
        const ArchiveResult kept = archive_log(*path);
        if (!kept.ok) {
            refuse("The earlier log \"" + *path + "\" could not be kept under a new name (" +
                   describe_errno(kept.error) + "), so it would be overwritten.\n\nPlease " +
                   "check the folder's permissions or choose another log file " + kAgain);
            return false;
        }
    }
    return true;
}

// Opens a log file emptied; on failure tells the user which file and why.
int open_log(const std::string& path) {
    const int handle = OpenFile(path, VAL_READ_WRITE, VAL_TRUNCATE, VAL_ASCII);
    if (handle < 0) {
        // Says also what the path is when it is no regular file (a device, a named pipe...).
        const std::string reason = LastOpenFileError();
        std::string message = "The log file \"" + path + "\" could not be opened";
        if (!reason.empty()) {
            message += " (" + reason + ")";
        }
        refuse(message + ".\n\nPlease check the path and the permissions " + kAgain);
    }
    return handle;
}

// The session start proper, after the checks of the press have passed. False when the log
// files cannot be prepared; then nothing has changed but the port still being open.
bool start_session(int sensorCount) {
    std::string textPath;
    GetCtrlVal(main_panel, logfile_field, textPath);
    const std::optional<std::string> csvPath = logfmt::csv_path_for(textPath);
    if (!csvPath) {
        refuse("The log file \"" + textPath +
               "\" cannot be used: its CSV log is named by replacing the last three "
               "characters with \"csv\", which needs a name of at least three characters "
               "not ending in \"csv\".\n\nPlease choose another log file " +
               kAgain);
        return false;
    }
    if (!keep_earlier_logs(textPath, *csvPath)) {
        return false;
    }
    const int textHandle = open_log(textPath);
    if (textHandle < 0) {
        return false;
    }
    const int csvHandle = open_log(*csvPath);
    if (csvHandle < 0) {
        CloseFile(textHandle);
        return false;
    }

    SessionRuntime& rt = session_runtime();
    text_log_file = textHandle;
    csv_log_file = csvHandle;
    rt.text_log_path = textPath;
    rt.csv_log_path = *csvPath;
    rt.data_lines_shown = 0;
    rt.stop_requested = false;
    clear_log_failure();

    logging_active = 1;
    SetCtrlAttribute(main_panel, start_stop_button, ATTR_LABEL_TEXT, "Stop Logging");
    set_session_controls(1);

    const std::vector<int> addresses = read_addresses(sensorCount);
    const std::array<std::string, 3> header{
        logfmt::display_header_line1(addresses),
        logfmt::display_header_line2(addresses.size()),
        logfmt::display_header_line3(addresses.size()),
    };
    ResetTextBox(main_panel, log_view, header[0] + "\n" + header[1] + "\n" + header[2] + "\n");
    write_log_lines(text_log_file, rt.text_log_path, header.data(), header.size());
    const std::array<std::string, 3> csvHeader{
        std::string(logfmt::kCsvSeparatorLine),
        logfmt::csv_header_line2(addresses),
        logfmt::csv_header_line3(addresses.size()),
    };
    write_log_lines(csv_log_file, rt.csv_log_path, csvHeader.data(), csvHeader.size());

    // Everything the cycle reads is in place before the first tick, which comes at once.
    rt.cycle_allowed = true;
    SetAsyncTimerAttribute(measurement_timer, TIMER_ATTR_INTERVAL, 0.0);
    SetAsyncTimerAttribute(measurement_timer, TIMER_ATTR_ENABLED, 1);
    return true;
}

}  // namespace

void end_logging_session() {
    if (logging_active == 0) {
        return;
    }
    SessionRuntime& rt = session_runtime();
    // Ask a running cycle to give up, wake a read that waits for a silent sensor, stop the
    // ticks, and only then take away what the cycle uses.
    rt.stop_requested = true;
    AbortComWait(com_port_number);
    SetAsyncTimerAttribute(measurement_timer, TIMER_ATTR_ENABLED, 0);
    WaitForAsyncTimerCallback(measurement_timer);
    rt.cycle_allowed = false;

    logging_active = 0;
    SetCtrlAttribute(main_panel, start_stop_button, ATTR_LABEL_TEXT, "Start Logging");
    set_session_controls(0);
    CloseFile(text_log_file);
    CloseFile(csv_log_file);
    text_log_file = -1;
    csv_log_file = -1;
    CloseCom(com_port_number);
}

int start_logging(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    if (logging_active != 0) {
        // A stop is never refused: not by a pulled adapter, nor by a changed field or list.
        end_logging_session();
        return 0;
    }

    GetCtrlVal(main_panel, comport_field, com_port_number);
    GetCtrlVal(main_panel, interval_field, logging_interval);
    std::string logfile;
    GetCtrlVal(main_panel, logfile_field, logfile);
    int sensorCount = 0;
    GetNumListItems(main_panel, sensor_list, sensorCount);

    if (logging_interval < 3 * sensorCount) {
        logging_interval = 3 * sensorCount;
        SetCtrlVal(main_panel, interval_field, logging_interval);
        MessagePopup("Info",
                     "The interval must be at least 3 seconds per sensor.\n\nThe interval has "
                     "been adjusted automatically!");
    }

    if (OpenComConfig(com_port_number, "", 9600, 0, 8, 1, 512, 512) < 0) {
        MessagePopup("Error",
                     "Cannot open specified ComPort!\n\nPlease check if the correct ComPort "
                     "number has been selected!\nPlease ensure, that no other application is "
                     "blocking the selected ComPort!");
        return 0;
    }
    bool started = false;
    if (logfile.starts_with(kNoFileSelected)) {
        MessagePopup("Info",
                     "No target file has been selected for logging the data. Please select "
                     "file first and then press  \"Start Logging\" again!");
    } else if (sensorCount == 0) {
        MessagePopup("Info",
                     "No sensor has been added to the list! Please add at least one sensor "
                     "address and then press  \"Start Logging\" again!");
    } else {
        started = start_session(sensorCount);
    }
    if (!started) {
        CloseCom(com_port_number);  // a refused start holds no port
    }
    return 0;
}
