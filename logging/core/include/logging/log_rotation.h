// Rotation of a session's log files: the dated pairs written beside the entry the user chose
// (their names), when a new pair starts, and which old pairs retention deletes.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "logging/log_files.h"

namespace veldra::core {

// A local calendar date.
struct LogDate {
    int year = 0, month = 0, day = 0;
    auto operator<=>(const LogDate&) const = default;
};

// A dated log's name: the date, and from the second file of a day on its number, put before
// the file name's extension: "field.txt" gives "field.2026-03-05.txt", then
// "field.2026-03-05-2.txt"; a name without extension gets them at its end ("data" gives
// "data.2026-03-05"). The CSV log of a dated pair is the dated name of the entry's CSV log
// ("field.csv" gives "field.2026-03-05.csv"), so the two always match.
std::string dated_log_path(const std::string& path, const LogDate& date, int sequence);

struct DatedLog {
    LogDate date;
    int sequence = 1;
};
// What dated_log_path made `file_name` from (the name alone, without folder), or nullopt
// when it is no such name.
std::optional<DatedLog> parse_dated_log_name(const std::string& path, std::string_view file_name);

struct LogPair {
    std::string text;
    std::string csv;
};

// A session's rotation: the first pair at the start, the decision at each cycle boundary,
// and the retention of old pairs. Used by one thread at a time (the start, then the cycles).
class LogRotation {
  public:
    // Prepares the first pair: with rotation off the entry itself (prepare_log_files), else
    // the first dated pair of `today` whose names are both free, created new, so that no
    // file is ever replaced.
    PreparedLogFiles start(const std::string& entry, const FileRules& rules, const LogDate& today);

    bool rotating() const { return rules_.rotation != FileRules::Rotation::Off; }
    const FileRules& rules() const { return rules_; }

    // Before a cycle's lines are written: the pair they go into when a new one starts now.
    // Daily: the cycle's time stamp carries another date than the current pair (a cycle
    // under way at midnight stays with the day it began). Size: the text log has reached
    // the size and holds at least one data line. The names are free when chosen; the files
    // are created as their first lines go out.
    std::optional<LogPair> next_pair(const LogDate& cycle_date, std::uint64_t text_bytes,
                                     bool text_has_data);

    // Deletes our own dated logs of this entry whose date lies keep_days or more days before
    // `today`: regular files only (no symlink), that begin like our logs, and none in `held`.
    // Returns how many were deleted.
    std::size_t remove_expired(const LogDate& today, std::span<const std::string> held) const;

  private:
    // The first sequence number from `first` on at which both names are free.
    LogPair free_pair(const LogDate& date, int first);

    FileRules rules_;
    std::string text_entry_;
    std::string csv_entry_;
    LogDate date_;
    int sequence_ = 1;
};

}  // namespace veldra::core
