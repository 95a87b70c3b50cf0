#include "connection.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "handshake.h"
#include "heartbeat_ticker.h"
#include "itab.h"
#include "liveness.h"
#include "text.h"

namespace rfclib {
namespace {

using wire::FrameType;

Error busy_error() {
  return make_error(RFC_ERROR_BUSY, "handle is in use by another thread");
}

Error usage_error(const std::string& message) { return make_error(RFC_ERROR_PROGRAM, message); }

// Tables of a call that the caller did not send are empty for the callee;
// tables the receiver wants created exist afterwards (newitab 1).
void settle_tables(RFC_TABLE* tables, const std::vector<Itab*>& received, bool empty_unsent) {
  if (tables == nullptr) return;
  for (RFC_TABLE* t = tables; t->name != nullptr; ++t) {
    if (t->ithandle == nullptr) {
      if (t->leng == 0) continue;
      Itab* itab = Itab::create(name_view(t->name, t->nlen), t->leng);
      if (itab == nullptr) continue;
      t->ithandle = itab->handle();
      t->newitab = 1;
      continue;
    }
    Itab* itab = Itab::from(t->ithandle);
    bool got = false;
    for (Itab* r : received) got = got || r == itab;
    if (!got && empty_unsent) itab->clear();
  }
}

}  // namespace

Connection::Connection(int fd) : stream_(fd), reader_(stream_) {}

Connection::~Connection() {
  stop_heartbeats();
  if (on_release_) on_release_();
}

bool Connection::start_liveness(std::uint16_t partner_minor, std::uint32_t partner_timeout_ms,
                                Error& error) {
  if (partner_minor < 1) {
    stream_.set_read_timeout(0);
    return true;
  }
  const int own_ms = rfclib::partner_timeout_ms();
  if (!HeartbeatTicker::instance().add(this, heartbeat_interval_ms(own_ms, partner_timeout_ms))) {
    error = make_error(RFC_ERROR_RESOURCE, "no thread for the heartbeats of the connection");
    return false;
  }
  ticking_ = true;
  stream_.set_silence_limit(own_ms);
  return true;
}

void Connection::stop_heartbeats() {
  if (!ticking_) return;
  HeartbeatTicker::instance().remove(this);
  ticking_ = false;
}

void Connection::follow_stack() {
  if (!ticking_) return;
  std::lock_guard<std::mutex> lock(write_mutex_);
  beating_ = serving();
}

void Connection::beat() {
  std::unique_lock<std::mutex> lock(write_mutex_, std::try_to_lock);
  if (!lock || !beating_) return;
  std::uint8_t frame[wire::kHeaderSize];
  wire::encode_header(frame, FrameType::heartbeat, 0);
  stream_.send_nowait(frame, sizeof frame);
}

bool Connection::send_message(bool serving_after) {
  std::lock_guard<std::mutex> lock(write_mutex_);
  const bool sent = writer_.send(stream_);
  beating_ = sent && serving_after;
  return sent;
}

bool Connection::send_frame(FrameType type, const std::vector<std::uint8_t>& payload,
                            Error& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  return write_frame(type, payload, error);
}

bool Connection::write_frame(FrameType type, const std::vector<std::uint8_t>& payload,
                             Error& error) {
  std::lock_guard<std::mutex> lock(write_mutex_);
  writer_.reset();
  writer_.begin_frame(type);
  writer_.payload().bytes(payload.data(), payload.size());
  writer_.end_frame();
  if (!writer_.send(stream_)) {
    error = stream_.error();
    return false;
  }
  return true;
}

bool Connection::read_frame(wire::FrameHeader& header, std::vector<std::uint8_t>& payload,
                            Error& error) {
  if (!reader_.read_header(header) || !reader_.read_payload(header, payload)) {
    error = reader_.error();
    return false;
  }
  return true;
}

void Connection::end_connection(const Error& error) {
  // Before the socket closes: the ticker must not write to a reused descriptor.
  stop_heartbeats();
  ended_ = true;
  end_error_ = error;
  stack_.clear();
  stream_.close_socket();
}

RFC_RC Connection::fail_broken(const Error& error) {
  end_connection(error);
  return fail(error);
}

RFC_RC Connection::fail_ended() {
  Error e = end_error_;
  if (e.empty()) e = make_error(RFC_ERROR_COMMUNICATION, "connection is closed");
  return fail(e);
}

bool Connection::drain_items() {
  std::vector<Itab*> ignored;
  if (!reader_.read_items(nullptr, nullptr, ignored)) return false;
  stack_.back().data_read = true;
  return true;
}

bool Connection::read_call_name(const wire::FrameHeader& header) {
  if (!reader_.read_payload(header, payload_)) return false;
  wire::PayloadReader r(payload_.data(), payload_.size());
  std::u16string name;
  if (!r.text(name, wire::kMaxNameChars) || !r.at_end() || name.empty()) {
    reader_.set_error(make_error(RFC_ERROR_PROTOCOL, "malformed CALL frame"));
    return false;
  }
  stack_.push_back({false, false, std::move(name), {}});
  follow_stack();
  return true;
}

bool Connection::next_message(wire::FrameHeader& header) {
  for (;;) {
    if (!reader_.read_header(header)) return false;
    if (header.type != FrameType::heartbeat) return true;
  }
}

RFC_RC Connection::call(std::u16string_view function, RFC_PARAMETER* exporting,
                        RFC_TABLE* tables) {
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock) return fail(busy_error());
  if (ended_) return fail_ended();
  if (!stack_.empty() && stack_.back().ours) {
    return fail(usage_error("a call on this handle still waits for its answer (RfcReceive)"));
  }
  Error error;
  if (!check_name(function, "function", error)) return fail(error);
  if (serving() && !stack_.back().data_read && !drain_items()) return fail_broken(reader_.error());
  writer_.reset();
  writer_.begin_frame(FrameType::call);
  writer_.payload().text(function);
  writer_.end_frame();
  if (!writer_.add_parameters(exporting, error) || !writer_.add_tables(tables, nullptr, error)) {
    writer_.reset();
    return fail(error);
  }
  writer_.empty_frame(FrameType::end);
  if (!send_message(false)) return fail_broken(stream_.error());
  stack_.push_back({true, true, std::u16string(function), {}});
  return RFC_OK;
}

