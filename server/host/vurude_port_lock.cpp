#include "vurude_port_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

Vurude_Port_Lock::Vurude_Port_Lock (int port)
  : port_ (port)
{
}

Vurude_Port_Lock::~Vurude_Port_Lock ()
{
  if (fd_ >= 0)
    ::close (fd_);
}

std::string Vurude_Port_Lock::folder ()
{
  if (::geteuid () == 0)
    return "/run/vurude";
  return "/tmp/vurude-" + std::to_string (::geteuid ());
}

int Vurude_Port_Lock::tryacquire ()
{
  const std::string dir = folder ();
  // Others may read the folder but never plant a lock of their own in it.
  if (::mkdir (dir.c_str (), ::geteuid () == 0 ? 0755 : 0700) != 0 && errno != EEXIST)
    return -1;
  struct stat st;
  if (::lstat (dir.c_str (), &st) != 0 || !S_ISDIR (st.st_mode) || st.st_uid != ::geteuid ())
    {
      errno = EPERM;
      return -1;
    }
  const std::string path = dir + "/vurude_" + std::to_string (port_) + ".lock";
  if (fd_ < 0)
    fd_ = ::open (path.c_str (), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ < 0)
    return -1;
  return ::flock (fd_, LOCK_EX | LOCK_NB) == 0 ? 0 : -1;
}
