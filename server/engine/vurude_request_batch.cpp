// Background jobs: the registration of an RFC server program at the gateway
// that a job calls back, and the functions only a job calls.
#include "vurude_base_request.h"

#include "utf16_text.h"
#include "vurude_base_handler.h"
#include "vurude_function.h"
#include "vurude_gwinfo_cbf.h"
#include "vurude_jobno_cbf.h"
#include "vurude_mq.h"
#include "vurude_parm.h"

#include <ace/ARGV.h>
#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/Message_Block.h>

#include <cstdint>
#include <vector>

namespace
{
constexpr std::size_t accept_text_units = 2047;
}

RFC_HANDLE Vurude_Base_Request::rfcaccept_function (const char16_t *program_id, const char16_t *gateway_host,
                                                    const char16_t *gateway_service, char16_t flag,
                                                    std::u16string &message, RFC_HANDLE handle)
{
  std::u16string host (gateway_host ? gateway_host : u"");
  RFC_ATTRIBUTES attributes {};
  if (flag != u'X' && rfc_handle != RFC_HANDLE_NULL && RfcGetAttributes (rfc_handle, &attributes) == RFC_OK)
    host.assign (attributes.partner_host, utf16_length (attributes.partner_host, sizeof attributes.partner_host / 2));

  const std::u16string key = handler->make_mq_name (host.c_str (), gateway_service, program_id, nullptr);
  Vurude_MQ *queue = nullptr;
  handler->post_mq (key, nullptr, queue);
  if (!queue)
    {
      message = u"Internal batch queue failure";
      return RFC_HANDLE_NULL;
    }
  message = u"Internal ACE_Guard failure";
  ACE_GUARD_RETURN (ACE_Thread_Mutex, guard, queue->lock, RFC_HANDLE_NULL);
  message.clear ();

  if (handle != RFC_HANDLE_NULL)
    {
      --queue->count;
      ACE_DEBUG ((LM_TRACE, "%D (%P|%t) reg count decremented\n"));
      RfcClose (handle);
      return RFC_HANDLE_NULL;
    }

  RFC_INT total = 0, init = 0, ready = 0, busy = 0;
  RFC_ERROR_INFO_EX check_error {};
  if (RfcCheckRegisterServer (program_id, host.c_str (), gateway_service, &total, &init, &ready, &busy, &check_error)
        == RFC_OK
      && queue->count.value () < static_cast<long> (total))
    {
      message = u"Another RFC server is registered at the gateway with the program id assigned to this server\n";
      ACE_ERROR ((LM_ERROR,
                  "%D (%P|%t) Vurude_Base_Request::rfcaccept_function - Another RFC server is registered at the "
                  "gateway (%s:%s) with the program id (%s) assigned to this server\n",
                  utf8_from_utf16 (host).c_str (), utf8_from_utf16 (gateway_service).c_str (),
                  utf8_from_utf16 (program_id).c_str ()));
      ACE_ERROR ((LM_ERROR, "%D (%P|%t) Vurude_Base_Request::rfcaccept_function - Expected count %d, actual count %d\n",
                  static_cast<int> (queue->count.value ()), static_cast<int> (total)));
      return RFC_HANDLE_NULL;
    }

  std::string text = "-a " + utf8_from_utf16 (program_id) + " -g " + utf8_from_utf16 (host) + " -x "
                     + utf8_from_utf16 (gateway_service);
  if (text.size () > accept_text_units)
    text.resize (accept_text_units);
  // The arguments may name environment variables, as a program's command
  // line would.
  ACE_ARGV arguments (text.c_str (), true);
  std::vector<std::u16string> words;
  for (int i = 0; i < arguments.argc (); ++i)
    words.push_back (utf16_from_utf8 (arguments.argv ()[i]));
  std::vector<SAP_UC *> argv;
  for (std::u16string &word : words)
    argv.push_back (word.data ());
  argv.push_back (nullptr);

  const RFC_HANDLE registered = RfcAccept (argv.data ());
  if (registered != RFC_HANDLE_NULL)
    {
      ++queue->count;
      ACE_DEBUG ((LM_TRACE, "%D (%P|%t) reg count incremented\n"));
    }
  return registered;
}

