#include "vurude_base_request.h"

#include "nt_vurude_service_options.h"
#include "utf16_text.h"
#include "vurude_base_handler.h"
#include "vurude_data_cbf.h"
#include "vurude_function.h"
#include "vurude_genprog_cbf.h"
#include "vurude_grp_base_select_cbf.h"
#include "vurude_grp_connect_cbf.h"
#include "vurude_grp_function_cbf.h"
#include "vurude_gwinfo_cbf.h"
#include "vurude_mdata_cbf.h"
#include "vurude_parm.h"
#include "vurude_ssi_cbf.h"
#include "vurudedc.h"

#include <ace/Log_Msg.h>
#include <ace/Message_Block.h>

#include <xercesc/dom/DOMAttr.hpp>

#include <algorithm>
#include <cstring>

namespace
{
// The error record of a password that does not decode, and of logon data
// that does not fit the connect string.
constexpr int logon_error_group = 101;

void set_logon_error (RFC_ERROR_INFO_EX &info, std::u16string_view message)
{
  info = RFC_ERROR_INFO_EX ();
  info.group = logon_error_group;
  utf16_copy (info.key, RFC_ERROR_KEY_LN + 1, u"RFC_ERROR_PROGRAM");
  utf16_copy (info.message, RFC_ERROR_MESSAGE_LN + 1, message);
}

// At most units - 1 characters: what a line buffer of `units` holds.
std::u16string bounded (std::u16string_view text, std::size_t units)
{
  return std::u16string (text.substr (0, units - 1));
}

// Overwrites a secret before its memory is given back.
void wipe (void *data, std::size_t bytes)
{
  volatile unsigned char *p = static_cast<volatile unsigned char *> (data);
  while (bytes--)
    *p++ = 0;
}
}

Vurude_Base_Request::Vurude_Base_Request (Vurude_Base_Handler *request_handler,
                                          xercesc::XercesDOMParser *document_parser)
  : grp_handler (&Vurude_Base_Request::grp_default),
    parser (document_parser),
    document (document_parser ? document_parser->getDocument () : nullptr),
    root (document ? document->getDocumentElement () : nullptr),
    connect_string (),
    log_connect_string (),
    handler (request_handler),
    chandle_handler (nullptr),
    data_handler (request_handler),
    data_flag (0),
    metadata_flag (0),
    batch_flag (0),
    debug_flag (0),
    rfc_handle (RFC_HANDLE_NULL),
    error_info (),
    data_state (u'N'),
    clause_counters (),
    pbufmax_value (),
    killed (0),
    bufmax (0),
    references_ (1),
    pdest_value_ ()
{
  abapfm = attribute (u"abapfm");
  abapprog = attribute (u"abapprog");
}

Vurude_Base_Request::~Vurude_Base_Request ()
{
  if (rfc_handle != RFC_HANDLE_NULL)
    RfcClose (rfc_handle);
  // The callback objects and the dialog call refer to tables and values of
  // the RFC connection: they go first, the parser and its document last.
  main_function.reset ();
}

// Attributes of the request document

std::u16string Vurude_Base_Request::attribute (const char16_t *name) const
{
  if (!root)
    return std::u16string ();
  const XMLCh *value = root->getAttribute (name);
  return value ? std::u16string (value) : std::u16string ();
}

char16_t Vurude_Base_Request::flag_attribute (const char16_t *name, char16_t fallback) const
{
  const std::u16string value = attribute (name);
  const std::u16string upper = utf16_upper (value.empty () ? std::u16string (1, fallback) : value.substr (0, 1));
  return upper.empty () ? fallback : upper[0];
}

Vurude_Handler_Ref Vurude_Base_Request::lookup_handle (const char16_t *name) const
{
  const std::u16string value = attribute (name);
  if (value.empty ())
    return Vurude_Handler_Ref ();
  return VURUDE_HANDLER_REGISTRY::instance ()->find (value);
}

Vurude_Base_Request *Vurude_Base_Request::connect_request () const
{
  if (chandle_handler == handler)
    return const_cast<Vurude_Base_Request *> (this);
  return connect_ref_.get ();
}

