// Raw TCP helpers for tests that talk to a server below any protocol library.
#pragma once

#include <chrono>
#include <string>

namespace vurude::test {

// Opens a TCP connection to 127.0.0.1:port; returns the socket or -1.
int connect_loopback(int port);

// Writes all bytes; false on error.
bool send_all(int fd, const std::string& bytes);

// Reads until the peer closes or `timeout` passes; returns true when the peer
// closed (EOF or reset) within the timeout. Data read is appended to `received`.
bool wait_for_close(int fd, std::chrono::milliseconds timeout, std::string* received = nullptr);

} // namespace vurude::test
