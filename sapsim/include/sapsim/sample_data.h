// The tables and rows a new store starts with: clients (T000), users (USR02),
// a flight-booking model (SCARR carriers, SPFLI connections, SFLIGHT flights,
// SBOOK bookings) and materials (MARA, MAKT), in clients 100 and 200.
// Every row comes from a fixed-seed generator, so the content depends only on
// StoreOptions. SBOOK of client 100 holds StoreOptions::bookings rows, written
// with one prepared statement inside the caller's transaction.
#pragma once

#include "sapsim/dictionary.h"
#include "sapsim/store.h"

#include <sqlite3.h>

#include <string>
#include <vector>

namespace sapsim {

class SampleData {
public:
    static bool create(sqlite3* db, const StoreOptions& options, std::string& error);
    static const std::vector<TableDef>& table_defs();
};

} // namespace sapsim
