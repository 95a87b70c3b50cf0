// The request parse sequence over whole documents: each document type,
// valid and invalid, with the replies and line numbers clients see.
#include "xmldoc_test_support.h"

#include "vurude_base_handler.h"
#include "vurude_handler_reply_sink.h"
#include "vurude_service_xmlerr.h"
#include "utf16_text.h"

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNodeList.hpp>

#include <gtest/gtest.h>

#include <string>
#include <sys/socket.h>
#include <vector>

namespace
{
class Request_Document : public testing::Test
{
protected:
  static void SetUpTestSuite () { initialise_xml (); }
};

struct Valid_Case
{
  const char *name;
  const char *text;
  const char16_t *root;
};

class Valid_Document : public testing::TestWithParam<Valid_Case> {};

TEST_P (Valid_Document, ParsesWithoutRepliesAndKeepsTheDocument)
{
  Parse_Outcome outcome = parse_request (GetParam ().text);
  EXPECT_EQ (outcome.result, 0);
  EXPECT_TRUE (outcome.replies.empty ()) << outcome.replies.front ();
  EXPECT_EQ (outcome.root, GetParam ().root);
  ASSERT_TRUE (outcome.parser);
  const xercesc::DOMElement *root = outcome.parser->getDocument ()->getDocumentElement ();
  ASSERT_TRUE (root);
  EXPECT_EQ (std::u16string_view (root->getTagName ()), GetParam ().root);
}

INSTANTIATE_TEST_SUITE_P (
  Types, Valid_Document,
  testing::Values (
    Valid_Case {"connect", "<connect user=\"DEVELOPER\" passwd=\"x\" client=\"001\" ashost=\"h\" sysnr=\"00\"/>",
                u"connect"},
    Valid_Case {"function_name_only", "<function name=\"RFC_PING\"/>", u"function"},
    Valid_Case {"function",
                "<function name=\"Z_F\" chandle=\"00010000000000000001\" data=\"Y\">\n"
                "<parameter name=\"P\" intlen=\"4\" paramclass=\"I\"><i><d>1</d></i></parameter>\n"
                "<table name=\"T\" intlen=\"8\"><field name=\"F\" type=\"C\" len=\"8\" offset=\"0\"/>"
                "<i><d>a</d></i><i><d>b</d></i></table>\n"
                "<callback name=\"CB\"/><exception name=\"NOT_FOUND\"/></function>",
                u"function"},
    Valid_Case {"sselect",
                "<sselect data=\"Y\"><field name=\"MATNR\"/><where>MATNR &gt; '1'</where><table name=\"MARA\"/>"
                "<orderby>MATNR</orderby></sselect>",
                u"sselect"},
    Valid_Case {"nselect",
                "<nselect batch=\"Y\"><sselect><field name=\"F\" suppress=\"Y\"/>"
                "<table name=\"A\"><on>A~X = B~X</on></table></sselect><sselect><table name=\"B\"/></sselect></nselect>",
                u"nselect"},
    Valid_Case {"gselect",
                "<gselect><field name=\"F\" aggregate=\"SUM\"/><table name=\"A\" join=\"inner\"><on>x</on></table>"
                "<groupby>F</groupby><having>SUM( F ) &gt; 0</having></gselect>",
                u"gselect"},
    Valid_Case {"leading_blank_and_comment", " <!-- c --><connect/>", u"connect"}),
  [] (const auto &instance) { return std::string (instance.param.name); });

struct Default_Case
{
  const char *text;
  const char16_t *element;
  const char16_t *attribute;
  const char16_t *value;
};

class Declared_Default : public testing::TestWithParam<Default_Case> {};

TEST_P (Declared_Default, IsPresentWhenTheClientOmitsIt)
{
  Parse_Outcome outcome = parse_request (GetParam ().text);
  ASSERT_EQ (outcome.result, 0);
  const xercesc::DOMNodeList *elements = outcome.parser->getDocument ()->getElementsByTagName (GetParam ().element);
  ASSERT_EQ (elements->getLength (), 1u);
  const auto *element = static_cast<const xercesc::DOMElement *> (elements->item (0));
  EXPECT_EQ (std::u16string_view (element->getAttribute (GetParam ().attribute)), GetParam ().value);
}

INSTANTIATE_TEST_SUITE_P (
  Attributes, Declared_Default,
  testing::Values (
    Default_Case {"<function name=\"F\"/>", u"function", u"persist", u"N"},
    Default_Case {"<connect/>", u"connect", u"trace", u"0"},
    Default_Case {"<function><parameter name=\"P\" intlen=\"1\" paramclass=\"E\"/></function>", u"parameter",
                  u"type", u"B"},
    Default_Case {"<function><table name=\"T\" intlen=\"1\"><field name=\"F\" type=\"C\" len=\"1\" offset=\"0\"/>"
                  "</table></function>",
                  u"field", u"dec", u"0"},
    Default_Case {"<function><table name=\"T\" intlen=\"1\"/></function>", u"table", u"inputonly", u"N"},
    Default_Case {"<sselect><table name=\"T\"/></sselect>", u"sselect", u"batch", u"N"},
    Default_Case {"<nselect><sselect><field name=\"F\"/><table name=\"T\"/></sselect></nselect>", u"field",
                  u"suppress", u"N"},
    Default_Case {"<gselect><table name=\"T\"/></gselect>", u"gselect", u"batch", u"N"}));

struct Failing_Case
{
  const char *name;
  std::string text;
  std::vector<std::string> replies;
};

class Failing_Document : public testing::TestWithParam<Failing_Case> {};

TEST_P (Failing_Document, IsAnsweredWithItsRepliesAndNoDocument)
{
  Parse_Outcome outcome = parse_request (GetParam ().text);
  EXPECT_EQ (outcome.result, 1);
  EXPECT_EQ (outcome.replies, GetParam ().replies);
  EXPECT_FALSE (outcome.parser);
  EXPECT_TRUE (outcome.root.empty ());
}

INSTANTIATE_TEST_SUITE_P (
  Replies, Failing_Document,
  testing::Values (
    // The client's first line is line 21, 35, 25, 32 or 25 of the parsed document.
    Failing_Case {"connect_first_line", "<connect trace=\"2\"/>",
                  {"Error at line 21, column 19. Message: value '2' for attribute 'trace' does not match its "
                   "type's defined enumeration or notation list\n"}},
    Failing_Case {"function_parameter_without_paramclass",
                  "<function name=\"F\"><parameter name=\"P\" intlen=\"4\"/></function>",
                  {"Error at line 35, column 52. Message: missing required attribute 'paramclass'\n"}},
    Failing_Case {"sselect_table_with_on", "<sselect><table name=\"T\"><on>x</on></table></sselect>",
                  {"Error at line 25, column 44. Message: element 'on' is not allowed for content model 'EMPTY'\n"}},
    Failing_Case {"nselect_inner_batch", "<nselect><sselect batch=\"Y\"><table name=\"T\"/></sselect></nselect>",
                  {"Error at line 32, column 25. Message: attribute 'batch' is not declared for element 'sselect'\n"}},
    Failing_Case {"gselect_first_line", "<gselect><table name=\"T\" join=\"outer\"/></gselect>",
                  {"Error at line 25, column 38. Message: value 'outer' for attribute 'join' does not match its "
                   "type's defined enumeration or notation list\n"}},
    Failing_Case {"later_line", "<function name=\"F\">\n\n<parameter name=\"P\" intlen=\"4\"/></function>",
                  {"Error at line 37, column 33. Message: missing required attribute 'paramclass'\n"}},
    Failing_Case {"three_invalid_elements",
                  "<function name=\"F\"><callback/><exception/><parameter name=\"P\" intlen=\"1\"/></function>",
                  {"Error at line 35, column 31. Message: missing required attribute 'name'\n",
                   "Error at line 35, column 43. Message: missing required attribute 'name'\n",
                   "Error at line 35, column 75. Message: missing required attribute 'paramclass'\n"}},
    Failing_Case {"sselect_without_table", "<sselect><field name=\"F\"/></sselect>",
                  {"Error at line 25, column 37. Message: missing elements in content model "
                   "'(((field|groupby|having|orderby|where))*,table,((field|groupby|having|orderby|where))*)'\n"}},
    // Any other root is parsed behind the dummy document and fails on it.
    Failing_Case {"capital_connect", "<Connect/>",
                  {"Fatal Error at line 2, column 1. Message: comment or processing instruction expected\n"}},
    Failing_Case {"unknown_root", "<dummy/>",
                  {"Fatal Error at line 2, column 1. Message: comment or processing instruction expected\n"}},
    Failing_Case {"client_xml_declaration", "<?xml version=\"1.0\"?><connect/>",
                  {"Fatal Error at line 21, column 7. Message: XML or TEXT declaration must start at line 1, "
                   "column 1\n"}},
    // Refused where root detection meets it.
    Failing_Case {"client_doctype", "<!DOCTYPE connect [<!ELEMENT connect ANY>]><connect/>",
                  {"Fatal Error at line 1, column 19. Message: DOCTYPE declaration not allowed in a request\n"}},
    Failing_Case {"unclosed_root", "<connect>",
                  {"Fatal Error at line 21, column 10. Message: input ended before all started tags were ended; "
                   "last tag started is 'connect'\n"}},
    Failing_Case {"errors_then_fatal", "<function><callback/><x>",
                  {"Error at line 35, column 22. Message: missing required attribute 'name'\n",
                   "Error at line 35, column 24. Message: no declaration found for element 'x'\n",
                   "Fatal Error at line 35, column 25. Message: input ended before all started tags were ended; "
                   "last tag started is 'x'\n"}},
    // Text that is not well-formed before the end of its first start tag.
    Failing_Case {"empty", "", {"no valid XML tag found in \"\"."}},
    Failing_Case {"no_markup", "abc", {"no valid XML tag found in \"abc\"."}},
    Failing_Case {"comment_only", "<!-- c -->", {"no valid XML tag found in \"<!-- c -->\"."}},
    Failing_Case {"broken_start_tag", "<connect a=>", {"no valid XML tag found in \"<connect a=>\"."}},
    Failing_Case {"undeclared_entity", "<connect user=\"&x;\"/>",
                  {"no valid XML tag found in \"<connect user=\"&x;\"/>\"."}},
    // Faults of the bytes themselves, before the document's type is known.
    Failing_Case {"invalid_utf8", "<connect user=\"\xff\"/>",
                  {"Fatal Error at line 1, column 16. Message: invalid UTF-8 sequence starting with byte 0xFF\n"}},
    Failing_Case {"zero_byte", std::string ("<conn\0ect", 9),
                  {"Fatal Error at line 1, column 6. Message: invalid character 0x0\n"}}),
  [] (const auto &instance) { return std::string (instance.param.name); });

TEST_F (Request_Document, NoTagReplyIsSingleByteAndTheOthersUtf16)
{
  for (const char *text : {"abc", "<connect trace=\"2\"/>"})
    {
      Captured_Replies replies;
      on_worker_stack ([&] {
        Chain chain (text);
        Vurude_Xml_Request_Document document (replies);
        EXPECT_EQ (document.parse (chain.head ()), 1);
      });
      ASSERT_EQ (replies.narrow.size (), 1u);
      EXPECT_EQ (replies.narrow[0], text[0] == 'a');
    }
}

TEST_F (Request_Document, LongTextInTheNoTagReplyIsCutAtACharacterKeepingTheQuote)
{
  const std::string head = "no valid XML tag found in \"";
  for (std::size_t offset = 0; offset < 4; ++offset)
    {
      // Euro signs (three bytes each) across the cut.
      std::string text (offset, 'x');
      while (text.size () < 3000)
        text += "\xE2\x82\xAC";
      Parse_Outcome outcome = parse_request (text);
      ASSERT_EQ (outcome.replies.size (), 1u);
      const std::string &reply = outcome.replies[0];
      EXPECT_LE (reply.size (), Vurude_Xml_Reply_Sink::max_message_units);
      EXPECT_GT (reply.size (), Vurude_Xml_Reply_Sink::max_message_units - 3);
      EXPECT_EQ (reply.substr (reply.size () - 2), "\".");
      const std::string echoed = reply.substr (head.size (), reply.size () - head.size () - 2);
      EXPECT_EQ (echoed, text.substr (0, echoed.size ()));
      EXPECT_EQ (utf8_from_utf16 (utf16_from_utf8 (echoed)), echoed) << "a whole number of characters";
    }
}

TEST_F (Request_Document, LongParserMessageIsCutKeepingItsNewline)
{
  const std::u16string message (2000, u'm');
  const std::u16string text = vurude_service_xmlerr::format (u"Error", 35, 7, message);
  EXPECT_EQ (text.size (), Vurude_Xml_Reply_Sink::max_message_units);
  EXPECT_EQ (text.substr (0, 37), u"Error at line 35, column 7. Message: ");
  EXPECT_EQ (text.back (), u'\n');
  EXPECT_EQ (vurude_service_xmlerr::format_exception (639, u"call to scanNext is illegal at this point"),
             u"Error at line 639. Message: call to scanNext is illegal at this point\n");
  // A cut inside a surrogate pair drops its first half.
  std::u16string pairs;
  while (pairs.size () < 2000)
    pairs += u"\U0001D11E";
  for (const std::u16string &cut : {vurude_service_xmlerr::format (u"Error", 35, 7, pairs),
                                    vurude_service_xmlerr::format (u"Error", 35, 17, pairs)})
    EXPECT_EQ (utf16_from_utf8 (utf8_from_utf16 (cut)), cut);
}

// The replies on a real connection: one error line each, the parser's
// texts followed by an empty line.
class Connection_Replies : public Request_Document
{
protected:
  void SetUp () override
  {
    int fds[2];
    ASSERT_EQ (::socketpair (AF_UNIX, SOCK_STREAM, 0, fds), 0);
    handler.peer ().set_handle (fds[0]);
    client_ = fds[1];
  }

