// A thin owner of an SQLite connection and its prepared statements, so that every handle is
// closed or finalised on every path and every failure carries SQLite's own words.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace veldra::exporter::sql {

// What went wrong, in words fit for a notice: "disk I/O error", "database is locked".
struct Error {
    int code = SQLITE_OK;
    std::string text;
};

class Statement {
  public:
    Statement() = default;
    Statement(sqlite3* db, std::string_view sql);  // check ok() after it
    bool ok() const { return stmt_ != nullptr; }

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, double value);
    Statement& bind(int index, std::string_view value);
    Statement& bind_null(int index);
    Statement& bind(int index, const std::optional<double>& value);

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Ready for the next execution with new bindings.
    void reset();

    std::int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;
    bool is_null(int column) const;

  private:
    struct Finalize {
        void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
    };
    std::unique_ptr<sqlite3_stmt, Finalize> stmt_;
};

class Database {
  public:
    // Opens (and creates when `create`) the file; ok() tells whether it worked, error() why.
    Database(const std::string& path, bool create);
    bool ok() const { return db_ != nullptr; }
    const Error& error() const { return error_; }

    // Runs statements without results; false with error() set on failure.
    bool exec(const char* sql);
    Statement prepare(std::string_view sql);
    // The error of the last call on this connection.
    Error last_error() const;
    sqlite3* handle() const { return db_.get(); }

  private:
    struct Close {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };
    std::unique_ptr<sqlite3, Close> db_;
    Error error_;
};

// One transaction that rolls back unless committed.
class Transaction {
  public:
    explicit Transaction(Database& db);  // BEGIN IMMEDIATE: takes the write lock at once
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool begun() const { return begun_; }
    bool commit();

  private:
    Database& db_;
    bool begun_ = false;
    bool done_ = false;
};

}  // namespace veldra::exporter::sql
