// Request documents: how values and text are written (escaping, characters
// XML cannot carry, names, order, nesting, size), and the documents of the
// five roots with their attributes in the server's declared order.
#include "vok_base64.h"
#include "vok_connect_document.h"
#include "vok_function_document.h"
#include "vok_select_document.h"
#include "vok_xml_element.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace
{
using namespace std::string_literals;

std::string written (const Vok_Xml_Element &element)
{
  std::string text;
  const Vok_Status status = element.write (text);
  EXPECT_TRUE (status.ok ()) << status.message ();
  return text;
}

// --- Escaping: the same input as attribute value and as text ---

struct Escape_Case
{
  const char *name;
  std::string input;
  std::string as_value;
  std::string as_text;
  friend void PrintTo (const Escape_Case &c, std::ostream *os) { *os << c.name; }
};

class Escaping : public testing::TestWithParam<Escape_Case> {};

TEST_P (Escaping, WritesWhatTheParserReadsBack)
{
  const Escape_Case &c = GetParam ();
  EXPECT_EQ (written (Vok_Xml_Element ("e").set_attribute ("a", c.input)), "<e a=\"" + c.as_value + "\"/>");
  EXPECT_EQ (written (Vok_Xml_Element ("e").add_text (c.input)), "<e>" + c.as_text + "</e>");
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Escaping,
  testing::Values (
    Escape_Case {"Plain", "CARRID = 1", "CARRID = 1", "CARRID = 1"},
    Escape_Case {"Ampersand", "a&b", "a&amp;b", "a&amp;b"},
    Escape_Case {"LessThan", "a<b", "a&lt;b", "a&lt;b"},
    Escape_Case {"GreaterThan", "a>b", "a&gt;b", "a&gt;b"},
    Escape_Case {"CdataEnd", "]]>", "]]&gt;", "]]&gt;"},
    Escape_Case {"Quote", "\"x\"", "&quot;x&quot;", "&quot;x&quot;"},
    Escape_Case {"Apostrophe", "'LH'", "&apos;LH&apos;", "&apos;LH&apos;"},
    Escape_Case {"EntityLookalike", "&amp;", "&amp;amp;", "&amp;amp;"},
    // The parser would turn these into blanks or line feeds, and a line feed
    // on the wire could end the request.
    Escape_Case {"LineFeed", "a\nb", "a&#10;b", "a&#10;b"},
    Escape_Case {"CarriageReturn", "a\r\nb", "a&#13;&#10;b", "a&#13;&#10;b"},
    Escape_Case {"Tab", "a\tb", "a&#9;b", "a\tb"},
    Escape_Case {"Backslash", "a\\", "a\\", "a\\"},
    Escape_Case {"Delete", "\x7F", "\x7F", "\x7F"},
    Escape_Case {"Latin1", "Gr\xC3\xBC\xC3\x9F" "e", "Gr\xC3\xBC\xC3\x9F" "e", "Gr\xC3\xBC\xC3\x9F" "e"},
    Escape_Case {"LastBeforeSurrogates", "\xED\x9F\xBF", "\xED\x9F\xBF", "\xED\x9F\xBF"},
    Escape_Case {"FirstAfterSurrogates", "\xEE\x80\x80", "\xEE\x80\x80", "\xEE\x80\x80"},
    Escape_Case {"ReplacementCharacter", "\xEF\xBF\xBD", "\xEF\xBF\xBD", "\xEF\xBF\xBD"},
    Escape_Case {"FourBytes", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    Escape_Case {"LastCodePoint", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
    Escape_Case {"Empty", "", "", ""}));

// --- Characters XML 1.0 cannot carry, and bytes that are not UTF-8 ---

struct Refusal_Case
{
  const char *name;
  std::string input;  // the fault sits at byte 2
  friend void PrintTo (const Refusal_Case &c, std::ostream *os) { *os << c.name; }
};

class Refusal : public testing::TestWithParam<Refusal_Case> {};

TEST_P (Refusal, ValueIsRefusedWithoutEchoingIt)
{
  const Refusal_Case &c = GetParam ();
  Vok_Xml_Element element ("connect");
  element.set_attribute ("user", "ANALYST").set_attribute ("passwd", c.input);
  std::string document = "stale";
  const Vok_Status status = element.write (document);
  EXPECT_EQ (status.result (), Vok_Result::invalid_argument);
  EXPECT_EQ (document, "stale");
  EXPECT_NE (status.message ().find ("attribute \"passwd\" of <connect>"), std::string::npos) << status.message ();
  EXPECT_NE (status.message ().find ("at byte 2"), std::string::npos) << status.message ();
  EXPECT_EQ (status.message ().find (c.input), std::string::npos);
}

TEST_P (Refusal, TextIsRefusedNamingItsElement)
{
  const Refusal_Case &c = GetParam ();
  Vok_Xml_Element root ("function");
  Vok_Xml_Element item ("i");
  item.add_child (Vok_Xml_Element ("d").add_text (c.input));
  root.add_child (item);
  std::string document = "stale";
  const Vok_Status status = root.write (document);
  EXPECT_EQ (status.result (), Vok_Result::invalid_argument);
  EXPECT_EQ (document, "stale");
  EXPECT_NE (status.message ().find ("text of <function><i><d> holds"), std::string::npos) << status.message ();
  EXPECT_NE (status.message ().find ("at byte 2"), std::string::npos) << status.message ();
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Refusal,
  testing::Values (Refusal_Case {"Zero", "ab\0c"s},
                   Refusal_Case {"StartOfHeading", "ab\x01"},
                   Refusal_Case {"Escape", "ab\x1B[0m"},
                   Refusal_Case {"UnitSeparator", "ab\x1F"},
                   Refusal_Case {"NonCharacterFFFE", "ab\xEF\xBF\xBE"},
                   Refusal_Case {"NonCharacterFFFF", "ab\xEF\xBF\xBF"},
                   Refusal_Case {"LoneContinuationByte", "ab\x80"},
                   Refusal_Case {"TruncatedSequence", "ab\xC3"},
                   Refusal_Case {"TruncatedBeforeAscii", "ab\xE2\x82x"},
                   Refusal_Case {"OverlongSlash", "ab\xC0\xAF"},
                   Refusal_Case {"OverlongThreeBytes", "ab\xE0\x80\xAF"},
                   Refusal_Case {"Surrogate", "ab\xED\xA0\x80"},
                   Refusal_Case {"BeyondLastCodePoint", "ab\xF4\x90\x80\x80"},
                   Refusal_Case {"InvalidLeadByte", "ab\xF8\x88\x80\x80\x80"},
                   Refusal_Case {"Latin1Byte", "ab\xE9"}));

// --- Names ---

struct Name_Case
{
  const char *name;
  std::string xml_name;
  bool valid;
  friend void PrintTo (const Name_Case &c, std::ostream *os) { *os << c.name; }
};

class Names : public testing::TestWithParam<Name_Case> {};

TEST_P (Names, OnlyXmlNamesAreWritten)
{
  const Name_Case &c = GetParam ();
  std::string text;
  const Vok_Status element_status = Vok_Xml_Element (c.xml_name).write (text);
  const Vok_Status attribute_status = Vok_Xml_Element ("e").set_attribute (c.xml_name, "v").write (text);
  const Vok_Result expected = c.valid ? Vok_Result::ok : Vok_Result::invalid_argument;
  EXPECT_EQ (element_status.result (), expected) << element_status.message ();
  EXPECT_EQ (attribute_status.result (), expected) << attribute_status.message ();
}

INSTANTIATE_TEST_SUITE_P (Cases, Names,
                          testing::Values (Name_Case {"Plain", "connect", true},
                                           Name_Case {"Underscore", "saplogon_id", true},
                                           Name_Case {"Punctuation", "_a-b.c:d9", true},
                                           Name_Case {"Empty", "", false},
                                           Name_Case {"LeadingDigit", "1field", false},
                                           Name_Case {"LeadingHyphen", "-a", false},
                                           Name_Case {"Blank", "a b", false},
                                           Name_Case {"Markup", "a\"/><x", false},
                                           Name_Case {"NonAscii", "gr\xC3\xB6\xC3\x9F" "e", false}));

// --- Structure: order, content, nesting, size ---

TEST (Xml_Element, AttributesKeepTheOrderTheyWereFirstSetIn)
{
  Vok_Xml_Element element ("table");
  element.set_attribute ("name", "SFLIGHT").set_attribute ("alias", "F").set_attribute ("join", "inner");
  element.set_attribute ("name", "SBOOK");
  EXPECT_EQ (written (element), "<table name=\"SBOOK\" alias=\"F\" join=\"inner\"/>");
  ASSERT_NE (element.attribute ("alias"), nullptr);
  EXPECT_EQ (*element.attribute ("alias"), "F");
  EXPECT_EQ (element.attribute ("distinct"), nullptr);
}

TEST (Xml_Element, ContentKeepsItsOrder)
{
  Vok_Xml_Element root ("r");
  root.add_text ("a").add_child (Vok_Xml_Element ("x")).add_text ("b").add_child (Vok_Xml_Element ("y").add_text ("c"));
  EXPECT_EQ (written (root), "<r>a<x/>b<y>c</y></r>");
}

TEST (Xml_Element, NestingIsBoundedAsTheServerBoundsIt)
{
  const auto nested = [] (std::size_t levels) {
    Vok_Xml_Element element ("e");
    for (std::size_t k = 1; k < levels; ++k)
      element = Vok_Xml_Element ("e").add_child (element);
    return element;
  };
  std::string text;
  EXPECT_TRUE (nested (Vok_Xml_Element::max_depth).write (text).ok ());
  const Vok_Status status = nested (Vok_Xml_Element::max_depth + 1).write (text);
  EXPECT_EQ (status.result (), Vok_Result::invalid_argument);
  EXPECT_NE (status.message ().find ("deeper than 64 levels"), std::string::npos) << status.message ();
}

TEST (Xml_Element, DocumentLongerThanTheBoundIsRefused)
{
  Vok_Xml_Element element ("where");
  element.add_text ("A = '&'");
  std::string text = "stale";
  const std::size_t length = std::string ("<where>A = &apos;&amp;&apos;</where>").size ();
  EXPECT_EQ (element.write (text, length - 1).result (), Vok_Result::too_long);
  EXPECT_EQ (text, "stale");
  EXPECT_TRUE (element.write (text, length).ok ());
  EXPECT_EQ (text.size (), length);
}

// --- Base64 of function data ---

struct Base64_Case
{
  std::string bytes;
  std::string text;
};

class Base64 : public testing::TestWithParam<Base64_Case> {};

TEST_P (Base64, EncodesWithPadding)
{
  EXPECT_EQ (vok_base64_encode (GetParam ().bytes), GetParam ().text);
}

INSTANTIATE_TEST_SUITE_P (Vectors, Base64,
                          testing::Values (Base64_Case {"", ""}, Base64_Case {"f", "Zg=="}, Base64_Case {"fo", "Zm8="},
                                           Base64_Case {"foo", "Zm9v"}, Base64_Case {"foob", "Zm9vYg=="},
                                           Base64_Case {"fooba", "Zm9vYmE="}, Base64_Case {"foobar", "Zm9vYmFy"},
                                           Base64_Case {"\0\xFF\xFE"s, "AP/+"},
                                           Base64_Case {"\xFB\xEF\xBE"s, "++++"}));

// --- The five roots ---

TEST (Connect_Document, AttributesGoOutInDeclaredOrder)
{
  Vok_Connect_Document logon;
  // Set in another order than the declarations on purpose.
  logon.xpasswd = "3C3C925E1092F4";
  logon.user = "ANALYST";
  logon.trace = true;
  logon.sysnr = "00";
  logon.vokdebug = "y";
  logon.saplogon_id = "SIM";
  logon.r3name = "SIM";
  logon.passwd = "p\"w<&";
  logon.mshost = "ms";
  logon.lang = "EN";
  logon.gwserv = "sapgw00";
  logon.gwhost = "gw";
  logon.group = "PUBLIC";
  logon.dest = "SIM";
  logon.cstring = "ashost=\"h\" sysnr=\"01\"";
  logon.client = "100";
  logon.ashost = "127.0.0.1";
  logon.abapprog = "/VOK/Z_VOK_READ";
  logon.abapfm = "/VOK/Z_VOK_DIALOG";
  std::string text;
  ASSERT_TRUE (logon.write (text).ok ());
  EXPECT_EQ (text, "<connect abapfm=\"/VOK/Z_VOK_DIALOG\" abapprog=\"/VOK/Z_VOK_READ\" ashost=\"127.0.0.1\" "
                   "client=\"100\" cstring=\"ashost=&quot;h&quot; sysnr=&quot;01&quot;\" dest=\"SIM\" "
                   "group=\"PUBLIC\" gwhost=\"gw\" gwserv=\"sapgw00\" lang=\"EN\" mshost=\"ms\" "
                   "passwd=\"p&quot;w&lt;&amp;\" r3name=\"SIM\" saplogon_id=\"SIM\" vokdebug=\"y\" sysnr=\"00\" "
                   "trace=\"1\" user=\"ANALYST\" xpasswd=\"3C3C925E1092F4\"/>");
}

TEST (Connect_Document, AbsentAttributesAreLeftOutAndEmptyOnesSent)
{
  Vok_Connect_Document logon;
  std::string text;
  ASSERT_TRUE (logon.write (text).ok ());
  EXPECT_EQ (text, "<connect/>");
  logon.xpasswd = "";
  logon.trace = false;
  ASSERT_TRUE (logon.write (text).ok ());
  EXPECT_EQ (text, "<connect trace=\"0\" xpasswd=\"\"/>");
}

TEST (Function_Document, CarriesParametersTablesAndTheirData)
{
  Vok_Function_Document call;
  call.persist = 'Y';
  call.name = "Z_ECHO";
  call.metadata = false;
  call.dhandle = "0002000000000000BEEF";
  call.data = true;
  call.chandle = "0001000000000000ABCD";
  call.content.push_back (Vok_Function_Document::exporting ("TEXT", 6, "foobar", Vok_Value_Type::character));
  call.content.push_back (Vok_Function_Document::importing ("COUNT", 4));
  Vok_Xml_Element table = Vok_Function_Document::table ("ROWS", 3);
  table.set_attribute ("structure", "ZROW").set_attribute ("inputonly", "N");
  table.add_child (
    Vok_Function_Document::field ("F", 'X', 3, 0).set_attribute ("len2", "3").set_attribute ("offset2", "0"));
  table.add_child (Vok_Function_Document::line ("\0\xFF\xFE"s));
  table.add_child (Vok_Function_Document::line ("fo"));
  call.content.push_back (table);
  call.content.push_back (Vok_Function_Document::callback ("Z_CB"));
  call.content.push_back (Vok_Function_Document::exception ("NOT_FOUND"));
  std::string text;
  ASSERT_TRUE (call.write (text).ok ());
  EXPECT_EQ (text,
             "<function chandle=\"0001000000000000ABCD\" data=\"Y\" dhandle=\"0002000000000000BEEF\" metadata=\"N\" "
             "name=\"Z_ECHO\" persist=\"Y\">"
             "<parameter intlen=\"6\" name=\"TEXT\" type=\"C\" paramclass=\"E\"><i><d>Zm9vYmFy</d></i></parameter>"
             "<parameter intlen=\"4\" name=\"COUNT\" type=\"B\" paramclass=\"I\"/>"
             "<table intlen=\"3\" name=\"ROWS\" structure=\"ZROW\" inputonly=\"N\">"
             "<field name=\"F\" type=\"X\" len=\"3\" offset=\"0\" len2=\"3\" offset2=\"0\"/>"
             "<i><d>AP/+</d></i><i><d>Zm8=</d></i></table>"
             "<callback name=\"Z_CB\"/><exception name=\"NOT_FOUND\"/></function>");
}

TEST (Function_Document, LongValueIsSplitIntoWholeBase64Pieces)
{
  constexpr std::size_t piece = Vok_Function_Document::max_d_bytes / 4 * 3;
  std::string value;
  for (std::size_t k = 0; k < 2 * piece + 1; ++k)
    value += static_cast<char> (k * 7);
  const Vok_Xml_Element line = Vok_Function_Document::line (value);
  EXPECT_EQ (written (line), "<i><d>" + vok_base64_encode (value.substr (0, piece)) + "</d><d>"
                               + vok_base64_encode (value.substr (piece, piece)) + "</d><d>"
                               + vok_base64_encode (value.substr (2 * piece)) + "</d></i>");
  EXPECT_EQ (vok_base64_encode (value.substr (0, piece)).size (), Vok_Function_Document::max_d_bytes);
}

TEST (Function_Document, EmptyValueStillHasItsDataElement)
{
  EXPECT_EQ (written (Vok_Function_Document::exporting ("P", 8, "")),
             "<parameter intlen=\"8\" name=\"P\" type=\"B\" paramclass=\"E\"><i><d></d></i></parameter>");
}

TEST (Function_Document, PersistOutsideItsValuesIsRefused)
{
  Vok_Function_Document call;
  call.persist = 'x';
  std::string text = "stale";
  EXPECT_EQ (call.write (text).result (), Vok_Result::invalid_argument);
  EXPECT_EQ (text, "stale");
  call.persist = 'c';
  ASSERT_TRUE (call.write (text).ok ());
  EXPECT_EQ (text, "<function persist=\"c\"/>");
}

TEST (Select_Document, SingleSelectWithClauses)
{
  Vok_Select_Document select (Vok_Select_Type::sselect);
  select.metadata = true;
  select.distinct = false;
  select.dhandle = "D";
  select.data = true;
  select.chandle = "C";
  select.batch = false;
  select.content.push_back (Vok_Select_Document::field ("CARRID").set_attribute ("alias", "C"));
  select.content.push_back (Vok_Select_Document::field ("PRICE").set_attribute ("aggregate", "SUM"));
  select.content.push_back (Vok_Select_Document::table ("SFLIGHT"));
  select.content.push_back (Vok_Select_Document::where ("PRICE > 100 AND CARRID <> 'LH'"));
  select.content.push_back (Vok_Select_Document::groupby ("CARRID"));
  select.content.push_back (Vok_Select_Document::having ("SUM( PRICE ) > 1000"));
  select.content.push_back (Vok_Select_Document::orderby ("CARRID"));
  std::string text;
  ASSERT_TRUE (select.write (text).ok ());
  EXPECT_EQ (text, "<sselect batch=\"N\" chandle=\"C\" data=\"Y\" dhandle=\"D\" distinct=\"N\" metadata=\"Y\">"
                   "<field name=\"CARRID\" alias=\"C\"/><field name=\"PRICE\" aggregate=\"SUM\"/>"
                   "<table name=\"SFLIGHT\"/><where>PRICE &gt; 100 AND CARRID &lt;&gt; &apos;LH&apos;</where>"
                   "<groupby>CARRID</groupby><having>SUM( PRICE ) &gt; 1000</having><orderby>CARRID</orderby>"
                   "</sselect>");
}

TEST (Select_Document, NestedSelectHoldsInnerSelects)
{
  Vok_Select_Document inner (Vok_Select_Type::sselect);
  inner.content.push_back (Vok_Select_Document::table ("SCARR"));
  Vok_Select_Document nested (Vok_Select_Type::nselect);
  nested.batch = true;
  nested.chandle = "C";
  nested.content.push_back (inner.element ());
  nested.content.push_back (inner.element ());
  std::string text;
  ASSERT_TRUE (nested.write (text).ok ());
  EXPECT_EQ (text, "<nselect batch=\"Y\" chandle=\"C\"><sselect><table name=\"SCARR\"/></sselect>"
                   "<sselect><table name=\"SCARR\"/></sselect></nselect>");
}

TEST (Select_Document, GroupedSelectWithJoin)
{
  Vok_Select_Document grouped (Vok_Select_Type::gselect);
  grouped.content.push_back (Vok_Select_Document::table ("SCARR").set_attribute ("alias", "C"));
  Vok_Xml_Element join = Vok_Select_Document::table ("SPFLI");
  join.set_attribute ("alias", "P").set_attribute ("join", "inner");
  join.add_child (Vok_Select_Document::on ("C~CARRID = P~CARRID"));
  grouped.content.push_back (join);
  grouped.content.push_back (Vok_Select_Document::field ("CARRNAME").set_attribute ("table", "C"));
  std::string text;
  ASSERT_TRUE (grouped.write (text).ok ());
  EXPECT_EQ (text, "<gselect><table name=\"SCARR\" alias=\"C\"/>"
                   "<table name=\"SPFLI\" alias=\"P\" join=\"inner\"><on>C~CARRID = P~CARRID</on></table>"
                   "<field name=\"CARRNAME\" table=\"C\"/></gselect>");
}
}
