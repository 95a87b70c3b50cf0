// The main port's handler driving one request document: parse, request
// object, attributes, RFC connection and call, and the result that decides
// whether the connection goes on.
#include "engine_test_support.h"

#include "xmldoc_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
class Handle_Mb : public Partner_Test
{
protected:
  int handle (Client_Connection &on, const std::string &text)
  {
    Chain chain (text);
    return on.handler ().handle_mb (chain.head ());
  }

  Client_Connection control;
  Client_Connection request;
};

TEST_F (Handle_Mb, DocumentThatDoesNotParseGives1AfterItsReplies)
{
  EXPECT_EQ (handle (request, "<sselect chandle=\"x\"><table name="), 1);
  EXPECT_EQ (request.take ().substr (0, 2), "E,");
  EXPECT_FALSE (request.handler ().current_request ());
}

TEST_F (Handle_Mb, LogonKeepsTheConnection)
{
  EXPECT_EQ (handle (control, "<connect " + partner.logon_attributes () + " passwd=\"pw\"/>"), 0);
  const Vurude_Request_Ref logon = control.handler ().current_request ();
  ASSERT_TRUE (logon);
  EXPECT_TRUE (logon->is_logon ());
  EXPECT_NE (logon->get_rfc_handle (), RFC_HANDLE_NULL);
  EXPECT_EQ (partner.logons ().size (), 1u);
  const std::vector<Dialog> done = partner.dialogs (1);
  ASSERT_EQ (done.size (), 1u);
  EXPECT_EQ (u8 (done[0].called), "/TST/Z_VOK_DIALOG");
  EXPECT_EQ (control.take (), "");
}

TEST_F (Handle_Mb, LogonWithAnUndecodablePasswordGivesTheRfcErrorLinesAndMinus1)
{
  EXPECT_EQ (handle (control, "<connect " + partner.logon_attributes () + " xpasswd=\"NOTHEX\"/>"), -1);
  EXPECT_EQ (control.take (), "E,RFC Error:\n"
                              "E,Error Group: 101\n"
                              "E,Key        : RFC_ERROR_PROGRAM\n"
                              "E,Message    : Invalid encrypted password from VOK\n");
  EXPECT_TRUE (partner.logons ().empty ());
}

TEST_F (Handle_Mb, SelectWithoutChandleGivesOneLineAndCallsNothing)
{
  EXPECT_EQ (handle (request, "<sselect data=\"Y\"><table name=\"T\"/></sselect>"), -1);
  EXPECT_EQ (request.take (), "E,chandle is invalid\n");
  EXPECT_TRUE (partner.logons ().empty ());
}

class Select_Root : public Handle_Mb, public testing::WithParamInterface<const char *> {};

TEST_P (Select_Root, AnsweredSelectEndsTheConnectionWith13)
{
  ASSERT_NE (log_on (control), nullptr);
  const std::string chandle = "chandle=\"" + control.handle () + "\"";
  std::string document = GetParam ();
  document.replace (document.find ("CHANDLE"), 7, chandle);
  EXPECT_EQ (handle (request, document), 13);
  EXPECT_EQ (request.take (), "");
  const std::vector<Dialog> done = partner.dialogs (1);
  ASSERT_EQ (done.size (), 1u);
  EXPECT_EQ (u8 (done[0].called), "/TST/Z_VOK_DIALOG");
}

INSTANTIATE_TEST_SUITE_P (Roots, Select_Root,
                          testing::Values ("<sselect CHANDLE data=\"Y\"><table name=\"T\"/></sselect>",
                                           "<nselect CHANDLE data=\"Y\"><sselect><table name=\"T\"/></sselect></nselect>",
                                           "<gselect CHANDLE data=\"Y\"><table name=\"T\"/></gselect>"));
}
