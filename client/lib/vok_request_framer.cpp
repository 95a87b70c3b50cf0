#include "vok_request_framer.h"

#include <algorithm>
#include <string>

namespace
{
constexpr std::size_t block = Vok_Request_Framer::server_block_bytes;

// The first line feed within the first `count` bytes that would end a block,
// or npos.
std::size_t block_ending_line_feed (std::string_view text, std::size_t count)
{
  for (std::size_t index = block - 1; index < count; index += block)
    if (text[index] == '\n')
      return index;
  return std::string_view::npos;
}
}

Vok_Status Vok_Request_Framer::split (std::string_view request, std::size_t max_line_bytes,
                                      std::vector<std::string_view> &lines)
{
  lines.clear ();
  if (max_line_bytes < min_line_bytes)
    return {Vok_Result::invalid_argument, "request lines must be allowed at least "
                                            + std::to_string (min_line_bytes) + " bytes"};
  if (const std::size_t at = request.find ("\\\n"); at != std::string_view::npos)
    return {Vok_Result::invalid_argument, "the request holds a backslash before a line feed (byte "
                                            + std::to_string (at) + "): the server would take it for"
                                            " the end of a continuation line"};
  if (!request.empty () && request.back () == '\\')
    return {Vok_Result::invalid_argument, "the request ends with a backslash: the server would take"
                                            " its last line for a continuation line"};

  std::string_view rest = request;
  for (;;)
    {
      if (rest.size () < max_line_bytes && block_ending_line_feed (rest, rest.size ()) == std::string_view::npos)
        {
          lines.push_back (rest);
          return {};
        }
      std::size_t count = std::min (rest.size (), max_line_bytes - 2);
      if (const std::size_t at = block_ending_line_feed (rest, count); at != std::string_view::npos)
        count = at;
      // With an even count the ending's line feed sits at an odd offset of
      // the line, and blocks of 256 bytes and segments of an even size begin
      // at even ones only: the backslash and the line feed arrive together.
      if (count % 2 == 1 && count > 1)
        --count;
      lines.push_back (rest.substr (0, count));
      rest.remove_prefix (count);
    }
}
