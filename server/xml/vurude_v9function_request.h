#ifndef VURUDE_V9FUNCTION_REQUEST_H
#define VURUDE_V9FUNCTION_REQUEST_H

#include "vurude_base_request.h"
#include "vurude_data_cbf.h"
#include "vurude_parm.h"
#include "vurude_tabparm.h"

#include <rfclib/rfclib.h>

#include <memory>
#include <vector>

// A function document: calls one RFC function module. With data N the
// logon's dialog module runs it and answers through callbacks, and the
// connection ends; with data Y the server calls the module itself with the
// document's parameters and tables, answers "D" lines on this connection and
// the values and rows on the data connection, and the connection stays open
// for the next document. All function requests of one logon share one RFC
// connection, and use it one at a time.
class Vurude_V9function_Request : public Vurude_Base_Request
{
public:
  // Largest value or table line a document may declare (intlen).
  static constexpr long max_intlen = 16 * 1024 * 1024;

  using Vurude_Base_Request::Vurude_Base_Request;

  // Vurude_Base_Request
  int parse_attributes () override;
  int call_req_function () override;
  // The logon's shared connection, opened by the first function request.
  RFC_HANDLE open_rfc () override;
  // Rows for any connection named by its handle, with their "D" line.
  int handle_data_chunk (RFC_HANDLE handle) override;
  int deliver_chunk (RFC_HANDLE handle, Vurude_Data_Cbf *chunk) override;
  // The lines of one of this request's tables, for the called module.
  int handle_parameter_table (RFC_HANDLE handle) override;
  // After a system failure the logon gets a new shared connection.
  int check_rfc_result (Vurude_Function *function, int code) override;

protected:
  ~Vurude_V9function_Request () override;

private:
  // Builds the parameters and tables of the document into main_function;
  // 0, or the result of the request after its error reply.
  int build_call ();
  int add_parameter (std::size_t index, xercesc::DOMElement *parameter);
  int add_table (std::size_t index, xercesc::DOMElement *table);
  // The line type of a table: an installed structure, or raw bytes.
  RFC_TYPEHANDLE line_type (xercesc::DOMElement *table);
  // Sends the importing parameters and returned tables after the call.
  void send_results ();
  // The intlen of a parameter or table; -1 after the error reply.
  long read_intlen (xercesc::DOMElement *element, const char *kind);

  std::unique_ptr<Vurude_Data_Cbf> callrfc_cbf;
  std::vector<std::unique_ptr<Vurude_Parm>> parms;
  std::vector<std::unique_ptr<Vurude_Tabparm>> tabparms;
  std::vector<int> returned;
  std::size_t child_count = 0;
  // Importing parameters and tables in document order.
  std::vector<Vurude_Parm *> imports_;
  std::vector<Vurude_Tabparm *> tables_;
};

#endif
