#ifndef VURUDE_PORT_LOCK_H
#define VURUDE_PORT_LOCK_H

#include <string>

// Only one listener on a machine serves a port: an exclusive lock on a file
// named after the port, held while the object lives and released by the
// system if the process dies. The lock is per open file, so a second
// listener of the same process on the same port is refused too.
class Vurude_Port_Lock
{
public:
  explicit Vurude_Port_Lock (int port);
  ~Vurude_Port_Lock ();
  Vurude_Port_Lock (const Vurude_Port_Lock &) = delete;
  Vurude_Port_Lock &operator= (const Vurude_Port_Lock &) = delete;

  // Takes the lock without waiting: 0 taken, -1 held elsewhere or failed.
  int tryacquire ();

  // /run/vurude for root; a private folder in /tmp for other users.
  static std::string folder ();

private:
  int port_;
  int fd_ = -1;
};

#endif
