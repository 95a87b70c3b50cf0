#include "vurude_service.h"

#include "vurude_bcompat_handler.h"
#include "vurude_compat_handler.h"
#include "vurude_handle_registry.h"
#include "vurude_service_options.h"
#include "vurude_v9_handler.h"
#include "utf16_text.h"

#include <rfclib/rfclib.h>

#include <ace/Log_Msg.h>
#include <ace/OS_NS_sys_socket.h>
#include <ace/OS_NS_unistd.h>
#include <ace/Reactor.h>

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cerrno>

using xercesc::XMLPlatformUtils;

namespace
{
// Seconds an ending server gives its open connections to finish.
constexpr int connection_grace_seconds = 5;
constexpr unsigned library_info_units = 256;
}

Vurude_Service::Vurude_Service (Options &server_options)
  : options (server_options)
{
}

Vurude_Service::~Vurude_Service ()
{
  acceptor.reset ();
  dialog_acceptor.reset ();
  batch_acceptor.reset ();
  port_addr.reset ();
  dialog_addr.reset ();
  batch_addr.reset ();
  port_mutex.reset ();
  dialog_mutex.reset ();
  batch_mutex.reset ();
}

template <typename ACCEPTOR>
int Vurude_Service::open_listener (int port, const char *in_use_message, const char *cannot_listen_message,
                                   std::unique_ptr<Vurude_Port_Lock> &lock,
                                   std::unique_ptr<ACE_INET_Addr> &address,
                                   std::unique_ptr<ACCEPTOR> &listener)
{
  lock.reset (new Vurude_Port_Lock (port));
  if (lock->tryacquire () != 0)
    {
      ACE_ERROR ((LM_ERROR, in_use_message, port));
      return 1;
    }
  address.reset (new ACE_INET_Addr (static_cast<u_short> (port), static_cast<ACE_UINT32> (INADDR_ANY)));
  listener.reset (new ACCEPTOR);
  // A port another program holds, or one this user may not bind: say so,
  // or the operator would look for the fault elsewhere.
  if (listener->open (*address, ACE_Reactor::instance (), 0, 1, 1) == -1)
    {
      ACE_ERROR ((LM_ERROR, cannot_listen_message, port));
      listener.reset ();
      return -1;
    }
  // The acceptor listens with a backlog of 5; listening again raises it to
  // the system maximum, so bursts of clients are not turned away.
  ACE_OS::listen (listener->acceptor ().get_handle (), SOMAXCONN);
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Listening on port %d\n", port));
  return 0;
}

void Vurude_Service::log_library_versions ()
{
  SAP_UC text[library_info_units] = {};
  RfcGetAllLibVersions (text, library_info_units);
  const std::string info = utf8_from_utf16 (text);
  ACE_DEBUG ((LM_NOTICE, "%D(%P|%t)\n--Start of SAP library info%s--End   of SAP library info\n",
              info.c_str ()));
}

int Vurude_Service::run ()
{
  options.status ().start ();
  *VURUDE_SERIAL::instance () = static_cast<unsigned short> (ACE_OS::getpid ());

  try
    {
      XMLPlatformUtils::Initialize ();
    }
  catch (const xercesc::XMLException &e)
    {
      char *message = xercesc::XMLString::transcode (e.getMessage ());
      ACE_ERROR ((LM_ERROR, "%D(%P|%t) Error during Xerces-c Initialization.\n  Exception message: %s\n",
                  message));
      xercesc::XMLString::release (&message);
    }

  RfcInit ();
  if (options.debug_level () > 5)
    log_library_versions ();

  // A compatibility listener that cannot listen is only missing; without
  // the main listener the server has nothing to serve, so it does not start.
  int errors = 0;
  if (options.dialog_port () != 0
      && open_listener (options.dialog_port (), "(%P|%t) Dialog compatibility port %d already in use\n",
                        "%D(%P|%t) Cannot listen on dialog compatibility port %d: %m; the other listeners go on\n",
                        dialog_mutex, dialog_addr, dialog_acceptor) == 1)
    ++errors;
  if (options.batch_port () != 0
      && open_listener (options.batch_port (), "(%P|%t) Batch compatibility port %d already in use\n",
                        "%D(%P|%t) Cannot listen on batch compatibility port %d: %m; the other listeners go on\n",
                        batch_mutex, batch_addr, batch_acceptor) == 1)
    ++errors;
  if (open_listener (options.port (), "(%P|%t) Port %d already in use\n",
                     "%D(%P|%t) Cannot listen on port %d: %m; the server does not start\n",
                     port_mutex, port_addr, acceptor) != 0)
    ++errors;

  if (errors == 0)
    ACE_Reactor::instance ()->run_reactor_event_loop ();

  // Stop accepting, then let the open connections end before the libraries
  // they use go away.
  acceptor.reset ();
  dialog_acceptor.reset ();
  batch_acceptor.reset ();
  Vurude_Base_Handler::close_all (ACE_Time_Value (connection_grace_seconds));
  options.release_utf8_transcoder ();
  XMLPlatformUtils::Terminate ();

  if (errors != 0)
    {
      errno = 40;
      return -1;
    }
  return 0;
}
