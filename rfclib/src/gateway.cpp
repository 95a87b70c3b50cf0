#include "gateway.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "client_open.h"
#include "connection.h"
#include "handle_table.h"
#include "handshake.h"
#include "liveness.h"
#include "net.h"
#include "text.h"
#include "version.h"

namespace rfclib {
namespace {

constexpr unsigned kDefaultMaxConnections = 256;

template <std::size_t N>
std::u16string field(const SAP_UC (&text)[N]) {
  return std::u16string(text, u16_length(text, N));
}

void fill_logon(RFC_GW_LOGON_DATA& logon, const Hello& hello, const std::string& address) {
  logon.kind = hello.kind == wire::HelloKind::reg ? RFC_GW_REGISTER : RFC_GW_LOGON;
  copy_text(logon.client, hello.client);
  copy_text(logon.user, hello.user);
  copy_text(logon.password, hello.password);
  copy_text(logon.language, hello.language);
  copy_text(logon.dest, hello.dest);
  copy_text(logon.partner_host, hello.host);
  copy_text(logon.program, hello.program);
  copy_text(logon.program_id, hello.program_id);
  copy_text(logon.partner_address, from_utf8(address));
}

Welcome welcome_of(const RFC_ATTRIBUTES& a) {
  Welcome w;
  w.partner_host = field(a.partner_host);
  if (w.partner_host.empty()) w.partner_host = from_utf8(local_host_name());
  w.systnr = field(a.systnr);
  w.sysid = field(a.sysid);
  w.codepage = field(a.partner_codepage);
  if (w.codepage.empty()) w.codepage = kCodePage;
  w.kernel_rel = field(a.kernel_rel);
  w.partner_rel = field(a.partner_rel);
  w.partner_type = a.partner_type[0] != 0 ? std::u16string(1, a.partner_type[0]) : u"3";
  return w;
}

// What the system side's own handle shows: this system and the logged-on partner.
RFC_ATTRIBUTES system_side_attributes(const Welcome& w, const RFC_GW_LOGON_DATA& logon) {
  RFC_ATTRIBUTES a{};
  copy_text(a.dest, field(logon.dest));
  copy_text(a.own_host, w.partner_host);
  copy_text(a.partner_host, field(logon.partner_host));
  copy_text(a.systnr, w.systnr);
  copy_text(a.sysid, w.sysid);
  copy_text(a.client, field(logon.client));
  copy_text(a.user, field(logon.user));
  copy_text(a.language, field(logon.language));
  a.trace[0] = u' ';
  a.rfc_role[0] = u'S';
  a.own_type[0] = w.partner_type.empty() ? u'3' : w.partner_type[0];
  copy_text(a.own_codepage, w.codepage);
  copy_text(a.own_rel, w.partner_rel);
  copy_text(a.partner_rel, kRelease);
  copy_text(a.kernel_rel, w.kernel_rel);
  a.partner_type[0] = u'E';
  copy_text(a.partner_codepage, kCodePage);
  copy_text(a.progname, field(logon.program));
  copy_text(a.partner_address, field(logon.partner_address));
  return a;
}

}  // namespace

Gateway::Gateway(const RFC_GW_CONFIG& config)
    : config_(config), registrations_(std::make_shared<Registrations>()) {
  if (config_.max_connections == 0) config_.max_connections = kDefaultMaxConnections;
}

Gateway* Gateway::start(const RFC_GW_CONFIG& config, Error& error) {
  if (config.logon_check == nullptr || config.serve == nullptr) {
    error = make_error(RFC_ERROR_PROGRAM, "gateway needs a logon check and a serve function");
    return nullptr;
  }
  auto* g = new Gateway(config);
  g->listen_fd_ = listen_tcp(config.bind_address, config.port, g->port_, error);
  if (g->listen_fd_ < 0) {
    delete g;
    return nullptr;
  }
  g->spare_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  g->acceptor_ = std::thread(&Gateway::accept_loop, g);
  return g;
}

int Gateway::accept_one(std::string& address) {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd >= 0) {
      // Taken now: a peer that resets at once has no address any more later.
      address = address_text(peer);
      return fd;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if ((errno == EMFILE || errno == ENFILE) && spare_fd_ >= 0) {
      // Out of descriptors: use the spare one to take the connection off the
      // queue and drop it, instead of spinning on it.
      ::close(spare_fd_);
      const int dropped = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (dropped >= 0) ::close(dropped);
      spare_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      continue;
    }
    return -1;
  }
}

