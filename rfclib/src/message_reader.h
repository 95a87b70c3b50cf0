// Reads frames and the items of a message (parameters, tables with their
// rows) from a byte source, matching them by name against the receiver's
// parameter and table arrays. Rows go straight into the tables' blocks.
#ifndef RFCLIB_MESSAGE_READER_H
#define RFCLIB_MESSAGE_READER_H

#include <cstdint>
#include <vector>

#include "byte_source.h"
#include "error.h"
#include "wire.h"

namespace rfclib {

class Itab;

class MessageReader {
 public:
  explicit MessageReader(ByteSource& source) : source_(source) {}

  bool read_header(wire::FrameHeader& header);
  // Payload of a control frame (read_header has bounded its size).
  bool read_payload(const wire::FrameHeader& header, std::vector<std::uint8_t>& payload);

  // Reads PARAM and TABLE items up to and including END. Parameters are
  // matched by name, values cut or padded to the receiver's length; tables
  // are filled (a table the receiver did not pass is created, newitab 1).
  // Items the receiver does not name are skipped. Tables filled are marked
  // received (Itab::mark_received) and added to `received`. On failure,
  // tables created here are deleted again.
  bool read_items(RFC_PARAMETER* parameters, RFC_TABLE* tables, std::vector<Itab*>& received);

  const Error& error() const { return error_; }
  void set_error(const Error& error) { error_ = error; }

 private:
  bool protocol_error(const std::string& message);
  bool read_param(std::uint32_t length, RFC_PARAMETER* parameters);
  bool read_table(const std::vector<std::uint8_t>& payload, RFC_TABLE* tables,
                  std::vector<Itab*>& received, std::vector<RFC_TABLE*>& created);
  bool read_rows(Itab* itab, RFC_TYPEHANDLE type, std::size_t sender_leng, std::uint64_t rows);

  ByteSource& source_;
  Error error_;
  std::vector<std::uint8_t> payload_;
};

}  // namespace rfclib

#endif
