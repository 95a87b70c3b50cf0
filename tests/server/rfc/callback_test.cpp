// The functions the partner calls back, served against an in-process RFC
// gateway: its function Z_PLAY calls back the function a test names, with
// the values and tables the test gives, and keeps what the answer brought.
#include "vurude_base_cbf.h"
#include "vurude_data_cbf.h"
#include "vurude_genprog_cbf.h"
#include "vurude_getptab_cbf.h"
#include "vurude_grp_base_select_cbf.h"
#include "vurude_grp_connect_cbf.h"
#include "vurude_grp_function_cbf.h"
#include "vurude_gwinfo_cbf.h"
#include "vurude_jobno_cbf.h"
#include "vurude_mdata_cbf.h"
#include "vurude_ssi_cbf.h"

#include "nt_vurude_service_options.h"
#include "vurude_base_handler.h"
#include "vurude_base_request.h"

#include <rfclib/rfc_gateway.h>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace
{
std::string bytes_of (std::u16string_view text)
{
  std::string bytes (2 * text.size (), '\0');
  std::memcpy (bytes.data (), text.data (), bytes.size ());
  return bytes;
}

std::u16string text_of (std::string_view bytes)
{
  std::u16string text (bytes.size () / 2, u'\0');
  std::memcpy (text.data (), bytes.data (), 2 * text.size ());
  return text;
}

std::u16string padded (std::u16string text, std::size_t units)
{
  text.resize (units, u' ');
  return text;
}

// One value the partner passes, or expects back (then `bytes` is the size of
// its buffer, which starts filled with 0xAA).
struct Value
{
  std::u16string name;
  RFC_TYPEHANDLE type;
  std::string bytes;
};

Value text_value (std::u16string name, std::u16string_view text)
{
  return {std::move (name), RFCTYPE_CHAR, bytes_of (text)};
}

Value answer_buffer (std::u16string name, std::size_t bytes)
{
  return {std::move (name), RFCTYPE_CHAR, std::string (bytes, '\xAA')};
}

// One table of the call: passed with its lines, or (not sent) only named so
// that the answer may bring it.
struct Table
{
  std::u16string name;
  RFC_TYPEHANDLE type;
  unsigned line_bytes;
  std::vector<std::string> lines;
  bool sent = true;
};

// What the partner does in one Z_PLAY, and what it got.
struct Script
{
  std::u16string callback;
  std::vector<Value> exporting;
  std::vector<Table> tables;
  std::vector<Value> importing;
  // Filled by the partner: the code of its call back, the answer's values
  // and the tables after the answer.
  int rc = -1;
  std::vector<Value> answers;
  std::vector<Table> returned;
};

// The partner's side of Z_PLAY: calls the scripted function back.
Script call_back (Script script, RFC_HANDLE h)
{
  std::vector<RFC_PARAMETER> exporting;
  for (Value &v : script.exporting)
    exporting.push_back ({v.name.c_str (), 0, v.type, static_cast<unsigned> (v.bytes.size ()), v.bytes.data ()});
  exporting.push_back ({});
  std::vector<RFC_PARAMETER> importing;
  for (Value &v : script.importing)
    importing.push_back ({v.name.c_str (), 0, v.type, static_cast<unsigned> (v.bytes.size ()), v.bytes.data ()});
  importing.push_back ({});
  std::vector<RFC_TABLE> tables;
  for (const Table &t : script.tables)
    {
      ITAB_H handle = ITAB_NULL;
      if (t.sent)
        {
          handle = ItCreate (t.name.c_str (), t.line_bytes, static_cast<unsigned> (t.lines.size ()), 0);
          for (const std::string &line : t.lines)
            std::memcpy (ItAppLine (handle), line.data (), std::min<std::size_t> (line.size (), t.line_bytes));
        }
      tables.push_back ({t.name.c_str (), 0, t.type, t.line_bytes, handle, 0, 0});
    }
  tables.push_back ({});

  SAP_UC *exception = nullptr;
  RFC_RC rc = RfcCall (h, script.callback.c_str (), exporting.data (), tables.data ());
  if (rc == RFC_OK)
    rc = RfcReceive (h, importing.data (), tables.data (), &exception);
  script.rc = rc;
  script.answers = script.importing;
  for (std::size_t k = 0; k < script.tables.size (); ++k)
    {
      Table returned = script.tables[k];
      returned.lines.clear ();
      const ITAB_H handle = tables[k].ithandle;
      for (unsigned i = 1; i <= ItFill (handle); ++i)
        returned.lines.emplace_back (static_cast<const char *> (ItGetLine (handle, i)), ItLeng (handle));
      script.returned.push_back (returned);
      ItDelete (handle);
    }
  return script;
}

// The script of the next Z_PLAY and its outcome, shared with the
// partner's thread.
class Stage
{
public:
  void set (Script script)
  {
    std::lock_guard<std::mutex> lock (lock_);
    script_ = std::move (script);
  }
  Script get ()
  {
    std::lock_guard<std::mutex> lock (lock_);
    return script_;
  }

private:
  std::mutex lock_;
  Script script_;
};

void serve (void *context, RFC_HANDLE h, const RFC_GW_LOGON_DATA *)
{
  Stage &stage = *static_cast<Stage *> (context);
  for (;;)
    {
      const RFC_RC rc = RfcWaitForRequest (h, 60);
      if (rc == RFC_RETRY)
        continue;
      SAP_UC name[RFC_FUNCNAME_LN + 1];
      if (rc != RFC_OK || RfcGetName (h, name) != RFC_OK || std::u16string (name) != u"Z_PLAY"
          || RfcGetData (h, nullptr, nullptr) != RFC_OK)
        return;
      stage.set (call_back (stage.get (), h));
      if (RfcSendData (h, nullptr, nullptr) != RFC_OK)
        return;
    }
}

int accept_logon (void *, const RFC_GW_LOGON_DATA *, RFC_ATTRIBUTES *, RFC_ERROR_INFO_EX *)
{
  return 0;
}

void set_options ()
{
  static std::once_flag once;
  std::call_once (once, [] {
    std::string words[] = {"vurude_callback_test", "-V", "myvar", "-U", "1"};
    char *argv[] = {words[0].data (), words[1].data (), words[2].data (), words[3].data (), words[4].data (),
                    nullptr};
    OPTIONS::instance ()->parse_args (5, argv, 1);
    // The options' transcoder lives until the process ends, so the XML
    // library stays initialised as long.
    xercesc::XMLPlatformUtils::Initialize ();
  });
}

class Partner : public testing::Test
{
protected:
  Partner ()
  {
    set_options ();
    RfcInit ();
    RFC_GW_CONFIG config {};
    config.bind_address = "127.0.0.1";
    config.logon_check = accept_logon;
    config.serve = serve;
    config.context = &stage;
    gateway = RfcGwStart (&config, nullptr);
    if (!gateway)
      return;
    std::u16string port;
    for (char c : std::to_string (RfcGwPort (gateway)))
      port += static_cast<char16_t> (c);
    const std::u16string connect = u"gwhost=\"127.0.0.1\" gwserv=\"" + port
                                   + u"\" client=\"001\" user=\"TEST\" passwd=\"pw\" lang=\"E\" lcheck=1";
    handle = RfcOpenEx (connect.c_str (), nullptr);
    play.prepare ();
  }

  ~Partner () override
  {
    RfcClose (handle);
    if (gateway)
      RfcGwStop (gateway);
  }

  void SetUp () override
  {
    ASSERT_NE (gateway, nullptr);
    ASSERT_NE (handle, RFC_HANDLE_NULL);
  }

  // Calls Z_PLAY up to the partner's call back of the scripted function.
  void reach (Script script)
  {
    const std::u16string expected = script.callback;
    stage.set (std::move (script));
    ASSERT_EQ (play.rfccall (handle), RFC_OK);
    ASSERT_EQ (play.receive (handle), RFC_CALL);
    SAP_UC name[RFC_FUNCNAME_LN + 1];
    ASSERT_EQ (RfcGetName (handle, name), RFC_OK);
    ASSERT_EQ (std::u16string (name), expected);
  }

  // After the answer: Z_PLAY ends; what the partner got.
  Script finish ()
  {
    EXPECT_EQ (play.receive (handle), RFC_OK);
    return stage.get ();
  }

  Stage stage;
  RFC_GATEWAY gateway = nullptr;
  RFC_HANDLE handle = RFC_HANDLE_NULL;
  Vurude_Function play {u"Z_PLAY"};
};

// Data chunks

Script chunk (std::vector<Value> values, std::vector<std::string> rows)
{
  Script s;
  s.callback = u"Z_VOK_DATA_CHUNK";
  s.exporting = std::move (values);
  s.tables = {{u"DTAB", RFCTYPE_BYTE, 4, std::move (rows)},
              {u"MTAB", RFCTYPE_CHAR, 20, {bytes_of (u"CARRID,C,3 ")}}};
  return s;
}

TEST_F (Partner, DataChunkValuesAndTablesAreReadAndTheWrappersDroppedByTheAnswer)
{
  Vurude_Data_Cbf data (u"DATA");
  EXPECT_EQ (data.dtab (), nullptr);
  EXPECT_EQ (data.mtab (), nullptr);
  ASSERT_NO_FATAL_FAILURE (reach (chunk ({text_value (u"DHANDLE", u"0001ABCDEF0123456789"),
                                          text_value (u"EMSG", u"table not found"),
                                          text_value (u"END_OF_DATA", u"X"),
                                          text_value (u"TABLE_NAME", u"SFLIGHT")},
                                         {"AAAA", "BBBB", "CCCC"})));
  ASSERT_EQ (data.getdata (handle), RFC_OK);
  EXPECT_EQ (data.end_of_data (), u'X');
  EXPECT_EQ (std::u16string (data.emsg ()), padded (u"table not found", 200));
  EXPECT_EQ (std::u16string (data.dhandle ()), padded (u"0001ABCDEF0123456789", 131));
  EXPECT_EQ (std::u16string (data.table_name ()), padded (u"SFLIGHT", 30));
  ASSERT_NE (data.dtab (), nullptr);
  ASSERT_NE (data.mtab (), nullptr);
  EXPECT_EQ (data.dtab ()->ownership, Vurude_Itab::OWN_NONE);
  ASSERT_EQ (data.dtab ()->count (), 3u);
  EXPECT_EQ (data.dtab ()->line_length, 4u);
  EXPECT_EQ (std::string (static_cast<const char *> (data.dtab ()->line (2)), 4), "BBBB");
  ASSERT_EQ (data.mtab ()->count (), 1u);
  EXPECT_EQ (text_of (std::string_view (static_cast<const char *> (data.mtab ()->line (1)), 6)), u"CAR");

  data.dtab ()->free_lines ();
  EXPECT_EQ (data.senddata (handle), RFC_OK);
  EXPECT_EQ (data.dtab (), nullptr);
  EXPECT_EQ (data.mtab (), nullptr);
  const Script done = finish ();
  EXPECT_EQ (done.rc, RFC_OK);
  ASSERT_EQ (done.returned.size (), 2u);
  EXPECT_TRUE (done.returned[0].lines.empty ()) << "DTAB goes back as the chunk left it";
}

TEST_F (Partner, EachReadStartsWithoutEndMarkMessageOrTableName)
{
  Vurude_Data_Cbf data (u"DATA");
  ASSERT_NO_FATAL_FAILURE (reach (chunk ({text_value (u"EMSG", u"first"), text_value (u"END_OF_DATA", u"X"),
                                          text_value (u"TABLE_NAME", u"T1")},
                                         {"AAAA"})));
  ASSERT_EQ (data.getdata (handle), RFC_OK);
  ASSERT_EQ (data.senddata (handle), RFC_OK);
  finish ();

  // The next chunk brings none of the three.
  ASSERT_NO_FATAL_FAILURE (reach (chunk ({text_value (u"DHANDLE", u"0002")}, {"DDDD", "EEEE"})));
  ASSERT_EQ (data.getdata (handle), RFC_OK);
  EXPECT_EQ (data.end_of_data (), u' ');
  EXPECT_EQ (std::u16string (data.emsg ()), u"");
  EXPECT_EQ (std::u16string (data.table_name ()), u"");
  ASSERT_NE (data.dtab (), nullptr);
  EXPECT_EQ (data.dtab ()->count (), 2u) << "the same table, received into again";

  // A read that fails leaves the values reset and no tables.
  EXPECT_NE (data.getdata (RFC_HANDLE_NULL), RFC_OK);
  EXPECT_EQ (data.end_of_data (), u' ');
  EXPECT_EQ (std::u16string (data.emsg ()), u"");
  EXPECT_EQ (data.dtab (), nullptr);
  EXPECT_EQ (data.mtab (), nullptr);
  EXPECT_EQ (data.senddata (handle), RFC_OK);
  EXPECT_EQ (finish ().rc, RFC_OK);
}

TEST_F (Partner, AChunkWithoutTablesGivesWrappersWithoutHandles)
{
  Vurude_Data_Cbf data (u"DATA");
  Script s = chunk ({text_value (u"END_OF_DATA", u"X")}, {});
  s.tables.clear ();
  ASSERT_NO_FATAL_FAILURE (reach (s));
  ASSERT_EQ (data.getdata (handle), RFC_OK);
  ASSERT_NE (data.dtab (), nullptr);
  EXPECT_EQ (data.dtab ()->handle, ITAB_NULL);
  EXPECT_EQ (data.dtab ()->count (), 0u);
  EXPECT_EQ (data.senddata (handle), RFC_OK);
  finish ();
}

// Text tables for the client: the wrapper of each read, with the line
// length the object declares whatever the partner sends.
struct Wrapped_Case
{
  const char *what;
  std::u16string function;
  std::u16string table;
  unsigned line_bytes;
  std::function<std::unique_ptr<Vurude_Base_Cbf> ()> make;
  std::function<Vurude_Itab *(Vurude_Base_Cbf &)> wrapper;
};

void PrintTo (const Wrapped_Case &c, std::ostream *os)
{
  *os << c.what;
}

class Wrapped : public Partner, public testing::WithParamInterface<Wrapped_Case>
{
};

TEST_P (Wrapped, TheReceivedTableIsWrappedWithTheDeclaredLineLength)
{
  const Wrapped_Case &c = GetParam ();
  std::unique_ptr<Vurude_Base_Cbf> cbf = c.make ();
  EXPECT_EQ (c.wrapper (*cbf), nullptr);
  Script s;
  s.callback = c.function;
  s.tables = {{c.table, RFCTYPE_CHAR, 40, {bytes_of (padded (u"line one", 20)), bytes_of (padded (u"line two", 20))}}};
  ASSERT_NO_FATAL_FAILURE (reach (s));
  ASSERT_EQ (cbf->getdata (handle), RFC_OK);
  Vurude_Itab *table = c.wrapper (*cbf);
  ASSERT_NE (table, nullptr);
  EXPECT_EQ (table->line_length, c.line_bytes);
  ASSERT_EQ (table->count (), 2u);
  const std::u16string second (static_cast<const char16_t *> (table->line (2)), c.line_bytes / 2);
  EXPECT_EQ (second, padded (u"line two", c.line_bytes / 2)) << "padded with blanks";

  EXPECT_NE (cbf->getdata (RFC_HANDLE_NULL), RFC_OK);
  EXPECT_EQ (c.wrapper (*cbf), nullptr);
  EXPECT_EQ (cbf->senddata (handle), RFC_OK);
  EXPECT_EQ (finish ().rc, RFC_OK);
}

INSTANTIATE_TEST_SUITE_P (
  Callbacks, Wrapped,
  testing::Values (
    Wrapped_Case {"Genprog", u"Z_VOK_GENPROG", u"LTAB", 510,
                  [] { return std::unique_ptr<Vurude_Base_Cbf> (new Vurude_Genprog_Cbf (u"GENPROG")); },
                  [] (Vurude_Base_Cbf &c) { return static_cast<Vurude_Genprog_Cbf &> (c).ltab (); }},
    Wrapped_Case {"Mdata", u"Z_VOK_MDATA", u"MTAB", 1024,
                  [] { return std::unique_ptr<Vurude_Base_Cbf> (new Vurude_Mdata_Cbf (u"MDATA")); },
                  [] (Vurude_Base_Cbf &c) { return static_cast<Vurude_Mdata_Cbf &> (c).mtab (); }}),
  [] (const testing::TestParamInfo<Wrapped_Case> &param) { return std::string (param.param.what); });

// System information

TEST_F (Partner, SystemInformationIsCutAtBlanksAndTrimmed)
{
  Vurude_Ssi_Cbf ssi (u"SSI");
  Script s;
  s.callback = u"Z_VOK_SEND_SYSTEM_INFO";
  s.exporting = {text_value (u"SYSINFO", u"R3 NSP 7.50  "),
                 text_value (u"BATDEST", u"NSPCLNT001 more"),
                 text_value (u"BATPRID", u"VOKPROG"),
                 text_value (u"BATGWH", u"gw.example 3300"),
                 text_value (u"BATGWS", u"sapgw00"),
                 text_value (u"BATGWFL", u"X"),
                 text_value (u"BATMESS", u"Batch is not active  ")};
  ASSERT_NO_FATAL_FAILURE (reach (s));
  ASSERT_EQ (ssi.getdata (handle), RFC_OK);
  EXPECT_EQ (std::u16string (ssi.sysinfo ()), u"R3 NSP 7.50");
  EXPECT_EQ (std::u16string (ssi.batdest ()), u"NSPCLNT001");
  EXPECT_EQ (std::u16string (ssi.batprid ()), u"VOKPROG");
  EXPECT_EQ (std::u16string (ssi.batgwh ()), u"gw.example");
  EXPECT_EQ (std::u16string (ssi.batgws ()), u"sapgw00");
  EXPECT_EQ (ssi.batgwfl (), u'X');
  EXPECT_EQ (std::u16string (ssi.batmess ()), u"Batch is not active");
  EXPECT_EQ (ssi.senddata (handle), RFC_OK);
  EXPECT_EQ (finish ().rc, RFC_OK);
}

TEST_F (Partner, OverlongSystemInformationStaysInItsBuffers)
{
  Vurude_Ssi_Cbf ssi (u"SSI");
  Script s;
  s.callback = u"Z_VOK_SEND_SYSTEM_INFO";
  s.exporting = {text_value (u"SYSINFO", std::u16string (300, u's')),
                 text_value (u"BATGWH", std::u16string (300, u'h')),
                 text_value (u"BATMESS", std::u16string (300, u'm'))};
  ASSERT_NO_FATAL_FAILURE (reach (s));
  ASSERT_EQ (ssi.getdata (handle), RFC_OK);
  EXPECT_EQ (std::u16string (ssi.sysinfo ()), std::u16string (200, u's'));
  EXPECT_EQ (std::u16string (ssi.batgwh ()), std::u16string (250, u'h'));
  EXPECT_EQ (std::u16string (ssi.batmess ()), std::u16string (250, u'm'));
  EXPECT_EQ (ssi.senddata (handle), RFC_OK);
  finish ();
}

TEST_F (Partner, JobGatewayValuesStartAsZeroAndAreCutAtBlanks)
{
  Vurude_Gwinfo_Cbf gwinfo (u"GWINFO");
  for (const char16_t *text : {gwinfo.jobcount (), gwinfo.batdest (), gwinfo.batprid (), gwinfo.batgwh (),
                               gwinfo.batgws ()})
    EXPECT_EQ (std::u16string (text), u"0");
  Script s;
  s.callback = u"Z_VOK_JOB_NUMBER";
  s.exporting = {text_value (u"JOBCOUNT", u"1234 678"),
                 text_value (u"BATPRID", u"VOKPROG x"),
                 text_value (u"BATGWH", u"gw.example 3300"),
                 text_value (u"BATGWS", u"sapgw00"),
                 text_value (u"BATGWFL", u"Y")};
  ASSERT_NO_FATAL_FAILURE (reach (s));
  ASSERT_EQ (gwinfo.getdata (handle), RFC_OK);
  EXPECT_EQ (std::u16string (gwinfo.jobcount ()), u"1234");
  EXPECT_EQ (std::u16string (gwinfo.batdest ()), u"0") << "not sent";
  EXPECT_EQ (std::u16string (gwinfo.batprid ()), u"VOKPROG");
  EXPECT_EQ (std::u16string (gwinfo.batgwh ()), u"gw.example");
  EXPECT_EQ (std::u16string (gwinfo.batgws ()), u"sapgw00");
  EXPECT_EQ (gwinfo.batgwfl (), u'Y');
  EXPECT_EQ (gwinfo.senddata (handle), RFC_OK);
  finish ();
}

// Job tokens: the text with its terminator and zeros after it, whatever an
// earlier token left.
struct Token_Case
{
  const char *what;
  std::u16string token;
  std::u16string sent;
};

void PrintTo (const Token_Case &c, std::ostream *os)
{
  *os << c.what;
}

class Token : public Partner, public testing::WithParamInterface<Token_Case>
{
};

TEST_P (Token, IsSentWithItsTerminatorInTheTwoHundredByteField)
{
  const Token_Case &c = GetParam ();
  Vurude_Jobno_Cbf jobno (u"JOBNO");
  Script s;
  s.callback = u"Z_VOK_GET_TOKEN";
  s.exporting = {text_value (u"Z_VOK_JOBNO", u"0815 x")};
  s.importing = {answer_buffer (u"Z_VOK_TOKEN", 200)};
  ASSERT_NO_FATAL_FAILURE (reach (s));
  ASSERT_EQ (jobno.getdata (handle), RFC_OK);
  EXPECT_EQ (std::u16string (jobno.jobno ()), u"0815");
  ASSERT_EQ (jobno.set_token (std::u16string (120, u'z').c_str ()), 0);
  ASSERT_EQ (jobno.set_token (c.token.c_str ()), 0);
  EXPECT_EQ (jobno.senddata (handle), RFC_OK);
  const Script done = finish ();
  ASSERT_EQ (done.answers.size (), 1u);
  std::u16string expected = c.sent;
  expected.resize (100, u'\0');
  EXPECT_EQ (text_of (done.answers[0].bytes), expected);
}

INSTANTIATE_TEST_SUITE_P (
  Callbacks, Token,
  testing::Values (Token_Case {"Handle", u"0001ABCDEF01", u"0001ABCDEF01"},
                   Token_Case {"Empty", u"", u""},
                   Token_Case {"CutTo99", std::u16string (150, u't'), std::u16string (99, u't')}),
  [] (const testing::TestParamInfo<Token_Case> &param) { return std::string (param.param.what); });

// Parameter tables: the request's lines copied into the partner's table.
struct Ptab_Case
{
  const char *what;
  unsigned source_bytes;
  bool partner_sends_table;
  std::vector<std::string> expected;
};

void PrintTo (const Ptab_Case &c, std::ostream *os)
{
  *os << c.what;
}

class Ptab : public Partner, public testing::WithParamInterface<Ptab_Case>
{
};

TEST_P (Ptab, FillTableCopiesEveryLineIntoTheReceivedTable)
{
  const Ptab_Case &c = GetParam ();
  Vurude_GetPtab_Cbf ptab (u"GETPTAB");
  Script s;
  s.callback = u"Z_VOK_GET_PARAMETER_TABLE";
  s.exporting = {text_value (u"Z_VOK_PARAMETER_TABNAME", u"ITAB1 rest"), text_value (u"DHANDLE", u"0001AB more")};
  s.tables = {{u"Z_VOK_PARAMETER_TABLE", RFCTYPE_BYTE, 8, {}, c.partner_sends_table}};
  ASSERT_NO_FATAL_FAILURE (reach (s));
  ASSERT_EQ (ptab.getdata (handle), RFC_OK);
  EXPECT_EQ (std::u16string (ptab.tabname ()), u"ITAB1");
  EXPECT_EQ (std::u16string (ptab.dhandle ()), u"0001AB");

  ITAB_H source = ItCreate (u"SOURCE", c.source_bytes, 2, 0);
  const std::string pattern = "abcdefghijkl";
  std::memcpy (ItAppLine (source), pattern.data (), c.source_bytes);
  std::memcpy (ItAppLine (source), pattern.data () + 12 - c.source_bytes, c.source_bytes);
  EXPECT_EQ (ptab.fill_table (source), 0);
  ItDelete (source);
  EXPECT_EQ (ptab.senddata (handle), RFC_OK);
  const Script done = finish ();
  ASSERT_EQ (done.returned.size (), 1u);
  EXPECT_EQ (done.returned[0].lines, c.expected);
}

INSTANTIATE_TEST_SUITE_P (
  Callbacks, Ptab,
  testing::Values (Ptab_Case {"SameLength", 8, true, {"abcdefgh", "efghijkl"}},
                   Ptab_Case {"LongerSourceIsCut", 12, true, {"abcdefgh", "abcdefgh"}},
                   Ptab_Case {"ShorterSourceIsZeroFilled", 4, true,
                              {std::string ("abcd\0\0\0\0", 8), std::string ("ijkl\0\0\0\0", 8)}},
                   Ptab_Case {"TableNotSentIsMade", 8, false, {"abcdefgh", "efghijkl"}}),
  [] (const testing::TestParamInfo<Ptab_Case> &param) { return std::string (param.param.what); });

// Request parameters of a logon

TEST_F (Partner, LogonRequestParametersAreTheFlagTheReadReportAndTheVariant)
{
  Vurude_Grp_Connect_Cbf grpconn (u"GRPCONN", u"/VOK/Z_VOK_READ");
  Script s;
  s.callback = u"Z_VOK_GET_REQUEST_PARAMETERS";
  s.importing = {answer_buffer (u"FUNC_FLAG", 2), answer_buffer (u"ABAPPROG", 80), answer_buffer (u"VARIANT", 28)};
  ASSERT_NO_FATAL_FAILURE (reach (s));
  ASSERT_EQ (grpconn.getdata (handle), RFC_OK);
  EXPECT_EQ (grpconn.senddata (handle), RFC_OK);
  const Script done = finish ();
  ASSERT_EQ (done.answers.size (), 3u);
  EXPECT_EQ (text_of (done.answers[0].bytes), u"I");
  EXPECT_EQ (text_of (done.answers[1].bytes), padded (u"/VOK/Z_VOK_READ", 40));
  EXPECT_EQ (text_of (done.answers[2].bytes), padded (u"MYVAR", 14));
}

TEST (FuncFlag, NamesWhatTheRequestWants)
{
  const struct
  {
    char16_t metadata;
    char16_t data;
    char16_t flag;
  } cases[] = {{u'N', u'N', u' '}, {u'Y', u'N', u'M'}, {u'N', u'Y', u'D'}, {u'Y', u'Y', u'B'}};
  for (const auto &c : cases)
    EXPECT_EQ (Vurude_Base_Cbf::func_flag (c.metadata, c.data), c.flag)
      << "metadata " << char (c.metadata) << ", data " << char (c.data);
}

// Request parameters of function and select requests, computed from the
// request that is current on a connection.

// A handler that names itself as open() does, without a socket or a worker.
class Named_Handler : public Vurude_Base_Handler
{
public:
  Named_Handler () { register_handle (); }
};

// Lets a handler go as the end of its worker does.
struct Handler_Release
{
  void operator() (Vurude_Base_Handler *handler) const
  {
    handler->handle_close (ACE_INVALID_HANDLE, ACE_Event_Handler::ALL_EVENTS_MASK);
  }
};

// A request on a connection that is its own logon, with the flags a test sets.
class Test_Request : public Vurude_Base_Request
{
public:
  Test_Request (Vurude_Base_Handler *on, const std::string &xml)
    : Vurude_Base_Request (on, parse (xml))
  {
    chandle_handler = on;
  }

  void set_flags (char16_t data, char16_t metadata, char16_t batch, char16_t debug)
  {
    data_flag = data;
    metadata_flag = metadata;
    batch_flag = batch;
    debug_flag = debug;
  }
  void set_bufmax (int bytes) { bufmax = bytes; }
  Vurude_Ssi_Cbf &system_info ()
  {
    if (!ssi_cbf)
      ssi_cbf = std::make_unique<Vurude_Ssi_Cbf> (u"SSI");
    return *ssi_cbf;
  }

private:
  static xercesc::XercesDOMParser *parse (const std::string &xml)
  {
    auto *parser = new xercesc::XercesDOMParser;
    parser->setValidationScheme (xercesc::XercesDOMParser::Val_Never);
    parser->setLoadExternalDTD (false);
    xercesc::MemBufInputSource source (reinterpret_cast<const XMLByte *> (xml.data ()), xml.size (), "request");
    parser->parse (source);
    return parser;
  }
};

// A select answer that writes a statement line, as the select requests do.
class Statement_Select : public Vurude_Grp_Base_Select_Cbf
{
public:
  using Vurude_Grp_Base_Select_Cbf::Vurude_Grp_Base_Select_Cbf;

  int grp_senddata (RFC_HANDLE h) override
  {
    if (reinitialise () != 0)
      return -1;
    Vurude_Itab jdata (jdata_table ());
    jdata.free_lines ();
    jdata.append_text (u"sselect");
    return send_data (h);
  }
};

const std::u16string unsent_marker (1, u'\xAAAA');

class Request_Parameters : public Partner
{
protected:
  Request_Parameters () { handler->set_request (owner); }

  // The logon's system information, with a destination for batch.
  void give_system_info ()
  {
    Script s;
    s.callback = u"Z_VOK_SEND_SYSTEM_INFO";
    s.exporting = {text_value (u"BATDEST", u"NSPDEST more")};
    ASSERT_NO_FATAL_FAILURE (reach (s));
    ASSERT_EQ (owner->system_info ().getdata (handle), RFC_OK);
    ASSERT_EQ (owner->system_info ().senddata (handle), RFC_OK);
    finish ();
  }

  // Asks for the request parameters; the answer the partner got, each value
  // without its padding (unsent_marker when it was not sent).
  std::vector<std::u16string> ask (Vurude_Base_Cbf &answer, std::vector<Table> tables = {})
  {
    Script s;
    s.callback = u"Z_VOK_GET_REQUEST_PARAMETERS";
    s.tables = std::move (tables);
    for (const char16_t *name : {u"FUNC_FLAG", u"ABAPPROG", u"VARIANT", u"BLOCKSIZE", u"DEBUG", u"DEST",
                                 u"FUNC_NAME", u"DHANDLE", u"DIALOG_FLAG"})
      s.importing.push_back (answer_buffer (name, 60));
    reach (s);
    if (HasFatalFailure ())
      return {};
    EXPECT_EQ (answer.getdata (handle), RFC_OK);
    EXPECT_EQ (answer.senddata (handle), RFC_OK);
    last = finish ();
    std::vector<std::u16string> values;
    for (const Value &v : last.answers)
      {
        std::u16string text = text_of (v.bytes);
        if (text == std::u16string (30, u'\xAAAA'))
          text = unsent_marker;
        while (!text.empty () && text.back () == u' ')
          text.pop_back ();
        values.push_back (text);
      }
    return values;
  }

  std::unique_ptr<Vurude_Base_Handler, Handler_Release> handler {new Named_Handler};
  // The handler's current request, which owns the answers.
  Test_Request *owner = new Test_Request (handler.get (), "<function name=\"Z_TEST_FUNC\"/>");
  Script last;
};

TEST_F (Request_Parameters, FunctionAnswerIsBuiltAnewWithDestOnlyInBatch)
{
  ASSERT_NO_FATAL_FAILURE (give_system_info ());
  Vurude_Grp_Function_Cbf grpfunc (u"GRPFUNC", owner);
  owner->set_flags (u'Y', u'N', u'Y', u'X');
  const std::u16string dh = handler->handle_name ();
  EXPECT_EQ (ask (grpfunc), (std::vector<std::u16string> {u"D", u"/VOK/Z_VOK_READ", u"MYVAR", u"00000000", u"X",
                                                          u"NSPDEST", u"Z_TEST_FUNC", dh, unsent_marker}));
  EXPECT_EQ (grpfunc.send_count (), 8u);

  owner->set_flags (u'Y', u'Y', u'N', u' ');
  owner->set_bufmax (50000);
  EXPECT_EQ (ask (grpfunc), (std::vector<std::u16string> {u"B", u"/VOK/Z_VOK_READ", u"MYVAR", u"00000000", u"",
                                                          unsent_marker, u"Z_TEST_FUNC", dh, unsent_marker}));
  EXPECT_EQ (grpfunc.send_count (), 7u);
}

TEST_F (Request_Parameters, AnswersComeFromTheConnectionsCurrentRequest)
{
  Vurude_Grp_Function_Cbf grpfunc (u"GRPFUNC", owner);
  owner->set_flags (u'N', u'N', u'N', u' ');
  // Another request becomes current on the connection; the owner lives on.
  owner->add_reference ();
  auto *current = new Test_Request (handler.get (), "<function name=\"Z_CURRENT\" abapprog=\"ZREAD\"/>");
  current->set_flags (u'Y', u'Y', u'N', u'X');
  handler->set_request (current);
  const std::vector<std::u16string> values = ask (grpfunc);
  ASSERT_EQ (values.size (), 9u);
  EXPECT_EQ (values[0], u"B");
  EXPECT_EQ (values[1], u"ZREAD");
  EXPECT_EQ (values[4], u"X");
  EXPECT_EQ (values[6], u"Z_CURRENT");
  owner->remove_reference ();
}

TEST_F (Request_Parameters, SelectTablesArriveAndEveryAnswerIsRecomputed)
{
  ASSERT_NO_FATAL_FAILURE (give_system_info ());
  Statement_Select select (u"GRPSSEL", owner);
  EXPECT_EQ (select.dialog_flag (), u'X') << "the unlimited_dialog option";
  EXPECT_EQ (select.mdata_table (), ITAB_NULL);
  const std::vector<Table> statement = {
    {u"MDATA", RFCTYPE_CHAR, 144, {bytes_of (padded (u"MARA,*", 72))}},
    {u"JDATA", RFCTYPE_CHAR, 144, {bytes_of (padded (u"old", 72)), bytes_of (padded (u"older", 72))}}};
  owner->set_flags (u'N', u'Y', u'Y', u'X');
  const std::u16string dh = handler->handle_name ();
  EXPECT_EQ (ask (select, statement), (std::vector<std::u16string> {u"M", u"/VOK/Z_VOK_READ", u"MYVAR", u"00010000",
                                                                    u"X", u"NSPDEST", unsent_marker, dh, u"X"}));
  EXPECT_EQ (select.send_count (), 8u);
  EXPECT_EQ (ItFill (select.mdata_table ()), 1u);
  ASSERT_EQ (last.returned.size (), 2u);
  EXPECT_EQ (last.returned[0].lines, statement[0].lines) << "MDATA goes back as it came";
  EXPECT_EQ (last.returned[1].lines, std::vector<std::string> {bytes_of (padded (u"sselect", 72))});

  owner->set_flags (u'N', u'N', u'N', u' ');
  owner->set_bufmax (123456);
  EXPECT_EQ (ask (select, statement), (std::vector<std::u16string> {u"", u"/VOK/Z_VOK_READ", u"MYVAR", u"00123456",
                                                                    u"", u"", unsent_marker, dh, u"X"}));
  EXPECT_EQ (select.send_count (), 8u);
}

// BLOCKSIZE: the larger of the partner's buffer size and the min_bufsize
// option (10000), as eight digits.
struct Blocksize_Case
{
  const char *what;
  int bufmax;
  std::u16string blocksize;
};

void PrintTo (const Blocksize_Case &c, std::ostream *os)
{
  *os << c.what;
}

class Blocksize : public Request_Parameters, public testing::WithParamInterface<Blocksize_Case>
{
};

TEST_P (Blocksize, IsEightZeroFilledDigits)
{
  Vurude_Grp_Base_Select_Cbf select (u"GRPSSEL", owner);
  owner->set_flags (u'Y', u'N', u'N', u' ');
  owner->set_bufmax (GetParam ().bufmax);
  const std::vector<std::u16string> values = ask (select);
  ASSERT_EQ (values.size (), 9u);
  EXPECT_EQ (values[3], GetParam ().blocksize);
}

INSTANTIATE_TEST_SUITE_P (
  Callbacks, Blocksize,
  testing::Values (Blocksize_Case {"NoBufmax", 0, u"00010000"},
                   Blocksize_Case {"Larger", 123456, u"00123456"},
                   Blocksize_Case {"Smaller", 5000, u"00010000"},
                   Blocksize_Case {"BeyondEightDigits", 200000000, u"99999999"}),
  [] (const testing::TestParamInfo<Blocksize_Case> &param) { return std::string (param.param.what); });
}
