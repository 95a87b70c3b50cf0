// Hostile request documents: nothing they name outside the text is ever
// opened, and deep, huge or fault-ridden documents end in an error reply on
// a connection worker's stack.
#include "xmldoc_test_support.h"

#include "temp_dir.h"
#include "vurude_service_xmlerr.h"
#include "vurude_xml_dom_parser.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
std::string repeat (std::string_view part, std::size_t times)
{
  std::string text;
  text.reserve (part.size () * times);
  for (std::size_t k = 0; k < times; ++k)
    text += part;
  return text;
}

// Watches a folder for any file in it being opened or read.
class Open_Watch
{
public:
  explicit Open_Watch (const std::string &folder)
    : fd_ (::inotify_init1 (IN_NONBLOCK))
  {
    EXPECT_GE (::inotify_add_watch (fd_, folder.c_str (), IN_OPEN | IN_ACCESS), 0);
  }
  ~Open_Watch () { ::close (fd_); }

  // Events since the last call.
  int events ()
  {
    char buffer[4096];
    int count = 0;
    ssize_t n;
    while ((n = ::read (fd_, buffer, sizeof buffer)) > 0)
      for (ssize_t at = 0; at < n; at += static_cast<ssize_t> (sizeof (inotify_event)
                                                                + reinterpret_cast<inotify_event *> (buffer + at)->len))
        ++count;
    return count;
  }

private:
  int fd_;
};

// A listening loopback socket nothing should ever connect to.
class Listener
{
public:
  Listener ()
    : fd_ (::socket (AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0))
  {
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ (::bind (fd_, reinterpret_cast<sockaddr *> (&address), length), 0);
    EXPECT_EQ (::listen (fd_, 4), 0);
    EXPECT_EQ (::getsockname (fd_, reinterpret_cast<sockaddr *> (&address), &length), 0);
    port_ = ntohs (address.sin_port);
  }
  ~Listener () { ::close (fd_); }

  int port () const { return port_; }
  bool connected ()
  {
    const int peer = ::accept (fd_, nullptr, nullptr);
    if (peer < 0)
      return false;
    ::close (peer);
    return true;
  }

private:
  int fd_;
  int port_;
};

std::string no_tag (const std::string &text)
{
  return "no valid XML tag found in \"" + text + "\".";
}

TEST (External_Resources, AreNeverOpened)
{
  vurude::test::TempDir folder;
  const std::string file = folder.path () + "/entities.dtd";
  // Were the file read, &u; would resolve and root detection would succeed.
  std::ofstream (file) << "<!ENTITY u \"from the file\">";
  const std::string missing = folder.path () + "/missing.dtd";
  Listener listener;
  const std::string url = "http://127.0.0.1:" + std::to_string (listener.port ()) + "/entities.dtd";
  Open_Watch watch (folder.path ());

  struct Case
  {
    std::string text;
    std::vector<std::string> replies;
  };
  const std::string pe = "<!DOCTYPE connect [<!ENTITY % p SYSTEM \"";
  const std::string pe_end = "\"> %p;]><connect user=\"&u;\"/>";
  const std::string second_doctype = "Fatal Error at line 21, column 10. Message: DOCTYPE declaration already seen\n";
  const std::vector<Case> cases = {
    {pe + file + pe_end, {no_tag (pe + file + pe_end)}},
    {pe + missing + pe_end, {no_tag (pe + missing + pe_end)}},
    {pe + url + pe_end, {no_tag (pe + url + pe_end)}},
    {"<!DOCTYPE connect [<!ENTITY % p PUBLIC \"-//X//Y\" \"" + file + pe_end,
     {no_tag ("<!DOCTYPE connect [<!ENTITY % p PUBLIC \"-//X//Y\" \"" + file + pe_end)}},
    // An external subset is never loaded: the entities it might declare pass.
    {"<!DOCTYPE connect SYSTEM \"" + file + "\"><connect user=\"&u;\"/>", {second_doctype}},
    {"<!DOCTYPE connect SYSTEM \"" + url + "\"><connect/>", {second_doctype}},
    {"<!DOCTYPE connect [<!ENTITY e SYSTEM \"" + file + "\">]><connect>&e;</connect>", {second_doctype}},
    {"<connect xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"" + file + "\"/></connect>",
     {"Error at line 21, column 19. Message: attribute 'xmlns:xi' is not declared for element 'connect'\n",
      "Error at line 21, column 64. Message: no declaration found for element 'xi:include'\n",
      "Error at line 21, column 70. Message: attribute 'href' is not declared for element 'xi:include'\n",
      "Error at line 21, column " + std::to_string (84 + file.size ())
        + ". Message: element 'xi:include' is not allowed for content model 'EMPTY'\n"}},
  };
  for (const Case &c : cases)
    {
      const Parse_Outcome outcome = parse_request (c.text);
      EXPECT_EQ (outcome.result, 1) << c.text;
      EXPECT_EQ (outcome.replies, c.replies) << c.text;
    }
  EXPECT_EQ (watch.events (), 0) << "a file of the folder was opened";
  EXPECT_FALSE (listener.connected ()) << "the URL was fetched";

  // The watch itself sees an open.
  std::ifstream (file).get ();
  EXPECT_GT (watch.events (), 0);
}

