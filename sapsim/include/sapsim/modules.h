// The function modules of the simulated system (docs/sapsim.md, "Function modules").
#pragma once

#include "sapsim/function_module.h"

#include <memory>

namespace sapsim {

std::unique_ptr<FunctionModule> make_system_info_module();  // RFC_SYSTEM_INFO
std::unique_ptr<FunctionModule> make_ping_module();         // RFC_PING
std::unique_ptr<FunctionModule> make_attributes_module();   // Z_SIM_ATTRIBUTES
std::unique_ptr<FunctionModule> make_echo_module();         // Z_SIM_ECHO
std::unique_ptr<FunctionModule> make_callback_module();     // Z_SIM_CALLBACK
std::unique_ptr<FunctionModule> make_raise_module();        // Z_SIM_RAISE
std::unique_ptr<FunctionModule> make_fail_module();         // Z_SIM_FAIL
std::unique_ptr<FunctionModule> make_abort_module();        // Z_SIM_ABORT
std::unique_ptr<FunctionModule> make_rows_module();         // Z_SIM_ROWS
std::unique_ptr<FunctionModule> make_admin_call_module();   // Z_SIM_ADMIN_CALL
std::unique_ptr<FunctionModule> make_read_table_module();   // Z_SIM_READ_TABLE

// Described modules (described_module.h), for function requests of the VOK server.
std::unique_ptr<FunctionModule> make_vok_echo_module();          // Z_VOK_ECHO
std::unique_ptr<FunctionModule> make_vok_flight_list_module();   // Z_VOK_FLIGHT_LIST
std::unique_ptr<FunctionModule> make_vok_booking_read_module();  // Z_VOK_BOOKING_READ
std::unique_ptr<FunctionModule> make_vok_read_table_module();    // Z_VOK_READ_TABLE
std::unique_ptr<FunctionModule> make_vok_stream_table_module();  // Z_VOK_STREAM_TABLE
std::unique_ptr<FunctionModule> make_vok_table_fetch_module();   // Z_VOK_TABLE_FETCH
std::unique_ptr<FunctionModule> make_vok_raise_module();         // Z_VOK_RAISE
std::unique_ptr<FunctionModule> make_vok_abort_module();         // Z_VOK_ABORT

} // namespace sapsim
