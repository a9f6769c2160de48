// The text log and the CSV log as observers of a session: the header lines at its start, one
// whole line per cycle, synced to the disk at the end of every cycle, closed at its end. A
// write that fails is reported as a notice, once until writes to that file succeed again;
// logging goes on and the line is missing from that file only.
#pragma once

#include <span>
#include <string>

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
    explicit LogFileObserver(NoticeSink& notices) : notices_(notices) {}

    // The file this session writes, open and emptied; given before session_started.
    void attach(LogFile file);
    const LogFile& file() const { return file_; }
    void session_ended(const SessionEnd& end) override;

  protected:
    void write(std::span<const std::string> lines);

  private:
    NoticeSink& notices_;
    LogFile file_;
    bool failing_ = false;  // the last write failed and was reported
};

// A copy of the display table: its three header lines, then each cycle's data line.
class TextLogObserver final : public LogFileObserver {
  public:
    using LogFileObserver::LogFileObserver;
    void session_started(const SessionInfo& info) override;
    void cycle_finished(const CycleRecord& record) override;
};

// "sep=;", the address and column lines, then one row per cycle.
class CsvLogObserver final : public LogFileObserver {
  public:
    using LogFileObserver::LogFileObserver;
    void session_started(const SessionInfo& info) override;
    void cycle_finished(const CycleRecord& record) override;
};

}  // namespace veldra::core
