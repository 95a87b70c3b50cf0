// The library calls of Vurude_Function against a partner: an in-process RFC
// gateway on a free port whose functions echo, raise, fail and call back.
#include "vurude_function.h"
#include "vurude_parm.h"
#include "vurude_tabparm.h"

#include "log_records.h"

#include <rfclib/rfc_gateway.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace
{
const RFC_PARAMETER end_parameter {};
const RFC_TABLE end_table {};

// Z_ECHO: OUT_TEXT := IN_TEXT, OUT_INT := IN_INT + 1; every line of ROWS
// gets its first byte raised by one, and a line "ZZZZ" is appended.
bool serve_echo (RFC_HANDLE h)
{
  char16_t text[10];
  std::int32_t number = 0;
  RFC_PARAMETER in[] = {{u"IN_TEXT", 0, RFCTYPE_CHAR, sizeof text, text},
                        {u"IN_INT", 0, RFCTYPE_INT, 4, &number}, end_parameter};
  RFC_TABLE tables[] = {{u"ROWS", 0, RFCTYPE_BYTE, 0, nullptr, 0, 0}, end_table};
  if (RfcGetData (h, in, tables) != RFC_OK)
    return false;
  ++number;
  for (unsigned k = 1; k <= ItFill (tables[0].ithandle); ++k)
    ++*static_cast<unsigned char *> (ItGupLine (tables[0].ithandle, k));
  std::memcpy (ItAppLine (tables[0].ithandle), "ZZZZ", 4);
  RFC_PARAMETER out[] = {{u"OUT_TEXT", 0, RFCTYPE_CHAR, sizeof text, text},
                         {u"OUT_INT", 0, RFCTYPE_INT, 4, &number}, end_parameter};
  const bool ok = RfcSendData (h, out, tables) == RFC_OK;
  ItDelete (tables[0].ithandle);
  return ok;
}

// Z_CALLBACK: calls Z_CB back with X = 7 and a table CBT of one line; then
// answers RESULT := Y and LINES := the lines of CBT, or raises what Z_CB raised.
bool serve_callback (RFC_HANDLE h)
{
  if (RfcGetData (h, nullptr, nullptr) != RFC_OK)
    return false;
  std::int32_t x = 7;
  std::int32_t y = 0;
  RFC_TABLE tables[] = {{u"CBT", 0, RFCTYPE_CHAR, 8, ItCreate (u"CBT", 8, 1, 0), 0, 0}, end_table};
  std::memcpy (ItAppLine (tables[0].ithandle), u"ab  ", 8);
  RFC_PARAMETER out[] = {{u"X", 0, RFCTYPE_INT, 4, &x}, end_parameter};
  RFC_PARAMETER in[] = {{u"Y", 0, RFCTYPE_INT, 4, &y}, end_parameter};
  SAP_UC *exception = nullptr;
  RFC_RC rc = RfcCall (h, u"Z_CB", out, tables);
  if (rc == RFC_OK)
    rc = RfcReceive (h, in, tables, &exception);
  bool ok = false;
  if (rc == RFC_OK)
    {
      std::int32_t lines = static_cast<std::int32_t> (ItFill (tables[0].ithandle));
      RFC_PARAMETER result[] = {{u"RESULT", 0, RFCTYPE_INT, 4, &y},
                                {u"LINES", 0, RFCTYPE_INT, 4, &lines}, end_parameter};
      ok = RfcSendData (h, result, nullptr) == RFC_OK;
    }
  else if (rc == RFC_EXCEPTION)
    {
      const std::u16string name (exception);
      ok = RfcRaise (h, name.c_str ()) == RFC_OK;
    }
  ItDelete (tables[0].ithandle);
  return ok;
}

bool dispatch (RFC_HANDLE h)
{
  SAP_UC name[RFC_FUNCNAME_LN + 1];
  if (RfcGetName (h, name) != RFC_OK)
    return false;
  const std::u16string function (name);
  if (function == u"Z_ECHO")
    return serve_echo (h);
  if (function == u"Z_CALLBACK")
    return serve_callback (h);
  if (function == u"Z_RAISE")
    return RfcGetData (h, nullptr, nullptr) == RFC_OK && RfcRaise (h, u"NOT_FOUND") == RFC_OK;
  if (function == u"Z_SYSFAIL")
    RfcGwSystemFailure (h, u"COMPUTE_INT_ZERODIVIDE", u"Division by zero");
  return false;
}

void serve (void *, RFC_HANDLE h, const RFC_GW_LOGON_DATA *)
{
  for (;;)
    {
      const RFC_RC rc = RfcWaitForRequest (h, 60);
      if (rc == RFC_RETRY)
        continue;
      if (rc != RFC_OK || !dispatch (h))
        return;
    }
}

int accept_logon (void *, const RFC_GW_LOGON_DATA *, RFC_ATTRIBUTES *, RFC_ERROR_INFO_EX *)
{
  return 0;
}

class Partner : public testing::Test
{
protected:
  Partner ()
  {
    RfcInit ();
    RFC_GW_CONFIG config {};
    config.bind_address = "127.0.0.1";
    config.logon_check = accept_logon;
    config.serve = serve;
    gateway = RfcGwStart (&config, nullptr);
    if (!gateway)
      return;
    std::u16string port;
    for (char c : std::to_string (RfcGwPort (gateway)))
      port += static_cast<char16_t> (c);
    const std::u16string connect = u"gwhost=\"127.0.0.1\" gwserv=\"" + port
                                   + u"\" client=\"001\" user=\"TEST\" passwd=\"pw\" lang=\"E\" lcheck=1";
    handle = RfcOpenEx (connect.c_str (), nullptr);
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

  RFC_GATEWAY gateway = nullptr;
  RFC_HANDLE handle = RFC_HANDLE_NULL;
};

// Z_ECHO's description, with its values.
struct Echo
{
  Echo ()
  {
    std::memcpy (ItAppLine (rows), "AAAA", 4);
    std::memcpy (ItAppLine (rows), "BBBB", 4);
    call.add_send_parm (&in_text);
    call.add_send_parm (&in_int);
    call.add_get_parm (&out_text);
    call.add_get_parm (&out_int);
    call.add_table (&rows_parm);
    call.prepare ();
  }
  ~Echo () { ItDelete (rows); }

  char16_t text[5] = u"ping";
  std::int32_t number = 41;
  char16_t answer[10] = {};
  std::int32_t result = 0;
  ITAB_H rows = ItCreate (u"ROWS", 4, 2, 0);
  Vurude_Parm in_text {u"IN_TEXT", text, -1, RFCTYPE_CHAR};
  Vurude_Parm in_int {u"IN_INT", reinterpret_cast<char *> (&number), 4, RFCTYPE_INT};
  Vurude_Parm out_text {u"OUT_TEXT", answer, sizeof answer, RFCTYPE_CHAR};
  Vurude_Parm out_int {u"OUT_INT", reinterpret_cast<char *> (&result), 4, RFCTYPE_INT};
  Vurude_Tabparm rows_parm {u"ROWS", RFCTYPE_BYTE, 4, rows, 0};
  Vurude_Function call {u"Z_ECHO"};

  void expect_answered () const
  {
    EXPECT_EQ (call.rc, RFC_OK);
    EXPECT_EQ (call.exception, nullptr);
    EXPECT_EQ (std::u16string (answer, 10), u"ping      ");
    EXPECT_EQ (result, 42);
    ASSERT_EQ (ItFill (rows), 3u) << "the table comes back changed";
    EXPECT_EQ (std::memcmp (ItGetLine (rows, 1), "BAAA", 4), 0);
    EXPECT_EQ (std::memcmp (ItGetLine (rows, 3), "ZZZZ", 4), 0);
  }
};

TEST_F (Partner, RfccallreceiveSendsAndReceivesParametersAndTables)
{
  Echo echo;
  EXPECT_EQ (echo.call.rfccallreceive (handle), RFC_OK);
  echo.expect_answered ();
}

TEST_F (Partner, RfccallThenReceiveDoTheSame)
{
  Echo echo;
  ASSERT_EQ (echo.call.rfccall (handle), RFC_OK);
  EXPECT_EQ (echo.call.receive (handle), RFC_OK);
  echo.expect_answered ();
}

TEST_F (Partner, AnExceptionIsNamedAndClearedByTheNextCall)
{
  Vurude_Function raise (u"Z_RAISE");
  raise.prepare ();
  EXPECT_EQ (raise.rfccallreceive (handle), RFC_EXCEPTION);
  ASSERT_NE (raise.exception, nullptr);
  EXPECT_EQ (std::u16string (raise.exception), u"NOT_FOUND");
  EXPECT_EQ (raise.error_info.group, 0) << "no error record is fetched for an exception";

  ASSERT_EQ (raise.rfccall (handle), RFC_OK);
  EXPECT_EQ (raise.exception, nullptr);
  EXPECT_EQ (raise.receive (handle), RFC_EXCEPTION);
  // The connection serves on after an exception.
  Echo echo;
  EXPECT_EQ (echo.call.rfccallreceive (handle), RFC_OK);
  echo.expect_answered ();
}

TEST_F (Partner, ASystemFailureFillsTheErrorRecord)
{
  Vurude_Function fail (u"Z_SYSFAIL");
  fail.prepare ();
  fail.last_error_rc = -1;
  EXPECT_EQ (fail.rfccallreceive (handle), RFC_SYS_EXCEPTION);
  EXPECT_EQ (fail.rc, RFC_SYS_EXCEPTION);
  ASSERT_NE (fail.exception, nullptr);
  EXPECT_EQ (std::u16string (fail.exception), u"SYSTEM_FAILURE");
  EXPECT_EQ (fail.last_error_rc, 0);
  EXPECT_EQ (fail.error_info.group, RFC_ERROR_SYSTEM_FAILURE);
  EXPECT_EQ (std::u16string (fail.error_info.key), u"COMPUTE_INT_ZERODIVIDE");
  EXPECT_EQ (std::u16string (fail.error_info.message), u"Division by zero");
}

TEST_F (Partner, AFailureOfEveryOperationFillsTheErrorRecord)
{
  RfcClose (handle);
  const RFC_HANDLE closed = handle;
  handle = RFC_HANDLE_NULL;
  Vurude_Function f (u"Z_ECHO");
  f.prepare ();
  const struct
  {
    const char *operation;
    int (*run) (Vurude_Function &, RFC_HANDLE);
  } cases[] = {
    {"rfccall", [] (Vurude_Function &g, RFC_HANDLE h) { return g.rfccall (h); }},
    {"rfccallreceive", [] (Vurude_Function &g, RFC_HANDLE h) { return g.rfccallreceive (h); }},
    {"receive", [] (Vurude_Function &g, RFC_HANDLE h) { return g.receive (h); }},
    {"get_data", [] (Vurude_Function &g, RFC_HANDLE h) { return g.get_data (h); }},
    {"send_data", [] (Vurude_Function &g, RFC_HANDLE h) { return g.send_data (h); }},
    {"raise", [] (Vurude_Function &g, RFC_HANDLE h) { return g.raise (h, u"X"); }},
  };
  for (const auto &c : cases)
    {
      f.error_info = RFC_ERROR_INFO_EX ();
      f.last_error_rc = -1;
      EXPECT_EQ (c.run (f, closed), RFC_FAILURE) << c.operation;
      EXPECT_EQ (f.rc, RFC_FAILURE) << c.operation;
      EXPECT_EQ (f.last_error_rc, 0) << c.operation;
      EXPECT_EQ (f.error_info.group, RFC_ERROR_PROGRAM) << c.operation;
      EXPECT_EQ (std::u16string (f.error_info.key), u"RFC_ERROR_PROGRAM") << c.operation;
    }
}

TEST_F (Partner, RfccallAndRfccallreceiveTraceEntryAndExit)
{
  Vurude_Function raise (u"Z_RAISE");
  raise.prepare ();
  Log_Records log;
  raise.rfccall (handle);
  raise.receive (handle);
  raise.rfccallreceive (handle);
  ASSERT_EQ (log.lines.size (), 4u);
  EXPECT_EQ (Log_Records::text (log.lines[0].second), "Entering Vurude_Function::rfccall\n");
  EXPECT_EQ (Log_Records::text (log.lines[1].second), "Leaving Vurude_Function::rfccall\n");
  EXPECT_EQ (Log_Records::text (log.lines[2].second), "Entering Vurude_Function::rfccallreceive\n");
  EXPECT_EQ (Log_Records::text (log.lines[3].second), "Leaving Vurude_Function::rfccallreceive\n");
  for (const auto &line : log.lines)
    EXPECT_EQ (line.first, LM_DEBUG);
}

// The client side of Z_CALLBACK: serves Z_CB between call and receive.
class Callback : public Partner
{
protected:
  Callback ()
  {
    call.add_get_parm (&result_parm);
    call.add_get_parm (&lines_parm);
    call.prepare ();
    cb.add_get_parm (&x_parm);
    cb.add_send_parm (&y_parm);
    cb.add_table (&cbt_parm);
    cb.prepare ();
  }

  // Calls Z_CALLBACK up to its call back; reads Z_CB's data.
  void reach_callback ()
  {
    ASSERT_EQ (call.rfccallreceive (handle), RFC_CALL);
    SAP_UC name[RFC_FUNCNAME_LN + 1];
    ASSERT_EQ (RfcGetName (handle, name), RFC_OK);
    EXPECT_EQ (std::u16string (name), u"Z_CB");
    ASSERT_EQ (cb.get_data (handle), RFC_OK);
    EXPECT_EQ (x, 7);
    cbt = cb.table_handle (cb.get_table_index (u"CBT"));
    ASSERT_NE (cbt, ITAB_NULL) << "the library created the table";
    ASSERT_EQ (ItFill (cbt), 1u);
    EXPECT_EQ (std::memcmp (ItGetLine (cbt, 1), u"ab  ", 8), 0);
  }

  ~Callback () override { ItDelete (cbt); }

  std::int32_t result = 0;
  std::int32_t lines = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  ITAB_H cbt = ITAB_NULL;
  Vurude_Parm result_parm {u"RESULT", reinterpret_cast<char *> (&result), 4, RFCTYPE_INT};
  Vurude_Parm lines_parm {u"LINES", reinterpret_cast<char *> (&lines), 4, RFCTYPE_INT};
  Vurude_Parm x_parm {u"X", reinterpret_cast<char *> (&x), 4, RFCTYPE_INT};
  Vurude_Parm y_parm {u"Y", reinterpret_cast<char *> (&y), 4, RFCTYPE_INT};
  Vurude_Tabparm cbt_parm {u"CBT", RFCTYPE_CHAR, 0, nullptr, 0};
  Vurude_Function call {u"Z_CALLBACK"};
  Vurude_Function cb {u"Z_CB"};
};

TEST_F (Callback, GetDataAndSendDataServeACallBack)
{
  reach_callback ();
  y = x * 6;
  std::memcpy (ItAppLine (cbt), u"cd  ", 8);
  ASSERT_EQ (cb.send_data (handle), RFC_OK);
  EXPECT_EQ (call.receive (handle), RFC_OK);
  EXPECT_EQ (result, 42);
  EXPECT_EQ (lines, 2) << "the table went back with the answer";
}

TEST_F (Callback, RaiseEndsACallBackWithAnException)
{
  reach_callback ();
  ASSERT_EQ (cb.raise (handle, u"CB_REFUSED"), RFC_OK);
  EXPECT_EQ (call.receive (handle), RFC_EXCEPTION);
  ASSERT_NE (call.exception, nullptr);
  EXPECT_EQ (std::u16string (call.exception), u"CB_REFUSED");
}
}
