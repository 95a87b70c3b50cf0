// Reading the metadata lines of a select into a record layout, and refusing
// layouts that a record could not be decoded by.
#include "vok_metadata.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace
{
using Lines = std::vector<std::string>;

TEST (Metadata, ReadsTheColumnsInRecordOrder)
{
  // An integer aligned to 4 bytes leaves a gap after the 6-byte text.
  const Lines lines {"R,40,4", "F,CARRID,C,6,0,0,Airline Code", "F,SEATS,I,4,0,8,",
                     "F,SUM(PRICE),P,8,2,12,Airfare", "F,A,B,X,16,0,20,Name with a comma"};
  Vok_Layout layout;
  const Vok_Status status = Vok_Metadata_Parser::parse (lines, layout);
  ASSERT_TRUE (status.ok ()) << status.message ();
  EXPECT_EQ (layout.row_bytes, 40u);
  ASSERT_EQ (layout.columns.size (), 4u);

  const Vok_Column &carrid = layout.columns[0];
  EXPECT_EQ (carrid.name, "CARRID");
  EXPECT_EQ (carrid.type, Vok_Column_Type::character);
  EXPECT_EQ (carrid.bytes, 6u);
  EXPECT_EQ (carrid.offset, 0u);
  EXPECT_EQ (carrid.description, "Airline Code");

  EXPECT_EQ (layout.columns[1].type, Vok_Column_Type::int4);
  EXPECT_EQ (layout.columns[1].offset, 8u);
  EXPECT_EQ (layout.columns[1].description, "");

  EXPECT_EQ (layout.columns[2].name, "SUM(PRICE)");
  EXPECT_EQ (layout.columns[2].type, Vok_Column_Type::packed);
  EXPECT_EQ (layout.columns[2].decimals, 2u);

  // The fields are counted from the end of the line: the name keeps its
  // comma, the description is the last field.
  EXPECT_EQ (layout.columns[3].name, "A,B");
  EXPECT_EQ (layout.columns[3].type, Vok_Column_Type::raw);
  EXPECT_EQ (layout.columns[3].description, "Name with a comma");
}

TEST (Metadata, IsCompleteOnlyWithAllAnnouncedColumns)
{
  Vok_Metadata_Parser parser;
  EXPECT_FALSE (parser.complete ());
  ASSERT_TRUE (parser.add_line ("R,4,2").ok ());
  ASSERT_TRUE (parser.add_line ("F,A,C,2,0,0,").ok ());
  EXPECT_FALSE (parser.complete ());
  Vok_Layout layout;
  const Vok_Status missing = parser.finish (layout);
  EXPECT_EQ (missing.result (), Vok_Result::bad_record);
  EXPECT_NE (missing.message ().find ("announced 2 columns, but 1 F lines came"), std::string::npos)
    << missing.message ();
  ASSERT_TRUE (parser.add_line ("F,B,C,2,0,2,").ok ());
  EXPECT_TRUE (parser.complete ());
  EXPECT_TRUE (parser.finish (layout).ok ());
}

TEST (Metadata, RefusesEveryLineAfterAFault)
{
  Vok_Metadata_Parser parser;
  ASSERT_FALSE (parser.add_line ("F,A,C,2,0,0,").ok ());
  EXPECT_FALSE (parser.add_line ("R,2,1").ok ());
  EXPECT_FALSE (parser.complete ());
}

TEST (Metadata, TellsMetadataLinesFromOthers)
{
  EXPECT_TRUE (Vok_Metadata_Parser::is_metadata_line ("R,2,1"));
  EXPECT_TRUE (Vok_Metadata_Parser::is_metadata_line ("F,A,C,2,0,0,"));
  for (const char *line : {"OK", "E,R,1", "", "R", "FOO", "0114103LITIE3,LIT,IE3,W,"})
    EXPECT_FALSE (Vok_Metadata_Parser::is_metadata_line (line)) << line;
}

struct Refusal_Case
{
  const char *name;
  Lines lines;
  std::string message;  // part of the refusal
  friend void PrintTo (const Refusal_Case &c, std::ostream *os) { *os << c.name; }
};

class Metadata_Refusal : public testing::TestWithParam<Refusal_Case> {};

TEST_P (Metadata_Refusal, SaysWhatIsWrong)
{
  const Refusal_Case &c = GetParam ();
  Vok_Layout layout;
  const Vok_Status status = Vok_Metadata_Parser::parse (c.lines, layout);
  ASSERT_EQ (status.result (), Vok_Result::bad_record);
  EXPECT_NE (status.message ().find (c.message), std::string::npos) << status.message ();
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Metadata_Refusal,
  testing::Values (
    Refusal_Case {"NoLines", {}, "no R line"},
    Refusal_Case {"FieldBeforeRow", {"F,A,C,2,0,0,", "R,2,1"}, "comes before the R line"},
    Refusal_Case {"SecondRow", {"R,2,1", "R,2,1"}, "a second R line"},
    Refusal_Case {"RowNotNumbers", {"R,x,1"}, "is not R,<row bytes>,<column count>"},
    Refusal_Case {"RowWithThreeFields", {"R,2,1,0"}, "is not R,<row bytes>,<column count>"},
    Refusal_Case {"RowOfZeroBytes", {"R,0,0"}, "announces an empty row"},
    Refusal_Case {"RowBeyondTheLimit", {"R,99999999999,1"}, "with numbers up to"},
    Refusal_Case {"MoreColumnsThanBytes", {"R,2,3"}, "more columns than the row has bytes"},
    Refusal_Case {"ColumnBeyondTheCount", {"R,4,1", "F,A,C,2,0,0,", "F,B,C,2,0,2,"}, "one more than the 1"},
    Refusal_Case {"TooFewFields", {"R,2,1", "F,A,C,2,0"}, "is not F,<name>"},
    Refusal_Case {"UnknownType", {"R,2,1", "F,A,Q,2,0,0,"}, "unknown type \"Q\""},
    Refusal_Case {"TypeInLowerCase", {"R,4,1", "F,A,i,4,0,0,"}, "unknown type \"i\""},
    Refusal_Case {"NegativeOffset", {"R,2,1", "F,A,C,2,0,-1,"}, "is not F,<name>"},
    Refusal_Case {"OddCharacterBytes", {"R,3,1", "F,A,C,3,0,0,"}, "needs an even number of bytes"},
    Refusal_Case {"IntegerOfThreeBytes", {"R,3,1", "F,A,I,3,0,0,"}, "needs 4 bytes"},
    Refusal_Case {"DateOfEightBytes", {"R,8,1", "F,A,D,8,0,0,"}, "needs 16 bytes"},
    Refusal_Case {"PackedTooLong", {"R,17,1", "F,A,P,17,0,0,"}, "needs 1 to 16 bytes"},
    Refusal_Case {"PackedDecimalsBeyondDigits", {"R,2,1", "F,A,P,2,4,0,"}, "4 decimals but only 3 digits"},
    Refusal_Case {"Overlap", {"R,8,2", "F,A,C,4,0,0,", "F,B,C,4,0,2,"}, "overlaps the column before it"},
    Refusal_Case {"OutOfOrder", {"R,8,2", "F,A,C,4,0,4,", "F,B,C,4,0,0,"}, "overlaps the column before it"},
    Refusal_Case {"BeyondTheRow", {"R,8,2", "F,A,C,4,0,0,", "F,B,C,4,0,6,"}, "ends beyond the row of 8 bytes"},
    Refusal_Case {"NotAMetadataLine", {"R,2,1", "OK"}, "neither an R nor an F line"}),
  [] (const auto &test) { return std::string (test.param.name); });
}
