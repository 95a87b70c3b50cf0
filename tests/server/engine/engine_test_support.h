#ifndef VURUDE_ENGINE_TEST_SUPPORT_H
#define VURUDE_ENGINE_TEST_SUPPORT_H

// What the request engine's tests share: connections whose server side is a
// real main-port handler over a socket pair (the test holds the client's
// end), requests built from documents parsed with the server's own prologs,
// and an in-process RFC gateway that plays the partner system: it takes the
// logons, and for every dialog call runs a script of functions it calls
// back on the server before it answers.
#include "vurude_base_request.h"
#include "vurude_v9_handler.h"
#include "vurude_v9connect_request.h"
#include "vurude_v9sselect_request.h"

#include <rfclib/rfc_gateway.h>
#include <rfclib/rfclib.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Options, XML library and RFC library, once per process. The name prefix
// is "/TST/" and the variant "MYVAR".
void set_up_engine ();

std::string u8 (std::u16string_view text);
std::u16string u16 (std::string_view text);

// A main-port handler named and registered as an accepted one is, without a
// reactor registration or a worker thread.
class Test_Handler : public Vurude_V9_Handler
{
public:
  Test_Handler () { register_handle (); }
};

// One client connection. The handler lets go of itself when the object
// goes (as its worker would end it); requests still using it keep it alive.
class Client_Connection
{
public:
  Client_Connection ();
  ~Client_Connection ();
  Client_Connection (const Client_Connection &) = delete;
  Client_Connection &operator= (const Client_Connection &) = delete;

  Test_Handler &handler () const { return *handler_; }
  std::string handle () const { return u8 (handler_->handle_name ()); }
  // Everything the server has sent so far (it writes before it returns).
  std::string take ();
  // Whether the server has shut its sending side; reads what is left.
  bool sending_ended ();
  // The client goes away.
  void close_client ();

private:
  Test_Handler *handler_;
  int client_;
};

// Request classes with their state open to the tests.
class Connect_Peer : public Vurude_V9connect_Request
{
public:
  using Vurude_V9connect_Request::Vurude_V9connect_Request;
  std::u16string connect_text () const { return connect_string; }
  std::u16string log_text () const { return log_connect_string; }
  const std::u16string *encrypted () const { return encrypted_password.get (); }
};

// The request base alone: its call's result is not turned into 13 as the
// select requests turn it.
class Base_Request_Peer : public Vurude_Base_Request
{
public:
  using Vurude_Base_Request::Vurude_Base_Request;
};

class Sselect_Peer : public Vurude_V9sselect_Request
{
public:
  using Vurude_V9sselect_Request::Vurude_V9sselect_Request;
  void set_data_state (char16_t state) { data_state = state; }
};

// Parses `document` as a request text and makes it the current request of
// `connection`, as the main-port handler does; null (and a failure) when the
// document does not parse.
template <typename Request>
Request *attach (Client_Connection &connection, std::string_view document);

// The partner system's side of one exchange: a value it passes or expects
// back (then `bytes` is its buffer, filled with 0xAA), a table it passes.
struct Value
{
  std::u16string name;
  RFC_TYPEHANDLE type;
  std::string bytes;
};

Value text_value (std::u16string name, std::u16string_view text);
Value answer_buffer (std::u16string name, std::size_t bytes);
// The value's bytes as text, trailing blanks removed.
std::u16string text_of (const Value &value);

// A table the partner passes; after the call, its lines as answered.
struct Table
{
  std::u16string name;
  RFC_TYPEHANDLE type;
  unsigned line_bytes;
  std::vector<std::string> lines;
};

std::string bytes_of (std::u16string_view text);

// One function the partner calls back while the dialog call runs, and how
// that went.
struct Callback
{
  std::u16string function;
  std::vector<Value> exporting;
  std::vector<Table> tables;
  std::vector<Value> importing;
  int rc = -1;
  std::u16string exception;
  std::u16string error_message;
  std::vector<Value> answers;
};

// What the partner does with one dialog call, and what it got.
struct Dialog
{
  std::vector<Callback> callbacks;
  // The exception the dialog function ends with; empty: it returns.
  std::u16string raise;
  std::u16string called;
  std::u16string pdest;
};

struct Seen_Logon
{
  std::u16string user;
  std::u16string password;
};

class Sap_Partner
{
public:
  Sap_Partner ();
  ~Sap_Partner ();
  Sap_Partner (const Sap_Partner &) = delete;
  Sap_Partner &operator= (const Sap_Partner &) = delete;

  bool running () const { return gateway_ != nullptr; }
  std::string port () const;
  // Logon attributes of a connect document that reach this partner.
  std::string logon_attributes () const;

  // The script of the next dialog call; calls without one return at once.
  void expect (Dialog dialog);
  // The dialog calls ended so far, waiting up to 10 s for `count` of them.
  std::vector<Dialog> dialogs (std::size_t count);
  std::vector<Seen_Logon> logons ();

  // Code page the partner reports for itself.
  static constexpr char16_t codepage[] = u"4102";

private:
  static int check_logon (void *context, const RFC_GW_LOGON_DATA *logon, RFC_ATTRIBUTES *attributes,
                          RFC_ERROR_INFO_EX *refusal);
  static void serve (void *context, RFC_HANDLE handle, const RFC_GW_LOGON_DATA *logon);
  // One dialog call; false when the connection broke.
  bool run_dialog (RFC_HANDLE handle, Dialog &dialog);
  void finish (Dialog dialog);

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Dialog> scripts_;
  std::vector<Dialog> done_;
  std::vector<Seen_Logon> logons_;
  RFC_GATEWAY gateway_;
};

// Fixture of the tests that use the partner.
class Partner_Test : public testing::Test
{
protected:
  Partner_Test () { set_up_engine (); }
  void SetUp () override { ASSERT_TRUE (partner.running ()); }

  // A logged-on control connection: its connect request parsed, with the
  // partner's logon data and `extra` attributes.
  Connect_Peer *log_on (Client_Connection &control, const std::string &extra = "");

  Sap_Partner partner;
};

// Template definitions

// The validating parse of the server; the parser holding the document, or
// null after a failure.
xercesc::XercesDOMParser *parse_document (std::string_view document);

template <typename Request>
Request *attach (Client_Connection &connection, std::string_view document)
{
  xercesc::XercesDOMParser *parser = parse_document (document);
  if (!parser)
    return nullptr;
  auto *request = new Request (&connection.handler (), parser);
  connection.handler ().set_request (request);
  return request;
}

#endif
