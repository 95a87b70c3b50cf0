#include "client_open.h"

#include <errno.h>

#include "connection.h"
#include "liveness.h"
#include "net.h"
#include "text.h"
#include "version.h"

namespace rfclib {
namespace {

std::u16string program_name() {
  return from_utf8(program_invocation_short_name != nullptr ? program_invocation_short_name : "");
}

// Connects, sends HELLO and reads the answer; REFUSE becomes the partner's error.
std::shared_ptr<Connection> handshake(const std::string& host, std::uint16_t port,
                                      const Hello& hello, wire::FrameType expected,
                                      std::vector<std::uint8_t>& answer, Error& error) {
  const int fd = connect_tcp(host, port, kConnectTimeoutMs, error);
  if (fd < 0) return nullptr;
  auto connection = std::make_shared<Connection>(fd);
  std::vector<std::uint8_t> payload;
  encode_hello(hello, payload);
  wire::FrameHeader h;
  if (!connection->send_frame(wire::FrameType::hello, payload, error)) return nullptr;
  // The partner answers the handshake at once; do not wait forever for one that does not.
  connection->set_read_timeout(kHandshakeTimeoutSeconds);
  if (!connection->read_frame(h, answer, error)) {
    if (error.group == RFC_ERROR_COMMUNICATION) {
      error.message = u"no answer to the logon from " + from_utf8(host) + u":" +
                      from_utf8(std::to_string(port)) + u": " + error.message;
    }
    return nullptr;
  }
  if (h.type == wire::FrameType::refuse) {
    if (!decode_refuse(answer, error)) error = make_error(RFC_ERROR_PROTOCOL, "malformed REFUSE frame");
    return nullptr;
  }
  if (h.type != expected) {
    error = make_error(RFC_ERROR_PROTOCOL, std::string("partner answered the logon with ") +
                                               wire::frame_name(h.type) +
                                               "; is it an RFC gateway of this protocol?");
    return nullptr;
  }
  return connection;
}

bool welcome_of(const std::vector<std::uint8_t>& payload, Welcome& welcome, Error& error) {
  if (!decode_welcome(payload, welcome)) {
    error = make_error(RFC_ERROR_PROTOCOL, "malformed WELCOME frame");
    return false;
  }
  if (welcome.major != wire::kVersionMajor) {
    error = make_error(RFC_ERROR_PROTOCOL, "partner speaks protocol version " +
                                               std::to_string(welcome.major) + ", this library " +
                                               std::to_string(wire::kVersionMajor));
    return false;
  }
  return true;
}

}  // namespace

void fill_client_attributes(RFC_ATTRIBUTES& a, const Welcome& welcome, const std::string& host,
                            int fd) {
  copy_text(a.own_host, from_utf8(local_host_name()));
  copy_text(a.partner_host, welcome.partner_host.empty() ? from_utf8(host) : welcome.partner_host);
  copy_text(a.systnr, welcome.systnr);
  copy_text(a.sysid, welcome.sysid);
  a.trace[0] = u' ';
  a.rfc_role[0] = u'C';
  a.own_type[0] = u'E';
  copy_text(a.own_codepage, kCodePage);
  copy_text(a.own_rel, kRelease);
  copy_text(a.partner_rel, welcome.partner_rel);
  copy_text(a.kernel_rel, welcome.kernel_rel);
  a.partner_type[0] = welcome.partner_type.empty() ? u'3' : welcome.partner_type[0];
  copy_text(a.partner_codepage, welcome.codepage.empty() ? std::u16string(kCodePage) : welcome.codepage);
  copy_text(a.progname, program_name());
  copy_text(a.partner_address, from_utf8(peer_address(fd)));
}

std::shared_ptr<Connection> open_logon(const ConnectString& options, Error& error) {
  std::string host;
  std::uint16_t port = 0;
  if (!options.endpoint(host, port, error)) return nullptr;
  Hello hello;
  hello.kind = wire::HelloKind::logon;
  hello.client = options.get("client");
  hello.user = options.get("user");
  hello.password = options.get("passwd");
  hello.language = options.get("lang");
  hello.dest = options.get("dest");
  hello.host = from_utf8(local_host_name());
  hello.program = program_name();
  hello.timeout_ms = static_cast<std::uint32_t>(partner_timeout_ms());
  std::vector<std::uint8_t> answer;
  auto connection = handshake(host, port, hello, wire::FrameType::welcome, answer, error);
  Welcome welcome;
  if (connection == nullptr || !welcome_of(answer, welcome, error) ||
      !connection->start_liveness(welcome.minor, welcome.timeout_ms, error)) {
    return nullptr;
  }
  RFC_ATTRIBUTES& a = connection->attributes();
  fill_client_attributes(a, welcome, host, connection->fd());
  copy_text(a.dest, hello.dest);
  copy_text(a.client, hello.client);
  copy_text(a.user, hello.user);
  copy_text(a.language, hello.language);
  const std::u16string trace = options.get("trace");
  a.trace[0] = (!trace.empty() && trace != u"0") ? u'X' : u' ';
  return connection;
}

std::shared_ptr<Connection> open_registration(const std::u16string& program_id,
                                              const std::u16string& gwhost,
                                              const std::u16string& gwserv, Error& error) {
  std::uint16_t port = 0;
  if (!resolve_service(gwserv, port, error)) return nullptr;
  const std::string host = to_utf8(gwhost);
  Hello hello;
  hello.kind = wire::HelloKind::reg;
  hello.program_id = program_id;
  hello.host = from_utf8(local_host_name());
  hello.program = program_name();
  hello.timeout_ms = static_cast<std::uint32_t>(partner_timeout_ms());
  std::vector<std::uint8_t> answer;
  auto connection = handshake(host, port, hello, wire::FrameType::welcome, answer, error);
  Welcome welcome;
  if (connection == nullptr || !welcome_of(answer, welcome, error) ||
      !connection->start_liveness(welcome.minor, welcome.timeout_ms, error)) {
    return nullptr;
  }
  RFC_ATTRIBUTES& a = connection->attributes();
  fill_client_attributes(a, welcome, host, connection->fd());
  a.rfc_role[0] = u'S';
  return connection;
}

bool check_registrations(const std::u16string& program_id, const std::u16string& gwhost,
                         const std::u16string& gwserv, CheckResult& result, Error& error) {
  std::uint16_t port = 0;
  if (!resolve_service(gwserv, port, error)) return false;
  Hello hello;
  hello.kind = wire::HelloKind::check;
  hello.program_id = program_id;
  hello.host = from_utf8(local_host_name());
  hello.program = program_name();
  std::vector<std::uint8_t> answer;
  auto connection =
      handshake(to_utf8(gwhost), port, hello, wire::FrameType::check_result, answer, error);
  if (connection == nullptr) return false;
  if (!decode_check_result(answer, result)) {
    error = make_error(RFC_ERROR_PROTOCOL, "malformed CHECK_RESULT frame");
    return false;
  }
  connection->close();
  return true;
}

}  // namespace rfclib
