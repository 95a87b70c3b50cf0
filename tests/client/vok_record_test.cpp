// Telling rows, end records and error records of a data connection apart.
#include "vok_record.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace
{
using namespace std::string_literals;

struct Record_Case
{
  const char *name;
  std::string bytes;
  Vok_Result result;
  Vok_Record_Kind kind;
  std::string row;
  // Failures name the case, not its bytes.
  friend void PrintTo (const Record_Case &c, std::ostream *os) { *os << c.name; }
};

class Record_Assign : public testing::TestWithParam<Record_Case> {};

TEST_P (Record_Assign, ClassifiesByFlagAndContent)
{
  const Record_Case &c = GetParam ();
  Vok_Record record;
  ASSERT_TRUE (record.assign ("kept\x01"s).ok ());
  const Vok_Status status = record.assign (c.bytes);
  ASSERT_EQ (status.result (), c.result) << status.message ();
  // A refused record leaves the one before.
  EXPECT_EQ (record.kind (), c.kind);
  EXPECT_EQ (record.row (), c.row);
}

const Vok_Record_Kind row = Vok_Record_Kind::row;

INSTANTIATE_TEST_SUITE_P (
  Cases, Record_Assign,
  testing::Values (
    Record_Case {"Row", "AB\0D\x00"s, Vok_Result::ok, row, "AB\0D"s},
    Record_Case {"RowFlaggedOne", "ABCD\x01"s, Vok_Result::ok, row, "ABCD"},
    Record_Case {"RowOfZeroBytes", "\0\0\0\0\x00"s, Vok_Result::ok, row, "\0\0\0\0"s},
    Record_Case {"End", "\0\0\0\0\xFF"s, Vok_Result::ok, Vok_Record_Kind::end, "\0\0\0\0"s},
    Record_Case {"Error", "\0\0\0\0X"s, Vok_Result::ok, Vok_Record_Kind::error, "\0\0\0\0"s},
    Record_Case {"EndOfWidthZero", "\xFF"s, Vok_Result::ok, Vok_Record_Kind::end, ""},
    Record_Case {"EndWithData", "AB\0\0\xFF"s, Vok_Result::bad_record, row, "kept"},
    Record_Case {"ErrorWithData", "\0\0\0\x01X"s, Vok_Result::bad_record, row, "kept"},
    Record_Case {"UnknownFlag", "ABCD\x02"s, Vok_Result::bad_record, row, "kept"},
    Record_Case {"Nothing", ""s, Vok_Result::bad_record, row, "kept"}),
  [] (const auto &test) { return std::string (test.param.name); });
}
