#include "vurude_handle_token.h"

#include <cerrno>
#include <sys/random.h>

bool draw_handle_token (std::uint64_t &token)
{
  unsigned char *out = reinterpret_cast<unsigned char *> (&token);
  std::size_t filled = 0;
  while (filled < sizeof token)
    {
      const ssize_t got = ::getrandom (out + filled, sizeof token - filled, 0);
      if (got < 0)
        {
          if (errno == EINTR)
            continue;
          return false;
        }
      filled += static_cast<std::size_t> (got);
    }
  return true;
}
