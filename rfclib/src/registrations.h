// The gateway's programs registered under program ids: idle ones wait for a
// conversation; taking one makes it busy until its handle is released.
#ifndef RFCLIB_REGISTRATIONS_H
#define RFCLIB_REGISTRATIONS_H

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rfclib {

class Connection;

class Registrations : public std::enable_shared_from_this<Registrations> {
 public:
  // Runs `welcome` (which tells the program it is registered) and, when it
  // succeeds, adds the registration as idle, all under the registry's lock:
  // nobody counts or takes a registration whose handshake is still under
  // way, and everybody does once the program can know it is registered.
  // `welcome` sends one small frame on a fresh socket, which the socket's
  // send buffer takes at once. False when `welcome` failed.
  bool add(const std::u16string& program_id, std::shared_ptr<Connection> connection,
           const std::function<bool()>& welcome);
  // An idle registration that is still alive, now busy; null when none.
  std::shared_ptr<Connection> take(const std::u16string& program_id);
  // Drops registrations whose program has gone, then counts.
  void count(const std::u16string& program_id, int& ready, int& busy);
  // Removes every idle registration (gateway stop).
  std::vector<std::shared_ptr<Connection>> take_all();

 private:
  void drop_dead(std::deque<std::shared_ptr<Connection>>& idle);

  std::mutex mutex_;
  std::map<std::u16string, std::deque<std::shared_ptr<Connection>>> idle_;
  std::map<std::u16string, int> busy_;
};

}  // namespace rfclib

#endif
