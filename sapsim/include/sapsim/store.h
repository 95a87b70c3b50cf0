// The simulated system's database: one SQLite file (sapsim.db) in the data
// folder, holding clients (T000), users (USR02), the data dictionary (DD02L
// tables, DD03L fields) and the application tables. Created with sample data on
// first open; deterministic, so two fresh folders hold the same rows.
// Any thread: calls are serialised on one connection.
#pragma once

#include "sapsim/dictionary.h"

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sapsim {

struct StoreOptions {
    // Rows of the large bookings table (SBOOK, client 100) made on first start.
    std::int64_t bookings = 1'000'000;
};

enum class LogonCheck { ok, unknown_client, bad_credentials, user_locked };

class Store {
public:
    // Opens <folder>/sapsim.db, creating folder, schema and sample data when the
    // file does not exist yet. Returns null and `error` on failure; a failed
    // creation leaves no half-made database behind.
    static std::unique_ptr<Store> open(const std::filesystem::path& folder, const StoreOptions& options,
                                       std::string& error);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    static constexpr const char* file_name = "sapsim.db";

    // True when this open created the database.
    bool created() const { return created_; }

    // A read-only connection of its own to the store, for long reads that
    // must not hold up the other connections (the WAL journal lets it read
    // beside writers). Null and `error` on failure.
    struct ConnectionCloser {
        void operator()(sqlite3* db) const { sqlite3_close(db); }
    };
    using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;
    Connection open_reader(std::string& error) const;
    // The dictionary entry of a table, read on any connection to the store.
    static std::optional<TableDef> read_table(sqlite3* db, std::string_view name);

    std::optional<TableDef> table(std::string_view name);
    std::vector<std::string> table_names();
    bool client_exists(std::string_view client);

    // User names are compared in upper case, passwords exactly.
    LogonCheck check_logon(std::string_view client, std::string_view user, std::string_view password);

    // Visits the rows of a table in key order; client-dependent tables show only
    // the rows of `client`. Values come as text (X fields as hexadecimal, null as
    // empty). The visitor returns false to stop early.
    using RowVisitor = std::function<bool(const std::vector<std::string>& values)>;
    bool select_rows(std::string_view table, std::string_view client, const RowVisitor& visitor, std::string& error);
    std::int64_t count_rows(std::string_view table, std::string_view client);

    // Loads an optional dictionary CSV (new tables) and data CSVs (one per table,
    // named <TABLE>.csv) in one transaction: on any error nothing is changed.
    bool load_csv(const std::optional<std::filesystem::path>& dictionary,
                  const std::vector<std::filesystem::path>& data_files, std::string& error);

    // Creates the SQL table and its dictionary rows; caller holds a transaction.
    static bool define_table(sqlite3* db, const TableDef& table, std::string& error);

private:
    Store(sqlite3* db, bool created, std::filesystem::path file) : db_(db), created_(created), file_(std::move(file)) {}
    std::optional<TableDef> table_locked(std::string_view name);

    sqlite3* db_;
    bool created_;
    std::filesystem::path file_;
    std::mutex mutex_;
};

} // namespace sapsim