TEST (Entity_Expansion, IsBoundedInRootDetection)
{
  std::string entities = "<!ENTITY a0 \"0123456789\">";
  for (int k = 1; k <= 10; ++k)
    entities += "<!ENTITY a" + std::to_string (k) + " \"" + repeat ("&a" + std::to_string (k - 1) + ";", 10) + "\">";
  const std::string text = "<!DOCTYPE connect [" + entities + "]><connect user=\"&a10;\"/>";
  const Parse_Outcome outcome = parse_request (text);
  EXPECT_EQ (outcome.result, 1);
  EXPECT_EQ (outcome.replies, std::vector<std::string> {no_tag (text.substr (0, 991))});
}

// Texts are made when a case runs: listing the tests stays cheap.
struct Bound_Case
{
  const char *name;
  std::string (*text) ();
  const char *last_reply;
};

class Bounded_Document : public testing::TestWithParam<Bound_Case> {};

TEST_P (Bounded_Document, EndsInAnErrorReply)
{
  const Parse_Outcome outcome = parse_request (GetParam ().text ());
  EXPECT_EQ (outcome.result, 1);
  ASSERT_FALSE (outcome.replies.empty ());
  EXPECT_LE (outcome.replies.size (), static_cast<std::size_t> (vurude_service_xmlerr::max_error_replies) + 1);
  EXPECT_EQ (outcome.replies.back (), GetParam ().last_reply);
  EXPECT_FALSE (outcome.parser);
}

constexpr std::size_t fifty_mb = 50 * 1024 * 1024;

INSTANTIATE_TEST_SUITE_P (
  Limits, Bounded_Document,
  testing::Values (
    // Declared elements nested far too deep: no error before the bound.
    Bound_Case {"nesting_100000", [] {
                  return "<nselect>" + repeat ("<sselect>", 100000) + repeat ("</sselect>", 100000) + "</nselect>";
                },
                "Fatal Error at line 32, column 586. Message: elements nested deeper than 64 levels\n"},
    Bound_Case {"undeclared_nesting_100000", [] { return "<connect>" + repeat ("<a>", 100000); },
                "Fatal Error at line 21, column 202. Message: elements nested deeper than 64 levels\n"},
    Bound_Case {"attribute_50mb", [] { return "<connect user=\"" + std::string (fifty_mb, 'u') + "\"/>"; },
                "Fatal Error at line 21, column 52428819. Message: attribute value longer than 4194304 characters\n"},
    Bound_Case {"text_50mb", [] {
                  return "<sselect><where>" + std::string (fifty_mb, 'w') + "</where><table name=\"T\"/></sselect>";
                },
                "Fatal Error at line 25, column 5242882. Message: text longer than 4194304 characters\n"},
    Bound_Case {"whitespace_50mb", [] { return "<nselect>" + std::string (fifty_mb, ' ') + "<sselect/></nselect>"; },
                "Fatal Error at line 32, column 5242882. Message: text longer than 4194304 characters\n"},
    Bound_Case {"comment_50mb", [] { return "<connect><!--" + std::string (fifty_mb, 'c') + "--></connect>"; },
                "Fatal Error at line 21, column 52428817. Message: text longer than 4194304 characters\n"},
    Bound_Case {"elements_1000001", [] { return "<gselect>" + repeat ("<where/>", 1000001) + "</gselect>"; },
                "Fatal Error at line 25, column 8000010. Message: more than 1000000 elements\n"},
    Bound_Case {"errors_150", [] { return "<function>" + repeat ("<callback/>", 150) + "</function>"; },
                "Fatal Error at line 35, column 1122. Message: more than 100 errors, parsing stopped\n"}),
  [] (const auto &instance) { return std::string (instance.param.name); });

TEST (Bounded_Document, DeepestAllowedNestingStillParses)
{
  // The bound counts open elements: 64 parse (and fail only validation).
  const std::size_t inner = Vurude_Xml_Dom_Parser::max_depth - 1;
  const Parse_Outcome outcome =
    parse_request ("<nselect>" + repeat ("<sselect>", inner) + repeat ("</sselect>", inner) + "</nselect>");
  ASSERT_FALSE (outcome.replies.empty ());
  for (const std::string &reply : outcome.replies)
    EXPECT_EQ (reply.find ("nested deeper"), std::string::npos) << reply;
}
}
