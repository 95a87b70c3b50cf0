#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <string>

#include "connect_string.h"
#include "rfclib/rfclib.h"
#include "text.h"

namespace {

using rfclib::ConnectString;
using rfclib::Error;

struct EndpointCase {
  const char16_t* text;
  int group;            // RFC_ERROR_NONE: parse and endpoint succeed
  const char* host;
  unsigned port;
};

class ConnectStringEndpoint : public ::testing::TestWithParam<EndpointCase> {};

TEST_P(ConnectStringEndpoint, GivesHostPortOrError) {
  const EndpointCase& c = GetParam();
  ConnectString cs;
  Error error;
  std::string host;
  std::uint16_t port = 0;
  const bool ok = cs.parse(c.text, error) && cs.endpoint(host, port, error);
  if (c.group == RFC_ERROR_NONE) {
    ASSERT_TRUE(ok) << rfclib::to_utf8(error.message);
    EXPECT_EQ(host, c.host);
    EXPECT_EQ(port, c.port);
  } else {
    ASSERT_FALSE(ok);
    EXPECT_EQ(error.group, c.group) << rfclib::to_utf8(error.message);
    EXPECT_EQ(rfclib::to_utf8(error.key), rfclib::group_key(c.group));
    EXPECT_FALSE(error.message.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectStringEndpoint,
    ::testing::Values(
        EndpointCase{u"ashost=\"sap1\" sysnr=\"00\" client=\"001\" trace=\"0\" ", 0, "sap1", 3300},
        EndpointCase{u"ashost=sap1 sysnr=42", 0, "sap1", 3342},
        EndpointCase{u"ASHOST=\"h\" SYSNR=\"07\"", 0, "h", 3307},
        EndpointCase{u"gwhost=\"gw\" gwserv=\"sapgw12\"", 0, "gw", 3312},
        EndpointCase{u"gwhost=gw gwserv=4711", 0, "gw", 4711},
        EndpointCase{u"gwhost=gw gwserv=ssh", 0, "gw", 22},
        EndpointCase{u"ashost=h sysnr=01 foo=\"bar\" lcheck=1 type=A", 0, "h", 3301},
        EndpointCase{u"mshost=ms sysnr=05 group=PUBLIC r3name=ABC", 0, "ms", 3305},
        EndpointCase{u"ashost=h sysnr=00 ashost=later", 0, "later", 3300},
        EndpointCase{u"passwd=\"a\"\"b\" ashost=h sysnr=00", 0, "h", 3300},
        EndpointCase{u"mshost=ms group=PUBLIC", RFC_ERROR_COMMUNICATION, "", 0},
        EndpointCase{u"", RFC_ERROR_PROGRAM, "", 0},
        EndpointCase{u"dest=\"PRD\"", RFC_ERROR_PROGRAM, "", 0},
        EndpointCase{u"ashost=h", RFC_ERROR_PROGRAM, "", 0},
        EndpointCase{u"ashost=h sysnr=1", RFC_ERROR_PROGRAM, "", 0},
        EndpointCase{u"ashost=h sysnr=ab", RFC_ERROR_PROGRAM, "", 0},
        EndpointCase{u"ashost=\"h sysnr=00", RFC_ERROR_PROGRAM, "", 0},
        EndpointCase{u"ashost=\"h\"sysnr=00", RFC_ERROR_PROGRAM, "", 0},
        EndpointCase{u"ashost", RFC_ERROR_PROGRAM, "", 0},
        EndpointCase{u"=h", RFC_ERROR_PROGRAM, "", 0},
        EndpointCase{u"ashost=/H/router/H/h sysnr=00", RFC_ERROR_PROGRAM, "", 0},
        EndpointCase{u"gwhost=gw gwserv=99999", RFC_ERROR_PROGRAM, "", 0},
        EndpointCase{u"gwhost=gw gwserv=no_such_service_here", RFC_ERROR_COMMUNICATION, "", 0}));

TEST(ConnectString, KeepsValuesAndIgnoresUnknownKeys) {
  ConnectString cs;
  Error error;
  ASSERT_TRUE(cs.parse(u"user=\"ALICE\" passwd=\"pa ss\"\"w\" lang=E client=001 zzz=\"?\"", error));
  EXPECT_EQ(cs.get("user"), u"ALICE");
  EXPECT_EQ(cs.get("passwd"), u"pa ss\"w");
  EXPECT_EQ(cs.get("lang"), u"E");
  EXPECT_EQ(cs.get("client"), u"001");
  EXPECT_EQ(cs.get("missing"), u"");
}

TEST(ConnectString, RejectsOverlongValues) {
  ConnectString cs;
  Error error;
  const std::u16string text = u"user=\"" + std::u16string(300, u'x') + u"\"";
  EXPECT_FALSE(cs.parse(text, error));
  EXPECT_EQ(error.group, RFC_ERROR_PROGRAM);
}

// Error texts never show a piece of the password: not when a password with
// blanks went unquoted and its pieces read as keys, nor inside a router string.
TEST(ConnectString, ErrorTextsShowNoPartOfThePassword) {
  const std::u16string cases[] = {
      u"ashost=h sysnr=00 passwd=Zq7 Xvk2=\"a",
      u"ashost=h sysnr=00 passwd=Zq7 Xvk2=\"a\"b",
      u"ashost=h sysnr=00 passwd=Zq7 Xvk2=" + std::u16string(300, u'w'),
      u"ashost=/H/saprouter/W/Zq7Xvk2/H/sap1 sysnr=00",
      u"ashost=h sysnr=00 passwd=\"Zq7 Xvk2",
  };
  for (const std::u16string& text : cases) {
    ConnectString cs;
    Error error;
    std::string host;
    std::uint16_t port = 0;
    ASSERT_FALSE(cs.parse(text, error) && cs.endpoint(host, port, error)) << rfclib::to_utf8(text);
    std::string message = rfclib::to_utf8(error.message);
    for (char& c : message) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* piece : {"zq7", "xvk"}) {
      EXPECT_EQ(message.find(piece), std::string::npos) << message;
    }
  }
}

int closed_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);  // nothing listens there now
  return ntohs(a.sin_port);
}

TEST(OpenEx, MalformedAndUnreachableGiveErrorRecords) {
  struct Case {
    std::u16string text;
    int group;
  };
  const std::u16string port = rfclib::from_utf8(std::to_string(closed_port()));
  const Case cases[] = {
      {u"ashost=\"x", RFC_ERROR_PROGRAM},
      {u"client=001 user=U", RFC_ERROR_PROGRAM},
      {u"gwhost=127.0.0.1 gwserv=" + port, RFC_ERROR_COMMUNICATION},
      {u"ashost=no-such-host.invalid sysnr=00", RFC_ERROR_COMMUNICATION},
  };
  for (const Case& c : cases) {
    RFC_ERROR_INFO_EX info{};
    EXPECT_EQ(RfcOpenEx(c.text.c_str(), &info), RFC_HANDLE_NULL);
    EXPECT_EQ(info.group, c.group) << rfclib::to_utf8(c.text);
    EXPECT_EQ(rfclib::to_utf8(info.key), rfclib::group_key(c.group));
    RFC_ERROR_INFO_EX last{};
    EXPECT_EQ(RfcLastErrorEx(&last), 0);
    EXPECT_EQ(last.group, c.group);
  }
  RFC_ERROR_INFO_EX info{};
  EXPECT_EQ(RfcOpenEx(nullptr, &info), RFC_HANDLE_NULL);
  EXPECT_EQ(info.group, RFC_ERROR_PROGRAM);
}

}  // namespace
