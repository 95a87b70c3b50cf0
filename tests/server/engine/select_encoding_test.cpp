// Select documents as the partner's read report receives them: the lines
// of JDATA and MDATA in the answer to Z_VOK_GET_REQUEST_PARAMETERS.
#include "engine_test_support.h"

#include "vurude_v9gselect_request.h"
#include "vurude_v9nselect_request.h"

#include <cstring>
#include <ostream>

namespace
{
constexpr unsigned line_bytes = 144;

struct Encoding_Case
{
  const char *name;
  // The document after its root's start tag "<root chandle=... ".
  std::string root;
  std::string body;
  std::vector<std::string> jdata;
  std::vector<std::string> mdata;
  std::string replies;
};

void PrintTo (const Encoding_Case &c, std::ostream *os)
{
  *os << c.name;
}

// A line of 72 characters as text, trailing blanks removed.
std::string line_text (const std::string &bytes)
{
  std::u16string text (bytes.size () / 2, u' ');
  std::memcpy (text.data (), bytes.data (), 2 * text.size ());
  const std::size_t end = text.find_last_not_of (u' ');
  return u8 (text.substr (0, end == std::u16string::npos ? 0 : end + 1));
}

class Select_Encoding : public Partner_Test, public testing::WithParamInterface<Encoding_Case>
{
protected:
  void SetUp () override
  {
    Partner_Test::SetUp ();
    ASSERT_NE (log_on (control), nullptr);
  }

  Vurude_Base_Request *attach_select (const std::string &document)
  {
    const std::string root = GetParam ().root;
    if (root == "nselect")
      return attach<Vurude_V9nselect_Request> (request, document);
    if (root == "gselect")
      return attach<Vurude_V9gselect_Request> (request, document);
    return attach<Vurude_V9sselect_Request> (request, document);
  }

  Client_Connection control;
  Client_Connection request;
};

TEST_P (Select_Encoding, GivesTheReadReportItsStatementLines)
{
  const Encoding_Case &c = GetParam ();
  Vurude_Base_Request *select
    = attach_select ("<" + c.root + " chandle=\"" + control.handle () + "\" " + c.body + "</" + c.root + ">");
  ASSERT_NE (select, nullptr);
  ASSERT_EQ (select->parse_attributes (), 0);
  ASSERT_NE (select->open_rfc (), RFC_HANDLE_NULL);

  Callback parameters;
  parameters.function = u"Z_VOK_GET_REQUEST_PARAMETERS";
  parameters.tables = {{u"MDATA", RFCTYPE_CHAR, line_bytes, {}}, {u"JDATA", RFCTYPE_CHAR, line_bytes, {}}};
  parameters.importing = {answer_buffer (u"FUNC_FLAG", 2)};
  Dialog dialog;
  dialog.callbacks = {parameters};
  partner.expect (dialog);
  EXPECT_EQ (select->call_req_function (), 13);

  const std::vector<Dialog> done = partner.dialogs (1);
  ASSERT_EQ (done.size (), 1u);
  ASSERT_EQ (done[0].callbacks.size (), 1u);
  const Callback &answered = done[0].callbacks[0];
  ASSERT_EQ (answered.rc, RFC_OK);
  std::vector<std::string> mdata, jdata;
  for (const std::string &line : answered.tables[0].lines)
    mdata.push_back (line_text (line));
  for (const std::string &line : answered.tables[1].lines)
    jdata.push_back (line_text (line));
  EXPECT_EQ (jdata, c.jdata);
  EXPECT_EQ (mdata, c.mdata);
  EXPECT_EQ (request.take (), c.replies);
}

const std::string where_of_72 (72, 'w');

INSTANTIATE_TEST_SUITE_P (
  Statements, Select_Encoding,
  testing::Values (
    Encoding_Case {"one_table_nothing_else", "sselect", "><table name=\"MARA\"/>",
                   {"sselect", "T,MARA,,"}, {"MARA,*"}, ""},
    Encoding_Case {"two_where_elements", "sselect", "><table name=\"T1\"/><where>A = 1</where><where>AND B = 2</where>",
                   {"sselect", "T,T1,,", "W,2", "A = 1", "AND B = 2"}, {"T1,*"}, ""},
    Encoding_Case {"where_of_72_characters_fills_its_line", "sselect",
                   "><where>" + where_of_72 + "x</where><table name=\"T1\"/>",
                   {"sselect", "T,T1,,", "W,1", where_of_72}, {"T1,*"}, ""},
    Encoding_Case {"clauses_in_their_order", "sselect",
                   "distinct=\"y\"><orderby>C</orderby><having>COUNT(*) GT 1</having><groupby>C</groupby>"
                   "<where>C NE 'x'</where><table name=\"T1\" alias=\"a\" join=\"inner\"/>",
                   {"sselect,Y", "T,T1,a,inner", "W,1", "C NE 'x'", "GB,1", "C", "H,1", "COUNT(*) GT 1", "OB,1", "C"},
                   {"T1,*"}, ""},
    Encoding_Case {"field_attributes", "sselect",
                   "><table name=\"T1\"/><field name=\"F\" distinct=\"y\" aggregate=\"SUM\"/>"
                   "<field name=\"G\" table=\"T2\" alias=\"g\"/>",
                   {"sselect", "T,T1,,"}, {"T1,F,,Y,SUM,", "T2,G,g,,,"}, ""},
    Encoding_Case {"field_without_name", "sselect", "><table name=\"T1\"/><field name=\"\"/>",
                   {"sselect", "T,T1,,"}, {"T1,*"}, "E,field has no name\n"},
    Encoding_Case {"nested_counts_start_afresh", "nselect",
                   "><sselect><table name=\"A\"/><where>X = 1</where><where>Y = 2</where></sselect>"
                   "<sselect><table name=\"B\"/><where>Z = 3</where><field name=\"K\"/></sselect>",
                   {"nselect", "T,A,,", "W,2", "X = 1", "Y = 2", "T,B,,", "W,1", "Z = 3"}, {"A,*", "B,K,,,,N"}, ""},
    Encoding_Case {"nested_select_all_only_while_empty", "nselect",
                   "><sselect><table name=\"A\"/></sselect><sselect><table name=\"B\"/></sselect>",
                   {"nselect", "T,A,,", "T,B,,"}, {"A,*"}, ""},
    Encoding_Case {"grouped_tables_with_join_conditions", "gselect",
                   "><field name=\"F\"/><table name=\"A\" alias=\"a\"/><where>a~X = 1</where>"
                   "<table name=\"B\" alias=\"b\" join=\"left\"><on>a~K = b~K</on></table>"
                   "<groupby>F</groupby>",
                   {"gselect", "T,A,a,", "T,B,b,left", "O,1", "a~K = b~K", "W,1", "a~X = 1", "GB,1", "F"},
                   {"B,F,,,,"}, ""}),
  [] (const auto &instance) { return std::string (instance.param.name); });
}
