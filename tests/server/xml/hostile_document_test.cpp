// Hostile request documents: nothing they name outside the text is ever
// opened, a DOCTYPE of the client's own is refused before anything in it is
// used, zero bytes and invalid UTF-8 are placed exactly, and deep, huge or
// fault-ridden documents end in an error reply on a connection worker's stack.
#include "xmldoc_test_support.h"

#include "acemb_input_source.h"
#include "temp_dir.h"
#include "vurude_service_xmlerr.h"
#include "vurude_xml_dom_parser.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <ostream>
#include <string>
#include <utility>
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
  // Root detection stops at the client's DOCTYPE, before its internal
  // subset or its external identifier is used.
  const auto doctype = [] (std::size_t column) {
    return "Fatal Error at line 1, column " + std::to_string (column)
           + ". Message: DOCTYPE declaration not allowed in a request\n";
  };
  const std::string system = "<!DOCTYPE connect SYSTEM \"";
  const std::vector<Case> cases = {
    {pe + file + pe_end, {doctype (19)}},
    {pe + missing + pe_end, {doctype (19)}},
    {pe + url + pe_end, {doctype (19)}},
    {"<!DOCTYPE connect [<!ENTITY % p PUBLIC \"-//X//Y\" \"" + file + pe_end, {doctype (19)}},
    {system + file + "\"><connect user=\"&u;\"/>", {doctype (system.size () + file.size () + 2)}},
    {system + url + "\"><connect/>", {doctype (system.size () + url.size () + 2)}},
    {"<!DOCTYPE connect [<!ENTITY e SYSTEM \"" + file + "\">]><connect>&e;</connect>", {doctype (19)}},
    {"<connect xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"" + file + "\"/></connect>",
     {"Error at line 21, column 19. Message: attribute 'xmlns:xi' is not declared for element 'connect'\n",
      "Error at line 21, column 64. Message: no declaration found for element 'xi:include'\n",
      "Error at line 21, column 70. Message: attribute 'href' is not declared for element 'xi:include'\n",
      "Error at line 21, column " + std::to_string (84 + file.size ())
        + ". Message: element 'xi:include' is not allowed for content model 'EMPTY'\n"}},
    {"<connect xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:noNamespaceSchemaLocation=\"" + file
       + "\"/>",
     {"Error at line 21, column 20. Message: attribute 'xmlns:xsi' is not declared for element 'connect'\n",
      "Error at line 21, column 94. Message: attribute 'xsi:noNamespaceSchemaLocation' is not declared for element "
      "'connect'\n"}},
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

// Texts are made when a case runs: listing the tests stays cheap.
struct Doctype_Case
{
  const char *name;
  std::string (*text) ();
  const char *reply;
};

void PrintTo (const Doctype_Case &c, std::ostream *os) { *os << c.name; }

class Client_Doctype : public testing::TestWithParam<Doctype_Case> {};

TEST_P (Client_Doctype, IsRefusedInRootDetectionBeforeItsSubsetIsRead)
{
  const Parse_Outcome outcome = parse_request (GetParam ().text ());
  EXPECT_EQ (outcome.result, 1);
  EXPECT_EQ (outcome.replies, std::vector<std::string> {GetParam ().reply});
  EXPECT_FALSE (outcome.parser);
}

constexpr const char *doctype_at_19 =
  "Fatal Error at line 1, column 19. Message: DOCTYPE declaration not allowed in a request\n";

INSTANTIATE_TEST_SUITE_P (
  Refused, Client_Doctype,
  testing::Values (
    Doctype_Case {"billion_laughs", [] {
                    std::string entities = "<!ENTITY a0 \"0123456789\">";
                    for (int k = 1; k <= 10; ++k)
                      entities += "<!ENTITY a" + std::to_string (k) + " \""
                                  + repeat ("&a" + std::to_string (k - 1) + ";", 10) + "\">";
                    return "<!DOCTYPE connect [" + entities + "]><connect user=\"&a10;\"/>";
                  },
                  doctype_at_19},
    // 112 KB that took 1.6 GB and 16 s to expand in the first start tag:
    // few expansions, each of them large.
    Doctype_Case {"entity_of_100kb_4000_times", [] {
                    return "<!DOCTYPE connect [<!ENTITY e \"" + std::string (100000, 'x') + "\">]><connect user=\""
                           + repeat ("&e;", 4000) + "\"/>";
                  },
                  doctype_at_19},
    // Keeps the scanner busy inside the subset, before any start tag.
    Doctype_Case {"parameter_entity_of_100kb_4000_times", [] {
                    return "<!DOCTYPE connect [<!ENTITY % e \"<!--" + std::string (100000, 'x') + "-->\">"
                           + repeat ("%e;", 4000) + "]><connect/>";
                  },
                  doctype_at_19},
    Doctype_Case {"after_a_comment_and_a_line", [] { return std::string ("<!-- c -->\r\n <!DOCTYPE connect><connect/>"); },
                  "Fatal Error at line 2, column 20. Message: DOCTYPE declaration not allowed in a request\n"}),
  [] (const auto &instance) { return std::string (instance.param.name); });

TEST (Client_Doctype, FailsTheValidatingParseBeforeItsSubsetIsRead)
{
  // Were one to pass root detection: behind the server's prolog it is a
  // second DOCTYPE, a fatal error before its subset could declare, load or
  // expand anything.
  initialise_xml ();
  vurude::test::TempDir folder;
  const std::string text = "<!DOCTYPE connect [<!ENTITY % p SYSTEM \"" + folder.path () + "/p.dtd\"> %p;<!ENTITY e \""
                           + std::string (100000, 'x') + "\">]><connect user=\"" + repeat ("&e;", 4000) + "\"/>";
  on_worker_stack ([&] {
    Chain chain (text);
    Captured_Replies replies;
    vurude_service_xmlerr errors (replies);
    Vurude_Xml_Dom_Parser parser;
    const std::unique_ptr<ACEMBInputSource> source =
      Vurude_Xml_Request_Document::make_input_source (parser, u"connect", chain.head ());
    parser.setErrorHandler (&errors);
    parser.parse (*source);
    EXPECT_EQ (replies.lines,
               std::vector<std::string> {"Fatal Error at line 21, column 10. Message: DOCTYPE declaration already seen\n"});
    EXPECT_EQ (parser.refused_resources (), 0);
  });
}

// A zero byte or bytes that are not UTF-8, anywhere: refused as not
// well-formed at their own position, which counts the prolog once the
// document's type is known (after the first start tag).
struct Fault_Case
{
  const char *name;
  std::string text;
  const char *reply;
};

void PrintTo (const Fault_Case &c, std::ostream *os) { *os << c.name; }

class Text_Fault : public testing::TestWithParam<Fault_Case> {};

TEST_P (Text_Fault, IsAFatalErrorAtItsPosition)
{
  const Parse_Outcome outcome = parse_request (GetParam ().text);
  EXPECT_EQ (outcome.result, 1);
  EXPECT_EQ (outcome.replies, std::vector<std::string> {GetParam ().reply});
  EXPECT_FALSE (outcome.parser);
}

std::string bytes (const char *text, std::size_t length)
{
  return std::string (text, length);
}

INSTANTIATE_TEST_SUITE_P (
  Bytes, Text_Fault,
  testing::Values (
    Fault_Case {"zero_before_the_root", bytes ("\0<connect/>", 11),
                "Fatal Error at line 1, column 1. Message: invalid character 0x0\n"},
    Fault_Case {"zero_in_the_first_start_tag", bytes ("<connect user=\"a\0\"/>", 20),
                "Fatal Error at line 1, column 17. Message: invalid character 0x0\n"},
    // Was a logon: the library took the zero byte for the end of the text.
    Fault_Case {"zero_after_the_root", bytes ("<connect user=\"DEMO\"/>\0junk", 27),
                "Fatal Error at line 21, column 23. Message: invalid character 0x0\n"},
    Fault_Case {"zero_in_content_on_a_later_line",
                bytes ("<function name=\"F\">\r\n<callback name=\"C\"/>\0</function>", 52),
                "Fatal Error at line 36, column 21. Message: invalid character 0x0\n"},
    Fault_Case {"zero_after_an_unknown_root", bytes ("<logon/>\0", 9),
                "Fatal Error at line 2, column 9. Message: invalid character 0x0\n"},
    Fault_Case {"utf8_in_a_later_attribute", "<function name=\"F\"><callback name=\"\xC3(\"/></function>",
                "Fatal Error at line 35, column 36. Message: invalid UTF-8 sequence starting with byte 0xC3\n"},
    Fault_Case {"utf8_cut_short_in_text", "<sselect><where>\xE2\x82</where><table name=\"T\"/></sselect>",
                "Fatal Error at line 25, column 17. Message: invalid UTF-8 sequence starting with byte 0xE2\n"},
    Fault_Case {"utf8_after_the_root", "<connect/>\xFF",
                "Fatal Error at line 21, column 11. Message: invalid UTF-8 sequence starting with byte 0xFF\n"},
    Fault_Case {"utf8_after_line_ends_cr_and_crlf", "<connect/>\r\r\n\xFF",
                "Fatal Error at line 23, column 1. Message: invalid UTF-8 sequence starting with byte 0xFF\n"},
    Fault_Case {"utf8_overlong_after_a_supplementary_character", "<function name=\"\xF0\x9D\x84\x9E\xC0\xAF\"/>",
                "Fatal Error at line 1, column 19. Message: invalid UTF-8 sequence starting with byte 0xC0\n"},
    Fault_Case {"utf8_beyond_u10ffff", "<function name=\"F\"><callback name=\"\xF0\x9D\x84\x9E\xF4\x90\x80\x80\"/></function>",
                "Fatal Error at line 35, column 38. Message: invalid UTF-8 sequence starting with byte 0xF4\n"},
    Fault_Case {"utf8_surrogate", "<function name=\"F\">\n<callback name=\"\xED\xA0\x80\"/></function>",
                "Fatal Error at line 36, column 17. Message: invalid UTF-8 sequence starting with byte 0xED\n"},
    Fault_Case {"utf8_lone_continuation_byte", "<nselect>\x80</nselect>",
                "Fatal Error at line 32, column 10. Message: invalid UTF-8 sequence starting with byte 0x80\n"},
    Fault_Case {"utf8_five_byte_form", "<gselect>\xF8\x88\x80\x80\x80</gselect>",
                "Fatal Error at line 25, column 10. Message: invalid UTF-8 sequence starting with byte 0xF8\n"}),
  [] (const auto &instance) { return std::string (instance.param.name); });

// Positions as the library itself counts them: it reports an invalid
// character one column past it.
TEST (Text_Fault, CountsLinesAndColumnsAsTheLibraryDoes)
{
  const auto position = [] (const std::string &text) {
    const Parse_Outcome outcome = parse_request (text);
    std::pair<int, int> at {0, 0};
    EXPECT_EQ (outcome.replies.size (), 1u) << text;
    const std::string reply = outcome.replies.empty () ? "" : outcome.replies[0];
    EXPECT_EQ (std::sscanf (reply.c_str (), "Fatal Error at line %d, column %d.", &at.first, &at.second), 2) << reply;
    return at;
  };
  for (const char *middle : {"", "ab", "\xC3\xA4\xE2\x82\xAC", "\xF0\x9D\x84\x9E", "\r\n", "\r", "\n", "\r\r\n\n\t",
                             "\xF0\x9D\x84\x9E\r\n\t\xF0\x9D\x84\x9Ex"})
    {
      const std::string head = std::string ("<function name=\"F\">") + middle;
      const std::pair<int, int> zero = position (head + '\0' + "</function>");
      const std::pair<int, int> control = position (head + '\x01' + "</function>");
      EXPECT_EQ (zero.first, control.first) << testing::PrintToString (middle);
      EXPECT_EQ (zero.second + 1, control.second) << testing::PrintToString (middle);
    }
}

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
