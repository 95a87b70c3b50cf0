// A small system side for the library's own tests: a gateway on a free port
// with a user table of one user and a handful of functions.
#ifndef TESTS_RFCLIB_TEST_SYSTEM_H
#define TESTS_RFCLIB_TEST_SYSTEM_H

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rfclib/rfc_gateway.h"

namespace rfctest {

class TestSystem {
 public:
  // A connection the gateway reported dropped before logon.
  struct Dropped {
    std::u16string address;
    int group;
    std::u16string message;
  };

  explicit TestSystem(unsigned max_connections = 0);
  ~TestSystem();

  unsigned short port() const { return port_; }
  RFC_GATEWAY gateway() const { return gateway_; }
  std::u16string connect_string(const std::u16string& user = u"ALICE",
                                const std::u16string& password = u"secret") const;
  // Logs on as the test user; fails the test on error.
  RFC_HANDLE open() const;

  // The function BLOCK answers only after release_block(); entered_block()
  // becomes ready when BLOCK has read its data.
  std::future<void> entered_block() { return entered_.get_future(); }
  void release_block() { release_.set_value(); }

  // Waits until `count` drops have been reported in all and returns them;
  // gives up after 30 s, so that a missing report fails instead of hanging.
  std::vector<Dropped> dropped(std::size_t count);

  // Serves calls on a system-side handle until the conversation ends.
  static void serve_loop(RFC_HANDLE handle, TestSystem* system);
  // Serves one call whose name is waiting. Returns false when the handle is gone.
  static bool dispatch(RFC_HANDLE handle, TestSystem* system);

 private:
  static void record_drop(void* context, const SAP_UC* address, const RFC_ERROR_INFO_EX* reason);

  RFC_GATEWAY gateway_ = nullptr;
  unsigned short port_ = 0;
  std::promise<void> entered_;
  std::promise<void> release_;
  std::shared_future<void> released_;
  std::mutex drops_mutex_;
  std::condition_variable drops_changed_;
  std::vector<Dropped> drops_;
};

// Calls a function of the partner and serves its callbacks (CLIENT_CB) on the way.
RFC_RC call_and_serve(RFC_HANDLE handle, const char16_t* function, RFC_PARAMETER* exporting,
                      RFC_PARAMETER* importing, RFC_TABLE* tables, SAP_UC** exception);

// A listening socket on a free port that runs `script` on the first accepted
// socket: for partners that misbehave on purpose.
class RawPartner {
 public:
  explicit RawPartner(std::function<void(int fd)> script);
  ~RawPartner();
  unsigned short port() const { return port_; }

 private:
  int listen_fd_ = -1;
  unsigned short port_ = 0;
  std::thread thread_;
};

// A socket connected to 127.0.0.1:port (-1 on failure) and its own "address:port".
int connect_raw(unsigned short port);
std::string local_address(int fd);

// Reads one frame (header and payload) from a raw socket; false at the end.
bool read_raw_frame(int fd, unsigned char& type, std::string& payload);
// Sends a WELCOME a library client accepts, of protocol 1.minor; from 1.1 on
// with the partner time-out `timeout_ms`.
void send_raw_welcome(int fd, std::uint16_t minor = 0, std::uint32_t timeout_ms = 0);

}  // namespace rfctest

#endif