RFC_RC Connection::receive(RFC_PARAMETER* importing, RFC_TABLE* tables, SAP_UC** exception) {
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock) return fail(busy_error());
  if (exception != nullptr) *exception = nullptr;
  if (ended_) return fail_ended();
  if (stack_.empty() || !stack_.back().ours) {
    return fail(usage_error("no call on this handle waits for an answer"));
  }
  wire::FrameHeader h;
  if (!next_message(h)) return fail_broken(reader_.error());
  std::vector<Itab*> received;
  switch (h.type) {
    case FrameType::call:
      if (!read_call_name(h)) return fail_broken(reader_.error());
      return RFC_CALL;
    case FrameType::reply:
      if (h.length != 0) return fail_broken(make_error(RFC_ERROR_PROTOCOL, "REPLY frame with a payload"));
      if (!reader_.read_items(importing, tables, received)) return fail_broken(reader_.error());
      settle_tables(tables, received, false);
      stack_.pop_back();
      follow_stack();
      return RFC_OK;
    case FrameType::exception: {
      if (!reader_.read_payload(h, payload_)) return fail_broken(reader_.error());
      wire::PayloadReader r(payload_.data(), payload_.size());
      std::u16string name;
      if (!r.text(name, wire::kMaxNameChars) || !r.at_end() || name.empty()) {
        return fail_broken(make_error(RFC_ERROR_PROTOCOL, "malformed EXCEPTION frame"));
      }
      if (!reader_.read_items(nullptr, tables, received)) return fail_broken(reader_.error());
      stack_.pop_back();
      follow_stack();
      exception_ = std::move(name);
      if (exception != nullptr) *exception = exception_.data();
      return RFC_EXCEPTION;
    }
    case FrameType::abort: {
      Error e;
      if (!reader_.read_payload(h, payload_) || !decode_abort(payload_, e)) {
        return fail_broken(make_error(RFC_ERROR_PROTOCOL, "malformed ABORT frame"));
      }
      end_connection(e);
      set_last_error(e);
      exception_ = u"SYSTEM_FAILURE";
      if (exception != nullptr) *exception = exception_.data();
      return RFC_SYS_EXCEPTION;
    }
    case FrameType::close:
      return fail_broken(
          make_error(RFC_ERROR_COMMUNICATION, "partner closed the connection during the call"));
    default:
      return fail_broken(make_error(RFC_ERROR_PROTOCOL, std::string("unexpected ") +
                                                            wire::frame_name(h.type) +
                                                            " frame while waiting for an answer"));
  }
}

RFC_RC Connection::wait_for_request(int seconds) {
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock) return fail(busy_error());
  if (ended_) return fail_ended();
  if (!stack_.empty()) {
    return fail(usage_error("RfcWaitForRequest while a call is open on this handle"));
  }
  // Idle: no partner time-out here, only the caller's wait.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(std::max(seconds, 0));
  wire::FrameHeader h;
  for (;;) {
    const long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int ready = stream_.wait_readable(static_cast<int>(std::clamp(left, 0LL, 0LL + INT_MAX)));
    if (ready < 0) return fail_broken(stream_.error());
    if (ready == 0) return RFC_RETRY;
    if (!reader_.read_header(h)) return fail_broken(reader_.error());
    if (h.type != FrameType::heartbeat) break;
  }
  if (h.type == FrameType::call) {
    if (!read_call_name(h)) return fail_broken(reader_.error());
    return RFC_OK;
  }
  if (h.type == FrameType::close) {
    return fail_broken(make_error(RFC_ERROR_COMMUNICATION, "connection closed by the partner"));
  }
  if (h.type == FrameType::abort) {
    Error e;
    if (!reader_.read_payload(h, payload_) || !decode_abort(payload_, e)) {
      e = make_error(RFC_ERROR_PROTOCOL, "malformed ABORT frame");
    }
    return fail_broken(e);
  }
  return fail_broken(make_error(RFC_ERROR_PROTOCOL, std::string("unexpected ") +
                                                        wire::frame_name(h.type) +
                                                        " frame while waiting for a call"));
}

