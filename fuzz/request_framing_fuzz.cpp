// Feeds arbitrary reads to the connection's request assembler: the first
// byte of each piece gives its length, the bytes after it are what one
// socket read returned. Besides not crashing or leaking, every request it
// hands out must hold exactly the bytes sent for it, less the line feed that
// ended it and the backslash-line-feed pairs that continued it.
#include "vurude_request_assembler.h"

#include <ace/Message_Block.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace
{
constexpr std::size_t max_request = 4096;

std::string chain_bytes (const ACE_Message_Block *chain)
{
  std::string bytes;
  for (const ACE_Message_Block *block = chain; block; block = block->cont ())
    bytes.append (block->rd_ptr (), block->length ());
  return bytes;
}
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t *data, std::size_t size)
{
  Vurude_Request_Assembler assembler (max_request);
  std::string expected;
  std::size_t at = 0;
  while (at < size)
    {
      const std::size_t length = std::min<std::size_t> (data[at] % 64 + 1, size - at - 1);
      ++at;
      const char *piece = reinterpret_cast<const char *> (data + at);
      at += length;
      auto *block = new ACE_Message_Block (length);
      block->copy (piece, length);

      std::string read (piece, length);
      switch (assembler.add (block))
        {
        case Vurude_Request_Assembler::more:
          expected += read;
          break;
        case Vurude_Request_Assembler::continued:
          if (read.size () < 2 || read.compare (read.size () - 2, 2, "\\\n") != 0)
            __builtin_trap ();
          expected += read.substr (0, read.size () - 2);
          break;
        case Vurude_Request_Assembler::too_large:
          if (expected.size () + read.size () <= max_request)
            __builtin_trap ();
          expected.clear ();
          break;
        case Vurude_Request_Assembler::complete:
          {
            if (read.empty () || read.back () != '\n')
              __builtin_trap ();
            expected += read.substr (0, read.size () - 1);
            ACE_Message_Block *request = assembler.take ();
            const bool exact = request && chain_bytes (request) == expected;
            if (request)
              request->release ();
            if (!exact)
              __builtin_trap ();
            expected.clear ();
            break;
          }
        }
    }
  return 0;
}
