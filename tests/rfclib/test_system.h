// A small system side for the library's own tests: a gateway on a free port
// with a user table of one user and a handful of functions.
#ifndef TESTS_RFCLIB_TEST_SYSTEM_H
#define TESTS_RFCLIB_TEST_SYSTEM_H

#include <functional>
#include <future>
#include <string>
#include <thread>

#include "rfclib/rfc_gateway.h"

namespace rfctest {

class TestSystem {
 public:
  TestSystem();
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

  // Serves calls on a system-side handle until the conversation ends.
  static void serve_loop(RFC_HANDLE handle, TestSystem* system);
  // Serves one call whose name is waiting. Returns false when the handle is gone.
  static bool dispatch(RFC_HANDLE handle, TestSystem* system);

 private:
  RFC_GATEWAY gateway_ = nullptr;
  unsigned short port_ = 0;
  std::promise<void> entered_;
  std::promise<void> release_;
  std::shared_future<void> released_;
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

// Reads one frame (header and payload) from a raw socket; false at the end.
bool read_raw_frame(int fd, unsigned char& type, std::string& payload);
// Sends a WELCOME a library client accepts.
void send_raw_welcome(int fd);

}  // namespace rfctest

#endif
