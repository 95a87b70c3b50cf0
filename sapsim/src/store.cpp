#include "sapsim/store.h"

#include "sapsim/csv_loader.h"
#include "sapsim/sample_data.h"
#include "sapsim/sqlite_statement.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace sapsim {

namespace {

const char* const dictionary_schema = R"(
CREATE TABLE DD02L (TABNAME TEXT PRIMARY KEY, CLIDEP TEXT NOT NULL, DDTEXT TEXT NOT NULL);
CREATE TABLE DD03L (TABNAME TEXT NOT NULL, FIELDNAME TEXT NOT NULL, POSITION INTEGER NOT NULL,
                    KEYFLAG TEXT NOT NULL, INTTYPE TEXT NOT NULL, LENG INTEGER NOT NULL,
                    DECIMALS INTEGER NOT NULL, DDTEXT TEXT NOT NULL,
                    PRIMARY KEY (TABNAME, FIELDNAME));
)";

std::string upper(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// Table names reach SQL only after this check, so quoting them is safe.
bool plain_name(std::string_view name)
{
    return !name.empty() && name.size() <= 30 &&
           std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isupper(c) || std::isdigit(c) || c == '_'; });
}

bool create_database(sqlite3* db, const StoreOptions& options, std::string& error)
{
    if (!exec_sql(db, "BEGIN", error))
        return false;
    const bool ok = exec_sql(db, dictionary_schema, error) && SampleData::create(db, options, error);
    std::string ignored;
    if (!ok || !exec_sql(db, "COMMIT", error)) {
        exec_sql(db, "ROLLBACK", ignored);
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<Store> Store::open(const std::filesystem::path& folder, const StoreOptions& options, std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot create data folder " + folder.string() + ": " + ec.message();
        return nullptr;
    }
    const std::filesystem::path file = folder / file_name;
    const bool exists = std::filesystem::exists(file, ec);
    // A new database is built under a temporary name and renamed when complete,
    // so an interrupted first start never leaves a half-filled store.
    const std::filesystem::path target = exists ? file : folder / (std::string(file_name) + ".new");
    if (!exists)
        std::filesystem::remove(target, ec);

    sqlite3* db = nullptr;
    if (sqlite3_open_v2(target.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        error = "cannot open " + target.string() + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 5000);
    if (!exists) {
        if (!exec_sql(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-262144;", error) ||
            !create_database(db, options, error)) {
            sqlite3_close(db);
            std::filesystem::remove(target, ec);
            error = "cannot create the store: " + error;
            return nullptr;
        }
        sqlite3_close(db);
        db = nullptr;
        std::filesystem::rename(target, file, ec);
        if (ec) {
            error = "cannot rename " + target.string() + ": " + ec.message();
            return nullptr;
        }
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
            error = "cannot open " + file.string();
            sqlite3_close(db);
            return nullptr;
        }
        sqlite3_busy_timeout(db, 5000);
    }
    std::string ignored;
    exec_sql(db, "PRAGMA journal_mode=WAL;", ignored);
    Statement check;
    if (!check.prepare(db, "SELECT COUNT(*) FROM DD02L") || check.step() != SQLITE_ROW) {
        error = file.string() + " is not a sapsim store: " + sqlite3_errmsg(db);
        sqlite3_close(db);
        return nullptr;
    }
    return std::unique_ptr<Store>(new Store(db, !exists, file));
}

Store::~Store()
{
    sqlite3_close(db_);
}

bool Store::define_table(sqlite3* db, const TableDef& table, std::string& error)
{
    if (!validate_table_def(table, error))
        return false;
    Statement exists;
    exists.prepare(db, "SELECT 1 FROM DD02L WHERE TABNAME = ?");
    exists.bind_text(1, table.name);
    if (exists.step() == SQLITE_ROW) {
        error = "table " + table.name + " already exists";
        return false;
    }
    std::string sql = "CREATE TABLE \"" + table.name + "\" (";
    std::string keys;
    for (const FieldDef& f : table.fields) {
        sql += "\"" + f.name + "\" " + sql_column_type(f) + ", ";
        if (f.key)
            keys += (keys.empty() ? "\"" : ", \"") + f.name + "\"";
    }
    if (keys.empty())
        sql.resize(sql.size() - 2);
    else
        sql += "PRIMARY KEY (" + keys + ")";
    // Keyed tables are stored in key order: one b-tree, and scans come out sorted.
    sql += keys.empty() ? ")" : ") WITHOUT ROWID";
    if (!exec_sql(db, sql.c_str(), error))
        return false;

    Statement t;
    t.prepare(db, "INSERT INTO DD02L VALUES (?, ?, ?)");
    t.bind_text(1, table.name);
    t.bind_text(2, table.client_dependent ? "X" : "");
    t.bind_text(3, table.text);
    if (t.step() != SQLITE_DONE) {
        error = sqlite3_errmsg(db);
        return false;
    }
    Statement f;
    f.prepare(db, "INSERT INTO DD03L VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    for (const FieldDef& field : table.fields) {
        f.bind_text(1, table.name);
        f.bind_text(2, field.name);
        f.bind_int(3, field.position);
        f.bind_text(4, field.key ? "X" : "");
        f.bind_text(5, std::string(1, field.type));
        f.bind_int(6, field.length);
        f.bind_int(7, field.decimals);
        f.bind_text(8, field.text);
        if (f.step() != SQLITE_DONE) {
            error = sqlite3_errmsg(db);
            return false;
        }
        f.reset();
    }
    return true;
}

std::optional<TableDef> Store::table(std::string_view name)
{
    std::lock_guard lock(mutex_);
    return table_locked(name);
}

std::optional<TableDef> Store::table_locked(std::string_view name)
{
    return read_table(db_, name);
}

Store::Connection Store::open_reader(std::string& error) const
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file_.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        error = "cannot open " + file_.string() + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 5000);
    return Connection(db);
}

