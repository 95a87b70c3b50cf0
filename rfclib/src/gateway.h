// The system end of the protocol: listens, runs one thread per incoming
// connection for its handshake and, after a logon, for the program's serve
// function; keeps registrations for RfcGwOpenRegistered.
#ifndef RFCLIB_GATEWAY_H
#define RFCLIB_GATEWAY_H

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
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
  // A new connection and its peer's address; -1 when the listener is shut down.
  int accept_one(std::string& address);
  void serve(std::shared_ptr<Connection> connection, std::string address, Worker* worker);
  void handle_hello(const std::shared_ptr<Connection>& connection, const std::string& address,
                    const Hello& hello);
  // Ends a connection that is not logged on: sends REFUSE with `why` when
  // `tell`, closes it, and reports it to the program's drop log.
  void drop(Connection& connection, const std::string& address, const Error& why, bool tell);
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
