// What a logging session tells the outputs that observe it. The display table, the text log,
// the CSV log, the plots, the health view and the broker export are all observers; none of
// them reads the window or another observer.
//
// Threads: session_started and session_ended come on the thread that starts and stops the
// session; the cycle's events come on the cycle's thread, in order, one cycle at a time; a
// notice may come from any thread. No event is delivered with a lock of the session held, and
// an observer must not block for long: the cycle waits for it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "logging/cycle_record.h"

namespace veldra::core {

// What a session was started with.
struct SessionInfo {
    int com_port = 0;
    int interval_seconds = 0;  // after the interval rule
    // The first pair written: the entry as given, or with rotation its first dated pair
    // beside it (FilesRotated notices name the later ones).
    std::string text_log_path;
    std::string csv_log_path;
    std::vector<int> addresses;  // the list at the start: the header lines show these
    std::array<std::string, 3> display_header;  // without line ends
    std::array<std::string, 3> csv_header;
    std::chrono::system_clock::time_point started;
};

// Before the first query of a cycle: its time stamp.
struct CycleStart {
    std::uint64_t cycle = 0;
    logfmt::Timestamp local;
    std::chrono::system_clock::time_point utc;
};

struct QueryStart {
    std::size_t sensor_index = 0;  // position in this cycle's list
    int address = 0;
    Quantity quantity = Quantity::Counts;
    std::string status_text;  // "Reading Sensor 01a2b3 Counts..."
};

struct QueryEnd {
    std::size_t sensor_index = 0;
    int address = 0;
    Quantity quantity = Quantity::Counts;
    const QueryResult* result = nullptr;  // valid during the call
};

// Something the user should know that is not a measurement. The text is complete and plain,
// fit for a status line or one line of a service's stderr.
enum class NoticeKind {
    DeviceGone,      // the serial device disappeared
    DeviceBack,      // and came back
    WriteFailed,     // a log line could not be written (text says which file, why, how many wait)
    WriteRecovered,  // writes succeed again; waiting lines went out
    LinesDropped,    // lines lost: the oldest waiting ones past the bound, or all left at the end
    DiskLow,         // free space in the log folder fell under the guard
    DiskOk,          // and is back above it
    FilesRotated,    // a new pair of log files was started
    ExportState,     // the broker export changed state (connected, reconnecting, stopped...)
    ExportWarning,   // the export's outbox fills up, or export stopped
    CycleOverrun,    // cycles take longer than the interval
};

// Where one of the session's log files stands, carried by the notices about it (WriteFailed,
// WriteRecovered, LinesDropped, FilesRotated), so that a display can sum the files up in a
// few words while the notice's text says everything.
struct LogFileStatus {
    enum class Output { Text, Csv };
    Output output = Output::Text;
    std::string path;    // the file concerned
    std::string reason;  // why writing fails; empty when it works
    std::chrono::system_clock::time_point failing_since{};
    std::size_t lines_waiting = 0;  // kept in memory, in order, until a write succeeds
    std::size_t lines_dropped = 0;  // lost since writing began to fail (never silently)
    std::size_t lines_written = 0;  // WriteRecovered: the waiting lines that then went out
};

struct Notice {
    NoticeKind kind = NoticeKind::WriteFailed;
    std::string text;
    std::chrono::system_clock::time_point when;
    std::optional<LogFileStatus> file{};  // for the notices about a log file
    // Only new figures for a condition already told (one more line waits, more were
    // dropped): a status line shows it, a log of events may leave it out.
    bool update = false;
};

struct SessionEnd {
    std::uint64_t cycles = 0;                          // cycles completed and written
    std::chrono::system_clock::time_point last_cycle;  // epoch when none ran
};

class SessionObserver {
  public:
    virtual ~SessionObserver() = default;

    virtual void session_started(const SessionInfo& /*info*/) {}
    virtual void cycle_started(const CycleStart& /*start*/) {}
    virtual void query_started(const QueryStart& /*query*/) {}
    virtual void query_finished(const QueryEnd& /*query*/) {}
    // The whole cycle. Observers are called in the order they were added; the text and CSV
    // logs come before the display table, so the files hold a line before the screen ends it.
    virtual void cycle_finished(const CycleRecord& /*record*/) {}
    // A stop cut the cycle short: nothing of it is written anywhere.
    virtual void cycle_abandoned() {}
    virtual void notice(const Notice& /*notice*/) {}
    virtual void session_ended(const SessionEnd& /*end*/) {}
};

}  // namespace veldra::core
