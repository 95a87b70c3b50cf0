#ifndef VURUDE_BASE_REQUEST_H
#define VURUDE_BASE_REQUEST_H

#include <rfclib/rfclib.h>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>

#include "vurude_handle_registry.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

class Vurude_Base_Handler;
class Vurude_Base_Request;
class Vurude_Function;
class Vurude_Parm;
class Vurude_Data_Cbf;
class Vurude_Genprog_Cbf;
class Vurude_Mdata_Cbf;
class Vurude_Ssi_Cbf;
class Vurude_Gwinfo_Cbf;
class Vurude_Grp_Connect_Cbf;
class Vurude_Grp_Function_Cbf;
class Vurude_Grp_Base_Select_Cbf;
class Vurude_Itab;

// A counted reference to a request.
class Vurude_Request_Ref
{
public:
  Vurude_Request_Ref () = default;
  explicit inline Vurude_Request_Ref (Vurude_Base_Request *request);  // takes a new reference
  Vurude_Request_Ref (const Vurude_Request_Ref &other) : Vurude_Request_Ref (other.request_) {}
  inline Vurude_Request_Ref &operator= (const Vurude_Request_Ref &other);
  ~Vurude_Request_Ref () { reset (); }

  Vurude_Base_Request *get () const { return request_; }
  Vurude_Base_Request *operator-> () const { return request_; }
  explicit operator bool () const { return request_ != nullptr; }
  inline void reset ();

private:
  Vurude_Base_Request *request_ = nullptr;
};

// One request a client sent: reads the attributes all request types share,
// finds the connections the request names, opens its own RFC connection with
// the logon data of its control connection, calls the dialog function module
// and serves what the partner calls back meanwhile, turning it into lines for
// the client and rows for its data connection. Every failure reaches the
// client as error lines.
//
// No lock: the request runs on the worker of the connection that received
// it; during a batch extraction the data connection's worker serves the
// partner's calls on it while that worker waits.
class Vurude_Base_Request
{
public:
  // Which operation answers the partner's request for the parameters.
  typedef int (Vurude_Base_Request::*Grp_Handler) (RFC_HANDLE handle);

  // Size of the logon strings, terminator included.
  static constexpr std::size_t connect_string_units = 1000;
  // Error lines: the formatted text of one line, and of one RFC error line.
  static constexpr std::size_t error_line_units = 1024;
  static constexpr std::size_t rfc_error_line_units = 256;
  // Text lines from the partner's tables are cut to this many characters.
  static constexpr std::size_t max_line_units = 256;
  static constexpr std::size_t max_function_name_units = 100;

  // Takes the parser and the document it holds; `handler` received it.
  Vurude_Base_Request (Vurude_Base_Handler *handler, xercesc::XercesDOMParser *parser);
  Vurude_Base_Request (const Vurude_Base_Request &) = delete;
  Vurude_Base_Request &operator= (const Vurude_Base_Request &) = delete;

  // Counted: the connection that received the request holds the first
  // reference, each request of the same logon one more while it runs; the
  // last reference deletes the request.
  void add_reference () { references_.fetch_add (1, std::memory_order_relaxed); }
  void remove_reference ()
  {
    if (references_.fetch_sub (1, std::memory_order_acq_rel) == 1)
      delete this;
  }

  // Request phases, driven by the connection handler in this order.
  // 0 go on; -1 an error line was sent.
  virtual int parse_attributes ();
  // Calls the dialog function module and serves its callbacks; the
  // result ends the connection's service unless it is 0.
  virtual int call_req_function ();

  // Registers an RFC server program at a gateway (handle null: returns the
  // registered connection, or null with `message` set) or closes such a
  // registration (handle given: returns null).
  virtual RFC_HANDLE rfcaccept_function (const char16_t *program_id, const char16_t *gateway_host,
                                         const char16_t *gateway_service, char16_t flag,
                                         std::u16string &message, RFC_HANDLE handle);

  // Serving the partner's calls. Each returns 0, or the failing code after
  // sending its own error line.
  virtual int receive_loop (RFC_HANDLE handle);
  virtual int dispatch_callback (RFC_HANDLE handle);
  virtual int grp_default (RFC_HANDLE handle);
  virtual int handle_grpconn (RFC_HANDLE handle);
  virtual int handle_grpssel (RFC_HANDLE handle);
  virtual int handle_grpnsel (RFC_HANDLE handle);
  virtual int handle_grpgsel (RFC_HANDLE handle);
  virtual int handle_grpfunc (RFC_HANDLE handle);
  virtual int handle_grp_bcompat (RFC_HANDLE handle);
  virtual int handle_system_info (RFC_HANDLE handle);
  virtual int handle_mdata (RFC_HANDLE handle);
  virtual int send_mdata (RFC_HANDLE handle);
  virtual int handle_genprog (RFC_HANDLE handle);
  // The request's RFC connection, opened on first use; null after a
  // failure, which error_info then describes.
  virtual RFC_HANDLE open_rfc ();
  virtual int handle_data_chunk (RFC_HANDLE handle);
  // Writes one received chunk of rows; called on the request that owns the
  // data connection.
  virtual int deliver_chunk (RFC_HANDLE handle, Vurude_Data_Cbf *chunk);
  virtual int handle_batch_callrfc1 (RFC_HANDLE handle);
  virtual int handle_batch_callrfc2 (RFC_HANDLE handle);
  virtual int handle_parameter_table (RFC_HANDLE handle);
  virtual int handle_batch_callback1 (RFC_HANDLE handle);
  virtual int handle_batch_callback2 (RFC_HANDLE handle);
  // Reports the outcome of a receive as error lines.
  virtual int check_rfc_result (Vurude_Function *function, int code);

