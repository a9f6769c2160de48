// The outbox in SQLite: the tables, the durable commit of a cycle, draining and deleting.
#include "export/outbox.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include "logging/log_format.h"
#include "sqlite.h"

namespace veldra::exporter {
namespace {

// The layout this program writes; a file with another layout is not touched.
constexpr int kSchemaVersion = 1;

// AUTOINCREMENT: an id is never given twice, not even after the outbox ran empty, so the
// drain's "everything after id N" never skips a new message. The value columns have no type,
// so counts stay integers and the others floats; NULL is a failed query.
constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS message(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    site TEXT NOT NULL,
    seq INTEGER NOT NULL,
    utc_ns INTEGER NOT NULL,
    local TEXT NOT NULL,
    sensor INTEGER NOT NULL,
    counts, permittivity, water_content, temperature,
    counts_status TEXT NOT NULL,
    permittivity_status TEXT NOT NULL,
    water_content_status TEXT NOT NULL,
    temperature_status TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS site(name TEXT PRIMARY KEY, last_seq INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS tally(
    one INTEGER PRIMARY KEY CHECK (one = 1),
    waiting INTEGER NOT NULL,
    acked_site TEXT, acked_seq INTEGER, acked_local TEXT);
INSERT OR IGNORE INTO tally(one, waiting) VALUES (1, 0);
)";

constexpr int kBusyTimeoutMs = 10000;

// The file's lock for one process: an flock on "<outbox>.lock", released by the kernel when
// the process ends however it ends. The lock file stays: removing it would let two programs
// lock two different files of the same name.
class LockFile {
  public:
    LockFile() = default;
    LockFile(LockFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    LockFile& operator=(LockFile&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~LockFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    // Empty on success, else why not.
    std::string take(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd_ < 0) {
            return path + ": " + std::strerror(errno);
        }
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            std::string holder(32, '\0');
            const ssize_t n = ::pread(fd_, holder.data(), holder.size(), 0);
            holder.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) {
                holder.pop_back();
            }
            ::close(fd_);
            fd_ = -1;
            if (error == EWOULDBLOCK) {
                return "in use by another program" +
                       (holder.empty() ? std::string() : " (process " + holder + ")");
            }
            return path + ": " + std::strerror(error);
        }
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd_, 0) == 0) {
            (void)!::pwrite(fd_, pid.data(), pid.size(), 0);
        }
        return {};
    }

  private:
    int fd_ = -1;
};

std::int64_t nanoseconds(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

}  // namespace

struct Outbox::Impl {
    LockFile lock;
    sql::Database db;
    sql::Statement read_seq, write_seq, insert, add_waiting, page_count, freelist_count, fetch,
        remove, acknowledge, read_tally;
    std::int64_t page_size = 4096;

    Impl(const std::string& path, bool create) : db(path, create) {}
};

Outbox::Outbox(const std::string& path, Role role) : path_(path) {
    const std::string where = "the outbox " + path;
    LockFile lock;
    if (role == Role::Writer) {
        if (std::string refused = lock.take(path + ".lock"); !refused.empty()) {
            error_ = where + " cannot be used: " + refused;
            return;
        }
    }
    auto impl = std::make_unique<Impl>(path, true);
    impl->lock = std::move(lock);
    sql::Database& db = impl->db;
    if (!db.ok()) {
        error_ = where + " cannot be opened: " + db.error().text;
        return;
    }
    sqlite3_busy_timeout(db.handle(), kBusyTimeoutMs);
    // The version tells an outbox of ours from any other database; the first read also tells
    // a file that is no database at all.
    sql::Statement version = db.prepare("PRAGMA user_version");
    if (!version.ok() || version.step() != SQLITE_ROW) {
        error_ = where + " cannot be read: " + db.last_error().text;
        return;
    }
    const std::int64_t found = version.integer(0);
    version.reset();  // a statement left stepping would hold a read transaction open
    if (found != 0 && found != kSchemaVersion) {
        error_ = where + " was written by another version of this program (layout " +
                 std::to_string(found) + ", this one reads " + std::to_string(kSchemaVersion) + ")";
        return;
    }
    // WAL: a commit appends to the log and syncs only that; readers never block the writer.
    // The writer syncs every commit; the drainer's deletes need not be (a message sent twice
    // is dropped by its receiver's seq, a lost one could never be made good).
    const char* sync =
        role == Role::Writer ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL";
    if (!db.exec("PRAGMA journal_mode=WAL") || !db.exec(sync) ||
        !db.exec("PRAGMA journal_size_limit=67108864")) {
        error_ = where + " cannot be prepared: " + db.error().text;
        return;
    }
    if (found == 0) {
        sql::Transaction t(db);
        if (!t.begun() || !db.exec(kSchema) ||
            !db.exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str()) ||
            !t.commit()) {
            error_ = where + " cannot be set up: " + db.error().text;
            return;
        }
    }
    sql::Statement size = db.prepare("PRAGMA page_size");
    if (size.ok() && size.step() == SQLITE_ROW) {
        impl->page_size = size.integer(0);
    }
    impl->read_seq = db.prepare("SELECT last_seq FROM site WHERE name = ?1");
    impl->write_seq = db.prepare(
        "INSERT INTO site(name, last_seq) VALUES (?1, ?2) "
        "ON CONFLICT(name) DO UPDATE SET last_seq = excluded.last_seq");
    impl->insert = db.prepare(
        "INSERT INTO message(site, seq, utc_ns, local, sensor, counts, permittivity, "
        "water_content, temperature, counts_status, permittivity_status, water_content_status, "
        "temperature_status) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
    impl->add_waiting = db.prepare("UPDATE tally SET waiting = waiting + ?1");
    impl->page_count = db.prepare("PRAGMA page_count");
    impl->freelist_count = db.prepare("PRAGMA freelist_count");
    impl->fetch = db.prepare(
        "SELECT id, site, seq, utc_ns, local, sensor, counts, permittivity, water_content, "
        "temperature, counts_status, permittivity_status, water_content_status, "
        "temperature_status FROM message WHERE id > ?1 ORDER BY id LIMIT ?2");
    impl->remove = db.prepare("DELETE FROM message WHERE id <= ?1");
    impl->acknowledge = db.prepare(
        "UPDATE tally SET waiting = max(0, waiting - ?1), acked_site = ?2, acked_seq = ?3, "
        "acked_local = ?4");
    impl->read_tally = db.prepare("SELECT waiting, acked_site, acked_seq, acked_local FROM tally");
    for (const sql::Statement* s :
         {&impl->read_seq, &impl->write_seq, &impl->insert, &impl->add_waiting, &impl->page_count,
          &impl->freelist_count, &impl->fetch, &impl->remove, &impl->acknowledge,
          &impl->read_tally}) {
        if (!s->ok()) {
            error_ = where + " does not have the expected tables: " + db.error().text;
            return;
        }
    }
    impl_ = std::move(impl);
}

