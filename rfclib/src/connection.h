// One RFC connection, either side: the socket, the stack of open calls in
// both directions, and the RFC operations on it. Every operation holds the
// connection's lock, so a handle used by two threads at once fails on the
// second instead of interleaving. Writes hold a second lock as well, which
// the heartbeat ticker shares: a heartbeat never lands inside a message.
#ifndef RFCLIB_CONNECTION_H
#define RFCLIB_CONNECTION_H

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "error.h"
#include "message_reader.h"
#include "message_writer.h"
#include "socket_stream.h"
#include "wire.h"

namespace rfclib {

class Itab;

class Connection {
 public:
  explicit Connection(int fd);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Handshake, before the connection is handed out (single owner, no lock).
  bool send_frame(wire::FrameType type, const std::vector<std::uint8_t>& payload, Error& error);
  bool read_frame(wire::FrameHeader& header, std::vector<std::uint8_t>& payload, Error& error);
  void set_read_timeout(int seconds) { stream_.set_read_timeout(seconds); }
  // After the handshake, before the connection is shared: with a partner of
  // protocol 1.1 or later, reads give up after the partner time-out of
  // silence and heartbeats go out while this side owes the partner an
  // answer. With an older partner, reads are not bounded. False (with
  // `error`) when the heartbeat thread cannot be started.
  bool start_liveness(std::uint16_t partner_minor, std::uint32_t partner_timeout_ms, Error& error);

  // RFC operations (any thread; one at a time). Failures set the thread's
  // last error.
  RFC_RC call(std::u16string_view function, RFC_PARAMETER* exporting, RFC_TABLE* tables);
  RFC_RC receive(RFC_PARAMETER* importing, RFC_TABLE* tables, SAP_UC** exception);
  RFC_RC wait_for_request(int seconds);
  RFC_RC get_name(SAP_UC* name, std::size_t size, bool long_name);
  RFC_RC get_data(RFC_PARAMETER* importing, RFC_TABLE* tables);
  RFC_RC send_data(RFC_PARAMETER* exporting, RFC_TABLE* tables);
  RFC_RC raise(std::u16string_view exception, RFC_TABLE* tables);
  // Sends ABORT when possible and ends the connection.
  void abort(wire::AbortKind kind, const Error& error);
  // Orderly end: CLOSE when no call is open, then the socket is closed.
  void close();

  // Any thread: breaks blocked operations; they fail with RFC_ERROR_CANCELLED.
  void cancel() { stream_.cancel(); }
  // True while an idle connection (a waiting registration) has sent nothing
  // and is not closed.
  bool idle_alive();
  // True when ended (closed, aborted, broken).
  bool ended();

  // Ticker thread: sends a heartbeat when this side is working on an answer
  // it owes the partner. Never blocks: a connection busy writing is alive anyway.
  void beat();

  RFC_RC get_attributes(RFC_ATTRIBUTES* attributes);
  void set_attributes(const RFC_ATTRIBUTES& attributes) { attributes_ = attributes; }
  RFC_ATTRIBUTES& attributes() { return attributes_; }
  int fd() const { return stream_.fd(); }

  // Runs when the connection is destroyed (the gateway's count of busy registrations).
  void set_on_release(std::function<void()> action) { on_release_ = std::move(action); }

 private:
  struct Level {
    bool ours;        // true: we called and wait for the answer
    bool data_read;   // partner's call: its items have been read
    std::u16string name;
    std::vector<std::uint64_t> received;  // partner's call: receipts of the tables it filled
  };

  bool write_frame(wire::FrameType type, const std::vector<std::uint8_t>& payload, Error& error);
  // Sends the message built in writer_ and, in the same step, whether this
  // side owes the partner an answer afterwards.
  bool send_message(bool serving_after);
  // Heartbeats follow whether this side serves a call of the partner.
  void follow_stack();
  void stop_heartbeats();
  RFC_RC fail_broken(const Error& error);
  RFC_RC fail_ended();
  bool serving() const { return !stack_.empty() && !stack_.back().ours; }
  bool drain_items();
  bool read_call_name(const wire::FrameHeader& header);
  // Header of the partner's next message; heartbeats before it are skipped.
  bool next_message(wire::FrameHeader& header);
  RFC_RC answer(wire::FrameType type, std::u16string_view exception, RFC_PARAMETER* exporting,
                RFC_TABLE* tables);
  void end_connection(const Error& error);

  std::mutex mutex_;
  std::mutex write_mutex_;  // every write to stream_; taken inside mutex_
  bool beating_ = false;    // under write_mutex_
  bool ticking_ = false;    // registered with the ticker
  SocketStream stream_;
  MessageReader reader_;
  MessageWriter writer_;
  std::vector<Level> stack_;
  bool ended_ = false;
  Error end_error_;
  std::u16string exception_;
  std::vector<std::uint8_t> payload_;
  RFC_ATTRIBUTES attributes_{};
  std::function<void()> on_release_;
};

}  // namespace rfclib

#endif
