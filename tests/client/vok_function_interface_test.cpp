// Reading the lines that describe a function module into its interface, and
// refusing descriptions that are out of order or do not hold together.
#include "vok_function_interface.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace
{
using Lines = std::vector<std::string>;

const Lines flight_list {
  "FUNCTION,Z_FLIGHT_LIST,Flights of an airline",
  "PARAMETER,AIRLINE,E,C,6,0,,Airline code",
  "PARAMETER,MAXROWS,E,I,4,0,X,",
  "PARAMETER,TOTAL,I,P,8,2,,Sum of the prices",
  "TABLE,FLIGHTS,28,ZFLIGHT,N,Flights found",
  "FIELD,FLIGHTS,CONNID,N,8,0,0,Flight number",
  "FIELD,FLIGHTS,FLDATE,D,16,0,8,Flight date",
  "FIELD,FLIGHTS,PRICE,P,4,2,24",
  "TABLE,CARRIERS,6,,Y,",
  "EXCEPTION,NOT_FOUND,No flights",
  "EXCEPTION,NO_AUTHORITY,"};

TEST (Function_Interface, ReadsParametersTablesFieldsAndExceptions)
{
  Vok_Function_Interface interface;
  const Vok_Status status = Vok_Function_Interface_Parser::parse (flight_list, interface);
  ASSERT_TRUE (status.ok ()) << status.message ();
  EXPECT_EQ (interface.name, "Z_FLIGHT_LIST");
  EXPECT_EQ (interface.description, "Flights of an airline");

  ASSERT_EQ (interface.parameters.size (), 3u);
  const Vok_Function_Parameter &airline = interface.parameters[0];
  EXPECT_EQ (airline.name, "AIRLINE");
  EXPECT_EQ (airline.parameter_class, Vok_Parameter_Class::exporting);
  EXPECT_EQ (airline.type, Vok_Column_Type::character);
  EXPECT_EQ (airline.bytes, 6u);
  EXPECT_FALSE (airline.optional);
  EXPECT_EQ (airline.description, "Airline code");
  EXPECT_TRUE (interface.parameters[1].optional);
  EXPECT_EQ (interface.parameters[1].description, "");
  const Vok_Function_Parameter &total = interface.parameters[2];
  EXPECT_EQ (total.parameter_class, Vok_Parameter_Class::importing);
  EXPECT_EQ (total.type, Vok_Column_Type::packed);
  EXPECT_EQ (total.decimals, 2u);
  EXPECT_EQ (total.column ().name, "TOTAL");
  EXPECT_EQ (total.column ().bytes, 8u);
  EXPECT_EQ (total.column ().offset, 0u);

  ASSERT_EQ (interface.tables.size (), 2u);
  const Vok_Function_Table &flights = interface.tables[0];
  EXPECT_EQ (flights.line_bytes, 28u);
  EXPECT_EQ (flights.structure, "ZFLIGHT");
  EXPECT_FALSE (flights.input_only);
  ASSERT_EQ (flights.fields.size (), 3u);
  EXPECT_EQ (flights.fields[1].name, "FLDATE");
  EXPECT_EQ (flights.fields[1].type, Vok_Column_Type::date);
  EXPECT_EQ (flights.fields[1].offset, 8u);
  EXPECT_EQ (flights.fields[1].description, "Flight date");
  // A line cut before the description still describes the field.
  EXPECT_EQ (flights.fields[2].decimals, 2u);
  EXPECT_EQ (flights.fields[2].description, "");
  EXPECT_EQ (flights.layout ().row_bytes, 28u);
  EXPECT_EQ (flights.layout ().columns.size (), 3u);

  // A table without fields is one raw column over the line.
  const Vok_Function_Table &carriers = interface.tables[1];
  EXPECT_TRUE (carriers.input_only);
  EXPECT_EQ (carriers.structure, "");
  const Vok_Layout line = carriers.layout ();
  ASSERT_EQ (line.columns.size (), 1u);
  EXPECT_EQ (line.columns[0].name, Vok_Function_Table::whole_line);
  EXPECT_EQ (line.columns[0].type, Vok_Column_Type::raw);
  EXPECT_EQ (line.columns[0].bytes, 6u);

  ASSERT_EQ (interface.exceptions.size (), 2u);
  EXPECT_EQ (interface.exceptions[0].description, "No flights");
  EXPECT_EQ (interface.exception ("NO_AUTHORITY"), &interface.exceptions[1]);
  EXPECT_EQ (interface.parameter ("TOTAL"), &interface.parameters[2]);
  EXPECT_EQ (interface.table ("FLIGHTS"), &interface.tables[0]);
  EXPECT_EQ (interface.parameter ("FLIGHTS"), nullptr);
  EXPECT_TRUE (interface.check ().ok ()) << interface.check ().message ();
}

TEST (Function_Interface, AFunctionAloneIsAnInterface)
{
  Vok_Function_Interface interface;
  ASSERT_TRUE (Vok_Function_Interface_Parser::parse ({"FUNCTION,RFC_PING"}, interface).ok ());
  EXPECT_EQ (interface.name, "RFC_PING");
  EXPECT_TRUE (interface.parameters.empty ());
}

TEST (Function_Interface, TellsInterfaceLinesFromOthers)
{
  for (const char *line : {"FUNCTION,X,", "PARAMETER,A", "TABLE,T", "FIELD,T", "EXCEPTION,E"})
    EXPECT_TRUE (Vok_Function_Interface_Parser::is_interface_line (line)) << line;
  for (const char *line : {"FUNCTION", "F,A,C,2,0,0,", "E,RFC Exception: X", "TABLES,T", ""})
    EXPECT_FALSE (Vok_Function_Interface_Parser::is_interface_line (line)) << line;
}

struct Refusal_Case
{
  const char *name;
  Lines lines;
  std::string message;  // part of the refusal
  friend void PrintTo (const Refusal_Case &c, std::ostream *os) { *os << c.name; }
};

class Function_Interface_Refusal : public testing::TestWithParam<Refusal_Case> {};

// The refusal comes at the line that breaks the rules (or at the end), and
// every line after it is refused the same way.
TEST_P (Function_Interface_Refusal, RefusesTheDescription)
{
  const Refusal_Case &c = GetParam ();
  Vok_Function_Interface_Parser parser;
  Vok_Status status;
  for (const std::string &line : c.lines)
    if (status = parser.add_line (line); !status.ok ())
      break;
  Vok_Function_Interface interface;
  if (status.ok ())
    status = parser.finish (interface);
  else
    EXPECT_EQ (parser.add_line ("EXCEPTION,LATER,").message (), status.message ());
  ASSERT_EQ (status.result (), Vok_Result::bad_record);
  EXPECT_NE (status.message ().find (c.message), std::string::npos) << status.message ();
}

const std::string function = "FUNCTION,Z_F,";
const std::string table = "TABLE,T,8,S,N,";

INSTANTIATE_TEST_SUITE_P (
  Cases, Function_Interface_Refusal,
  testing::Values (
    Refusal_Case {"NoLines", {}, "the interface has no FUNCTION line"},
    Refusal_Case {"ParameterFirst", {"PARAMETER,A,E,C,2,0,,"}, "comes before the FUNCTION line"},
    Refusal_Case {"SecondFunction", {function, "FUNCTION,Z_G,"}, "a second FUNCTION line"},
    Refusal_Case {"FunctionWithoutName", {"FUNCTION,,text"}, "names no function"},
    Refusal_Case {"UnknownKind", {function, "IMPORT,A"},
                  "is none of FUNCTION, PARAMETER, TABLE, FIELD and EXCEPTION"},
    Refusal_Case {"MissingFields", {function, "PARAMETER,A,E,C,2"}, "is not PARAMETER,<name>,<class>,<type>"},
    Refusal_Case {"UnknownClass", {function, "PARAMETER,A,C,C,2,0,,"}, "has the class \"C\", not E"},
    Refusal_Case {"UnknownType", {function, "PARAMETER,A,E,Q,2,0,,"}, "names the unknown type \"Q\""},
    Refusal_Case {"LowerCaseTypeOfAnotherMeaning", {function, "PARAMETER,A,E,i,4,0,,"}, "unknown type \"i\""},
    Refusal_Case {"EightByteInteger", {function, "PARAMETER,A,I,8,8,0,,"}, "unknown type \"8\""},
    Refusal_Case {"BytesNotANumber", {function, "PARAMETER,A,E,C,two,0,,"}, "with bytes up to"},
    Refusal_Case {"OddCharacterBytes", {function, "PARAMETER,A,E,C,5,0,,"},
                  "parameter A of type C and 5 bytes needs an even number of bytes above 0"},
    Refusal_Case {"DateOfEightBytes", {function, "PARAMETER,A,E,D,8,0,,"}, "needs 16 bytes"},
    Refusal_Case {"PackedWithMoreDecimalsThanDigits", {function, "PARAMETER,A,E,P,2,4,,"},
                  "has 4 decimals but only 3 digits"},
    Refusal_Case {"OptionalOtherThanX", {function, "PARAMETER,A,E,C,2,0,Y,"}, "not X or nothing"},
    Refusal_Case {"ParameterTwice", {function, "PARAMETER,A,E,C,2,0,,", "PARAMETER,A,I,C,2,0,,"},
                  "names A a second time"},
    Refusal_Case {"ParameterAndTableAlike", {function, "PARAMETER,T,E,C,2,0,,", table}, "names T a second time"},
    Refusal_Case {"ParameterAfterTable", {function, table, "PARAMETER,A,E,C,2,0,,"},
                  "comes after the tables or exceptions"},
    Refusal_Case {"InputOnlyOtherThanYN", {function, "TABLE,T,8,S,X,"}, "has inputonly \"X\", not Y or N"},
    Refusal_Case {"EmptyLines", {function, "TABLE,T,0,S,N,"}, "table T has lines of 0 bytes"},
    Refusal_Case {"FieldWithoutTable", {function, "FIELD,T,A,C,2,0,0,"}, "does not follow the TABLE line of T"},
    Refusal_Case {"FieldOfAnotherTable", {function, table, "TABLE,U,8,S,N,", "FIELD,T,A,C,2,0,0,"},
                  "does not follow the TABLE line of T"},
    Refusal_Case {"FieldTwice", {function, table, "FIELD,T,A,C,2,0,0,", "FIELD,T,A,C,2,0,2,"},
                  "table T has two fields named A"},
    Refusal_Case {"FieldsOverlap", {function, table, "FIELD,T,A,C,4,0,0,", "FIELD,T,B,C,2,0,2,"},
                  "field B of table T at offset 2 overlaps the field before it, which ends at byte 4"},
    Refusal_Case {"FieldBeyondTheLine", {function, table, "FIELD,T,A,I,4,0,6,"},
                  "field A of table T at offset 6 with 4 bytes ends beyond the line of 8 bytes"},
    Refusal_Case {"FieldOffsetNotANumber", {function, table, "FIELD,T,A,I,4,0,-1,"}, "with bytes and offset up to"},
    Refusal_Case {"TableAfterExceptions", {function, "EXCEPTION,E,", table}, "comes after the exceptions"},
    Refusal_Case {"ExceptionTwice", {function, "EXCEPTION,E,", "EXCEPTION,E,"}, "names the exception E a second time"}),
  [] (const auto &test) { return std::string (test.param.name); });

// An interface built by hand is held to the same rules.
TEST (Function_Interface, CheckAppliesTheRulesToAHandBuiltInterface)
{
  Vok_Function_Interface interface;
  EXPECT_NE (interface.check ().message ().find ("the function has no name"), std::string::npos);
  interface.name = "Z_F";
  Vok_Function_Table lines;
  lines.name = "LINES";
  lines.line_bytes = 4;
  Vok_Column field;
  field.name = "N";
  field.type = Vok_Column_Type::int4;
  field.bytes = 4;
  lines.fields.push_back (field);
  interface.tables.push_back (lines);
  EXPECT_TRUE (interface.check ().ok ()) << interface.check ().message ();

  Vok_Function_Parameter clash;
  clash.name = "LINES";
  clash.bytes = 2;
  interface.parameters.push_back (clash);
  const Vok_Status status = interface.check ();
  EXPECT_EQ (status.result (), Vok_Result::bad_record);
  EXPECT_NE (status.message ().find ("the name LINES is given twice"), std::string::npos) << status.message ();

  interface.parameters.clear ();
  interface.tables[0].fields[0].bytes = 2;
  EXPECT_NE (interface.check ().message ().find ("field N of table LINES of type I and 2 bytes needs 4 bytes"),
             std::string::npos)
    << interface.check ().message ();
}
}
