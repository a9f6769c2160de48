// The SQLite connection and statement owners.
#include "sqlite.h"

namespace veldra::exporter::sql {

Statement::Statement(sqlite3* db, std::string_view sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) ==
        SQLITE_OK) {
        stmt_.reset(stmt);
    } else {
        sqlite3_finalize(stmt);
    }
}

Statement& Statement::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(stmt_.get(), index, value);
    return *this;
}

Statement& Statement::bind(int index, double value) {
    sqlite3_bind_double(stmt_.get(), index, value);
    return *this;
}

Statement& Statement::bind(int index, std::string_view value) {
    sqlite3_bind_text(stmt_.get(), index, value.data(), static_cast<int>(value.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bind_null(int index) {
    sqlite3_bind_null(stmt_.get(), index);
    return *this;
}

Statement& Statement::bind(int index, const std::optional<double>& value) {
    return value ? bind(index, *value) : bind_null(index);
}

int Statement::step() {
    return sqlite3_step(stmt_.get());
}

void Statement::reset() {
    sqlite3_reset(stmt_.get());
    sqlite3_clear_bindings(stmt_.get());
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_.get(), column);
}

double Statement::real(int column) const {
    return sqlite3_column_double(stmt_.get(), column);
}

std::string Statement::text(int column) const {
    const auto* p = sqlite3_column_text(stmt_.get(), column);
    const int n = sqlite3_column_bytes(stmt_.get(), column);
    return p == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(p), n);
}

bool Statement::is_null(int column) const {
    return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL;
}

Database::Database(const std::string& path, bool create) {
    sqlite3* db = nullptr;
    const int flags =
        SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_FULLMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        error_ = {rc, db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc)};
        sqlite3_close_v2(db);
        return;
    }
    sqlite3_extended_result_codes(db, 1);
    db_.reset(db);
}

bool Database::exec(const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        error_ = {rc, message != nullptr ? message : sqlite3_errstr(rc)};
    }
    sqlite3_free(message);
    return rc == SQLITE_OK;
}

Statement Database::prepare(std::string_view sql) {
    Statement s(db_.get(), sql);
    if (!s.ok()) {
        error_ = last_error();
    }
    return s;
}

Error Database::last_error() const {
    return {sqlite3_extended_errcode(db_.get()), sqlite3_errmsg(db_.get())};
}

Transaction::Transaction(Database& db) : db_(db) {
    begun_ = db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (begun_ && !done_) {
        // Keeps the error of what failed; a failed COMMIT may already have rolled back.
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

bool Transaction::commit() {
    done_ = begun_ && db_.exec("COMMIT");
    return done_;
}

}  // namespace veldra::exporter::sql
