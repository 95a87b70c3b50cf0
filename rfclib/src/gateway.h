// The system end of the protocol: listens, runs one thread per incoming
// connection for its handshake and, after a logon, for the program's serve
// function; keeps registrations for RfcGwOpenRegistered.
#ifndef RFCLIB_GATEWAY_H
#define RFCLIB_GATEWAY_H

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "error.h"
#include "registrations.h"
#include "rfclib/rfc_gateway.h"

namespace rfclib {

class Connection;
struct Hello;

class Gateway {
 public:
  // Null with error when the port cannot be opened.
  static Gateway* start(const RFC_GW_CONFIG& config, Error& error);
  static Gateway* from(RFC_GATEWAY handle) { return reinterpret_cast<Gateway*>(handle); }
  RFC_GATEWAY handle() { return reinterpret_cast<RFC_GATEWAY>(this); }

  std::uint16_t port() const { return port_; }
  int count(const std::u16string& program_id, int& ready, int& busy);
  RFC_HANDLE open_registered(const std::u16string& program_id, Error& error);
  // Breaks all connections and waits for every thread of the gateway.
  void stop();

 private:
  struct Worker {
    std::thread thread;
    std::weak_ptr<Connection> connection;
    bool done = false;
  };

  explicit Gateway(const RFC_GW_CONFIG& config);
  void accept_loop();
  int accept_one();
  void serve(std::shared_ptr<Connection> connection, Worker* worker);
  void handle_hello(const std::shared_ptr<Connection>& connection, const Hello& hello);
  void reap_workers();

  RFC_GW_CONFIG config_;
  int listen_fd_ = -1;
  int spare_fd_ = -1;
  std::uint16_t port_ = 0;
  std::thread acceptor_;
  std::mutex mutex_;
  bool stopping_ = false;
  std::list<Worker> workers_;
  std::vector<std::weak_ptr<Connection>> opened_;
  std::shared_ptr<Registrations> registrations_;
};

}  // namespace rfclib

#endif