std::optional<TableDef> Store::read_table(sqlite3* db, std::string_view name)
{
    Statement t;
    t.prepare(db, "SELECT TABNAME, CLIDEP, DDTEXT FROM DD02L WHERE TABNAME = ?");
    t.bind_text(1, upper(name));
    if (t.step() != SQLITE_ROW)
        return std::nullopt;
    TableDef def;
    def.name = t.column_text(0);
    def.client_dependent = t.column_text(1) == "X";
    def.text = t.column_text(2);
    Statement f;
    f.prepare(db, "SELECT FIELDNAME, POSITION, KEYFLAG, INTTYPE, LENG, DECIMALS, DDTEXT FROM DD03L "
                   "WHERE TABNAME = ? ORDER BY POSITION");
    f.bind_text(1, def.name);
    while (f.step() == SQLITE_ROW) {
        FieldDef field;
        field.name = f.column_text(0);
        field.position = static_cast<int>(f.column_int(1));
        field.key = f.column_text(2) == "X";
        const std::string type = f.column_text(3);
        field.type = type.empty() ? 'C' : type[0];
        field.length = static_cast<int>(f.column_int(4));
        field.decimals = static_cast<int>(f.column_int(5));
        field.text = f.column_text(6);
        def.fields.push_back(std::move(field));
    }
    return def;
}

std::vector<std::string> Store::table_names()
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    Statement s;
    s.prepare(db_, "SELECT TABNAME FROM DD02L ORDER BY TABNAME");
    while (s.step() == SQLITE_ROW)
        names.push_back(s.column_text(0));
    return names;
}

bool Store::client_exists(std::string_view client)
{
    std::lock_guard lock(mutex_);
    Statement s;
    s.prepare(db_, "SELECT 1 FROM T000 WHERE MANDT = ?");
    s.bind_text(1, client);
    return s.step() == SQLITE_ROW;
}

LogonCheck Store::check_logon(std::string_view client, std::string_view user, std::string_view password)
{
    std::lock_guard lock(mutex_);
    Statement c;
    c.prepare(db_, "SELECT 1 FROM T000 WHERE MANDT = ?");
    c.bind_text(1, client);
    if (c.step() != SQLITE_ROW)
        return LogonCheck::unknown_client;
    Statement u;
    u.prepare(db_, "SELECT PASSWORD, UFLAG FROM USR02 WHERE MANDT = ? AND BNAME = ?");
    u.bind_text(1, client);
    u.bind_text(2, upper(user));
    if (u.step() != SQLITE_ROW || u.column_text(0) != password)
        return LogonCheck::bad_credentials;
    return u.column_text(1) == "X" ? LogonCheck::user_locked : LogonCheck::ok;
}

bool Store::select_rows(std::string_view table_name, std::string_view client, const RowVisitor& visitor, std::string& error)
{
    std::lock_guard lock(mutex_);
    const std::optional<TableDef> def = table_locked(table_name);
    if (!def || !plain_name(def->name)) {
        error = "table " + std::string(table_name) + " does not exist";
        return false;
    }
    std::string sql = "SELECT * FROM \"" + def->name + "\"";
    if (def->client_dependent)
        sql += " WHERE MANDT = ?";
    std::string keys;
    for (const FieldDef& f : def->fields)
        if (f.key)
            keys += (keys.empty() ? "\"" : ", \"") + f.name + "\"";
    if (!keys.empty())
        sql += " ORDER BY " + keys;
    Statement s;
    if (!s.prepare(db_, sql)) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    if (def->client_dependent)
        s.bind_text(1, client);
    std::vector<std::string> values(def->fields.size());
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = def->fields[i].type == 'X' ? hex(s.column_blob(static_cast<int>(i)))
                                                    : s.column_text(static_cast<int>(i));
        if (!visitor(values))
            return true;
    }
    if (rc != SQLITE_DONE) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    return true;
}

std::int64_t Store::count_rows(std::string_view table_name, std::string_view client)
{
    std::lock_guard lock(mutex_);
    const std::optional<TableDef> def = table_locked(table_name);
    if (!def || !plain_name(def->name))
        return -1;
    Statement s;
    s.prepare(db_, "SELECT COUNT(*) FROM \"" + def->name + "\"" + (def->client_dependent ? " WHERE MANDT = ?" : ""));
    if (def->client_dependent)
        s.bind_text(1, client);
    return s.step() == SQLITE_ROW ? s.column_int(0) : -1;
}

bool Store::load_csv(const std::optional<std::filesystem::path>& dictionary,
                     const std::vector<std::filesystem::path>& data_files, std::string& error)
{
    std::lock_guard lock(mutex_);
    if (!exec_sql(db_, "BEGIN", error))
        return false;
    bool ok = true;
    if (dictionary)
        ok = CsvLoader::load_dictionary(db_, *dictionary, error);
    for (size_t i = 0; ok && i < data_files.size(); ++i)
        ok = CsvLoader::load_data(db_, data_files[i], [this](std::string_view name) { return table_locked(name); }, error);
    std::string ignored;
    if (!ok || !exec_sql(db_, "COMMIT", error)) {
        exec_sql(db_, "ROLLBACK", ignored);
        return false;
    }
    return true;
}

} // namespace sapsim
