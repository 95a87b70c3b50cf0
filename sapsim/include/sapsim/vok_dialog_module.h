// The VOK dialog module: what the VOK server calls for every request of a
// logon (name prefix + Z_VOK_DIALOG, or a name the logon chose). While it runs
// it calls the server back on the same connection (docs/sapsim.md, "The VOK
// dialog module"):
//   1. Z_VOK_GET_REQUEST_PARAMETERS: the request (FUNC_FLAG and the rest);
//   2. Z_VOK_GENPROG, when DEBUG is neither blank nor 'N': the lines of the
//      program generated for the request;
//   3. Z_VOK_SEND_SYSTEM_INFO for a logon (FUNC_FLAG 'I'): system information
//      and the gateway data of background jobs (SystemConfig::batch);
//      for a select (FUNC_FLAG ' ', 'M', 'D' or 'B' with a statement in
//      JDATA) the read report named by ABAPPROG runs instead (ReadReport),
//      REPORT_NOT_FOUND when no report has that name; for a function request
//      (FUNC_NAME not blank) the named module is described or run
//      (VokFunctionRequest), FUNCTION_NOT_FOUND when it has no description.
// Other requests raise REQUEST_NOT_SUPPORTED after step 2.
#pragma once

#include "sapsim/function_module.h"

#include <cstddef>
#include <memory>
#include <string>

namespace sapsim {

class FunctionRegistry;
struct SystemConfig;

// Parameter sizes in characters (2 bytes each on the wire).
namespace vok_dialog {

// Imports of the dialog module.
constexpr size_t pdest_chars = 4;
constexpr size_t preport_chars = 100;
constexpr size_t pvariant_chars = 14;
constexpr size_t pbufmax_chars = 1;

// Received from Z_VOK_GET_REQUEST_PARAMETERS. Generous, so that nothing the
// server sends is cut; a parameter it does not send stays blank.
constexpr size_t func_flag_chars = 1;
constexpr size_t abapprog_chars = 100;
constexpr size_t variant_chars = 14;
constexpr size_t blocksize_chars = 8;
constexpr size_t debug_chars = 1;
constexpr size_t dest_chars = 32;
constexpr size_t func_name_chars = 128;
constexpr size_t dhandle_chars = 131;
constexpr size_t dialog_flag_chars = 1;
constexpr size_t statement_line_chars = 72;  // MDATA and JDATA

// Sent with Z_VOK_GENPROG.
constexpr size_t rc_chars = 8;
constexpr size_t genprog_dhandle_chars = 130;
constexpr size_t ltab_line_chars = 255;

// Sent with Z_VOK_MDATA: table MTAB.
constexpr size_t mtab_line_chars = 512;

// Sent with Z_VOK_DATA_CHUNK, besides the table DTAB of records.
constexpr size_t chunk_dhandle_chars = 131;
constexpr size_t emsg_chars = 200;
constexpr size_t end_of_data_chars = 1;
constexpr size_t table_name_chars = 30;

// Sent with Z_VOK_SEND_SYSTEM_INFO.
constexpr size_t sysinfo_chars = 200;
constexpr size_t gateway_text_chars = 250;  // BATDEST, BATPRID, BATGWH, BATGWS, BATMESS
constexpr size_t gwflag_chars = 1;

} // namespace vok_dialog

std::unique_ptr<FunctionModule> make_vok_dialog_module(std::string name);

// Registers the dialog module under every name of config.dialog_module_names().
// False and `error` when one of them is the name of another module.
bool add_vok_dialog_modules(FunctionRegistry& registry, const SystemConfig& config, std::string& error);

} // namespace sapsim
