// SQL functions the read report's statements use, registered on its own
// connection to the store:
//   sap_like(value, pattern [, escape])  Open SQL LIKE: % any text, _ one
//       character, both literal after the escape character; compares
//       characters exactly (case matters), unlike SQLite's LIKE.
//   sap_psum(value)  aggregate: the exact sum of packed numbers stored as
//       decimal text, as decimal text (null without values).
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace sapsim {

class SqlFunctions {
public:
    static bool install(sqlite3* db, std::string& error);
    // The matching behind sap_like, on UTF-8 text; `escape` 0 for none.
    static bool like(std::string_view value, std::string_view pattern, char32_t escape);
};

} // namespace sapsim