int Vurude_Base_Request::parse_attributes ()
{
  grp_handler = &Vurude_Base_Request::grp_default;

  chandle_ref_ = lookup_handle (u"chandle");
  // A connection that holds no logon cannot lend one.
  Vurude_Request_Ref logon;
  if (chandle_ref_)
    logon = chandle_ref_.get () == handler ? Vurude_Request_Ref (this) : chandle_ref_->current_request ();
  if (!logon || !logon->is_logon ())
    {
      chandle_ref_.reset ();
      send_error_line ("chandle is invalid");
      return -1;
    }
  chandle_handler = chandle_ref_.get ();
  if (chandle_handler == handler)
    chandle_ref_.reset ();
  else
    connect_ref_ = logon;

  // The data connection of an earlier request ends, unless this request
  // names it again: hanging it up then raced with finding it, and the rows
  // went to this connection when the hang-up won.
  Vurude_Handler_Ref data = lookup_handle (u"dhandle");
  if (handler->partner && handler->partner.get () != data.get ())
    {
      Vurude_Handler_Ref previous = handler->partner;
      previous->cancel_on_close = 1;
      previous->cancel_worker ();
      previous->hangup ();
      handler->partner.reset ();
    }

  if (data && data.get () != handler)
    {
      data_handler = data.get ();
      data_handler->set_owner (handler);
      data_handler->cancel_on_close = 0;
      handler->partner = data;
      data_ref_ = data;
    }

  data_flag = flag_attribute (u"data", u'N');
  metadata_flag = flag_attribute (u"metadata", u'N');
  batch_flag = flag_attribute (u"batch", u'N');
  const std::u16string vokdebug = connect_request ()->attribute (u"vokdebug");
  debug_flag = vokdebug.empty () ? u' ' : utf16_upper (vokdebug.substr (0, 1))[0];
  return 0;
}

std::u16string Vurude_Base_Request::connect_string_value (std::u16string_view value)
{
  std::u16string quoted;
  quoted.reserve (value.size ());
  for (char16_t c : value)
    {
      quoted += c;
      if (c == u'"')
        quoted += c;
    }
  return quoted;
}

// Names of the logon's ABAP programs

const std::u16string &Vurude_Base_Request::dialog_function_name ()
{
  if (abapfm.empty ())
    abapfm = OPTIONS::instance ()->name_prefix () + u"Z_VOK_DIALOG";
  if (abapfm.size () > max_function_name_units)
    abapfm.resize (max_function_name_units);
  return abapfm;
}

const std::u16string &Vurude_Base_Request::read_report_name ()
{
  Vurude_Base_Request *logon = connect_request ();
  if (logon && logon != this && !logon->abapprog.empty ())
    abapprog = logon->abapprog;
  if (abapprog.empty ())
    abapprog = OPTIONS::instance ()->name_prefix () + u"Z_VOK_READ";
  if (abapprog.size () > max_function_name_units)
    abapprog.resize (max_function_name_units);
  return abapprog;
}

// The RFC connection

RFC_HANDLE Vurude_Base_Request::open_rfc ()
{
  if (rfc_handle != RFC_HANDLE_NULL)
    return rfc_handle;
  const Vurude_Base_Request *logon = connect_request ();

  // Room for all of it at once: a reallocation would leave a copy of the
  // password behind in freed memory.
  std::u16string connect_text;
  connect_text.reserve (connect_string_units + 2 * decoded_password_size + 32);
  connect_text = logon->connect_string;
  std::u16string log_text (logon->log_connect_string);
  if (logon->encrypted_password)
    {
      char password[decoded_password_size];
      if (decode_password (password, *logon->encrypted_password) == 0)
        {
          set_logon_error (error_info, u"Invalid encrypted password from VOK");
          return RFC_HANDLE_NULL;
        }
      connect_text += u"passwd=\"";
      for (const char *p = password; *p; ++p)
        {
          connect_text += static_cast<char16_t> (static_cast<unsigned char> (*p));
          if (*p == '"')
            connect_text += u'"';
        }
      connect_text += u"\" ";
      log_text += u"passwd=\"????????\" ";
      wipe (password, sizeof password);
    }
  connect_text += u"lcheck=1";
  log_text += u"lcheck=1";

  RFC_HANDLE opened = RFC_HANDLE_NULL;
  if (connect_text.size () >= connect_string_units)
    set_logon_error (error_info, u"Logon data too long for the connect string");
  else
    {
      // The values are the client's: no control character of theirs may
      // end the log line and forge the next.
      for (char16_t &c : log_text)
        if (c < u' ' || c == 0x7F)
          c = u'?';
      ACE_DEBUG ((LM_NOTICE, "%D(%P|%t) About to RfcOpenEx with '%s'\n",
                  utf8_from_utf16 (log_text).c_str ()));
      opened = RfcOpenEx (connect_text.c_str (), &error_info);
    }
  wipe (connect_text.data (), connect_text.size () * sizeof (char16_t));
  rfc_handle = opened;
  return rfc_handle;
}

