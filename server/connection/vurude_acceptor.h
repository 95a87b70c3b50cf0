#ifndef VURUDE_ACCEPTOR_H
#define VURUDE_ACCEPTOR_H

#include <ace/Acceptor.h>
#include <ace/SOCK_Acceptor.h>

// One descriptor kept in reserve for a process that has run out of them.
// Without it a waiting connection can be neither accepted nor refused: the
// listener stays readable, the reactor thread spins on it and the client
// waits for a greeting that never comes.
class Vurude_Spare_Descriptor
{
public:
  Vurude_Spare_Descriptor ();
  ~Vurude_Spare_Descriptor ();
  Vurude_Spare_Descriptor (const Vurude_Spare_Descriptor &) = delete;
  Vurude_Spare_Descriptor &operator= (const Vurude_Spare_Descriptor &) = delete;

  // Reactor thread: gives up the spare, takes one waiting connection off
  // `listener` and closes it at once, then takes the spare again.
  void refuse_one (ACE_HANDLE listener);

private:
  ACE_HANDLE spare_;
};

// The listener of one port: an ACE acceptor that, when no descriptor is
// left for a new connection, closes the connection instead of leaving it
// waiting, so the server stays responsive and the client learns at once.
template <typename HANDLER>
class Vurude_Acceptor : public ACE_Acceptor<HANDLER, ACE_SOCK_Acceptor>
{
protected:
  // ACE_Acceptor hooks
  // Reactor thread, after a failed accept. Returns 0: keep listening.
  int handle_accept_error () override
  {
    if (errno == EMFILE || errno == ENFILE)
      spare_.refuse_one (this->get_handle ());
    return 0;
  }

private:
  Vurude_Spare_Descriptor spare_;
};

#endif
