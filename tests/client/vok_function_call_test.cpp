// Describing and calling a function module against a scripted server: the
// documents sent, the interface read, the "D" lines with the values and
// table lines of the data connection, exceptions and error lines, and every
// way the server can break off or send what the call did not ask for.
#include "script_server.h"
#include "vok_base64.h"
#include "vok_function_call.h"
#include "vok_value_decoder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace
{
using namespace std::chrono_literals;
using namespace std::string_literals;
using Lines = std::vector<std::string>;
using Steps = std::vector<Script_Step>;

const std::string chandle = "0001000000000000C0DE";
const std::string dhandle = "0002000000000000DA7A";
const std::string rhandle = "0003000000000000BEEF";

std::string utf16 (std::string_view text)
{
  std::string bytes;
  for (char c : text)
    bytes += std::string {c, '\0'};
  return bytes;
}

std::string joined (const Lines &lines)
{
  std::string text;
  for (const std::string &line : lines)
    text += line + "\n";
  return text;
}

// Two parameters sent (one optional), two received; a returned table with
// fields, an input-only table and a returned table without fields.
const Lines flight_list {
  "FUNCTION,Z_FLIGHT_LIST,Flights of an airline",
  "PARAMETER,AIRLINE,E,C,6,0,,Airline code",
  "PARAMETER,MAXROWS,E,I,4,0,X,Most rows",
  "PARAMETER,COUNT,I,I,4,0,,Flights found",
  "PARAMETER,TOTAL,I,P,8,2,,Sum of the prices",
  "TABLE,FLIGHTS,28,ZFLIGHT,N,Flights found",
  "FIELD,FLIGHTS,CONNID,N,8,0,0,Flight number",
  "FIELD,FLIGHTS,FLDATE,D,16,0,8,Flight date",
  "FIELD,FLIGHTS,PRICE,P,4,2,24,Airfare",
  "TABLE,CARRIERS,6,,Y,Airlines",
  "TABLE,MESSAGES,4,,N,",
  "EXCEPTION,NOT_FOUND,No flights"};

Vok_Function_Interface flight_list_interface ()
{
  Vok_Function_Interface interface;
  const Vok_Status status = Vok_Function_Interface_Parser::parse (flight_list, interface);
  EXPECT_TRUE (status.ok ()) << status.message ();
  return interface;
}

Vok_Function_Settings short_waits ()
{
  Vok_Function_Settings settings;
  settings.connection.reply_timeout = 10s;
  return settings;
}

// --- Describing ---

struct Describe_Case
{
  const char *name;
  Steps reply;  // after the document
  Vok_Function_Outcome outcome;
  Lines error_lines;
  std::string exception;
  std::string message;  // part of the status message; empty when ok
  friend void PrintTo (const Describe_Case &c, std::ostream *os) { *os << c.name; }
};

class Function_Describe : public testing::TestWithParam<Describe_Case> {};

TEST_P (Function_Describe, ReadsTheInterfaceOrTheRefusal)
{
  const Describe_Case &c = GetParam ();
  Steps script {send (padded_greeting (rhandle)),
                expect ("<function chandle=\"" + chandle + "\" metadata=\"Y\" name=\"Z_FLIGHT_LIST\"/>\n")};
  script.insert (script.end (), c.reply.begin (), c.reply.end ());
  Script_Server server (script);
  const Vok_Function_Description described
    = Vok_Function_Call (short_waits ()).describe ("127.0.0.1", server.port (), chandle, "Z_FLIGHT_LIST");
  EXPECT_EQ (server.finish (), "");
  EXPECT_EQ (described.outcome, c.outcome) << described.status.message ();
  EXPECT_EQ (described.error_lines, c.error_lines);
  EXPECT_EQ (described.exception, c.exception);
  if (c.message.empty ())
    {
      EXPECT_TRUE (described.status.ok ()) << described.status.message ();
      EXPECT_EQ (described.interface.name, "Z_FLIGHT_LIST");
      EXPECT_EQ (described.interface.parameters.size (), 4u);
      EXPECT_EQ (described.interface.tables.size (), 3u);
      EXPECT_EQ (described.interface.exceptions.size (), 1u);
    }
  else
    EXPECT_NE (described.status.message ().find (c.message), std::string::npos) << described.status.message ();
}

const auto completed = Vok_Function_Outcome::completed;
const auto server_error = Vok_Function_Outcome::server_error;
const auto failed = Vok_Function_Outcome::failed;

INSTANTIATE_TEST_SUITE_P (
  Cases, Function_Describe,
  testing::Values (
    Describe_Case {"Interface", {send (joined (flight_list)), close_connection ()}, completed, {}, "", ""},
    Describe_Case {"InterfaceInPieces", {send_bytewise (joined (flight_list)), close_connection ()}, completed, {},
                   "", ""},
    Describe_Case {"UnknownFunction", {send ("E,RFC Exception: FUNCTION_NOT_FOUND\n"), close_connection ()},
                   server_error, {"RFC Exception: FUNCTION_NOT_FOUND"}, "FUNCTION_NOT_FOUND",
                   "the function raised the exception FUNCTION_NOT_FOUND"},
    Describe_Case {"RfcError",
                   {send ("E,RFC Error:\nE,Error Group: 1\n\n"), close_connection ()},
                   server_error, {"RFC Error:", "Error Group: 1"}, "", "2 error line(s)"},
    Describe_Case {"InterfaceThatDoesNotHoldTogether",
                   {send ("FUNCTION,Z_FLIGHT_LIST,\nPARAMETER,A,E,C,3,0,,\n"), close_connection ()},
                   failed, {}, "", "an interface the client cannot use: "},
    Describe_Case {"AnotherFunction", {send ("FUNCTION,Z_OTHER,\n"), close_connection ()}, failed, {}, "",
                   "the server described Z_OTHER when asked for Z_FLIGHT_LIST"},
    Describe_Case {"NothingBeforeTheClose", {close_connection ()}, failed, {}, "",
                   "the server closed the connection without describing Z_FLIGHT_LIST"}),
  [] (const auto &test) { return std::string (test.param.name); });

// --- The document of a call ---

TEST (Function_Call_Document, CarriesValuesFieldsAndRows)
{
  Vok_Function_Arguments arguments;
  arguments.values = {{"AIRLINE", "LH"}};
  Vok_Table_Rows carriers;
  carriers.fields = {"LINE"};
  carriers.rows = {{"4c0048002000"}};
  Vok_Table_Rows flights;
  flights.fields = {"PRICE", "CONNID"};
  flights.rows = {{"12.34", "400"}};
  arguments.tables = {{"CARRIERS", carriers}, {"FLIGHTS", flights}};
  Vok_Function_Document document;
  const Vok_Status status = Vok_Function_Call::make_document (flight_list_interface (), arguments, document);
  ASSERT_TRUE (status.ok ()) << status.message ();
  std::string text;
  ASSERT_TRUE (document.write (text).ok ());
  // The date left out is initial; the bytes between fields are zero.
  const std::string flight_line = utf16 ("0400") + utf16 ("00000000") + "\x00\x01\x23\x4C"s;
  EXPECT_EQ (text,
             "<function data=\"Y\" name=\"Z_FLIGHT_LIST\">"
             "<parameter intlen=\"6\" name=\"AIRLINE\" type=\"C\" paramclass=\"E\"><i><d>TABIACAA</d></i></parameter>"
             "<parameter intlen=\"4\" name=\"MAXROWS\" type=\"B\" paramclass=\"E\"><i><d>AAAAAA==</d></i></parameter>"
             "<parameter intlen=\"4\" name=\"COUNT\" type=\"B\" paramclass=\"I\"/>"
             "<parameter intlen=\"8\" name=\"TOTAL\" type=\"B\" paramclass=\"I\"/>"
             "<table intlen=\"28\" name=\"FLIGHTS\" structure=\"ZFLIGHT\" inputonly=\"N\">"
             "<field name=\"CONNID\" type=\"N\" len=\"4\" offset=\"0\" len2=\"8\" offset2=\"0\" dec=\"0\"/>"
             "<field name=\"FLDATE\" type=\"D\" len=\"8\" offset=\"4\" len2=\"16\" offset2=\"8\" dec=\"0\"/>"
             "<field name=\"PRICE\" type=\"P\" len=\"4\" offset=\"12\" len2=\"4\" offset2=\"24\" dec=\"2\"/>"
             "<i><d>"
               + vok_base64_encode (flight_line)
               + "</d></i></table>"
                 "<table intlen=\"6\" name=\"CARRIERS\" inputonly=\"Y\"><i><d>TABIACAA</d></i></table>"
                 "<table intlen=\"4\" name=\"MESSAGES\" inputonly=\"N\"/></function>");
}

// Number fields sit at their natural alignment in the one-byte layout.
TEST (Function_Call_Document, AlignsNumbersInTheOneByteLayout)
{
  Vok_Function_Interface interface;
  ASSERT_TRUE (Vok_Function_Interface_Parser::parse ({"FUNCTION,Z_F,", "TABLE,T,24,S,N,", "FIELD,T,A,C,6,0,0,",
                                                      "FIELD,T,B,I,4,0,8,", "FIELD,T,C,F,8,0,16,"},
                                                     interface)
                 .ok ());
  Vok_Function_Document document;
  ASSERT_TRUE (Vok_Function_Call::make_document (interface, {}, document).ok ());
  std::string text;
  ASSERT_TRUE (document.write (text).ok ());
  EXPECT_NE (text.find ("<field name=\"A\" type=\"C\" len=\"3\" offset=\"0\" len2=\"6\" offset2=\"0\""),
             std::string::npos)
    << text;
  EXPECT_NE (text.find ("<field name=\"B\" type=\"I\" len=\"4\" offset=\"4\" len2=\"4\" offset2=\"8\""),
             std::string::npos)
    << text;
  EXPECT_NE (text.find ("<field name=\"C\" type=\"F\" len=\"8\" offset=\"8\" len2=\"8\" offset2=\"16\""),
             std::string::npos)
    << text;
}

struct Argument_Case
{
  const char *name;
  Vok_Function_Arguments arguments;
  std::string message;  // part of the refusal
  friend void PrintTo (const Argument_Case &c, std::ostream *os) { *os << c.name; }
};

class Function_Call_Arguments : public testing::TestWithParam<Argument_Case> {};

TEST_P (Function_Call_Arguments, AreRefusedBeforeAnythingIsSent)
{
  const Argument_Case &c = GetParam ();
  Vok_Function_Document document;
  const Vok_Status status = Vok_Function_Call::make_document (flight_list_interface (), c.arguments, document);
  ASSERT_EQ (status.result (), Vok_Result::invalid_argument);
  EXPECT_NE (status.message ().find (c.message), std::string::npos) << status.message ();
  // Nothing to connect to: the call fails before it connects.
  const Vok_Function_Result result
    = Vok_Function_Call (short_waits ()).call ("127.0.0.1", 1, chandle, flight_list_interface (), c.arguments);
  EXPECT_EQ (result.outcome, failed);
  EXPECT_EQ (result.status.result (), Vok_Result::invalid_argument);
}

Vok_Function_Arguments with_airline (std::vector<std::pair<std::string, std::string>> more = {},
                                     std::vector<std::pair<std::string, Vok_Table_Rows>> tables = {})
{
  Vok_Function_Arguments arguments;
  arguments.values = {{"AIRLINE", "LH"}};
  arguments.values.insert (arguments.values.end (), more.begin (), more.end ());
  arguments.tables = std::move (tables);
  return arguments;
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Function_Call_Arguments,
  testing::Values (
    Argument_Case {"RequiredParameterLeftOut", {}, "parameter AIRLINE of Z_FLIGHT_LIST is required"},
    Argument_Case {"UnknownParameter", with_airline ({{"CITY", "X"}}), "Z_FLIGHT_LIST has no parameter CITY"},
    Argument_Case {"ReceivedParameterSent", with_airline ({{"COUNT", "1"}}),
                   "parameter COUNT of Z_FLIGHT_LIST is received from the function, not sent"},
    Argument_Case {"ParameterTwice", with_airline ({{"AIRLINE", "AA"}}), "parameter AIRLINE is given twice"},
    Argument_Case {"ValueThatDoesNotEncode", with_airline ({{"MAXROWS", "x"}}),
                   "parameter MAXROWS: the value \"x\" is not a whole number"},
    Argument_Case {"UnknownTable", with_airline ({}, {{"PLANES", {}}}), "Z_FLIGHT_LIST has no table PLANES"},
    Argument_Case {"TableTwice", with_airline ({}, {{"MESSAGES", {}}, {"MESSAGES", {}}}),
                   "table MESSAGES is given twice"},
    Argument_Case {"UnknownField", with_airline ({}, {{"FLIGHTS", {{"SEATS"}, {}}}}),
                   "table FLIGHTS has no field SEATS"},
    Argument_Case {"FieldTwice", with_airline ({}, {{"FLIGHTS", {{"PRICE", "PRICE"}, {}}}}),
                   "table FLIGHTS: the field PRICE is named twice"},
    Argument_Case {"RowOfOtherLength", with_airline ({}, {{"FLIGHTS", {{"PRICE", "CONNID"}, {{"1.00", "1"}, {"2"}}}}}),
                   "table FLIGHTS, row 2 has 1 values for 2 fields"},
    Argument_Case {"FieldValueDoesNotFit", with_airline ({}, {{"FLIGHTS", {{"CONNID"}, {{"12345"}}}}}),
                   "table FLIGHTS, row 1, field CONNID: the value \"12345\" has 5 digits; the field holds 4"}),
  [] (const auto &test) { return std::string (test.param.name); });

// --- Calling ---

std::string value (std::string bytes)
{
  return bytes + '\0';
}

const std::string count_3 = value ("\x03\x00\x00\x00"s);
const std::string total_1234_50 = value ("\x00\x00\x00\x00\x01\x23\x45\x0C"s);
std::string flight (std::string_view connid, std::string_view date, std::string packed_price)
{
  return value (utf16 (connid) + utf16 (date) + packed_price);
}
const std::string three_flights = flight ("0400", "20240131", "\x00\x01\x23\x4C"s)
                                  + flight ("0401", "20240201", "\x00\x09\x99\x9D"s)
                                  + flight ("0402", "20240202", "\x00\x00\x00\x0C"s);
const std::string results = "D,COUNT,1\nD,TOTAL,1\n";

struct Call_Case
{
  const char *name;
  Steps data;   // after the greeting
  Steps reply;  // after the document
  Vok_Function_Outcome outcome;
  Lines received;  // "NAME=value", "TABLE NAME n" and its rows "a|b|c"
  Lines error_lines;
  std::string exception;
  std::string message;  // part of the status message; empty when ok
  friend void PrintTo (const Call_Case &c, std::ostream *os) { *os << c.name; }
};

class Function_Call : public testing::TestWithParam<Call_Case>
{
protected:
  // What came back, decoded.
  static Lines decoded (const Vok_Function_Result &result)
  {
    Lines lines;
    std::string text;
    for (const Vok_Received_Value &received : result.parameters)
      {
        EXPECT_TRUE (vok_decode_value (received.column, received.bytes, text).ok ());
        lines.push_back (received.name + "=" + text);
      }
    for (const Vok_Received_Table &table : result.tables)
      {
        lines.push_back ("TABLE " + table.name + " " + std::to_string (table.lines.size ()));
        for (const std::string &line : table.lines)
          {
            std::string row;
            for (const Vok_Column &column : table.layout.columns)
              {
                EXPECT_TRUE (vok_decode_value (column, line, text).ok ());
                row += (row.empty () ? "" : "|") + text;
              }
            lines.push_back (row);
          }
      }
    return lines;
  }
};

TEST_P (Function_Call, ReadsTheResultsOrTheFailure)
{
  const Call_Case &c = GetParam ();
  Vok_Function_Arguments arguments;
  arguments.values = {{"AIRLINE", "LH"}};
  Vok_Function_Document document;
  ASSERT_TRUE (Vok_Function_Call::make_document (flight_list_interface (), arguments, document).ok ());
  document.chandle = chandle;
  document.dhandle = dhandle;
  std::string text;
  ASSERT_TRUE (document.write (text).ok ());

  Steps data {send (padded_greeting (dhandle))};
  data.insert (data.end (), c.data.begin (), c.data.end ());
  Steps request {send (padded_greeting (rhandle)), expect (text + "\n")};
  request.insert (request.end (), c.reply.begin (), c.reply.end ());
  Script_Server server (Connection_Scripts {{data, request}});
  const Vok_Function_Interface interface = flight_list_interface ();
  const Vok_Function_Result result
    = Vok_Function_Call (short_waits ()).call ("127.0.0.1", server.port (), chandle, interface, arguments);
  EXPECT_EQ (server.finish (), "");
  EXPECT_EQ (result.outcome, c.outcome) << result.status.message ();
  EXPECT_EQ (decoded (result), c.received);
  EXPECT_EQ (result.error_lines, c.error_lines);
  EXPECT_EQ (result.exception, c.exception);
  if (c.message.empty ())
    EXPECT_TRUE (result.status.ok ()) << result.status.message ();
  else
    EXPECT_NE (result.status.message ().find (c.message), std::string::npos) << result.status.message ();
}

const Lines flights_received {"COUNT=3",           "TOTAL=1234.50",   "TABLE FLIGHTS 3",    "0400|20240131|12.34",
                              "0401|20240201|-99.99", "0402|20240202|0.00", "TABLE MESSAGES 0"};

INSTANTIATE_TEST_SUITE_P (
  Cases, Function_Call,
  testing::Values (
    Call_Case {"TwoParametersAndATableOfThreeLines",
               {send (count_3 + total_1234_50 + three_flights), expect_closed ()},
               {send (results + "D,FLIGHTS,3\nEOF\n"), expect_closed ()},
               completed, flights_received, {}, "", ""},
    Call_Case {"EverythingInPieces",
               {send_bytewise (count_3 + total_1234_50 + three_flights), expect_closed ()},
               {send_bytewise (results + "D,FLIGHTS,3\nEOF\n"), expect_closed ()},
               completed, flights_received, {}, "", ""},
    Call_Case {"EmptyTableSendsNoLine",
               {send (count_3 + total_1234_50 + value ("\x01\x02\x03\x04"s)), expect_closed ()},
               {send (results + "D,MESSAGES,1\nEOF\n"), expect_closed ()},
               completed, {"COUNT=3", "TOTAL=1234.50", "TABLE FLIGHTS 0", "TABLE MESSAGES 1", "01020304"}, {}, "",
               ""},
    Call_Case {"Exception",
               {expect_closed ()},
               {send ("E,RFC Exception: NOT_FOUND\n"), close_connection ()},
               server_error, {}, {"RFC Exception: NOT_FOUND"}, "NOT_FOUND",
               "the function raised the exception NOT_FOUND"},
    Call_Case {"RfcError",
               {expect_closed ()},
               {send ("E,RFC Error:\nE,Error Group: 3\n\n"), close_connection ()},
               server_error, {}, {"RFC Error:", "Error Group: 3"}, "", "2 error line(s)"},
    Call_Case {"TruncatedDataConnection",
               {send (count_3 + total_1234_50.substr (0, 3)), close_connection ()},
               {send (results + "D,FLIGHTS,3\nEOF\n"), expect_closed ()},
               failed, {"COUNT=3"}, {}, "",
               "the data connection, parameter TOTAL: the server at 127.0.0.1:"},
    Call_Case {"TruncatedTable",
               {send (count_3 + total_1234_50 + three_flights.substr (0, 40)), close_connection ()},
               {send (results + "D,FLIGHTS,3\nEOF\n"), expect_closed ()},
               failed, {"COUNT=3", "TOTAL=1234.50"}, {}, "", "within a record, after 11 of its 29 bytes"},
    Call_Case {"ValueWithoutItsZeroByte",
               {send ("\x03\x00\x00\x00\x01"s), expect_closed ()},
               {send (results), expect_closed ()},
               failed, {}, {}, "", "parameter COUNT: the value is followed by the byte 0x01, not by a zero byte"},
    Call_Case {"EofBeforeAParameter",
               {send (count_3), expect_closed ()},
               {send ("D,COUNT,1\nEOF\n"), expect_closed ()},
               failed, {"COUNT=3"}, {}, "", "EOF came before the value of parameter TOTAL"},
    Call_Case {"ParametersOutOfOrder",
               {expect_closed ()},
               {send ("D,TOTAL,1\n"), expect_closed ()},
               failed, {}, {}, "", "the line \"D,TOTAL,1\" came where D,COUNT,1 was due"},
    Call_Case {"InputOnlyTableReturned",
               {send (count_3 + total_1234_50), expect_closed ()},
               {send (results + "D,CARRIERS,1\n"), expect_closed ()},
               failed, {"COUNT=3", "TOTAL=1234.50"}, {}, "",
               "the line \"D,CARRIERS,1\" names no returned table of Z_FLIGHT_LIST that is still due"},
    Call_Case {"TablesOutOfOrder",
               {send (count_3 + total_1234_50 + value ("\x01\x02\x03\x04"s)), expect_closed ()},
               {send (results + "D,MESSAGES,1\nD,FLIGHTS,1\n"), expect_closed ()},
               failed, {"COUNT=3", "TOTAL=1234.50", "TABLE FLIGHTS 0", "TABLE MESSAGES 1", "01020304"}, {}, "",
               "the line \"D,FLIGHTS,1\" names no returned table"},
    Call_Case {"CountNotANumber",
               {expect_closed ()},
               {send ("D,COUNT,one\n"), expect_closed ()},
               failed, {}, {}, "", "the line \"D,COUNT,one\" is not D,<name>,<count>"},
    Call_Case {"ClosedBeforeEof",
               {send (count_3), expect_closed ()},
               {send ("D,COUNT,1\n"), close_connection ()},
               failed, {"COUNT=3"}, {}, "", "the server closed the request connection before EOF"}),
  [] (const auto &test) { return std::string (test.param.name); });

// A table longer than the bound is refused when its "D" line announces it,
// before any of its lines is held.
TEST (Function_Call_Bounds, RefusesResultsBeyondTheLimit)
{
  Vok_Function_Arguments arguments;
  arguments.values = {{"AIRLINE", "LH"}};
  Vok_Function_Document document;
  ASSERT_TRUE (Vok_Function_Call::make_document (flight_list_interface (), arguments, document).ok ());
  document.chandle = chandle;
  document.dhandle = dhandle;
  std::string text;
  ASSERT_TRUE (document.write (text).ok ());
  Script_Server server (Connection_Scripts {
    {{send (padded_greeting (dhandle)), send (count_3 + total_1234_50), expect_closed ()},
     {send (padded_greeting (rhandle)), expect (text + "\n"), send (results + "D,FLIGHTS,1000000\n"),
      expect_closed ()}}});
  Vok_Function_Settings settings = short_waits ();
  settings.max_result_bytes = 1000;
  const Vok_Function_Result result
    = Vok_Function_Call (settings).call ("127.0.0.1", server.port (), chandle, flight_list_interface (), arguments);
  EXPECT_EQ (server.finish (), "");
  EXPECT_EQ (result.outcome, failed);
  EXPECT_EQ (result.status.result (), Vok_Result::too_long);
  EXPECT_NE (result.status.message ().find ("table FLIGHTS: 1000000 lines of 28 bytes exceed the limit of 1000 bytes"),
             std::string::npos)
    << result.status.message ();
}
}