// The dialog call

int Vurude_Base_Request::call_req_function ()
{
  Vurude_Base_Request *logon = connect_request ();
  Vurude_Ssi_Cbf *ssi = logon->get_ssi_cbf ();
  main_function = std::make_unique<Vurude_Function> (logon->dialog_function_name ().c_str ());
  utf16_copy (pdest_value_, 4 + 1, u"BACK");
  pdest_parm = std::make_unique<Vurude_Parm> (u"PDEST", pdest_value_, 8, RFCTYPE_CHAR);

  const bool batch = data_flag == u'Y' && batch_flag == u'Y';
  if (batch)
    {
      const std::u16string batmess (ssi ? utf16_trim_right (ssi->batmess ()) : std::u16string_view ());
      if (!batmess.empty ())
        {
          send_error_line (batmess);
          return 13;
        }
      if (OPTIONS::instance ()->variant ().empty ())
        {
          send_error_line ("Batch requested but RFC server has no variant");
          return 13;
        }
      ACE_Message_Block *start = nullptr;
      ACE_NEW_NORETURN (start, ACE_Message_Block (0, MB_START));
      if (!start || data_handler->putq (start) == -1)
        {
          if (start)
            start->release ();
          send_error_line ("Internal batch queue failure");
          return 13;
        }
      ACE_DEBUG ((LM_NOTICE, "%D(%P|%t) In Vurude_Base_Request call_req_function - acquiring dh sema\n"));
      data_handler->sema.acquire ();
      ACE_DEBUG ((LM_NOTICE, "%D(%P|%t) In Vurude_Base_Request call_req_function - acquired dh sema\n"));
      if (data_handler->batch_error != 0)
        {
          send_error_line (data_handler->batch_message);
          if (data_handler->batch_error == 1)
            report_rfc_error (handler, &data_handler->batch_error_info);
          return 13;
        }
      const std::u16string key = handler->make_mq_name (ssi->batgwh (), ssi->batgws (), ssi->batprid (), nullptr);
      Vurude_MQ *queue = nullptr;
      handler->post_mq (key, &data_handler->handle_name (), queue);

      preport_value_ = read_report_name ();
      preport_parm = std::make_unique<Vurude_Parm> (u"PREPORT", preport_value_.data (), -1, RFCTYPE_CHAR);
      pvariant_value_ = OPTIONS::instance ()->variant ();
      pvariant_parm = std::make_unique<Vurude_Parm> (u"PVARIANT", pvariant_value_.data (), -1, RFCTYPE_CHAR);
      pbufmax_value[0] = ssi->batgwfl ();
      pbufmax_parm = std::make_unique<Vurude_Parm> (u"PBUFMAX", pbufmax_value, 2, RFCTYPE_CHAR);
      main_function->add_send_parm (preport_parm.get ());
      main_function->add_send_parm (pvariant_parm.get ());
      main_function->add_send_parm (pbufmax_parm.get ());
    }
  main_function->add_send_parm (pdest_parm.get ());
  main_function->prepare ();

  Vurude_Status &status = OPTIONS::instance ()->status ();
  if (data_flag == u'Y')
    status.update (0);
  int result = 0;
  if (batch)
    {
      result = main_function->rfccallreceive (rfc_handle);
      ACE_DEBUG ((LM_NOTICE, "%D(%P|%t) In Vurude_Base_Request call_req_function - acquiring rh sema\n"));
      handler->sema.acquire ();
      ACE_DEBUG ((LM_NOTICE, "%D(%P|%t) In Vurude_Base_Request call_req_function - acquired rh sema\n"));
    }
  else
    {
      result = main_function->rfccall (rfc_handle);
      if (result == 0)
        result = receive_loop (rfc_handle);
      else
        check_rfc_result (main_function.get (), result);
    }
  if (data_flag == u'Y')
    status.update (-1);
  return result;
}

std::u16string Vurude_Base_Request::get_grp_dh ()
{
  if (utf16_upper (std::u16string (1, batch_flag)) == u"Y" && utf16_upper (std::u16string (1, data_flag)) == u"Y")
    {
      ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Vurude_Base_Request::get_grp_dh this is batch\n"));
      Vurude_Ssi_Cbf *ssi = connect_request ()->get_ssi_cbf ();
      if (!ssi)
        return std::u16string ();
      const std::u16string key = handler->make_mq_name (ssi->batgwh (), ssi->batgws (), ssi->batprid (), nullptr);
      ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Vurude_Base_Request::get_grp_dh using key '%s'\n",
                  utf8_from_utf16 (key).c_str ()));
      const std::u16string result = handler->read_mq (key);
      ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Vurude_Base_Request::get_grp_dh active data handle '%s'\n",
                  utf8_from_utf16 (data_handler->handle_name ()).c_str ()));
      ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Vurude_Base_Request::get_grp_dh effective data handle '%s'\n",
                  utf8_from_utf16 (result).c_str ()));
      return result;
    }
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Vurude_Base_Request::get_grp_dh this is dialog\n"));
  return data_handler->handle_name ();
}

