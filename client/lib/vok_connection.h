#ifndef VOK_CONNECTION_H
#define VOK_CONNECTION_H

#include "vok_connection_options.h"
#include "vok_receive_buffer.h"
#include "vok_record.h"
#include "vok_socket.h"
#include "vok_status.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One connection to the VOK server: connects, reads the greeting and keeps
// the client handle it names, sends requests in continuation lines, and
// reads text lines and data records. Every wait is bounded by the options'
// timeouts and every read by a size; a failed read loses nothing received,
// so the caller may read again. One thread at a time.
class Vok_Connection
{
public:
  explicit Vok_Connection (const Vok_Connection_Options &options = {});
  Vok_Connection (Vok_Connection &&) noexcept = default;
  Vok_Connection &operator= (Vok_Connection &&) noexcept = default;
  Vok_Connection (const Vok_Connection &) = delete;
  Vok_Connection &operator= (const Vok_Connection &) = delete;
  ~Vok_Connection () = default;

  // Connects and reads the greeting of the form the options name; on
  // success handle() names the connection. A connection held before is
  // closed first.
  Vok_Status connect (const std::string &host, std::uint16_t port);

  // Sends one request (without its final line feed: the connection adds
  // it). A request longer than a line goes in continuation lines; after
  // each the server's "OK" is awaited, and any other answer ends the request
  // with `rejected` and the server's line in the status. Earlier replies
  // must have been read, or they would be taken for that answer.
  Vok_Status send_request (std::string_view request);

  // One text line, without its line feed.
  Vok_Status read_line (std::string &line);
  // Lines until one equals `terminator` (taken, not stored), at most
  // `max_lines` of them; each line is bounded by reply_timeout.
  Vok_Status read_lines_until (std::string_view terminator, std::vector<std::string> &lines,
                               std::size_t max_lines);
  // One record of a data connection: `row_width` bytes and the flag byte.
  Vok_Status read_record (std::size_t row_width, Vok_Record &record);
  // Everything until the server closes, at most `max_bytes`; the result is
  // ok when the server closed. Fails with timed_out when the server sends
  // nothing for reply_timeout.
  Vok_Status read_until_closed (std::string &bytes, std::size_t max_bytes);

  // Ends the sending direction; the server reads end of file.
  Vok_Status shutdown_send ();
  void close ();

  bool is_open () const { return socket_.is_open (); }
  const std::string &handle () const { return handle_; }
  int native_handle () const { return socket_.native_handle (); }
  const Vok_Connection_Options &options () const { return options_; }
  void set_options (const Vok_Connection_Options &options) { options_ = options; }

private:
  // Receives one more piece into the buffer.
  Vok_Status fill (Vok_Deadline deadline);
  // One line of at most `max_bytes`, line feed included (and kept).
  Vok_Status read_bounded_line (std::string &line, std::size_t max_bytes, Vok_Deadline deadline);
  Vok_Deadline reply_deadline () const;

  Vok_Connection_Options options_;
  Vok_Socket socket_;
  Vok_Receive_Buffer buffer_;
  std::string handle_;
};

#endif
