// The attributes every request reads: the logon it names (chandle), the data
// connection it couples (dhandle), its flags, and the names of the logon's
// ABAP programs.
#include "engine_test_support.h"

#include "vurude_base_handler.h"

#include <ace/OS_NS_sys_time.h>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

namespace
{
// A control connection holding a logon, a request connection and a data
// connection.
class Request_Attributes : public testing::Test
{
protected:
  Request_Attributes () { set_up_engine (); }

  void SetUp () override
  {
    Connect_Peer *connect = attach<Connect_Peer> (control, "<connect user=\"U\" passwd=\"p\" " + logon_extra () + "/>");
    ASSERT_NE (connect, nullptr);
    ASSERT_EQ (connect->parse_attributes (), 0);
    logon = connect;
  }

  virtual std::string logon_extra () const { return ""; }

  // A select document on the request connection with these root attributes.
  Sselect_Peer *select (const std::string &attributes, Client_Connection &on)
  {
    return attach<Sselect_Peer> (on, "<sselect " + attributes + "><table name=\"T\"/></sselect>");
  }
  Sselect_Peer *select (const std::string &attributes) { return select (attributes, request); }

  std::string chandle () const { return "chandle=\"" + control.handle () + "\" "; }
  static std::string dhandle (const Client_Connection &to) { return "dhandle=\"" + to.handle () + "\" "; }

  // The next block on a handler's queue, without waiting; its type or -1.
  static int next_block_type (Vurude_Base_Handler &handler)
  {
    ACE_Message_Block *block = nullptr;
    ACE_Time_Value now = ACE_OS::gettimeofday ();
    if (handler.getq (block, &now) == -1)
      return -1;
    const int type = block->msg_type ();
    block->release ();
    return type;
  }

