#include "sapsim/sqlite_statement.h"

#include <utility>

namespace sapsim {

Statement::~Statement()
{
    sqlite3_finalize(stmt_);
}

Statement::Statement(Statement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(stmt_);
        stmt_ = std::exchange(other.stmt_, nullptr);
    }
    return *this;
}

bool Statement::prepare(sqlite3* db, std::string_view sql)
{
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) == SQLITE_OK;
}

void Statement::bind_text(int index, std::string_view text)
{
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Statement::bind_int(int index, std::int64_t value)
{
    sqlite3_bind_int64(stmt_, index, value);
}

void Statement::bind_double(int index, double value)
{
    sqlite3_bind_double(stmt_, index, value);
}

void Statement::bind_blob(int index, const void* data, int size)
{
    sqlite3_bind_blob(stmt_, index, data, size, SQLITE_TRANSIENT);
}

void Statement::bind_null(int index)
{
    sqlite3_bind_null(stmt_, index);
}

int Statement::step()
{
    return sqlite3_step(stmt_);
}

void Statement::reset()
{
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int Statement::column_count() const
{
    return sqlite3_column_count(stmt_);
}

int Statement::column_type(int column) const
{
    return sqlite3_column_type(stmt_, column);
}

std::string Statement::column_text(int column) const
{
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    if (text == nullptr)
        return {};
    return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::int64_t Statement::column_int(int column) const
{
    return sqlite3_column_int64(stmt_, column);
}

double Statement::column_double(int column) const
{
    return sqlite3_column_double(stmt_, column);
}

std::string Statement::column_blob(int column) const
{
    const void* data = sqlite3_column_blob(stmt_, column);
    if (data == nullptr)
        return {};
    return std::string(static_cast<const char*>(data), static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

bool exec_sql(sqlite3* db, const char* sql, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

} // namespace sapsim
