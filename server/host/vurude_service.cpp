#include "vurude_service.h"

#include "vurude_service_options.h"

#include <ace/Log_Msg.h>
#include <ace/Reactor.h>

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>

using xercesc::XMLPlatformUtils;

int Vurude_Service::run ()
{
  options.status ().start ();

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

  ACE_Reactor::instance ()->run_reactor_event_loop ();

  XMLPlatformUtils::Terminate ();
  return 0;
}
