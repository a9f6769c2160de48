// The text log and the CSV log as observers of a session: the header lines at its start, one
// whole line per cycle, synced to the disk at the end of every cycle, closed at its end.
//
// A line that cannot be written (a full disk, a file that cannot be created) is not lost: it
// waits in memory, in order, and goes out before any later line as soon as writing works
// again, so the file ends up complete. At most kMaxWaitingLines wait per log; past that the
// oldest data lines are dropped (the header lines of a file never are), and the user is told
// how many. Failures, drops and recovery are notices, with the file's status attached.
//
// With rotation a log may hold more than one file at a time: the earlier file keeps its
// waiting lines, so every line lands in the file of its own day, and is closed once they
// are out.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "logging/log_file.h"
#include "logging/session_observer.h"

namespace veldra::core {

// Where an output reports what the user should know; the session hands it on to every
// observer.
class NoticeSink {
  public:
    virtual ~NoticeSink() = default;
    virtual void post_notice(const Notice& notice) = 0;
};

class LogFileObserver : public SessionObserver {
  public:
    // Lines that may wait in memory per log while writing fails.
    static constexpr std::size_t kMaxWaitingLines = 10000;

    LogFileObserver(NoticeSink& notices, LogFileStatus::Output output)
        : notices_(notices), output_(output) {}

    // The file this session writes first, open (emptied or new); given before
    // session_started.
    void attach(LogFile file);
    // From the next line on, writes go to a new file under `path`, created when the first
    // line goes out (never over an existing name), which starts with the header lines for
    // these sensors. Lines still waiting for the earlier file stay its own.
    void begin_file(const std::string& path, std::span<const int> addresses);

    // The file the next line goes to, and what it holds, written or waiting.
    const std::string& current_path() const;
    std::uint64_t current_bytes() const;
    bool current_has_data() const;
    // Every file this log still holds open or owes lines: not to be deleted.
    std::vector<std::string> held_paths() const;
    std::size_t lines_waiting() const { return waiting_; }

    void session_ended(const SessionEnd& end) override;

  protected:
    // The log's three header lines for these sensors.
    virtual std::array<std::string, 3> header(std::span<const int> addresses) const = 0;
    void write_header(std::span<const std::string> lines);
    void write_data(const std::string& line);

  private:
    // One file of the log and the lines that wait for it; the first `pinned` of them are
    // header lines.
    struct Outlet {
        std::string path;
        LogFile file;  // not open until it could be created
        std::deque<std::string> waiting;
        std::size_t pinned = 0;
        std::uint64_t bytes = 0;  // written and waiting
        bool has_data = false;
    };

    void queue(std::string line, bool pinned);
    void drop_oldest_past_bound();
    // Writes what waits, oldest file first, and syncs each file written to. 0, or the errno
    // of the first failure; `written` counts the lines that went out.
    int flush(std::size_t& written);
    // Tells what became of a write: the first failure, its updates (more lines wait, some
    // were dropped), or the recovery with the lines that waited.
    void report(int error, std::size_t written, std::size_t new_lines, std::size_t dropped_now);
    LogFileStatus status(const std::string& path) const;
    std::string failure_text() const;
    void post(NoticeKind kind, std::string text, const std::string& path, bool update);

    NoticeSink& notices_;
    const LogFileStatus::Output output_;
    std::deque<Outlet> outlets_;  // the last one is current
    std::size_t waiting_ = 0;     // over all outlets

    // The failure under way, reported once and then updated.
    bool failing_ = false;
    int error_ = 0;
    std::string since_text_;  // "14:07:09"
    std::chrono::system_clock::time_point since_{};
    std::size_t dropped_ = 0;     // since writing began to fail
    bool drop_reported_ = false;  // a LinesDropped has been told for this failure
};

// A copy of the display table: its three header lines, then each cycle's data line.
class TextLogObserver final : public LogFileObserver {
  public:
    explicit TextLogObserver(NoticeSink& notices)
        : LogFileObserver(notices, LogFileStatus::Output::Text) {}
    void session_started(const SessionInfo& info) override;
    void cycle_finished(const CycleRecord& record) override;

  private:
    std::array<std::string, 3> header(std::span<const int> addresses) const override;
};

// "sep=;", the address and column lines, then one row per cycle.
class CsvLogObserver final : public LogFileObserver {
  public:
    explicit CsvLogObserver(NoticeSink& notices)
        : LogFileObserver(notices, LogFileStatus::Output::Csv) {}
    void session_started(const SessionInfo& info) override;
    void cycle_finished(const CycleRecord& record) override;

  private:
    std::array<std::string, 3> header(std::span<const int> addresses) const override;
};

}  // namespace veldra::core
