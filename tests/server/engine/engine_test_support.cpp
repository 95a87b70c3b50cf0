#include "engine_test_support.h"

#include "nt_vurude_service_options.h"
#include "utf16_text.h"
#include "xmldoc_test_support.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

void set_up_engine ()
{
  static std::once_flag once;
  std::call_once (once, [] {
    // The options' transcoder lives until the process ends, so the XML
    // library stays initialised as long.
    initialise_xml ();
    std::string words[] = {"vurude_engine_test", "-N", "/tst/", "-V", "myvar"};
    char *argv[] = {words[0].data (), words[1].data (), words[2].data (), words[3].data (), words[4].data (),
                    nullptr};
    OPTIONS::instance ()->parse_args (5, argv, 1);
    RfcInit ();
  });
}

std::string u8 (std::u16string_view text)
{
  return utf8_from_utf16 (text);
}

std::u16string u16 (std::string_view text)
{
  return utf16_from_utf8 (text);
}

// Connections

Client_Connection::Client_Connection ()
  : handler_ (new Test_Handler),
    client_ (-1)
{
  int fds[2];
  if (::socketpair (AF_UNIX, SOCK_STREAM, 0, fds) != 0)
    {
      ADD_FAILURE () << "no socket pair";
      return;
    }
  handler_->peer ().set_handle (fds[0]);
  client_ = fds[1];
}

Client_Connection::~Client_Connection ()
{
  close_client ();
  handler_->handle_close (ACE_INVALID_HANDLE, ACE_Event_Handler::ALL_EVENTS_MASK);
}

std::string Client_Connection::take ()
{
  std::string bytes;
  char buffer[4096];
  for (;;)
    {
      const ssize_t n = ::recv (client_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n <= 0)
        break;
      bytes.append (buffer, static_cast<std::size_t> (n));
    }
  return bytes;
}

bool Client_Connection::sending_ended ()
{
  take ();
  char byte;
  return ::recv (client_, &byte, 1, MSG_DONTWAIT | MSG_PEEK) == 0;
}

void Client_Connection::close_client ()
{
  if (client_ >= 0)
    ::close (client_);
  client_ = -1;
}

xercesc::XercesDOMParser *parse_document (std::string_view document)
{
  Parse_Outcome outcome = parse_request (document);
  if (outcome.result != 0 || !outcome.parser)
    {
      std::string replies;
      for (const std::string &reply : outcome.replies)
        replies += reply + "\n";
      ADD_FAILURE () << "does not parse: " << document << "\n" << replies;
      return nullptr;
    }
  return outcome.parser.release ();
}

// Values and tables of the partner

std::string bytes_of (std::u16string_view text)
{
  std::string bytes (2 * text.size (), '\0');
  std::memcpy (bytes.data (), text.data (), bytes.size ());
  return bytes;
}

Value text_value (std::u16string name, std::u16string_view text)
{
  return {std::move (name), RFCTYPE_CHAR, bytes_of (text)};
}

Value answer_buffer (std::u16string name, std::size_t bytes)
{
  return {std::move (name), RFCTYPE_CHAR, std::string (bytes, '\xAA')};
}

std::u16string text_of (const Value &value)
{
  std::u16string text (value.bytes.size () / 2, u'\0');
  std::memcpy (text.data (), value.bytes.data (), 2 * text.size ());
  return std::u16string (utf16_trim_right (text));
}

namespace
{
void call_back (Callback &callback, RFC_HANDLE h)
{
  std::vector<RFC_PARAMETER> exporting;
  for (Value &v : callback.exporting)
    exporting.push_back ({v.name.c_str (), 0, v.type, static_cast<unsigned> (v.bytes.size ()), v.bytes.data ()});
  exporting.push_back ({});
  std::vector<RFC_PARAMETER> importing;
  for (Value &v : callback.importing)
    importing.push_back ({v.name.c_str (), 0, v.type, static_cast<unsigned> (v.bytes.size ()), v.bytes.data ()});
  importing.push_back ({});
  std::vector<RFC_TABLE> tables;
  for (const Table &t : callback.tables)
    {
      const ITAB_H handle = ItCreate (t.name.c_str (), t.line_bytes, static_cast<unsigned> (t.lines.size ()), 0);
      for (const std::string &line : t.lines)
        std::memcpy (ItAppLine (handle), line.data (), std::min<std::size_t> (line.size (), t.line_bytes));
      tables.push_back ({t.name.c_str (), 0, t.type, t.line_bytes, handle, 0, 0});
    }
  tables.push_back ({});

  SAP_UC *exception = nullptr;
  RFC_RC rc = RfcCall (h, callback.function.c_str (), exporting.data (), tables.data ());
  if (rc == RFC_OK)
    rc = RfcReceive (h, importing.data (), tables.data (), &exception);
  callback.rc = rc;
  if (exception)
    callback.exception = exception;
  if (rc == RFC_FAILURE || rc == RFC_SYS_EXCEPTION)
    {
      RFC_ERROR_INFO_EX error {};
      RfcLastErrorEx (&error);
      callback.error_message = error.message;
    }
  callback.answers = callback.importing;
  for (std::size_t i = 0; i < callback.tables.size (); ++i)
    {
      // The tables as the server answered them.
      std::vector<std::string> &lines = callback.tables[i].lines;
      lines.clear ();
      const ITAB_H handle = tables[i].ithandle;
      for (unsigned k = 1; handle && k <= ItFill (handle); ++k)
        lines.emplace_back (static_cast<const char *> (ItGetLine (handle, k)), ItLeng (handle));
    }
  for (RFC_TABLE &t : tables)
    if (t.ithandle)
      ItDelete (t.ithandle);
}
}

