// Script_Server: a server on a loopback port the system chooses. A thread
// accepts one client and plays a script against it: send bytes (at once or
// one segment per byte), expect bytes, expect the client to close, close.
// Every wait is bounded, so a broken client fails the test instead of
// hanging it.
//
//   Script_Server server ({send (padded_greeting ("0001000000000000ABCD")),
//                          expect ("hello\n"), send ("OK\n"), expect_closed ()});
//   ... connect to server.port () ...
//   EXPECT_EQ (server.finish (), "");
//
// With Connection_Scripts it accepts one client per script: the n-th client
// to connect plays the n-th script, and the scripts run at the same time,
// each on a thread of its own (a control, a data and a request connection
// of one select, for instance).
#ifndef SCRIPT_SERVER_H
#define SCRIPT_SERVER_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct Script_Step
{
  enum class Kind { send, send_bytewise, expect, expect_closed, close };
  Kind kind;
  std::string bytes;
};

Script_Step send (std::string bytes);
// One send, and so one TCP segment, per byte.
Script_Step send_bytewise (std::string bytes);
// Reads exactly these bytes; a difference is a fault.
Script_Step expect (std::string bytes);
// Reads until the client closes; any byte that still arrives is a fault.
Script_Step expect_closed ();
Script_Step close_connection ();

// The greeting of the main port: the handle padded with blanks to 129
// characters, then a line feed.
std::string padded_greeting (std::string_view handle);

// One script per connection, in the order the clients connect.
struct Connection_Scripts
{
  std::vector<std::vector<Script_Step>> scripts;
};

class Script_Server
{
public:
  explicit Script_Server (std::vector<Script_Step> script);
  explicit Script_Server (Connection_Scripts scripts);
  ~Script_Server ();
  Script_Server (const Script_Server &) = delete;
  Script_Server &operator= (const Script_Server &) = delete;

  std::uint16_t port () const { return port_; }
  // Waits for the script to end; the faults seen, empty when none.
  std::string finish ();

private:
  // Accepts one client per script and plays each on a thread of its own.
  void accept_all (std::vector<std::vector<Script_Step>> scripts);
  void play (int fd, std::size_t connection, std::vector<Script_Step> script);
  bool play_step (int fd, const Script_Step &step, const std::string &where);
  void fault (const std::string &text);

  int listener_ = -1;
  std::uint16_t port_ = 0;
  bool several_ = false;  // faults name their connection
  std::mutex faults_mutex_;
  std::string faults_;
  std::thread thread_;
};

#endif
