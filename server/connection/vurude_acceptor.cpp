#include "vurude_acceptor.h"

#include <ace/Log_Msg.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
ACE_HANDLE open_spare ()
{
  return ::open ("/dev/null", O_RDONLY | O_CLOEXEC);
}
}

Vurude_Spare_Descriptor::Vurude_Spare_Descriptor ()
  : spare_ (open_spare ())
{
}

Vurude_Spare_Descriptor::~Vurude_Spare_Descriptor ()
{
  if (spare_ != ACE_INVALID_HANDLE)
    ::close (spare_);
}

void Vurude_Spare_Descriptor::refuse_one (ACE_HANDLE listener)
{
  if (spare_ != ACE_INVALID_HANDLE)
    {
      ::close (spare_);
      spare_ = ACE_INVALID_HANDLE;
    }
  const ACE_HANDLE connection = ::accept4 (listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (connection != ACE_INVALID_HANDLE)
    ::close (connection);
  spare_ = open_spare ();
  ACE_ERROR ((LM_ERROR, "%D(%P|%t) No file descriptor left for a new connection - connection closed%s\n",
              spare_ == ACE_INVALID_HANDLE ? " (no spare descriptor any more)" : ""));
}