void Gateway::accept_loop() {
  for (;;) {
    std::string address;
    const int fd = accept_one(address);
    std::unique_lock<std::mutex> lock(mutex_);
    if (fd < 0 || stopping_) {
      if (fd >= 0) ::close(fd);
      return;
    }
    reap_workers();
    tune_socket(fd);
    auto connection = std::make_shared<Connection>(fd);
    if (workers_.size() >= config_.max_connections) {
      // Outside the lock: the drop log is the program's code.
      lock.unlock();
      drop(*connection, address,
           make_error(RFC_ERROR_RESOURCE, "gateway serves too many connections"), true);
      continue;
    }
    Worker& w = workers_.emplace_back();
    w.connection = connection;
    w.thread = std::thread(&Gateway::serve, this, std::move(connection), std::move(address), &w);
  }
}

void Gateway::reap_workers() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void Gateway::drop(Connection& connection, const std::string& address, const Error& why,
                   bool tell) {
  if (tell) {
    std::vector<std::uint8_t> payload;
    encode_refuse(why, payload);
    Error ignored;
    connection.send_frame(wire::FrameType::refuse, payload, ignored);
  }
  connection.close();
  // Cancelled: RfcGwStop broke it, which the program knows.
  if (config_.drop_log == nullptr || why.group == RFC_ERROR_CANCELLED) return;
  RFC_ERROR_INFO_EX reason{};
  fill_record(why, &reason);
  const std::u16string peer = from_utf8(address);
  config_.drop_log(config_.context, peer.c_str(), &reason);
}

void Gateway::serve(std::shared_ptr<Connection> connection, std::string address,
                    Worker* worker) {
  connection->set_read_timeout(kHandshakeTimeoutSeconds);
  wire::FrameHeader h;
  std::vector<std::uint8_t> payload;
  Error error;
  Hello hello;
  if (!connection->read_frame(h, payload, error)) {
    drop(*connection, address, error, false);
  } else if (h.type != wire::FrameType::hello) {
    drop(*connection, address,
         make_error(RFC_ERROR_PROTOCOL,
                    std::string("HELLO expected, not ") + wire::frame_name(h.type)),
         true);
  } else if (!decode_hello(payload, hello)) {
    drop(*connection, address, make_error(RFC_ERROR_PROTOCOL, "malformed HELLO frame"), true);
  } else if (hello.major != wire::kVersionMajor) {
    drop(*connection, address,
         make_error(RFC_ERROR_PROTOCOL, "protocol version " + std::to_string(hello.major) +
                                            " not supported; this gateway speaks " +
                                            std::to_string(wire::kVersionMajor)),
         true);
  } else {
    handle_hello(connection, address, hello);
  }
  connection.reset();
  std::lock_guard<std::mutex> lock(mutex_);
  worker->done = true;
}