// The partner

Sap_Partner::Sap_Partner ()
  : gateway_ (nullptr)
{
  set_up_engine ();
  RFC_GW_CONFIG config {};
  config.bind_address = "127.0.0.1";
  config.logon_check = check_logon;
  config.serve = serve;
  config.context = this;
  gateway_ = RfcGwStart (&config, nullptr);
}

Sap_Partner::~Sap_Partner ()
{
  if (gateway_)
    RfcGwStop (gateway_);
}

std::string Sap_Partner::port () const
{
  return std::to_string (RfcGwPort (gateway_));
}

std::string Sap_Partner::logon_attributes () const
{
  return "gwhost=\"127.0.0.1\" gwserv=\"" + port () + "\" client=\"001\" user=\"TEST\" lang=\"E\"";
}

void Sap_Partner::expect (Dialog dialog)
{
  std::lock_guard<std::mutex> guard (lock_);
  scripts_.push_back (std::move (dialog));
}

std::vector<Dialog> Sap_Partner::dialogs (std::size_t count)
{
  std::unique_lock<std::mutex> guard (lock_);
  changed_.wait_for (guard, std::chrono::seconds (10), [&] { return done_.size () >= count; });
  return done_;
}

std::vector<Seen_Logon> Sap_Partner::logons ()
{
  std::lock_guard<std::mutex> guard (lock_);
  return logons_;
}

int Sap_Partner::check_logon (void *context, const RFC_GW_LOGON_DATA *logon, RFC_ATTRIBUTES *attributes,
                              RFC_ERROR_INFO_EX *)
{
  Sap_Partner &self = *static_cast<Sap_Partner *> (context);
  std::copy_n (codepage, 5, attributes->partner_codepage);
  std::lock_guard<std::mutex> guard (self.lock_);
  if (logon->kind == RFC_GW_LOGON)
    self.logons_.push_back ({logon->user, logon->password});
  return 0;
}

void Sap_Partner::serve (void *context, RFC_HANDLE h, const RFC_GW_LOGON_DATA *)
{
  Sap_Partner &self = *static_cast<Sap_Partner *> (context);
  for (;;)
    {
      const RFC_RC waited = RfcWaitForRequest (h, 60);
      if (waited == RFC_RETRY)
        continue;
      if (waited != RFC_OK)
        return;
      Dialog dialog;
      {
        std::lock_guard<std::mutex> guard (self.lock_);
        if (!self.scripts_.empty ())
          {
            dialog = std::move (self.scripts_.front ());
            self.scripts_.pop_front ();
          }
      }
      if (!self.run_dialog (h, dialog))
        return;
    }
}

bool Sap_Partner::run_dialog (RFC_HANDLE h, Dialog &dialog)
{
  SAP_UC name[RFC_LONG_FUNCNAME_LN + 1] = {};
  RfcGetLongNameEx (h, name, RFC_LONG_FUNCNAME_LN + 1);
  dialog.called = name;
  char16_t pdest[4] = {};
  RFC_PARAMETER importing[] = {{u"PDEST", 0, RFCTYPE_CHAR, sizeof pdest, pdest}, {}};
  if (RfcGetData (h, importing, nullptr) != RFC_OK)
    {
      finish (std::move (dialog));
      return false;
    }
  dialog.pdest = std::u16string (utf16_trim_right (std::u16string_view (pdest, 4)));
  for (Callback &callback : dialog.callbacks)
    {
      call_back (callback, h);
      if (callback.rc != RFC_OK && callback.rc != RFC_EXCEPTION)
        {
          finish (std::move (dialog));
          return false;
        }
    }
  const std::u16string raise = dialog.raise;
  // Kept before the answer, on which the server's call returns.
  finish (std::move (dialog));
  const RFC_RC answered = raise.empty () ? RfcSendData (h, nullptr, nullptr) : RfcRaise (h, raise.c_str ());
  return answered == RFC_OK;
}

void Sap_Partner::finish (Dialog dialog)
{
  std::lock_guard<std::mutex> guard (lock_);
  done_.push_back (std::move (dialog));
  changed_.notify_all ();
}

Connect_Peer *Partner_Test::log_on (Client_Connection &control, const std::string &extra)
{
  Connect_Peer *logon
    = attach<Connect_Peer> (control, "<connect " + partner.logon_attributes () + " passwd=\"pw\" " + extra + "/>");
  if (logon && logon->parse_attributes () != 0)
    ADD_FAILURE () << "the connect request does not parse its attributes";
  return logon;
}