int Vurude_Base_Request::handle_batch_callrfc1 (RFC_HANDLE handle)
{
  gwinfo_cbf = std::make_unique<Vurude_Gwinfo_Cbf> (u"GWINFO");
  int rc = gwinfo_cbf->getdata (handle);
  if (rc != 0)
    {
      send_error_line ("RfcGetData for GwInfo failed");
      return rc;
    }
  if (std::u16string_view (gwinfo_cbf->jobcount ()) == u"0")
    {
      // The job is over.
      if (jobno_key)
        VURUDE_HANDLER_REGISTRY::instance ()->unbind (*jobno_key, handler);
      jobno_key.reset ();
      return 0;
    }
  jobno_key = std::make_unique<std::u16string> (handler->make_mq_name (
    gwinfo_cbf->batgwh (), gwinfo_cbf->batgws (), gwinfo_cbf->batprid (), gwinfo_cbf->jobcount ()));
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Vurude_Base_Request::handle_batch_callrfc1 jobno key is '%s'\n",
              utf8_from_utf16 (*jobno_key).c_str ()));
  VURUDE_HANDLER_REGISTRY::instance ()->bind (*jobno_key, handler);

  ACE_Message_Block *start = nullptr;
  ACE_NEW_NORETURN (start, ACE_Message_Block (1, MB_START));
  if (!start || data_handler->putq (start) == -1)
    {
      if (start)
        start->release ();
      send_error_line ("Internal batch queue failure");
      return 13;
    }
  start->wr_ptr (1);
  ACE_DEBUG ((LM_NOTICE, "%D(%P|%t) In Vurude_Base_Request handle_batch_callrfc1 - acquiring dh sema\n"));
  data_handler->sema.acquire ();
  ACE_DEBUG ((LM_NOTICE, "%D(%P|%t) In Vurude_Base_Request handle_batch_callrfc1 - acquired dh sema\n"));
  if (data_handler->batch_error != 0)
    {
      send_error_line (data_handler->batch_message);
      if (data_handler->batch_error == 1)
        report_rfc_error (handler, &data_handler->batch_error_info);
      return 13;
    }
  rc = gwinfo_cbf->senddata (handle);
  if (rc != 0)
    {
      send_error_line ("RfcSendData for GwInfo failed");
      return rc;
    }
  batch_flag = u'Y';
  return 0;
}

int Vurude_Base_Request::handle_batch_callrfc2 (RFC_HANDLE handle)
{
  Vurude_Jobno_Cbf jobno (u"JOBNO");
  int rc = jobno.getdata (handle);
  if (rc != 0)
    {
      send_error_line ("RfcGetData for Jobno failed");
      return rc;
    }
  Vurude_Request_Ref current = handler->current_request ();
  Vurude_Gwinfo_Cbf *gwinfo = current ? current->get_gwinfo_cbf () : nullptr;
  Vurude_Handler_Ref job_handler;
  if (gwinfo)
    {
      const std::u16string key
        = handler->make_mq_name (gwinfo->batgwh (), gwinfo->batgws (), gwinfo->batprid (), jobno.jobno ());
      ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Vurude_Base_Request::handle_batch_callrfc2 jobno key is '%s'\n",
                  utf8_from_utf16 (key).c_str ()));
      job_handler = VURUDE_HANDLER_REGISTRY::instance ()->find (key);
    }
  if (!job_handler)
    {
      jobno.raise (handle, u"UNKNOWN_JOB");
      return 13;
    }
  jobno.set_token (job_handler->handle_name ().c_str ());
  rc = jobno.senddata (handle);
  if (rc != 0)
    send_error_line ("RfcSendData for Jobno failed");
  return rc;
}

int Vurude_Base_Request::handle_batch_callback1 (RFC_HANDLE handle)
{
  killed = 0;
  std::int32_t buffer_size = 0;
  RFC_PARAMETER importing[] = {{u"BUFMAX", 6, RFCTYPE_INT, 4, &buffer_size}, {}};
  if (RfcGetData (handle, importing, nullptr) != RFC_OK)
    return 13;
  if (buffer_size != 0)
    bufmax = buffer_size;

  Vurude_Request_Ref current = handler->current_request ();
  Vurude_Base_Request *serving = current ? current.get () : this;
  // The dialog function is called back on the job's connection; its own
  // callbacks arrive meanwhile and are served like those of a dialog call.
  Vurude_Function nested (connect_request ()->dialog_function_name ().c_str ());
  char16_t pdest[5] = u"BACK";
  Vurude_Parm pdest_export (u"PDEST", pdest, 8, RFCTYPE_CHAR);
  nested.add_send_parm (&pdest_export);
  nested.prepare ();
  if (nested.rfccall (handle) == RFC_OK)
    serving->serve_calls (nested, handle);
  if (killed)
    RfcRaise (handle, u"KILLED_BY_VOK");
  else
    RfcSendData (handle, nullptr, nullptr);
  return 13;
}

int Vurude_Base_Request::handle_grp_bcompat (RFC_HANDLE)
{
  // Only a batch-compatibility run queues a data connection for the
  // extraction parameters; no other request has one to look up.
  ACE_ERROR ((LM_ERROR, "%D(%P|%t) In Vurude_Base_Request::handle_grp_bcompat. Invalid handle for lookup.\n"));
  return 13;
}
