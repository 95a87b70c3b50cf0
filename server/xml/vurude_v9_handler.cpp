#include "vurude_v9_handler.h"

#include "vurude_handler_reply_sink.h"
#include "vurude_ssi_cbf.h"
#include "vurude_v9connect_request.h"
#include "vurude_v9function_request.h"
#include "vurude_v9gselect_request.h"
#include "vurude_v9nselect_request.h"
#include "vurude_v9sselect_request.h"
#include "vurude_xml_request_document.h"

#include <ace/Log_Msg.h>

namespace
{
// The request object of a root element; null for an element that names
// no request this server serves.
Vurude_Base_Request *make_request (const std::u16string &root, Vurude_Base_Handler *handler,
                                   xercesc::XercesDOMParser *parser)
{
  if (root == u"connect")
    return new Vurude_V9connect_Request (handler, parser);
  if (root == u"sselect")
    return new Vurude_V9sselect_Request (handler, parser);
  if (root == u"nselect")
    return new Vurude_V9nselect_Request (handler, parser);
  if (root == u"gselect")
    return new Vurude_V9gselect_Request (handler, parser);
  if (root == u"function")
    return new Vurude_V9function_Request (handler, parser);
  return nullptr;
}
}

int Vurude_V9_Handler::handle_mb (ACE_Message_Block *chain)
{
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Entering Vurude_V9_Handler handle mb\n"));
  Vurude_Handler_Reply_Sink replies (*this);
  Vurude_Xml_Request_Document document (replies);
  if (document.parse (chain) != 0)
    return 1;
  std::unique_ptr<xercesc::XercesDOMParser> parser = document.take_parser ();
  // A function request replaces the previous one before it is built.
  if (document.root_name () == u"function")
    set_request (nullptr);

  Vurude_Base_Request *next = make_request (document.root_name (), this, parser.get ());
  if (!next)
    {
      send_error ("Unknown request type", partner ? 3 : 0);
      return -1;
    }
  parser.release ();
  set_request (next);

  const int parsed = next->parse_attributes ();
  if (parsed != 0)
    return parsed;
  if (next->open_rfc () == RFC_HANDLE_NULL)
    {
      next->report_rfc_error ();
      return -1;
    }
  return next->call_req_function ();
}

int Vurude_V9_Handler::handle_batch ()
{
  batch_active = 1;
  batch_error = 0;
  // The owner waits on this connection's semaphore, so it is alive now; the
  // reference keeps it so until its own semaphore has been released.
  Vurude_Handler_Ref requester (owner);
  Vurude_Request_Ref job_request = requester ? requester->current_request () : Vurude_Request_Ref ();
  Vurude_Base_Request *logon = job_request ? job_request->connect_request () : nullptr;
  Vurude_Ssi_Cbf *ssi = logon ? logon->get_ssi_cbf () : nullptr;
  if (!ssi)
    {
      // No system information, so no gateway to register at.
      batch_error = 2;
      batch_message = u"Internal batch queue failure";
      release_sema ("Vurude_V9_Handler handle_batch", "dh", sema);
      return 0;
    }
  // After a failed registration the requester reports it and waits no
  // further: a release of its semaphore would stay pending and let its
  // next batch request run ahead of that request's transfer.
  batch_request = job_request.get ();
  if (serve_batch (*job_request.get (), ssi->batprid (), ssi->batgwh (), ssi->batgws (), ssi->batgwfl (),
                   "Vurude_V9_Handler handle_batch"))
    release_sema ("Vurude_V9_Handler handle_batch", "rh", requester->sema);
  return 0;
}