  // Attributes of the request document's root element
  // The first character of the attribute, upper-cased; `fallback` when the
  // attribute is absent or empty.
  char16_t flag_attribute (const char16_t *name, char16_t fallback) const;
  // The handler whose handle the attribute names; empty when the
  // attribute is empty or no connection has that handle.
  Vurude_Handler_Ref lookup_handle (const char16_t *name) const;
  // The attribute's value; empty when absent.
  std::u16string attribute (const char16_t *name) const;

  // A value as it goes between the quotes of a connect-string pair: a
  // quote inside is written twice.
  static std::u16string connect_string_value (std::u16string_view value);

  // Names of the logon's ABAP programs (asked of the connect request).
  const std::u16string &dialog_function_name ();
  const std::u16string &read_report_name ();

  // The data connection's handle the partner is to send rows to.
  std::u16string get_grp_dh ();

  // Select statements, written into the statement table JDATA and the
  // field table MDATA (lines of 72 characters) for the read report.
  // One clause kind: its header line in JDATA (0: none yet) and the
  // element lines under it.
  struct Clause_Counter
  {
    unsigned header_line;
    int count;
  };
  enum Clause
  {
    CLAUSE_WHERE,
    CLAUSE_GROUPBY,
    CLAUSE_HAVING,
    CLAUSE_ORDERBY,
    CLAUSE_ON,
    CLAUSE_KINDS
  };
  // The kind line: the root's name, ",Y" added for a distinct statement.
  void encode_kind (Vurude_Itab &jdata);
  // One statement: its first table, its clauses, its fields.
  void encode_select (xercesc::DOMElement *statement, Vurude_Itab &jdata, Vurude_Itab &mdata);
  // Every descendant `tag` of `element` as one line under `header_format`.
  void encode_clause (xercesc::DOMElement *element, const char16_t *tag, const char *header_format,
                      Clause_Counter &counter, Vurude_Itab &jdata);
  // The where, groupby, having and orderby sections of `element`.
  void encode_clauses (xercesc::DOMElement *element, Vurude_Itab &jdata);
  // The T line of a table element; false when its name is empty.
  bool encode_table (xercesc::DOMElement *table, Vurude_Itab &jdata, std::u16string &name);
  // Name of a table element (null when empty), its alias and join.
  const XMLCh *table_attributes (xercesc::DOMElement *table, std::u16string &alias, std::u16string &join);
  // The values of a node's children, concatenated.
  static std::u16string element_text (xercesc::DOMNode *node);
  void encode_fields (xercesc::DOMElement *element, Vurude_Itab &mdata, std::u16string_view default_table);
  void clear_counters ();
  void add_clause_line (const char *header_format, std::u16string_view text, Vurude_Itab &jdata,
                        Clause_Counter &counter);
  Clause_Counter &clause_counter (Clause kind) { return clause_counters[kind]; }

  // Error lines. A null target is the request handler; a null info is
  // error_info.
  int send_error_line (std::u16string_view text, int width = 0, Vurude_Base_Handler *target = nullptr);
  int send_error_line (const char *text, int width = 0, Vurude_Base_Handler *target = nullptr);
  void report_rfc_error (Vurude_Base_Handler *target = nullptr, const RFC_ERROR_INFO_EX *info = nullptr);
  void report_rfc_exception (std::u16string_view name, Vurude_Base_Handler *target = nullptr);
  // One text line: at most 256 characters, trailing blanks removed (the
  // first character is kept), then a line feed.
  int send_line (const char16_t *text, std::size_t length, Vurude_Base_Handler *target = nullptr);
  // Every line of a table of text lines, each as one text line.
  void send_lines (const Vurude_Itab *table, Vurude_Base_Handler *target = nullptr);

