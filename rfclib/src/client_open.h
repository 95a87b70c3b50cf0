// Opening connections from the program side: logon (RfcOpenEx),
// registration (RfcAccept) and the registration count (RfcCheckRegisterServer).
#ifndef RFCLIB_CLIENT_OPEN_H
#define RFCLIB_CLIENT_OPEN_H

#include <cstdint>
#include <memory>
#include <string>

#include "connect_string.h"
#include "handshake.h"

namespace rfclib {

class Connection;

// Bounds of connecting and of waiting for the partner's handshake answer.
inline constexpr int kConnectTimeoutMs = 10000;
inline constexpr int kHandshakeTimeoutSeconds = 30;

std::shared_ptr<Connection> open_logon(const ConnectString& options, Error& error);
std::shared_ptr<Connection> open_registration(const std::u16string& program_id,
                                              const std::u16string& gwhost,
                                              const std::u16string& gwserv, Error& error);
bool check_registrations(const std::u16string& program_id, const std::u16string& gwhost,
                         const std::u16string& gwserv, CheckResult& result, Error& error);

// Fills the fields of this side and the partner's from a WELCOME.
void fill_client_attributes(RFC_ATTRIBUTES& a, const Welcome& welcome, const std::string& host,
                            int fd);

}  // namespace rfclib

#endif
