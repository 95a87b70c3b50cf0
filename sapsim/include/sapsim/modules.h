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

} // namespace sapsim
