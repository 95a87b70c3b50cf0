#ifndef VURUDE_REQUEST_ASSEMBLER_H
#define VURUDE_REQUEST_ASSEMBLER_H

#include <cstddef>

class ACE_Message_Block;

// Assembles one connection's requests from the blocks read off its socket.
// A request ends with a read whose last byte is a line feed (removed); a
// read that ends in a backslash and a line feed continues the request (both
// removed, and the client is owed "OK\n"). Inner line feeds stay data.
// Knows nothing of sockets or threads, so it is tested and fuzzed alone.
class Vurude_Request_Assembler
{
public:
  enum Step
  {
    more,        // the request goes on in later reads
    continued,   // a continuation line ended; answer "OK\n"
    complete,    // take() hands out the request
    too_large    // the request outgrew the bound and was dropped
  };

  explicit Vurude_Request_Assembler (std::size_t max_bytes);
  ~Vurude_Request_Assembler ();
  Vurude_Request_Assembler (const Vurude_Request_Assembler &) = delete;
  Vurude_Request_Assembler &operator= (const Vurude_Request_Assembler &) = delete;

  // Takes over `block`, one read's bytes.
  Step add (ACE_Message_Block *block);
  // After `complete`: the request as a chain the caller releases.
  ACE_Message_Block *take ();

private:
  void drop ();

  const std::size_t max_bytes_;
  ACE_Message_Block *head_;
  ACE_Message_Block *tail_;
  std::size_t bytes_;
  bool complete_;
};

#endif