  void TearDown () override
  {
    handler.peer ().close ();
    ::close (client_);
  }

  // What the client has received so far.
  std::string received ()
  {
    std::string bytes;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv (client_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
      bytes.append (buffer, static_cast<std::size_t> (n));
    return bytes;
  }

  int parse (std::string_view text)
  {
    int result = -1;
    on_worker_stack ([&] {
      Chain chain (text);
      Vurude_Handler_Reply_Sink replies (handler);
      Vurude_Xml_Request_Document document (replies);
      result = document.parse (chain.head ());
    });
    return result;
  }

  Vurude_Base_Handler handler;
  int client_ = -1;
};

TEST_F (Connection_Replies, AreErrorLinesOnTheClientsSocket)
{
  EXPECT_EQ (parse ("<function name=\"F\"><callback/><exception/></function>"), 1);
  EXPECT_EQ (received (), "E,Error at line 35, column 31. Message: missing required attribute 'name'\n\n"
                          "E,Error at line 35, column 43. Message: missing required attribute 'name'\n\n");
  EXPECT_EQ (parse ("ab"), 1);
  EXPECT_EQ (received (), "E,no valid XML tag found in \"ab\".\n");
  EXPECT_EQ (parse (std::string ("ab\0c", 4)), 1);
  EXPECT_EQ (received (), "E,Fatal Error at line 1, column 3. Message: invalid character 0x0\n\n");
  EXPECT_EQ (parse ("<connect user=\"K\xC3\xA4se\"/>"), 0);
  EXPECT_EQ (received (), "");
}
}
