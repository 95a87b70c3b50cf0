#include "message_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "itab.h"
#include "text.h"
#include "type_registry.h"

namespace rfclib {
namespace {

RFC_PARAMETER* find_parameter(RFC_PARAMETER* parameters, std::u16string_view name) {
  if (parameters == nullptr) return nullptr;
  for (RFC_PARAMETER* p = parameters; p->name != nullptr; ++p) {
    if (name_view(p->name, p->nlen) == name) return p;
  }
  return nullptr;
}

RFC_TABLE* find_table(RFC_TABLE* tables, std::u16string_view name) {
  if (tables == nullptr) return nullptr;
  for (RFC_TABLE* t = tables; t->name != nullptr; ++t) {
    if (name_view(t->name, t->nlen) == name) return t;
  }
  return nullptr;
}

}  // namespace

bool MessageReader::protocol_error(const std::string& message) {
  error_ = make_error(RFC_ERROR_PROTOCOL, message);
  return false;
}

bool MessageReader::read_header(wire::FrameHeader& header) {
  std::uint8_t raw[wire::kHeaderSize];
  if (!source_.read_exact(raw, sizeof raw)) {
    error_ = source_.error();
    return false;
  }
  return wire::decode_header(raw, header, error_);
}

bool MessageReader::read_payload(const wire::FrameHeader& header,
                                 std::vector<std::uint8_t>& payload) {
  if (header.length > wire::kMaxControlPayload) {
    return protocol_error("control frame too large");
  }
  payload.resize(header.length);
  if (!source_.read_exact(payload.data(), payload.size())) {
    error_ = source_.error();
    return false;
  }
  return true;
}

bool MessageReader::read_items(RFC_PARAMETER* parameters, RFC_TABLE* tables,
                               std::vector<Itab*>& received) {
  std::vector<RFC_TABLE*> created;
  bool ok = true;
  for (;;) {
    wire::FrameHeader h;
    if (!read_header(h)) {
      ok = false;
      break;
    }
    if (h.type == wire::FrameType::end) {
      if (h.length != 0) ok = protocol_error("END frame with a payload");
      break;
    }
    if (h.type == wire::FrameType::param) {
      ok = read_param(h.length, parameters);
    } else if (h.type == wire::FrameType::table) {
      ok = read_payload(h, payload_) && read_table(payload_, tables, received, created);
    } else {
      ok = protocol_error(std::string("unexpected ") + wire::frame_name(h.type) +
                          " frame inside a message");
    }
    if (!ok) break;
  }
  if (!ok) {
    for (RFC_TABLE* t : created) {
      Itab* itab = Itab::from(t->ithandle);
      received.erase(std::remove(received.begin(), received.end(), itab), received.end());
      delete itab;
      t->ithandle = nullptr;
      t->newitab = 0;
    }
  }
  return ok;
}

bool MessageReader::read_param(std::uint32_t length, RFC_PARAMETER* parameters) {
  std::uint8_t count_raw[2];
  if (length < 2 + 8) return protocol_error("PARAM frame too short");
  if (!source_.read_exact(count_raw, 2)) {
    error_ = source_.error();
    return false;
  }
  const std::uint16_t count = wire::load_u16(count_raw);
  if (count > wire::kMaxNameChars || 2u + 2u * count + 8u > length) {
    return protocol_error("PARAM frame with a bad name length");
  }
  std::uint8_t head[2 * wire::kMaxNameChars + 8];
  if (!source_.read_exact(head, 2u * count + 8u)) {
    error_ = source_.error();
    return false;
  }
  std::u16string name(count, u'\0');
  for (std::uint16_t i = 0; i < count; ++i) name[i] = static_cast<char16_t>(wire::load_u16(head + 2 * i));
  const std::uint32_t value_length = wire::load_u32(head + 2u * count + 4u);
  if (static_cast<std::uint64_t>(2u + 2u * count + 8u) + value_length != length) {
    return protocol_error("PARAM frame whose value length does not match the frame");
  }
  RFC_PARAMETER* p = find_parameter(parameters, name);
  if (p == nullptr || p->addr == nullptr) {
    if (!source_.skip(value_length)) {
      error_ = source_.error();
      return false;
    }
    return true;
  }
  auto* dest = static_cast<std::uint8_t*>(p->addr);
  const std::size_t take = std::min<std::size_t>(value_length, p->leng);
  if (!source_.read_exact(dest, take) || !source_.skip(value_length - take)) {
    error_ = source_.error();
    return false;
  }
  pad_value(p->type, dest, take, p->leng);
  return true;
}

bool MessageReader::read_table(const std::vector<std::uint8_t>& payload, RFC_TABLE* tables,
                               std::vector<Itab*>& received, std::vector<RFC_TABLE*>& created) {
  wire::PayloadReader r(payload.data(), payload.size());
  std::u16string name;
  std::uint32_t type = 0;
  std::uint32_t leng = 0;
  std::uint64_t rows = 0;
  std::uint8_t flags = 0;
  if (!r.text(name, wire::kMaxNameChars) || !r.u32(type) || !r.u32(leng) || !r.u64(rows) ||
      !r.u8(flags) || !r.at_end()) {
    return protocol_error("malformed TABLE frame");
  }
  if (leng == 0 || leng > wire::kMaxLineLength) {
    return protocol_error("TABLE frame with line length " + std::to_string(leng));
  }
  if ((flags & ~wire::kTableUnchanged) != 0 ||
      ((flags & wire::kTableUnchanged) != 0 && rows != 0)) {
    return protocol_error("TABLE frame with bad flags");
  }
  if (rows > UINT_MAX) {
    error_ = make_error(RFC_ERROR_RESOURCE, "table with more than 4294967295 lines");
    return false;
  }
  RFC_TABLE* t = find_table(tables, name);
  Itab* itab = nullptr;
  if (t != nullptr) {
    if (t->ithandle == nullptr) {
      itab = Itab::create(name, t->leng != 0 ? t->leng : leng, static_cast<std::size_t>(rows));
      if (itab == nullptr) {
        error_ = make_error(RFC_ERROR_RESOURCE, "cannot create table " + to_utf8(name));
        return false;
      }
      t->ithandle = itab->handle();
      t->newitab = 1;
      created.push_back(t);
    } else {
      itab = Itab::from(t->ithandle);
      // A receiver that names no line length takes the sender's; a table
      // it already has keeps its own. Padding narrower lines to it would
      // let a sender set a huge length once and then send one-byte lines:
      // megabytes of memory per byte sent.
      if (t->leng == 0 && itab->leng() != leng) {
        return protocol_error("table " + to_utf8(name) + " sent with line length " + std::to_string(leng) +
                              ", the receiver's has " + std::to_string(itab->leng()));
      }
    }
    if ((flags & wire::kTableUnchanged) != 0) return true;
    itab->clear();
  }
  if (!read_rows(itab, t != nullptr ? t->type : type, leng, rows)) return false;
  if (itab != nullptr) {
    itab->mark_received(name);
    received.push_back(itab);
  }
  return true;
}

bool MessageReader::read_rows(Itab* itab, RFC_TYPEHANDLE type, std::size_t sender_leng,
                              std::uint64_t rows) {
  const std::uint64_t total = rows * sender_leng;
  const bool direct = itab != nullptr && itab->leng() == sender_leng;
  const std::size_t keep = itab != nullptr ? std::min(itab->leng(), sender_leng) : 0;
  std::uint64_t done = 0;
  std::size_t row_pos = 0;
  std::uint8_t* row = nullptr;
  while (done < total) {
    wire::FrameHeader h;
    if (!read_header(h)) return false;
    if (h.type != wire::FrameType::rows) {
      return protocol_error(std::string("table lines missing: ") + wire::frame_name(h.type) +
                            " frame after " + std::to_string(done) + " of " +
                            std::to_string(total) + " bytes");
    }
    if (h.length > total - done) return protocol_error("ROWS frame longer than its table");
    std::size_t left = h.length;
    while (left > 0) {
      std::size_t n = 0;
      bool ok = true;
      if (itab == nullptr) {
        n = left;
        ok = source_.skip(n);
      } else if (direct) {
        std::size_t avail = 0;
        std::uint8_t* dest = itab->writable(done, avail);
        if (dest == nullptr) {
          error_ = make_error(RFC_ERROR_RESOURCE, "no memory for table lines");
          return false;
        }
        n = std::min(left, avail);
        ok = source_.read_exact(dest, n);
      } else {
        if (row_pos == 0) {
          row = itab->append();
          if (row == nullptr) {
            error_ = make_error(RFC_ERROR_RESOURCE, "no memory for table lines");
            return false;
          }
        }
        if (row_pos < keep) {
          n = std::min(left, keep - row_pos);
          ok = source_.read_exact(row + row_pos, n);
        } else {
          n = std::min(left, sender_leng - row_pos);
          ok = source_.skip(n);
        }
        row_pos += n;
        if (row_pos == sender_leng) {
          pad_value(type, row, keep, itab->leng());
          row_pos = 0;
        }
      }
      if (!ok) {
        error_ = source_.error();
        return false;
      }
      left -= n;
      done += n;
    }
  }
  if (direct) itab->set_rows(static_cast<std::size_t>(rows));
  return true;
}

}  // namespace rfclib
