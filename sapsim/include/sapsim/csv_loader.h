// Loads tables from CSV files into the store (inside the caller's transaction).
//
// Dictionary CSV, header line then one line per field:
//   TABNAME,FIELDNAME,POSITION,KEYFLAG,INTTYPE,LENG,DECIMALS,DDTEXT
// A table whose first field is MANDT is client-dependent. Values of a field
// follow the rules of convert_field_value (dictionary.h).
//
// Data CSV, named <TABNAME>.csv: a header line naming fields of the table
// (any order, any subset that includes the key fields), then one line per row.
#pragma once

#include "sapsim/dictionary.h"

#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace sapsim {

class CsvLoader {
public:
    using TableLookup = std::function<std::optional<TableDef>(std::string_view name)>;

    static bool load_dictionary(sqlite3* db, const std::filesystem::path& file, std::string& error);
    static bool load_data(sqlite3* db, const std::filesystem::path& file, const TableLookup& lookup, std::string& error);
};

} // namespace sapsim
