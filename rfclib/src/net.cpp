#include "net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace rfclib {
namespace {

bool wait_connected(int fd, int timeout_ms, int& err) {
  pollfd p{fd, POLLOUT, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int r = ::poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      err = r == 0 ? ETIMEDOUT : errno;
      return false;
    }
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    return err == 0;
  }
}

}  // namespace

void tune_socket(int fd) {
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  int idle = 60;
  int interval = 10;
  int count = 6;
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  unsigned user_timeout_ms = 120000;
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout_ms, sizeof user_timeout_ms);
}

int connect_tcp(const std::string& host, std::uint16_t port, int timeout_ms, Error& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) {
    error = make_error(RFC_ERROR_COMMUNICATION,
                       "partner host " + host + " unknown: " + ::gai_strerror(rc));
    return -1;
  }
  int last_errno = ECONNREFUSED;
  int fd = -1;
  for (addrinfo* a = list; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) {
      last_errno = errno;
      continue;
    }
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) break;
    int err = errno;
    if (err == EINPROGRESS && wait_connected(fd, timeout_ms, err)) break;
    last_errno = err;
    ::close(fd);
    fd = -1;
  }
  ::freeaddrinfo(list);
  if (fd < 0) {
    error = system_error(RFC_ERROR_COMMUNICATION,
                         "partner " + host + ":" + service + " not reached", last_errno);
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  tune_socket(fd);
  return fd;
}

int listen_tcp(const char* address, std::uint16_t port, std::uint16_t& bound_port, Error& error) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (address == nullptr || *address == 0) {
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (::inet_pton(AF_INET, address, &addr.sin_addr) != 1) {
    error = make_error(RFC_ERROR_PROGRAM, std::string("listen address ") + address +
                                              " is not a numeric IPv4 address");
    return -1;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = system_error(RFC_ERROR_RESOURCE, "socket", errno);
    return -1;
  }
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 128) != 0) {
    error = system_error(RFC_ERROR_COMMUNICATION, "cannot listen on port " + std::to_string(port),
                         errno);
    ::close(fd);
    return -1;
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  bound_port = ntohs(addr.sin_port);
  return fd;
}

std::string local_host_name() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

std::string address_text(const sockaddr_storage& addr) {
  char text[INET6_ADDRSTRLEN] = {};
  std::uint16_t port = 0;
  if (addr.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&addr);
    ::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
    port = ntohs(a->sin_port);
  } else if (addr.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&addr);
    ::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
    port = ntohs(a->sin6_port);
  } else {
    return {};
  }
  return std::string(text) + ":" + std::to_string(port);
}

std::string peer_address(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  return address_text(addr);
}

}  // namespace rfclib