// Error lines

int Vurude_Base_Request::send_error_line (std::u16string_view text, int width, Vurude_Base_Handler *target)
{
  if (!target)
    target = handler;
  // While rows flow, the data connection learns of the error first.
  Vurude_Request_Ref current = target == handler ? Vurude_Request_Ref (this) : target->current_request ();
  if (current && current->data_state != u'N' && target->partner)
    width = target->partner->table_width;
  return static_cast<int> (target->send_error (text, width));
}

int Vurude_Base_Request::send_error_line (const char *text, int width, Vurude_Base_Handler *target)
{
  return send_error_line (utf16_from_utf8 (text), width, target);
}

void Vurude_Base_Request::report_rfc_error (Vurude_Base_Handler *target, const RFC_ERROR_INFO_EX *info)
{
  if (!info)
    info = &error_info;
  const std::u16string group = utf16_from_utf8 (std::to_string (info->group));
  const std::u16string_view key (info->key, utf16_length (info->key, RFC_ERROR_KEY_LN + 1));
  send_error_line (bounded (u"RFC Error:", rfc_error_line_units), 0, target);

  const std::u16string group_line = bounded (u"Error Group: " + group, rfc_error_line_units);
  send_error_line (group_line, 0, target);
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) RFC ERROR\n%s\n", utf8_from_utf16 (group_line).c_str ()));

  const std::u16string key_line = bounded (u"Key        : " + std::u16string (key), rfc_error_line_units);
  send_error_line (key_line, 0, target);
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) %s\n", utf8_from_utf16 (key_line).c_str ()));

  const std::u16string_view message (info->message, utf16_length (info->message, RFC_ERROR_MESSAGE_LN + 1));
  std::size_t start = 0;
  while (start <= message.size ())
    {
      std::size_t end = message.find (u'\n', start);
      if (end == std::u16string_view::npos)
        end = message.size ();
      if (end > start)
        {
          const std::u16string line
            = bounded (u"Message    : " + std::u16string (message.substr (start, end - start)), rfc_error_line_units);
          send_error_line (line, 0, target);
          ACE_DEBUG ((LM_TRACE, "%D(%P|%t) %s\n", utf8_from_utf16 (line).c_str ()));
        }
      start = end + 1;
    }
}

void Vurude_Base_Request::report_rfc_exception (std::u16string_view name, Vurude_Base_Handler *target)
{
  const std::u16string line = bounded (u"RFC Exception: " + std::u16string (name), rfc_error_line_units);
  send_error_line (line, 0, target);
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) %s\n", utf8_from_utf16 (line).c_str ()));
  if (name == u"DIALOG_ROWLIMIT_EXCEEDED")
    {
      send_error_line (" Processing using SAP dialog work processes was stopped because the size of the extracts"
                       " exceeds the limit. Large data extracts should only be run using batch. Use the RFC server",
                       0, target);
      send_error_line (" in batch mode, increase the buffer size, limit the number of observations with VOK option obs"
                       " or refine your query to solve the problem.",
                       0, target);
    }
}

int Vurude_Base_Request::check_rfc_result (Vurude_Function *function, int code)
{
  // A failed callback ends the receive with the library's code too, so the
  // record is the thread's last error, not the call description's.
  const bool error = code == RFC_FAILURE || code == RFC_SYS_EXCEPTION;
  if (error && RfcLastErrorEx (&error_info) == 0)
    report_rfc_error ();
  if ((code == RFC_EXCEPTION || code == RFC_SYS_EXCEPTION) && function && function->exception)
    report_rfc_exception (function->exception);
  return code;
}

int Vurude_Base_Request::send_line (const char16_t *text, std::size_t length, Vurude_Base_Handler *target)
{
  if (!target)
    target = handler;
  std::u16string line (text, std::min (length, max_line_units));
  if (!line.empty ())
    line.resize (std::max<std::size_t> (1, utf16_trim_right (line).size ()));
  line += u'\n';
  return static_cast<int> (target->send_text (line.data (), line.size ()));
}
