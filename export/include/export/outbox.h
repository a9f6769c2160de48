// The durable outbox between a session and the broker: every cycle's messages (one per sensor)
// are committed to it on the cycle's thread before anything is sent, and leave it only once the
// broker has acknowledged them. It lives in one SQLite file in WAL mode: a commit is on the
// disk when commit() returns (synchronous FULL), so neither a crash, a kill -9 nor a power cut
// loses a cycle that the log files hold. The file also keeps each site's cycle number (seq),
// so that it grows across restarts, and the last acknowledged cycle.
//
// One connection per thread: the session's export writes through a Writer, its network thread
// drains through a Drainer on the same file. A Writer holds the file for its process, so a
// second program cannot drain (and send twice) the same messages.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logging/cycle_record.h"

namespace veldra::exporter {

inline constexpr std::uint64_t kMegabyte = 1ull << 20;

// One message waiting for the broker: one sensor of one cycle.
struct OutboxEntry {
    std::int64_t id = 0;  // grows with every message ever stored, never reused
    std::string site;
    std::int64_t seq = 0;     // the site's cycle number
    std::int64_t utc_ns = 0;  // the cycle's instant, nanoseconds since 1970 UTC
    std::string local;        // "2026-12-10 11:22:12", as the log files show the cycle
    int sensor = 0;           // the address
    // Per quantity, in the order of core::kQuantities: the value, none when the query failed.
    std::array<std::optional<double>, core::kQuantityCount> values{};
    std::array<std::string, core::kQuantityCount> statuses{};  // "ok", "no_reply", ...
};

// The last cycle the broker acknowledged.
struct Acknowledged {
    std::string site;
    std::int64_t seq = 0;
    std::string local;  // the cycle's time stamp as the log files show it
};

struct CommitOutcome {
    enum class Kind {
        Stored,          // every sensor's message is on the disk
        NothingToStore,  // a cycle without sensors: no message, no seq used
        Full,            // the outbox has reached its limit: nothing stored, the seq is used up
        Failed,          // the outbox could not be written (error says why): nothing stored
    };
    Kind kind = Kind::Stored;
    std::int64_t seq = 0;
    std::uint64_t used_bytes = 0;  // what the waiting messages take in the file
    std::uint64_t waiting = 0;     // messages waiting after this commit
    std::string error;
};

class Outbox {
  public:
    enum class Role { Writer, Drainer };

    // Opens the outbox file, creating it (and its tables) when missing. A Writer first takes
    // the file's lock ("<path>.lock"). ok() tells whether it worked; error() says why not in
    // one line that names the file.
    Outbox(const std::string& path, Role role);
    ~Outbox();
    Outbox(Outbox&&) noexcept;
    Outbox& operator=(Outbox&&) noexcept;

    bool ok() const;
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

    // Stores one message per sensor of the record, all with the site's next seq, in one
    // transaction that is on the disk when this returns. Once the waiting messages take
    // `limit_bytes` or more, nothing more is stored (Full), but the seq is still used, so that
    // receivers see the gap.
    CommitOutcome commit(const core::CycleRecord& record, std::string_view site,
                         std::uint64_t limit_bytes);

    // Up to `max` messages after the one with id `after`, oldest first.
    std::vector<OutboxEntry> fetch_after(std::int64_t after, std::size_t max);
    // Deletes every message up to and including id `through`, and keeps `last` as the last
    // acknowledged cycle. Not synced at once: after a crash a message may go out twice, never
    // be lost.
    bool remove_through(std::int64_t through, const Acknowledged& last);

    std::uint64_t waiting();
    std::uint64_t used_bytes();
    std::optional<Acknowledged> last_acknowledged();
    // The error of the last call that failed, for a notice.
    std::string last_error() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string path_;
    std::string error_;
};

// The messages one cycle gives (one per sensor, in list order).
std::vector<OutboxEntry> entries_for(const core::CycleRecord& record, std::string_view site,
                                     std::int64_t seq);

}  // namespace veldra::exporter
