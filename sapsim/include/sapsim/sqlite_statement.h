// A prepared SQLite statement that finalises itself. Errors are return values:
// prepare() and step() report false / an SQLite code, and the message is on the
// connection (sqlite3_errmsg).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace sapsim {

class Statement {
public:
    Statement() = default;
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;

    bool prepare(sqlite3* db, std::string_view sql);
    bool valid() const { return stmt_ != nullptr; }
    // For reading columns in place (sqlite3_column_*), without copies.
    sqlite3_stmt* handle() const { return stmt_; }

    // Parameters are 1-based, as in SQLite.
    void bind_text(int index, std::string_view text);
    void bind_int(int index, std::int64_t value);
    void bind_double(int index, double value);
    void bind_blob(int index, const void* data, int size);
    void bind_null(int index);

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Clears bindings and makes the statement runnable again.
    void reset();

    int column_count() const;
    int column_type(int column) const;
    std::string column_text(int column) const;
    std::int64_t column_int(int column) const;
    double column_double(int column) const;
    std::string column_blob(int column) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Runs SQL without results; on failure fills `error` and returns false.
bool exec_sql(sqlite3* db, const char* sql, std::string& error);

} // namespace sapsim