  // Accessors
  RFC_HANDLE get_rfc_handle () const { return rfc_handle; }
  char16_t get_data_flag () const { return data_flag; }
  char16_t get_metadata_flag () const { return metadata_flag; }
  char16_t get_batch_flag () const { return batch_flag; }
  char16_t get_debug_flag () const { return debug_flag; }
  Vurude_Base_Handler *get_handler () const { return handler; }
  Vurude_Base_Handler *get_chandle_handler () const { return chandle_handler; }
  Vurude_Base_Handler *get_data_handler () const { return data_handler; }
  // The logon this request belongs to: the current request of its control
  // connection; null without one.
  Vurude_Base_Request *connect_request () const;
  // Whether this request holds logon data (a connect request that parsed).
  bool is_logon () const { return connect_string[0] != 0 || log_connect_string[0] != 0; }
  char16_t get_data_state () const { return data_state; }
  int get_bufmax () const { return bufmax; }
  int get_killed () const { return killed; }
  Vurude_Ssi_Cbf *get_ssi_cbf () const { return ssi_cbf.get (); }
  Vurude_Gwinfo_Cbf *get_gwinfo_cbf () const { return gwinfo_cbf.get (); }
  xercesc::DOMDocument *get_document () const { return document; }
  xercesc::DOMElement *get_root () const { return root; }
  const RFC_ERROR_INFO_EX &get_error_info () const { return error_info; }

protected:
  // Receives the answer of `call`, serving every call of the partner that
  // comes first; reports a failure.
  int serve_calls (Vurude_Function &call, RFC_HANDLE handle);

  // Frees what the request owns and closes its RFC connection.
  virtual ~Vurude_Base_Request ();

  Grp_Handler grp_handler;
  std::unique_ptr<xercesc::XercesDOMParser> parser;
  xercesc::DOMDocument *document;
  xercesc::DOMElement *root;
  std::unique_ptr<std::u16string> encrypted_password;
  char16_t connect_string[connect_string_units];
  char16_t log_connect_string[connect_string_units];
  Vurude_Base_Handler *handler;
  Vurude_Base_Handler *chandle_handler;
  Vurude_Base_Handler *data_handler;
  char16_t data_flag;
  char16_t metadata_flag;
  char16_t batch_flag;
  char16_t debug_flag;
  std::u16string abapfm;
  std::u16string abapprog;
  std::unique_ptr<Vurude_Grp_Connect_Cbf> grp_connect_cbf;
  std::unique_ptr<Vurude_Grp_Base_Select_Cbf> grp_sselect_cbf;
  std::unique_ptr<Vurude_Grp_Base_Select_Cbf> grp_nselect_cbf;
  std::unique_ptr<Vurude_Grp_Base_Select_Cbf> grp_gselect_cbf;
  std::unique_ptr<Vurude_Grp_Function_Cbf> grp_function_cbf;
  RFC_HANDLE rfc_handle;
  RFC_ERROR_INFO_EX error_info;
  std::unique_ptr<Vurude_Data_Cbf> data_cbf;
  std::unique_ptr<Vurude_Genprog_Cbf> genprog_cbf;
  std::unique_ptr<Vurude_Mdata_Cbf> mdata_cbf;
  std::unique_ptr<Vurude_Ssi_Cbf> ssi_cbf;
  std::unique_ptr<Vurude_Gwinfo_Cbf> gwinfo_cbf;
  std::unique_ptr<Vurude_Function> main_function;
  std::unique_ptr<Vurude_Parm> pdest_parm;
  std::unique_ptr<Vurude_Parm> preport_parm;
  std::unique_ptr<Vurude_Parm> pvariant_parm;
  std::unique_ptr<Vurude_Parm> pbufmax_parm;
  char16_t data_state;
  Clause_Counter clause_counters[CLAUSE_KINDS];
  std::unique_ptr<std::u16string> jobno_key;
  char16_t pbufmax_value[2];
  int killed;
  int bufmax;

private:
  // Hold the connections and the logon this request names while it runs,
  // so none of them is deleted under it; empty where the request names its
  // own connection, which must not hold itself.
  Vurude_Handler_Ref chandle_ref_;
  Vurude_Handler_Ref data_ref_;
  Vurude_Request_Ref connect_ref_;
  std::atomic<long> references_;
  // Values the export parameters of the dialog call point at.
  char16_t pdest_value_[8];
  std::u16string preport_value_;
  std::u16string pvariant_value_;
};

inline Vurude_Request_Ref::Vurude_Request_Ref (Vurude_Base_Request *request)
  : request_ (request)
{
  if (request_)
    request_->add_reference ();
}

inline Vurude_Request_Ref &Vurude_Request_Ref::operator= (const Vurude_Request_Ref &other)
{
  if (this != &other)
    {
      Vurude_Request_Ref copy (other);
      std::swap (request_, copy.request_);
    }
  return *this;
}

inline void Vurude_Request_Ref::reset ()
{
  if (request_)
    request_->remove_reference ();
  request_ = nullptr;
}

#endif