Outbox::~Outbox() = default;
Outbox::Outbox(Outbox&&) noexcept = default;
Outbox& Outbox::operator=(Outbox&&) noexcept = default;

bool Outbox::ok() const {
    return impl_ != nullptr;
}

std::string Outbox::last_error() const {
    return impl_ ? impl_->db.last_error().text : error_;
}

std::uint64_t Outbox::used_bytes() {
    if (!impl_) {
        return 0;
    }
    // Pages freed by deleted messages are used again before the file grows: what counts is
    // the pages in use, not the file's size.
    std::int64_t pages = 0, free_pages = 0;
    if (impl_->page_count.step() == SQLITE_ROW) {
        pages = impl_->page_count.integer(0);
    }
    impl_->page_count.reset();
    if (impl_->freelist_count.step() == SQLITE_ROW) {
        free_pages = impl_->freelist_count.integer(0);
    }
    impl_->freelist_count.reset();
    return static_cast<std::uint64_t>(std::max<std::int64_t>(0, pages - free_pages)) *
           static_cast<std::uint64_t>(impl_->page_size);
}

std::uint64_t Outbox::waiting() {
    if (!impl_) {
        return 0;
    }
    std::uint64_t n = 0;
    if (impl_->read_tally.step() == SQLITE_ROW) {
        n = static_cast<std::uint64_t>(std::max<std::int64_t>(0, impl_->read_tally.integer(0)));
    }
    impl_->read_tally.reset();
    return n;
}

std::optional<Acknowledged> Outbox::last_acknowledged() {
    if (!impl_) {
        return std::nullopt;
    }
    std::optional<Acknowledged> last;
    sql::Statement& s = impl_->read_tally;
    if (s.step() == SQLITE_ROW && !s.is_null(1)) {
        last = Acknowledged{s.text(1), s.integer(2), s.text(3)};
    }
    s.reset();
    return last;
}

