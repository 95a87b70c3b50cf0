// Builds one outgoing message (a run of frames) as pieces for one gathered
// write: headers and small values in one buffer, large values and table
// blocks referenced where they lie.
#ifndef RFCLIB_MESSAGE_WRITER_H
#define RFCLIB_MESSAGE_WRITER_H

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "error.h"
#include "socket_stream.h"
#include "wire.h"

namespace rfclib {

class Itab;

class MessageWriter {
 public:
  void reset();

  void begin_frame(wire::FrameType type);
  wire::PayloadWriter payload() { return wire::PayloadWriter(buffer_); }
  // Adds bytes to the open frame's payload without copying them; they must
  // stay put until the message is sent.
  void add_external(const void* data, std::size_t size);
  void end_frame();
  void empty_frame(wire::FrameType type);

  // PARAM frames for a parameter array ending with a null name.
  bool add_parameters(const RFC_PARAMETER* parameters, Error& error);
  // TABLE and ROWS frames for a table array ending with a null name; entries
  // without a table are left out. `answered`: the receipt stamps of the
  // tables the call being answered filled (null for a call). A table that
  // still holds exactly the lines it got under its name in that call goes as
  // "unchanged", without rows.
  bool add_tables(const RFC_TABLE* tables, const std::vector<std::uint64_t>* answered,
                  Error& error);

  bool send(SocketStream& stream);
  // The message as one byte string, for tests.
  std::vector<std::uint8_t> flatten() const;

 private:
  struct Piece {
    const std::uint8_t* external;  // null: bytes [offset, offset + size) of buffer_
    std::size_t offset;
    std::size_t size;
  };
  void close_inline_piece();

  std::vector<std::uint8_t> buffer_;
  std::vector<Piece> pieces_;
  std::vector<iovec> iov_;
  std::size_t inline_start_ = 0;
  std::size_t frame_start_ = 0;
  std::size_t frame_external_ = 0;
};

// Checks a name given to the library: present and not longer than the wire allows.
bool check_name(std::u16string_view name, const char* what, Error& error);

}  // namespace rfclib

#endif