void Gateway::handle_hello(const std::shared_ptr<Connection>& connection,
                           const std::string& address, const Hello& hello) {
  if (hello.kind == wire::HelloKind::check) {
    CheckResult result;
    int ready = 0;
    int busy = 0;
    result.total = static_cast<std::uint32_t>(count(hello.program_id, ready, busy));
    result.ready = static_cast<std::uint32_t>(ready);
    result.busy = static_cast<std::uint32_t>(busy);
    std::vector<std::uint8_t> payload;
    encode_check_result(result, payload);
    Error ignored;
    connection->send_frame(wire::FrameType::check_result, payload, ignored);
    connection->close();
    return;
  }
  if (hello.kind == wire::HelloKind::reg && hello.program_id.empty()) {
    drop(*connection, address, make_error(RFC_ERROR_PROGRAM, "registration without a program id"),
         true);
    return;
  }
  RFC_GW_LOGON_DATA logon{};
  fill_logon(logon, hello, address);
  RFC_ATTRIBUTES system{};
  RFC_ERROR_INFO_EX refusal{};
  if (config_.logon_check(config_.context, &logon, &system, &refusal) != 0) {
    Error e = from_record(refusal);
    if (e.group == RFC_ERROR_NONE) e = make_error(RFC_ERROR_LOGON_FAILURE, "logon refused");
    drop(*connection, address, e, true);
    return;
  }
  Welcome welcome = welcome_of(system);
  welcome.timeout_ms = static_cast<std::uint32_t>(partner_timeout_ms());
  std::vector<std::uint8_t> payload;
  encode_welcome(welcome, payload);
  Error error;
  if (!connection->start_liveness(hello.minor, hello.timeout_ms, error)) {
    drop(*connection, address, error, true);
    return;
  }
  connection->set_attributes(system_side_attributes(welcome, logon));
  const auto send_welcome = [&] {
    if (connection->send_frame(wire::FrameType::welcome, payload, error)) return true;
    error.message = u"WELCOME not sent: " + error.message;
    return false;
  };
  if (hello.kind == wire::HelloKind::reg) {
    // Visible together with the WELCOME: taken before it, the handle would
    // still be busy with the handshake; counted after it, a program whose
    // RfcAccept has returned could find itself missing.
    if (!registrations_->add(hello.program_id, connection, send_welcome)) {
      drop(*connection, address, error, false);
    }
    return;
  }
  if (!send_welcome()) {
    drop(*connection, address, error, false);
    return;
  }
  const RFC_HANDLE handle = HandleTable::instance().add(connection);
  if (handle == RFC_HANDLE_NULL) {
    drop(*connection, address, make_error(RFC_ERROR_RESOURCE, "no handle numbers left"), false);
    return;
  }
  copy_text(connection->attributes().conversation_id, from_utf8(std::to_string(handle)));
  config_.serve(config_.context, handle, &logon);
  if (auto c = HandleTable::instance().remove(handle)) c->close();
}

int Gateway::count(const std::u16string& program_id, int& ready, int& busy) {
  registrations_->count(program_id, ready, busy);
  return ready + busy;
}

RFC_HANDLE Gateway::open_registered(const std::u16string& program_id, Error& error) {
  std::shared_ptr<Connection> c = registrations_->take(program_id);
  if (c == nullptr) {
    error = make_error(RFC_ERROR_BUSY,
                       "no idle program registered under the program id " + to_utf8(program_id));
    return RFC_HANDLE_NULL;
  }
  const RFC_HANDLE handle = HandleTable::instance().add(c);
  if (handle == RFC_HANDLE_NULL) {
    error = make_error(RFC_ERROR_RESOURCE, "no handle numbers left");
    c->close();
    return RFC_HANDLE_NULL;
  }
  copy_text(c->attributes().conversation_id, from_utf8(std::to_string(handle)));
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(opened_, [](const std::weak_ptr<Connection>& w) { return w.expired(); });
  opened_.push_back(c);
  return handle;
}

void Gateway::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    ::shutdown(listen_fd_, SHUT_RDWR);
  }
  acceptor_.join();
  ::close(listen_fd_);
  if (spare_fd_ >= 0) ::close(spare_fd_);
  for (auto& c : registrations_->take_all()) c->close();
  std::list<Worker> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& w : workers_) {
      if (auto c = w.connection.lock()) c->cancel();
    }
    for (auto& o : opened_) {
      if (auto c = o.lock()) c->cancel();
    }
    // Workers still mark themselves done under the lock; the nodes move, not the objects.
    workers.splice(workers.end(), workers_);
  }
  for (auto& w : workers) w.thread.join();
}

}  // namespace rfclib