CommitOutcome Outbox::commit(const core::CycleRecord& record, std::string_view site,
                             std::uint64_t limit_bytes) {
    CommitOutcome out;
    if (!impl_) {
        return {CommitOutcome::Kind::Failed, 0, 0, 0, error_};
    }
    if (record.sensors.empty()) {
        out.kind = CommitOutcome::Kind::NothingToStore;
        return out;
    }
    Impl& o = *impl_;
    const auto failed = [&] {
        out.kind = CommitOutcome::Kind::Failed;
        out.error = o.db.last_error().text;
        o.read_seq.reset();
        o.write_seq.reset();
        o.insert.reset();
        o.add_waiting.reset();
        return out;
    };
    sql::Transaction t(o.db);
    if (!t.begun()) {
        return failed();
    }
    std::int64_t seq = 1;
    o.read_seq.bind(1, site);
    if (const int rc = o.read_seq.step(); rc == SQLITE_ROW) {
        seq = o.read_seq.integer(0) + 1;
    } else if (rc != SQLITE_DONE) {
        return failed();
    }
    o.read_seq.reset();
    o.write_seq.bind(1, site).bind(2, seq);
    if (o.write_seq.step() != SQLITE_DONE) {
        return failed();
    }
    o.write_seq.reset();
    out.seq = seq;
    out.used_bytes = used_bytes();
    if (out.used_bytes >= limit_bytes) {
        out.kind = CommitOutcome::Kind::Full;
    } else {
        const std::vector<OutboxEntry> entries = entries_for(record, site, seq);
        for (const OutboxEntry& e : entries) {
            o.insert.bind(1, std::string_view(e.site))
                .bind(2, e.seq)
                .bind(3, e.utc_ns)
                .bind(4, std::string_view(e.local))
                .bind(5, static_cast<std::int64_t>(e.sensor));
            // Counts are whole numbers and stay so in the file.
            if (e.values[0]) {
                o.insert.bind(6, static_cast<std::int64_t>(std::llround(*e.values[0])));
            } else {
                o.insert.bind_null(6);
            }
            for (int q = 1; q < 4; ++q) {
                o.insert.bind(6 + q, e.values[static_cast<std::size_t>(q)]);
            }
            for (int q = 0; q < 4; ++q) {
                o.insert.bind(10 + q, std::string_view(e.statuses[static_cast<std::size_t>(q)]));
            }
            if (o.insert.step() != SQLITE_DONE) {
                return failed();
            }
            o.insert.reset();
        }
        o.add_waiting.bind(1, static_cast<std::int64_t>(entries.size()));
        if (o.add_waiting.step() != SQLITE_DONE) {
            return failed();
        }
        o.add_waiting.reset();
    }
    if (!t.commit()) {
        return failed();
    }
    out.waiting = waiting();
    if (out.kind == CommitOutcome::Kind::Stored) {
        out.used_bytes = used_bytes();
    }
    return out;
}

std::vector<OutboxEntry> Outbox::fetch_after(std::int64_t after, std::size_t max) {
    std::vector<OutboxEntry> entries;
    if (!impl_) {
        return entries;
    }
    sql::Statement& s = impl_->fetch;
    s.bind(1, after).bind(2, static_cast<std::int64_t>(max));
    while (s.step() == SQLITE_ROW) {
        OutboxEntry& e = entries.emplace_back();
        e.id = s.integer(0);
        e.site = s.text(1);
        e.seq = s.integer(2);
        e.utc_ns = s.integer(3);
        e.local = s.text(4);
        e.sensor = static_cast<int>(s.integer(5));
        for (int q = 0; q < 4; ++q) {
            if (!s.is_null(6 + q)) {
                e.values[static_cast<std::size_t>(q)] = s.real(6 + q);
            }
            e.statuses[static_cast<std::size_t>(q)] = s.text(10 + q);
        }
    }
    s.reset();
    return entries;
}

bool Outbox::remove_through(std::int64_t through, const Acknowledged& last) {
    if (!impl_) {
        return false;
    }
    Impl& o = *impl_;
    sql::Transaction t(o.db);
    if (!t.begun()) {
        return false;
    }
    o.remove.bind(1, through);
    const bool removed = o.remove.step() == SQLITE_DONE;
    o.remove.reset();
    if (!removed) {
        return false;
    }
    const auto count = static_cast<std::int64_t>(sqlite3_changes(o.db.handle()));
    o.acknowledge.bind(1, count)
        .bind(2, std::string_view(last.site))
        .bind(3, last.seq)
        .bind(4, std::string_view(last.local));
    const bool counted = o.acknowledge.step() == SQLITE_DONE;
    o.acknowledge.reset();
    return counted && t.commit();
}

std::vector<OutboxEntry> entries_for(const core::CycleRecord& record, std::string_view site,
                                     std::int64_t seq) {
    std::vector<OutboxEntry> entries;
    entries.reserve(record.sensors.size());
    const std::string local = logfmt::csv_timestamp(record.local);
    const std::int64_t utc = nanoseconds(record.utc);
    for (const core::SensorReading& sensor : record.sensors) {
        OutboxEntry& e = entries.emplace_back();
        e.site = site;
        e.seq = seq;
        e.utc_ns = utc;
        e.local = local;
        e.sensor = sensor.address;
        for (std::size_t q = 0; q < core::kQuantityCount; ++q) {
            const core::QueryResult& result = sensor.queries[q];
            // Only a received number is a value; "not a number" shows 0 in the CSV log, but
            // a receiver must not take it for a measured 0. A reply of "nan" or "inf" (or one
            // beyond a float's range) reads as a number here, yet no payload format can carry
            // it: it goes out as no value, not a number.
            e.statuses[q] = core::status_key(result.status);
            if (result.status == core::QueryStatus::Received && result.value) {
                if (std::isfinite(*result.value)) {
                    e.values[q] = result.value;
                } else {
                    e.statuses[q] = core::status_key(core::QueryStatus::NotANumber);
                }
            }
        }
    }
    return entries;
}

}  // namespace veldra::exporter
