// TCP set-up: bounded connect, listening sockets, socket options.
#ifndef RFCLIB_NET_H
#define RFCLIB_NET_H

#include <sys/socket.h>

#include <cstdint>
#include <string>

#include "error.h"

namespace rfclib {

// Connects within timeout_ms; -1 with error when no address of the host answers.
int connect_tcp(const std::string& host, std::uint16_t port, int timeout_ms, Error& error);

// Listens on address:port (address null: all); port 0 picks a free one.
int listen_tcp(const char* address, std::uint16_t port, std::uint16_t& bound_port, Error& error);

// No delay for small messages, keepalive so that a dead partner host is
// noticed, a bound on unacknowledged sends.
void tune_socket(int fd);

std::string local_host_name();
// "address:port", numeric; empty for an address that is neither IPv4 nor IPv6.
std::string address_text(const sockaddr_storage& addr);
std::string peer_address(int fd);

}  // namespace rfclib

#endif
