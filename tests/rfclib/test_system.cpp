#include "test_system.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

namespace rfctest {
namespace {

int logon_check(void*, const RFC_GW_LOGON_DATA* logon, RFC_ATTRIBUTES* a,
                RFC_ERROR_INFO_EX* refusal) {
  const bool ok = logon->kind == RFC_GW_REGISTER ||
                  (std::u16string(logon->user) == u"ALICE" &&
                   std::u16string(logon->password) == u"secret" &&
                   std::u16string(logon->client) == u"001");
  if (!ok) {
    refusal->group = RFC_ERROR_LOGON_FAILURE;
    std::u16string key = u"RFC_ERROR_LOGON_FAILURE";
    std::u16string msg = u"Name or password is incorrect";
    std::memcpy(refusal->key, key.c_str(), (key.size() + 1) * 2);
    std::memcpy(refusal->message, msg.c_str(), (msg.size() + 1) * 2);
    return 1;
  }
  std::memcpy(a->partner_host, u"testhost", 9 * 2);
  std::memcpy(a->sysid, u"TST", 4 * 2);
  std::memcpy(a->systnr, u"00", 3 * 2);
  return 0;
}

void serve(void* context, RFC_HANDLE handle, const RFC_GW_LOGON_DATA*) {
  TestSystem::serve_loop(handle, static_cast<TestSystem*>(context));
}

RFC_PARAMETER end_parameter() { return {nullptr, 0, 0, 0, nullptr}; }
RFC_TABLE end_table() { return {nullptr, 0, 0, 0, nullptr, 0, 0}; }

// TYPES: every elementary type in and back out under the same names.
bool serve_types(RFC_HANDLE h) {
  char16_t text[10];
  char16_t date[8];
  unsigned char bcd[4];
  char16_t time[6];
  unsigned char raw[8];
  char16_t num[6];
  double f = 0;
  std::int32_t i = 0;
  std::int16_t i2 = 0;
  std::uint8_t i1 = 0;
  RFC_PARAMETER p[] = {{u"TEXT", 0, RFCTYPE_CHAR, sizeof text, text},
                       {u"DATE", 0, RFCTYPE_DATE, sizeof date, date},
                       {u"BCD", 0, RFCTYPE_BCD, sizeof bcd, bcd},
                       {u"TIME", 0, RFCTYPE_TIME, sizeof time, time},
                       {u"RAW", 0, RFCTYPE_BYTE, sizeof raw, raw},
                       {u"NUM", 0, RFCTYPE_NUM, sizeof num, num},
                       {u"FLOAT", 0, RFCTYPE_FLOAT, sizeof f, &f},
                       {u"INT", 0, RFCTYPE_INT, sizeof i, &i},
                       {u"INT2", 0, RFCTYPE_INT2, sizeof i2, &i2},
                       {u"INT1", 0, RFCTYPE_INT1, sizeof i1, &i1},
                       end_parameter()};
  if (RfcGetData(h, p, nullptr) != RFC_OK) return false;
  return RfcSendData(h, p, nullptr) == RFC_OK;
}

// TABLES: IN created on receipt; OUT made here with IN's lines, first byte +1.
bool serve_tables(RFC_HANDLE h) {
  RFC_TABLE t[] = {{u"IN", 0, RFCTYPE_BYTE, 0, nullptr, 0, 0},
                   {u"OUT", 0, RFCTYPE_BYTE, 0, nullptr, 0, 0},
                   end_table()};
  if (RfcGetData(h, nullptr, t) != RFC_OK) return false;
  const unsigned leng = ItLeng(t[0].ithandle);
  t[1].ithandle = ItCreate(u"OUT", leng, 0, 0);
  for (unsigned k = 1; k <= ItFill(t[0].ithandle); ++k) {
    auto* line = static_cast<unsigned char*>(ItAppLine(t[1].ithandle));
    ItCpyLine(t[0].ithandle, k, line);
    line[0] = static_cast<unsigned char>(line[0] + 1);
  }
  const bool ok = RfcSendData(h, nullptr, t) == RFC_OK;
  ItDelete(t[0].ithandle);
  ItDelete(t[1].ithandle);
  return ok;
}

// FILL: ROWS lines of LENG bytes, line k holding k % 256.
bool serve_fill(RFC_HANDLE h) {
  std::int32_t rows = 0;
  std::int32_t leng = 0;
  RFC_PARAMETER p[] = {{u"ROWS", 0, RFCTYPE_INT, 4, &rows}, {u"LENG", 0, RFCTYPE_INT, 4, &leng},
                       end_parameter()};
  if (RfcGetData(h, p, nullptr) != RFC_OK) return false;
  RFC_TABLE t[] = {{u"DATA", 0, RFCTYPE_BYTE, 0, ItCreate(u"DATA", static_cast<unsigned>(leng), 0, 0), 0, 0},
                   end_table()};
  for (std::int32_t k = 1; k <= rows; ++k) {
    std::memset(ItAppLine(t[0].ithandle), k % 256, static_cast<std::size_t>(leng));
  }
  const bool ok = RfcSendData(h, nullptr, t) == RFC_OK;
  ItDelete(t[0].ithandle);
  return ok;
}

bool serve_raise(RFC_HANDLE h) {
  std::uint8_t with_table = 0;
  RFC_PARAMETER p[] = {{u"WITH_TABLE", 0, RFCTYPE_INT1, 1, &with_table}, end_parameter()};
  if (RfcGetData(h, p, nullptr) != RFC_OK) return false;
  if (with_table == 0) return RfcRaise(h, u"NOT_FOUND") == RFC_OK;
  RFC_TABLE t[] = {{u"ERRORS", 0, RFCTYPE_CHAR, 0, ItCreate(u"ERRORS", 6, 0, 0), 0, 0}, end_table()};
  std::memcpy(ItAppLine(t[0].ithandle), u"bad", 6);
  const bool ok = RfcRaiseTables(h, u"NOT_FOUND", t) == RFC_OK;
  ItDelete(t[0].ithandle);
  return ok;
}

// NEST: calls CLIENT_CB back with X = 1 and answers RESULT = its Y; the
// client calls INNER while serving CLIENT_CB, three calls deep.
bool serve_nest(RFC_HANDLE h, TestSystem* system) {
  if (RfcGetData(h, nullptr, nullptr) != RFC_OK) return false;
  std::int32_t x = 1;
  std::int32_t y = 0;
  RFC_PARAMETER out[] = {{u"X", 0, RFCTYPE_INT, 4, &x}, end_parameter()};
  RFC_PARAMETER in[] = {{u"Y", 0, RFCTYPE_INT, 4, &y}, end_parameter()};
  if (RfcCall(h, u"CLIENT_CB", out, nullptr) != RFC_OK) return false;
  RFC_RC rc;
  SAP_UC* exception = nullptr;
  while ((rc = RfcReceive(h, in, nullptr, &exception)) == RFC_CALL) {
    if (!TestSystem::dispatch(h, system)) return false;
  }
  if (rc != RFC_OK) return false;
  RFC_PARAMETER result[] = {{u"RESULT", 0, RFCTYPE_INT, 4, &y}, end_parameter()};
  return RfcSendData(h, result, nullptr) == RFC_OK;
}

// SLOW: works MS milliseconds on the call before it answers.
bool serve_slow(RFC_HANDLE h) {
  std::int32_t ms = 0;
  RFC_PARAMETER in[] = {{u"MS", 0, RFCTYPE_INT, 4, &ms}, end_parameter()};
  if (RfcGetData(h, in, nullptr) != RFC_OK) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return RfcSendData(h, nullptr, nullptr) == RFC_OK;
}

// SLOW_CB: calls CLIENT_SLOW back with MS and waits for its answer.
bool serve_slow_callback(RFC_HANDLE h) {
  std::int32_t ms = 0;
  RFC_PARAMETER in[] = {{u"MS", 0, RFCTYPE_INT, 4, &ms}, end_parameter()};
  if (RfcGetData(h, in, nullptr) != RFC_OK) return false;
  SAP_UC* exception = nullptr;
  if (RfcCallReceive(h, u"CLIENT_SLOW", in, nullptr, nullptr, &exception) != RFC_OK) return false;
  return RfcSendData(h, nullptr, nullptr) == RFC_OK;
}

bool serve_inner(RFC_HANDLE h) {
  std::int32_t x = 0;
  RFC_PARAMETER in[] = {{u"X", 0, RFCTYPE_INT, 4, &x}, end_parameter()};
  if (RfcGetData(h, in, nullptr) != RFC_OK) return false;
  x *= 10;
  RFC_PARAMETER out[] = {{u"Z", 0, RFCTYPE_INT, 4, &x}, end_parameter()};
  return RfcSendData(h, out, nullptr) == RFC_OK;
}

}  // namespace

TestSystem::TestSystem(unsigned max_connections) : released_(release_.get_future().share()) {
  RFC_GW_CONFIG config{};
  config.bind_address = "127.0.0.1";
  config.port = 0;
  config.max_connections = max_connections;
  config.logon_check = logon_check;
  config.serve = serve;
  config.context = this;
  config.drop_log = record_drop;
  RFC_ERROR_INFO_EX error{};
  gateway_ = RfcGwStart(&config, &error);
  EXPECT_NE(gateway_, nullptr);
  port_ = RfcGwPort(gateway_);
}

TestSystem::~TestSystem() { RfcGwStop(gateway_); }

void TestSystem::record_drop(void* context, const SAP_UC* address,
                             const RFC_ERROR_INFO_EX* reason) {
  auto* system = static_cast<TestSystem*>(context);
  std::lock_guard<std::mutex> lock(system->drops_mutex_);
  system->drops_.push_back({address, reason->group, reason->message});
  system->drops_changed_.notify_all();
}

std::vector<TestSystem::Dropped> TestSystem::dropped(std::size_t count) {
  std::unique_lock<std::mutex> lock(drops_mutex_);
  drops_changed_.wait_for(lock, std::chrono::seconds(30), [&] { return drops_.size() >= count; });
  return drops_;
}

std::u16string TestSystem::connect_string(const std::u16string& user,
                                          const std::u16string& password) const {
  std::u16string port;
  for (char c : std::to_string(port_)) port += static_cast<char16_t>(c);
  return u"gwhost=\"127.0.0.1\" gwserv=\"" + port + u"\" client=\"001\" user=\"" + user +
         u"\" passwd=\"" + password + u"\" lang=\"E\" trace=\"0\" lcheck=1";
}

RFC_HANDLE TestSystem::open() const {
  RFC_ERROR_INFO_EX error{};
  const RFC_HANDLE h = RfcOpenEx(connect_string().c_str(), &error);
  EXPECT_NE(h, RFC_HANDLE_NULL);
  return h;
}

void TestSystem::serve_loop(RFC_HANDLE handle, TestSystem* system) {
  for (;;) {
    const RFC_RC rc = RfcWaitForRequest(handle, 60);
    if (rc == RFC_RETRY) continue;
    if (rc != RFC_OK || !dispatch(handle, system)) return;
  }
}

bool TestSystem::dispatch(RFC_HANDLE h, TestSystem* system) {
  SAP_UC name[RFC_FUNCNAME_LN + 1];
  if (RfcGetName(h, name) != RFC_OK) return false;
  const std::u16string n(name);
  if (n == u"TYPES") return serve_types(h);
  if (n == u"TABLES") return serve_tables(h);
  if (n == u"FILL") return serve_fill(h);
  if (n == u"RAISE") return serve_raise(h);
  if (n == u"NEST") return serve_nest(h, system);
  if (n == u"INNER") return serve_inner(h);
  if (n == u"SLOW") return serve_slow(h);
  if (n == u"SLOW_CB") return serve_slow_callback(h);
  if (n == u"EMPTY") return RfcGetData(h, nullptr, nullptr) == RFC_OK &&
                            RfcSendData(h, nullptr, nullptr) == RFC_OK;
  if (n == u"SYSFAIL") {
    RfcGwSystemFailure(h, u"COMPUTE_INT_ZERODIVIDE", u"Division by zero");
    return false;
  }
  if (n == u"HANGUP") {
    // The partner dies in the middle of the call: socket closed, no answer.
    RfcGetData(h, nullptr, nullptr);
    RfcClose(h);
    return false;
  }
  if (n == u"BLOCK") {
    RfcGetData(h, nullptr, nullptr);
    system->entered_.set_value();
    system->released_.wait();
    return RfcSendData(h, nullptr, nullptr) == RFC_OK;
  }
  RfcAbort(h, u"Function not supported by the test system");
  return false;
}

RFC_RC call_and_serve(RFC_HANDLE h, const char16_t* function, RFC_PARAMETER* exporting,
                      RFC_PARAMETER* importing, RFC_TABLE* tables, SAP_UC** exception) {
  RFC_RC rc = RfcCall(h, function, exporting, tables);
  if (rc != RFC_OK) return rc;
  while ((rc = RfcReceive(h, importing, tables, exception)) == RFC_CALL) {
    SAP_UC name[RFC_FUNCNAME_LN + 1];
    if (RfcGetName(h, name) != RFC_OK) return RFC_FAILURE;
    if (std::u16string(name) != u"CLIENT_CB") {
      RfcAbort(h, u"unexpected callback");
      return RFC_FAILURE;
    }
    std::int32_t x = 0;
    std::int32_t z = 0;
    RFC_PARAMETER in[] = {{u"X", 0, RFCTYPE_INT, 4, &x}, end_parameter()};
    if (RfcGetData(h, in, nullptr) != RFC_OK) return RFC_FAILURE;
    x += 1;
    RFC_PARAMETER inner_out[] = {{u"X", 0, RFCTYPE_INT, 4, &x}, end_parameter()};
    RFC_PARAMETER inner_in[] = {{u"Z", 0, RFCTYPE_INT, 4, &z}, end_parameter()};
    SAP_UC* inner_exception = nullptr;
    if (RfcCallReceive(h, u"INNER", inner_out, inner_in, nullptr, &inner_exception) != RFC_OK) {
      return RFC_FAILURE;
    }
    RFC_PARAMETER answer[] = {{u"Y", 0, RFCTYPE_INT, 4, &z}, end_parameter()};
    if (RfcSendData(h, answer, nullptr) != RFC_OK) return RFC_FAILURE;
  }
  return rc;
}

RawPartner::RawPartner(std::function<void(int)> script) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(listen_fd_, 4);
  socklen_t len = sizeof a;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this, script] {
    const int fd = ::accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) return;
    script(fd);
    ::close(fd);
  });
}

