#ifndef VOK_REQUEST_FRAMER_H
#define VOK_REQUEST_FRAMER_H

#include "vok_status.h"

#include <cstddef>
#include <string_view>
#include <vector>

// Cuts a request into the lines it travels in. Every line but the last is a
// continuation line: on the wire it ends with a backslash and a line feed,
// the last with a line feed alone. The server answers "OK\n" to each
// continuation line and joins the lines without their endings.
//
// The server reads a connection in blocks of up to 256 bytes and ends a
// request at the end of any block whose last byte is a line feed; it takes the
// block for a continuation only when the backslash lies in the same block.
// Each line starts a new block (the client waits for "OK\n" before it sends
// the next), so the cuts are placed such that no block ends between a
// continuation's backslash and its line feed, nor right after a line feed
// inside the request.
class Vok_Request_Framer
{
public:
  static constexpr std::size_t default_line_bytes = 4096;
  // A continuation line needs at least one byte besides its two-byte ending.
  static constexpr std::size_t min_line_bytes = 3;
  static constexpr std::size_t server_block_bytes = 256;

  // The content of each line, in order, pointing into `request`. A line
  // takes at most `max_line_bytes` on the wire, its ending included.
  // Fails (invalid_argument) for a request the server would cut apart in
  // another place: one that holds a backslash directly before a line feed,
  // or ends with a backslash.
  static Vok_Status split (std::string_view request, std::size_t max_line_bytes,
                           std::vector<std::string_view> &lines);
};

#endif