RFC_RC Connection::get_name(SAP_UC* name, std::size_t size, bool long_name) {
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock) return fail(busy_error());
  if (name == nullptr || size == 0) return fail(usage_error("no buffer for the function name"));
  if (ended_) return fail_ended();
  if (!serving()) return fail(usage_error("no call of the partner is being served"));
  const std::u16string& n = stack_.back().name;
  if (n.size() >= size) {
    return fail(usage_error(long_name ? "buffer too small for the function name"
                                      : "function name longer than 30 characters: use RfcGetLongNameEx"));
  }
  copy_text(name, size, n);
  return RFC_OK;
}

RFC_RC Connection::get_data(RFC_PARAMETER* importing, RFC_TABLE* tables) {
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock) return fail(busy_error());
  if (ended_) return fail_ended();
  if (!serving()) return fail(usage_error("no call of the partner is being served"));
  Level& level = stack_.back();
  if (level.data_read) return fail(usage_error("the data of this call has been read already"));
  std::vector<Itab*> received;
  if (!reader_.read_items(importing, tables, received)) return fail_broken(reader_.error());
  level.data_read = true;
  // Kept as stamps: by the answer the program may have deleted the tables.
  for (const Itab* t : received) level.received.push_back(t->receipt());
  settle_tables(tables, received, true);
  return RFC_OK;
}

RFC_RC Connection::answer(FrameType type, std::u16string_view exception, RFC_PARAMETER* exporting,
                          RFC_TABLE* tables) {
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock) return fail(busy_error());
  if (ended_) return fail_ended();
  if (!serving()) return fail(usage_error("no call of the partner is being served"));
  Error error;
  if (type == FrameType::exception && !check_name(exception, "exception", error)) return fail(error);
  if (!stack_.back().data_read && !drain_items()) return fail_broken(reader_.error());
  writer_.reset();
  if (type == FrameType::exception) {
    writer_.begin_frame(type);
    writer_.payload().text(exception);
    writer_.end_frame();
  } else {
    writer_.empty_frame(type);
  }
  if (!writer_.add_parameters(exporting, error) ||
      !writer_.add_tables(tables, &stack_.back().received, error)) {
    writer_.reset();
    return fail(error);
  }
  writer_.empty_frame(FrameType::end);
  const bool serving_after = stack_.size() >= 2 && !stack_[stack_.size() - 2].ours;
  if (!send_message(serving_after)) return fail_broken(stream_.error());
  stack_.pop_back();
  return RFC_OK;
}

RFC_RC Connection::send_data(RFC_PARAMETER* exporting, RFC_TABLE* tables) {
  return answer(FrameType::reply, {}, exporting, tables);
}

RFC_RC Connection::raise(std::u16string_view exception, RFC_TABLE* tables) {
  return answer(FrameType::exception, exception, nullptr, tables);
}

void Connection::abort(wire::AbortKind kind, const Error& error) {
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock) {
    stream_.cancel();
    lock.lock();
  }
  if (ended_) return;
  std::vector<std::uint8_t> payload;
  encode_abort(kind, error, payload);
  Error ignored;
  write_frame(FrameType::abort, payload, ignored);
  end_connection(make_error(RFC_ERROR_CANCELLED, "connection aborted by this program"));
}

void Connection::close() {
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock) {
    // Another thread is inside an operation: break it, then take over.
    stream_.cancel();
    lock.lock();
  }
  if (ended_) return;
  if (stack_.empty()) {
    Error ignored;
    write_frame(FrameType::close, {}, ignored);
  }
  end_connection(make_error(RFC_ERROR_CANCELLED, "connection closed by this program"));
}

bool Connection::idle_alive() {
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock) return true;
  return !ended_ && !stream_.readable_now();
}

bool Connection::ended() {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_;
}

RFC_RC Connection::get_attributes(RFC_ATTRIBUTES* attributes) {
  if (attributes == nullptr) return fail(usage_error("no attribute record given"));
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock) return fail(busy_error());
  *attributes = attributes_;
  return RFC_OK;
}

}  // namespace rfclib