RawPartner::~RawPartner() {
  ::shutdown(listen_fd_, SHUT_RDWR);
  thread_.join();
  ::close(listen_fd_);
}

int connect_raw(unsigned short port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string local_address(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

bool read_raw_frame(int fd, unsigned char& type, std::string& payload) {
  unsigned char header[8];
  if (::recv(fd, header, 8, MSG_WAITALL) != 8) return false;
  type = header[0];
  const std::uint32_t length = header[4] | (header[5] << 8) | (header[6] << 16) |
                               (static_cast<std::uint32_t>(header[7]) << 24);
  payload.assign(length, '\0');
  return length == 0 || ::recv(fd, payload.data(), length, MSG_WAITALL) == static_cast<ssize_t>(length);
}

void send_raw_welcome(int fd, std::uint16_t minor, std::uint32_t timeout_ms) {
  // version 1.minor, seven empty texts and from 1.1 on the time-out
  unsigned char frame[8 + 4 + 14 + 4] = {2, 0, 0, 0, 18, 0, 0, 0, 1, 0,
                                         static_cast<unsigned char>(minor), 0};
  std::size_t size = 8 + 4 + 14;
  if (minor >= 1) {
    frame[4] = 22;
    for (int i = 0; i < 4; ++i) frame[size++] = static_cast<unsigned char>(timeout_ms >> (8 * i));
  }
  ::send(fd, frame, size, MSG_NOSIGNAL);
}

}  // namespace rfctest
