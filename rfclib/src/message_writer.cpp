#include "message_writer.h"

#include <algorithm>

#include "itab.h"
#include "text.h"

namespace rfclib {
namespace {

// Values up to this size are copied; larger ones are sent from where they lie.
constexpr std::size_t kCopyLimit = 1024;

// True when `itab`, sent as `name`, holds exactly what it received under that
// name in the call being answered. A stamp belongs to one receipt of one
// table, so a match also proves it is that table, unchanged since. Filled
// twice by that call (under one name or two), it is ambiguous: sent in full.
bool as_received(const Itab& itab, std::u16string_view name,
                 const std::vector<std::uint64_t>& answered) {
  return itab.receipt() != 0 && itab.received_as() == name &&
         std::count(answered.begin(), answered.end(), itab.receipt()) == 1;
}

}  // namespace

bool check_name(std::u16string_view name, const char* what, Error& error) {
  if (name.empty()) {
    error = make_error(RFC_ERROR_PROGRAM, std::string(what) + " without a name");
    return false;
  }
  if (name.size() > wire::kMaxNameChars) {
    error = make_error(RFC_ERROR_PROGRAM, std::string(what) + " name longer than " +
                                              std::to_string(wire::kMaxNameChars) +
                                              " characters: " + to_utf8(name.substr(0, 40)));
    return false;
  }
  return true;
}

void MessageWriter::reset() {
  buffer_.clear();
  pieces_.clear();
  inline_start_ = 0;
}

void MessageWriter::close_inline_piece() {
  if (buffer_.size() > inline_start_) {
    pieces_.push_back({nullptr, inline_start_, buffer_.size() - inline_start_});
  }
  inline_start_ = buffer_.size();
}

void MessageWriter::begin_frame(wire::FrameType type) {
  frame_start_ = buffer_.size();
  frame_external_ = 0;
  buffer_.resize(buffer_.size() + wire::kHeaderSize);
  buffer_[frame_start_] = static_cast<std::uint8_t>(type);
}

void MessageWriter::add_external(const void* data, std::size_t size) {
  if (size == 0) return;
  close_inline_piece();
  pieces_.push_back({static_cast<const std::uint8_t*>(data), 0, size});
  frame_external_ += size;
}

void MessageWriter::end_frame() {
  const auto type = static_cast<wire::FrameType>(buffer_[frame_start_]);
  const std::size_t length = buffer_.size() - frame_start_ - wire::kHeaderSize + frame_external_;
  wire::encode_header(buffer_.data() + frame_start_, type, static_cast<std::uint32_t>(length));
}

void MessageWriter::empty_frame(wire::FrameType type) {
  begin_frame(type);
  end_frame();
}

bool MessageWriter::add_parameters(const RFC_PARAMETER* parameters, Error& error) {
  if (parameters == nullptr) return true;
  for (const RFC_PARAMETER* p = parameters; p->name != nullptr; ++p) {
    const std::u16string_view name = name_view(p->name, p->nlen);
    if (!check_name(name, "parameter", error)) return false;
    if (p->leng > 0 && p->addr == nullptr) {
      error = make_error(RFC_ERROR_PROGRAM, "parameter " + to_utf8(name) + " has no value");
      return false;
    }
    if (p->leng > wire::kMaxFramePayload - 1024) {
      error = make_error(RFC_ERROR_PROGRAM, "parameter " + to_utf8(name) + " is longer than " +
                                                std::to_string(wire::kMaxFramePayload - 1024) +
                                                " bytes");
      return false;
    }
    begin_frame(wire::FrameType::param);
    auto w = payload();
    w.text(name);
    w.u32(p->type);
    w.u32(p->leng);
    if (p->leng <= kCopyLimit) {
      w.bytes(p->addr, p->leng);
    } else {
      add_external(p->addr, p->leng);
    }
    end_frame();
  }
  return true;
}

bool MessageWriter::add_tables(const RFC_TABLE* tables,
                               const std::vector<std::uint64_t>* answered, Error& error) {
  if (tables == nullptr) return true;
  for (const RFC_TABLE* t = tables; t->name != nullptr; ++t) {
    if (t->ithandle == nullptr) continue;
    const std::u16string_view name = name_view(t->name, t->nlen);
    if (!check_name(name, "table", error)) return false;
    const Itab* itab = Itab::from(t->ithandle);
    const bool same = answered != nullptr && as_received(*itab, name, *answered);
    begin_frame(wire::FrameType::table);
    auto w = payload();
    w.text(name);
    w.u32(t->type);
    w.u32(static_cast<std::uint32_t>(itab->leng()));
    w.u64(same ? 0 : itab->rows());
    w.u8(same ? wire::kTableUnchanged : 0);
    end_frame();
    if (same) continue;
    for (std::size_t k = 0; k < itab->block_count(); ++k) {
      std::size_t bytes = 0;
      const std::uint8_t* block = itab->block(k, bytes);
      begin_frame(wire::FrameType::rows);
      add_external(block, bytes);
      end_frame();
    }
  }
  return true;
}

bool MessageWriter::send(SocketStream& stream) {
  close_inline_piece();
  iov_.clear();
  for (const Piece& p : pieces_) {
    void* base = const_cast<std::uint8_t*>(p.external != nullptr ? p.external
                                                                   : buffer_.data() + p.offset);
    iov_.push_back({base, p.size});
  }
  const bool ok = stream.write_all(iov_.data(), iov_.size());
  reset();
  return ok;
}

std::vector<std::uint8_t> MessageWriter::flatten() const {
  std::vector<std::uint8_t> out;
  for (const Piece& p : pieces_) {
    const std::uint8_t* base = p.external != nullptr ? p.external : buffer_.data() + p.offset;
    out.insert(out.end(), base, base + p.size);
  }
  out.insert(out.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(inline_start_),
             buffer_.end());
  return out;
}

}  // namespace rfclib
