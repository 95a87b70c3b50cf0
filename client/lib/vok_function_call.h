#ifndef VOK_FUNCTION_CALL_H
#define VOK_FUNCTION_CALL_H

#include "vok_connection_options.h"
#include "vok_function_document.h"
#include "vok_function_interface.h"
#include "vok_metadata.h"
#include "vok_status.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// How a description or a call ended.
enum class Vok_Function_Outcome
{
  completed,     // everything the protocol promises arrived, and no error line came
  server_error,  // the server answered with error lines (an exception of the module among them)
  failed         // a connection or protocol problem, or arguments that do not fit; the status says what
};

struct Vok_Function_Settings
{
  // Timeouts and bounds of the connections. The reply_timeout is the
  // longest silence tolerated: before the first line (the module runs in
  // SAP meanwhile), between lines, within a value. max_record_bytes bounds
  // one parameter value or table line (its zero byte included).
  Vok_Connection_Options connection;
  // Text lines accepted on the request connection, all kinds together.
  std::size_t max_lines = 10000;
  // Bytes of all values and table lines received in one call, zero bytes
  // included.
  std::size_t max_result_bytes = 256 * 1024 * 1024;
};

// What the server said about a function module.
struct Vok_Function_Description
{
  Vok_Function_Outcome outcome = Vok_Function_Outcome::failed;
  // ok when completed; otherwise a summary (server_error) or the problem.
  Vok_Status status;
  // When completed.
  Vok_Function_Interface interface;
  // The error lines without their "E,", in order.
  std::vector<std::string> error_lines;
  // The name of the first "RFC Exception: NAME" line (FUNCTION_NOT_FOUND
  // for a module the system does not know); empty when none came.
  std::string exception;
  // Lines that are neither interface nor error lines.
  std::vector<std::string> other_lines;
};

// Rows of one table as text, in the forms of vok_encode_value: the fields
// named (columns of the table's layout), then per row one text per field.
// Fields not named get their initial value.
struct Vok_Table_Rows
{
  std::vector<std::string> fields;
  std::vector<std::vector<std::string>> rows;
};

// What a call sends, as text.
struct Vok_Function_Arguments
{
  // Values of parameters the caller sends (class E): name and text. An
  // optional parameter left out is sent with its initial value; a required
  // one left out refuses the call.
  std::vector<std::pair<std::string, std::string>> values;
  // Rows of tables; a table left out is sent without lines.
  std::vector<std::pair<std::string, Vok_Table_Rows>> tables;
};

// A parameter value received, with the column that decodes it
// (vok_decode_value (value.column, value.bytes, text)).
struct Vok_Received_Value
{
  std::string name;
  Vok_Column column;
  std::string bytes;
};

// A table returned, with the layout that decodes its lines.
struct Vok_Received_Table
{
  std::string name;
  Vok_Layout layout;
  std::vector<std::string> lines;
};

// What a call produced.
struct Vok_Function_Result
{
  Vok_Function_Outcome outcome = Vok_Function_Outcome::failed;
  // ok when completed; otherwise a summary (server_error) or the problem.
  Vok_Status status;
  // The parameters the caller receives (class I), in interface order, as
  // far as they arrived.
  std::vector<Vok_Received_Value> parameters;
  // The tables that come back (not input-only), in interface order; a
  // table the module left empty has no lines.
  std::vector<Vok_Received_Table> tables;
  std::vector<std::string> error_lines;
  // The name of the first "RFC Exception: NAME" line; empty when none came.
  std::string exception;
  std::vector<std::string> other_lines;
  // Bytes received on the data connection, zero bytes included.
  std::uint64_t bytes = 0;
};

// Describes and calls RFC function modules through the VOK server.
//
// Both need the handle of a logged-on control connection (Vok_Logon),
// which must stay open meanwhile, and open connections of their own, which
// they close before they return.
//
// describe: on a request connection, <function chandle="H" metadata="Y"
// name="MODULE"/>; the server answers with the interface lines
// (Vok_Function_Interface_Parser) or error lines, and closes the connection.
//
// call: opens a data connection, then a request connection, and sends the
// mode-Y document that make_document builds. The server answers on the
// request connection "D,<parameter>,1" per received parameter, in document
// order, "D,<table>,<lines>" per returned table that is not empty, then
// "EOF"; on the data connection each value and each table line followed by
// one zero byte. A failed call is answered with error lines and the close.
//
//   Vok_Function_Call calls;
//   Vok_Function_Description described = calls.describe (host, port, control.handle (), "Z_FLIGHT_LIST");
//   Vok_Function_Arguments arguments;
//   arguments.values = {{"AIRLINE", "LH"}};
//   Vok_Function_Result result = calls.call (host, port, control.handle (), described.interface, arguments);
class Vok_Function_Call
{
public:
  explicit Vok_Function_Call (const Vok_Function_Settings &settings = {});

  Vok_Function_Description describe (const std::string &host, std::uint16_t port, const std::string &chandle,
                                     std::string_view module) const;

  // Calls the module `interface` describes. Arguments that do not fit the
  // interface fail with invalid_argument before anything is sent.
  Vok_Function_Result call (const std::string &host, std::uint16_t port, const std::string &chandle,
                            const Vok_Function_Interface &interface, const Vok_Function_Arguments &arguments) const;

  // The mode-Y document of a call, without chandle and dhandle: every
  // parameter in interface order (those sent with their value, those
  // received empty), then every table with its fields and lines. Fails with
  // invalid_argument, naming the parameter, table, row and field, for a
  // value that does not encode, a name the interface does not have for that
  // use or given twice, a row of another number of texts than fields named,
  // a required parameter left out; with bad_record for an interface that
  // fails Vok_Function_Interface::check.
  static Vok_Status make_document (const Vok_Function_Interface &interface, const Vok_Function_Arguments &arguments,
                                   Vok_Function_Document &document);

private:
  struct Description_Run;
  struct Call_Run;
  Vok_Function_Settings settings_;
};

#endif