  Client_Connection control;
  Client_Connection request;
  Client_Connection data;
  Connect_Peer *logon = nullptr;
};

// chandle

enum class Chandle
{
  missing,
  unknown,
  without_request,
  own_connection,
  refused_connect
};

struct Chandle_Case
{
  const char *label;
  Chandle chandle;
};

std::ostream &operator<< (std::ostream &out, const Chandle_Case &c)
{
  return out << c.label;
}

class Invalid_Chandle : public Request_Attributes, public testing::WithParamInterface<Chandle_Case>
{
protected:
  Client_Connection other;
};

TEST_P (Invalid_Chandle, OneErrorLineAndNothingCoupled)
{
  std::string attribute;
  switch (GetParam ().chandle)
    {
    case Chandle::missing:
      break;
    case Chandle::unknown:
      attribute = "chandle=\"0000FFFFFFFFFFFFFFFF\" ";
      break;
    case Chandle::without_request:
      attribute = "chandle=\"" + other.handle () + "\" ";
      break;
    case Chandle::own_connection:
      attribute = "chandle=\"" + request.handle () + "\" ";
      break;
    case Chandle::refused_connect:
      {
        Connect_Peer *refused = attach<Connect_Peer> (other, "<connect user=\"U\" xpasswd=\"\"/>");
        ASSERT_NE (refused, nullptr);
        ASSERT_EQ (refused->parse_attributes (), -1);
        other.take ();
        attribute = "chandle=\"" + other.handle () + "\" ";
        break;
      }
    }
  Sselect_Peer *sselect = select (attribute + dhandle (data) + "data=\"Y\"");
  ASSERT_NE (sselect, nullptr);
  EXPECT_EQ (sselect->parse_attributes (), -1);
  EXPECT_EQ (request.take (), "E,chandle is invalid\n");
  EXPECT_EQ (data.take (), "");
  EXPECT_FALSE (request.handler ().partner);
  EXPECT_EQ (data.handler ().owner, nullptr);
  EXPECT_EQ (data.handler ().cancel_on_close, 1);
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Invalid_Chandle,
  testing::Values (Chandle_Case {"missing", Chandle::missing}, Chandle_Case {"no such handle", Chandle::unknown},
                   Chandle_Case {"a connection without a request", Chandle::without_request},
                   Chandle_Case {"the request's own connection", Chandle::own_connection},
                   Chandle_Case {"a connection whose connect was refused", Chandle::refused_connect}));

// dhandle

enum class Dhandle
{
  data_connection,
  unknown,
  missing
};

struct Dhandle_Case
{
  const char *label;
  Dhandle dhandle;
};

std::ostream &operator<< (std::ostream &out, const Dhandle_Case &c)
{
  return out << c.label;
}

class Data_Connection : public Request_Attributes, public testing::WithParamInterface<Dhandle_Case> {};

TEST_P (Data_Connection, CoupledWhenFoundElseTheRequestConnectionTakesTheData)
{
  std::string attribute;
  if (GetParam ().dhandle == Dhandle::data_connection)
    attribute = dhandle (data);
  else if (GetParam ().dhandle == Dhandle::unknown)
    attribute = "dhandle=\"0000FFFFFFFFFFFFFFFF\" ";
  Sselect_Peer *sselect = select (chandle () + attribute + "data=\"Y\"");
  ASSERT_NE (sselect, nullptr);
  ASSERT_EQ (sselect->parse_attributes (), 0);
  EXPECT_EQ (request.take (), "");
  EXPECT_EQ (sselect->get_chandle_handler (), &control.handler ());
  EXPECT_EQ (sselect->connect_request (), logon);
  if (GetParam ().dhandle == Dhandle::data_connection)
    {
      EXPECT_EQ (sselect->get_data_handler (), &data.handler ());
      EXPECT_EQ (data.handler ().owner, &request.handler ());
      EXPECT_EQ (data.handler ().cancel_on_close, 0);
      EXPECT_EQ (request.handler ().partner.get (), &data.handler ());
    }
  else
    {
      EXPECT_EQ (sselect->get_data_handler (), &request.handler ());
      EXPECT_FALSE (request.handler ().partner);
      EXPECT_EQ (data.handler ().owner, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P (Cases, Data_Connection,
                          testing::Values (Dhandle_Case {"names a connection", Dhandle::data_connection},
                                           Dhandle_Case {"names no connection", Dhandle::unknown},
                                           Dhandle_Case {"missing", Dhandle::missing}));

class Next_Request : public Request_Attributes, public testing::WithParamInterface<bool>
{
protected:
  Client_Connection next_data;
};

TEST_P (Next_Request, HangsUpTheDataConnectionOfThePreviousOne)
{
  const bool couples_again = GetParam ();
  Sselect_Peer *first = select (chandle () + dhandle (data) + "data=\"Y\"");
  ASSERT_NE (first, nullptr);
  ASSERT_EQ (first->parse_attributes (), 0);
  ASSERT_EQ (data.handler ().cancel_on_close, 0);

  Sselect_Peer *second = select (chandle () + (couples_again ? dhandle (next_data) : "") + "data=\"Y\"");
  ASSERT_NE (second, nullptr);
  ASSERT_EQ (second->parse_attributes (), 0);
  EXPECT_EQ (data.handler ().cancel_on_close, 1);
  EXPECT_EQ (next_block_type (data.handler ()), MB_HANGUP);
  if (couples_again)
    {
      EXPECT_EQ (request.handler ().partner.get (), &next_data.handler ());
      EXPECT_EQ (next_data.handler ().owner, &request.handler ());
      EXPECT_EQ (next_data.handler ().cancel_on_close, 0);
      EXPECT_EQ (next_block_type (next_data.handler ()), -1);
    }
  else
    {
      EXPECT_FALSE (request.handler ().partner);
      EXPECT_EQ (second->get_data_handler (), &request.handler ());
    }
}

INSTANTIATE_TEST_SUITE_P (Cases, Next_Request, testing::Bool (),
                          [] (const testing::TestParamInfo<bool> &param_info) {
                            return param_info.param ? "WithANewDataConnection" : "WithoutDataConnection";
                          });

// Flags

struct Flag_Case
{
  const char *attributes;
  char16_t data;
  char16_t metadata;
  char16_t batch;
};

class Request_Flags : public Request_Attributes, public testing::WithParamInterface<Flag_Case> {};

TEST_P (Request_Flags, FirstCharacterUpperCasedOrN)
{
  Sselect_Peer *sselect = select (chandle () + GetParam ().attributes);
  ASSERT_NE (sselect, nullptr);
  ASSERT_EQ (sselect->parse_attributes (), 0);
  EXPECT_EQ (sselect->get_data_flag (), GetParam ().data);
  EXPECT_EQ (sselect->get_metadata_flag (), GetParam ().metadata);
  EXPECT_EQ (sselect->get_batch_flag (), GetParam ().batch);
}

INSTANTIATE_TEST_SUITE_P (Values, Request_Flags,
                          testing::Values (Flag_Case {"", u'N', u'N', u'N'},
                                           Flag_Case {"data=\"y\" metadata=\"Y\"", u'Y', u'Y', u'N'},
                                           Flag_Case {"data=\"n\" batch=\"y\"", u'N', u'N', u'Y'},
                                           Flag_Case {"metadata=\"y\" batch=\"N\"", u'N', u'Y', u'N'}));

TEST_F (Request_Attributes, FlagOfAnEmptyOrAbsentAttributeIsTheDefault)
{
  // The select prologs allow only y and n, so an empty value comes from a
  // document parsed without them.
  const std::string text = "<sselect data=\"\" metadata=\"yes\" batch=\"\"/>";
  auto parser = std::make_unique<xercesc::XercesDOMParser> ();
  xercesc::MemBufInputSource source (reinterpret_cast<const XMLByte *> (text.data ()), text.size (), "flags");
  parser->parse (source);
  ASSERT_NE (parser->getDocument (), nullptr);
  auto *sselect = new Sselect_Peer (&request.handler (), parser.release ());
  request.handler ().set_request (sselect);
  EXPECT_EQ (sselect->flag_attribute (u"data", u'N'), u'N');
  EXPECT_EQ (sselect->flag_attribute (u"batch", u'Q'), u'Q');
  EXPECT_EQ (sselect->flag_attribute (u"metadata", u'N'), u'Y');
  EXPECT_EQ (sselect->flag_attribute (u"absent", u'N'), u'N');
}

// The logon's debug flag and program names

struct Logon_Case
{
  const char *label;
  std::string attributes;
  char16_t debug;
  std::string dialog_function;
  std::string read_report;
};

std::ostream &operator<< (std::ostream &out, const Logon_Case &c)
{
  return out << c.label;
}

class Logon_Values : public Request_Attributes, public testing::WithParamInterface<Logon_Case>
{
protected:
  std::string logon_extra () const override { return GetParam ().attributes; }
};

TEST_P (Logon_Values, DebugFlagAndProgramNamesComeFromTheLogon)
{
  Sselect_Peer *sselect = select (chandle () + "data=\"Y\"");
  ASSERT_NE (sselect, nullptr);
  ASSERT_EQ (sselect->parse_attributes (), 0);
  EXPECT_EQ (sselect->get_debug_flag (), GetParam ().debug);
  EXPECT_EQ (u8 (logon->dialog_function_name ()), GetParam ().dialog_function);
  EXPECT_EQ (u8 (sselect->read_report_name ()), GetParam ().read_report);
  EXPECT_EQ (u8 (logon->read_report_name ()), GetParam ().read_report);
}

INSTANTIATE_TEST_SUITE_P (
  Values, Logon_Values,
  testing::Values (
    Logon_Case {"defaults with the name prefix", "", u' ', "/TST/Z_VOK_DIALOG", "/TST/Z_VOK_READ"},
    Logon_Case {"programs of the logon", "abapfm=\"ZFM_X\" abapprog=\"ZPROG_X\"", u' ', "ZFM_X", "ZPROG_X"},
    Logon_Case {"only a read report", "abapprog=\"ZPROG_X\"", u' ', "/TST/Z_VOK_DIALOG", "ZPROG_X"},
    Logon_Case {"lower-case debug flag", "vokdebug=\"y\"", u'Y', "/TST/Z_VOK_DIALOG", "/TST/Z_VOK_READ"},
    Logon_Case {"first character of the debug flag", "vokdebug=\"x1\"", u'X', "/TST/Z_VOK_DIALOG",
                "/TST/Z_VOK_READ"},
    Logon_Case {"empty debug flag", "vokdebug=\"\"", u' ', "/TST/Z_VOK_DIALOG", "/TST/Z_VOK_READ"},
    Logon_Case {"names of at most 100 characters",
                "abapfm=\"" + std::string (150, 'F') + "\" abapprog=\"" + std::string (120, 'P') + "\"", u' ',
                std::string (100, 'F'), std::string (100, 'P')}));
}
