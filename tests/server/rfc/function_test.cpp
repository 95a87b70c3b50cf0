// Building the library's parameter and table arrays from the lists, finding
// tables, pointing send entries at values, and what is logged on the way.
#include "vurude_function.h"
#include "vurude_parm.h"
#include "vurude_tabparm.h"

#include "log_records.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace
{
bool is_zero (const RFC_PARAMETER &p)
{
  return !p.name && p.nlen == 0 && p.type == 0 && p.leng == 0 && !p.addr;
}

bool is_zero (const RFC_TABLE &t)
{
  return !t.name && t.nlen == 0 && t.type == 0 && t.leng == 0 && !t.ithandle && t.itmode == 0
         && t.newitab == 0;
}

TEST (Vurude_Function, WithoutParametersPassesJustTheEndingEntries)
{
  Vurude_Function f (u"Z_VOK_EMPTY");
  EXPECT_EQ (f.name, u"Z_VOK_EMPTY");
  EXPECT_FALSE (f.get_array);
  ASSERT_EQ (f.prepare (), 0);
  ASSERT_TRUE (f.get_array && f.send_array && f.table_array);
  EXPECT_TRUE (is_zero (f.get_array[0]));
  EXPECT_TRUE (is_zero (f.send_array[0]));
  EXPECT_TRUE (is_zero (f.table_array[0]));
  EXPECT_EQ (f.get_count () + f.send_count () + f.table_count (), 0u);
}

TEST (Vurude_Function, ArraysFollowTheListsInOrderAndEndWithAZeroEntry)
{
  char16_t text[10] = u"abc";
  std::int32_t number = 7;
  char bytes[] = "xyz";
  Vurude_Parm a (u"TEXT", text, 20, RFCTYPE_CHAR);
  Vurude_Parm b (u"NUMBER", reinterpret_cast<char *> (&number), 4, RFCTYPE_INT);
  Vurude_Parm c (u"RAW", bytes, -1, RFCTYPE_BYTE);
  ITAB_H itab = ItCreate (u"DTAB", 16, 1, 0);
  Vurude_Tabparm dtab (u"DTAB", RFCTYPE_BYTE, 16, itab, 0);
  Vurude_Tabparm mtab (u"MTAB", RFCTYPE_CHAR, 0, nullptr, 0);

  Vurude_Function f (u"Z_VOK_DIALOG");
  EXPECT_EQ (f.add_get_parm (&a), 0);
  EXPECT_EQ (f.add_get_parm (&b), 1);
  EXPECT_EQ (f.add_send_parm (&c), 0);
  EXPECT_EQ (f.add_table (&dtab), 0);
  EXPECT_EQ (f.add_table (&mtab), 1);
  ASSERT_EQ (f.prepare (), 0);

  const RFC_PARAMETER &g0 = f.get_array[0];
  EXPECT_EQ (std::u16string_view (g0.name, g0.nlen), u"TEXT");
  EXPECT_EQ (g0.type, unsigned (RFCTYPE_CHAR));
  EXPECT_EQ (g0.leng, 20u);
  EXPECT_EQ (g0.addr, text);
  EXPECT_EQ (std::u16string_view (f.get_array[1].name, f.get_array[1].nlen), u"NUMBER");
  EXPECT_EQ (f.get_array[1].addr, &number);
  EXPECT_TRUE (is_zero (f.get_array[2]));

  EXPECT_EQ (f.send_array[0].leng, 3u);
  EXPECT_EQ (f.send_length (0), 3u);
  EXPECT_EQ (f.send_address (0), bytes);
  EXPECT_TRUE (is_zero (f.send_array[1]));

  const RFC_TABLE &t0 = f.table_array[0];
  EXPECT_EQ (std::u16string_view (t0.name, t0.nlen), u"DTAB");
  EXPECT_EQ (t0.type, unsigned (RFCTYPE_BYTE));
  EXPECT_EQ (t0.leng, 16u);
  EXPECT_EQ (t0.ithandle, itab);
  EXPECT_EQ (t0.newitab, 0);
  EXPECT_EQ (f.table_handle (0), itab);
  EXPECT_EQ (f.table_handle (1), ITAB_NULL);
  EXPECT_EQ (f.table_name_length (1), 4u);
  EXPECT_TRUE (is_zero (f.table_array[2]));
  ItDelete (itab);
}

TEST (Vurude_Function, ArraysChangeOnlyWhenPreparedAgain)
{
  char one[] = "1";
  char two[] = "22";
  Vurude_Parm p1 (u"ONE", one, -1, RFCTYPE_CHAR);
  Vurude_Parm p2 (u"TWO", two, -1, RFCTYPE_CHAR);
  Vurude_Function f (u"F");
  f.add_send_parm (&p1);
  ASSERT_EQ (f.prepare_send (), 0);
  f.add_send_parm (&p2);
  EXPECT_EQ (f.send_count (), 1u);
  EXPECT_EQ (f.send_parm_name (1), nullptr);
  ASSERT_EQ (f.prepare_send (), 0);
  EXPECT_EQ (f.send_count (), 2u);
  EXPECT_EQ (std::u16string_view (f.send_parm_name (1), f.send_parm_name_length (1)), u"TWO");
  // prepare_send leaves the received side alone.
  EXPECT_FALSE (f.get_array);
}

TEST (Vurude_Parm, LengthMinusOneMeasuresTheValue)
{
  char16_t wide[] = u"BACK";
  char narrow[] = "BACK";
  struct
  {
    Vurude_Parm parm;
    unsigned length;
  } cases[] = {
    {{u"W", wide, -1, RFCTYPE_CHAR}, 8},       // two bytes a character
    {{u"N", narrow, -1, RFCTYPE_BYTE}, 4},
    {{u"E", wide, 2, RFCTYPE_CHAR}, 2},        // given lengths stand
    {{u"Z", static_cast<char16_t *> (nullptr), -1, RFCTYPE_CHAR}, 0},
    {{u"Y", static_cast<char *> (nullptr), -1, RFCTYPE_BYTE}, 0},
  };
  for (const auto &c : cases)
    EXPECT_EQ (c.parm.length, c.length) << std::string (c.parm.name.begin (), c.parm.name.end ());
}

TEST (Vurude_Parm, ResetClearsAnEntryAndReleaseDataFreesTheValue)
{
  Vurude_Parm parm (u"VALUE", new char[16] (), 16, RFCTYPE_BYTE);
  RFC_PARAMETER entry {};
  parm.set (entry);
  EXPECT_EQ (entry.addr, parm.data);
  parm.reset (entry);
  EXPECT_TRUE (is_zero (entry));
  parm.release_data ();
  EXPECT_EQ (parm.data, nullptr);
}

TEST (Vurude_Function, GetTableIndexComparesWholeNamesExactly)
{
  Vurude_Tabparm mtab (u"MTAB", RFCTYPE_CHAR, 0, nullptr, 0);
  Vurude_Tabparm dtab (u"DTAB", RFCTYPE_BYTE, 0, nullptr, 0);
  Vurude_Tabparm dtabx (u"DTABX", RFCTYPE_BYTE, 0, nullptr, 0);
  Vurude_Function f (u"F");
  EXPECT_EQ (f.get_table_index (u"DTAB"), 0) << "nothing prepared yet";
  f.add_table (&mtab);
  f.add_table (&dtab);
  f.add_table (&dtabx);
  ASSERT_EQ (f.prepare_get (), 0);
  const struct
  {
    std::u16string_view name;
    int index;
  } cases[] = {
    {u"MTAB", 0}, {u"DTAB", 1}, {u"DTABX", 2},
    {u"NONE", 0},   // missing: the first table
    {u"dtab", 0},   // case counts
    {u"DTA", 0},    // a prefix is not the name
    {u"", 0},
  };
  for (const auto &c : cases)
    EXPECT_EQ (f.get_table_index (c.name), c.index) << std::string (c.name.begin (), c.name.end ());
}

TEST (Vurude_Function, SetExportDataPtrRepointsOneSendEntry)
{
  char16_t initial[] = u"old";
  Vurude_Parm parm (u"DHANDLE", initial, -1, RFCTYPE_CHAR);
  Vurude_Function f (u"F");
  f.add_send_parm (&parm);
  ASSERT_EQ (f.prepare (), 0);

  const std::u16string handle = u"0001ABCDEF0123456789";
  EXPECT_EQ (f.set_export_data_ptr (0, handle.c_str (), -1), 0);
  EXPECT_EQ (f.send_address (0), handle.c_str ());
  EXPECT_EQ (f.send_length (0), 40u);
  EXPECT_EQ (f.set_export_data_ptr (0, handle.c_str (), 6), 0);
  EXPECT_EQ (f.send_length (0), 6u);
  // The parameter object itself is not changed.
  EXPECT_EQ (parm.data, initial);

  EXPECT_EQ (f.set_export_data_ptr (1, handle.c_str (), -1), -1) << "the ending entry stays zero";
  EXPECT_EQ (f.set_export_data_ptr (-1, handle.c_str (), -1), -1);
  EXPECT_TRUE (is_zero (f.send_array[1]));
}

TEST (Vurude_Function, AccessorsOutOfRangeGiveNothing)
{
  Vurude_Function f (u"F");
  for (int index : {-1, 0, 1})
    {
      EXPECT_EQ (f.table_handle (index), ITAB_NULL);
      EXPECT_EQ (f.table_name (index), nullptr);
      EXPECT_EQ (f.get_parm_name (index), nullptr);
      EXPECT_EQ (f.send_length (index), 0u);
      EXPECT_EQ (f.send_address (index), nullptr);
    }
  f.prepare ();
  EXPECT_EQ (f.table_name (0), nullptr);
}

TEST (Vurude_Function, LogsItsLifeAndPreparationAtDebugLevel)
{
  Log_Records log;
  char value[] = "v";
  Vurude_Parm parm (u"P", value, -1, RFCTYPE_BYTE);
  {
    Vurude_Function f (u"F");
    f.add_get_parm (&parm);
    f.prepare ();
    RFC_PARAMETER entry {};
    parm.reset (entry);
  }
  const std::vector<std::string> expected = {
    "Entering Vurude_Function constructor\n",
    "Entering Vurude_Function::prepare\n",
    "Entering Vurude_Function::prepare_get\n",
    "Entering Vurude_Parm::set\n",
    "Leaving Vurude_Parm::set\n",
    "Leaving Vurude_Function::prepare_get\n",
    "Entering Vurude_Function::prepare_send\n",
    "Leaving Vurude_Function::prepare_send\n",
    "Leaving Vurude_Function::prepare\n",
    "Entering Vurude_Parm::reset\n",
    "Leaving Vurude_Parm::reset\n",
    "Entering Vurude_Function destructor\n",
  };
  ASSERT_EQ (log.lines.size (), expected.size ());
  for (std::size_t k = 0; k < expected.size (); ++k)
    {
      EXPECT_EQ (log.lines[k].first, LM_DEBUG) << k;
      EXPECT_EQ (Log_Records::text (log.lines[k].second), expected[k]);
    }
}
}
