#include "vurude_status.h"

#include "log_capture.h"

#include <gtest/gtest.h>

namespace
{
struct Registration_Case
{
  const char *text;
  int result;
  const char *logged;
};

class Add_Registration : public testing::TestWithParam<Registration_Case> {};

TEST_P (Add_Registration, ParsesOrNamesTheLastFault)
{
  Vurude_Status status;
  Log_Capture log;
  EXPECT_EQ (status.add_registration (GetParam ().text), GetParam ().result);
  EXPECT_EQ (log.text (), GetParam ().logged);
}

INSTANTIATE_TEST_SUITE_P (
  Values, Add_Registration,
  testing::Values (
    Registration_Case {"-a progid -g gwhost -x sapgw12", 0, ""},
    Registration_Case {"-x sapgw12 -a progid -g gwhost", 0, ""},
    Registration_Case {"-a p -g h", -1, "status gateway parameter error: lacks \"-x <gateway service>\"\n"},
    Registration_Case {"-g h", -1, "status gateway parameter error: lacks \"-x <gateway service>\"\n"},
    Registration_Case {"-g h -x s", -1, "status gateway parameter error: lacks \"-a <program id>\"\n"},
    Registration_Case {"-a p -x s", -1, "status gateway parameter error: lacks \"-g <gateway host>\"\n"},
    Registration_Case {"", -1, "status gateway parameter error: lacks \"-x <gateway service>\"\n"},
    Registration_Case {"-a p -g h -x s extra", -1, "status gateway parameter error: unknown status gateway parameter\n"},
    Registration_Case {"-a p -g h -x s -q", -1, "status gateway parameter error: unknown status gateway parameter\n"},
    Registration_Case {"-a p -g h -x", -1, "status gateway parameter error: lacks \"-x <gateway service>\"\n"}));

TEST (Vurude_Status, SameRegistrationTwiceIsADuplicate)
{
  Vurude_Status status;
  ASSERT_EQ (status.add_registration ("-a progid -g gwhost -x sapgw12"), 0);
  Log_Capture log;
  EXPECT_EQ (status.add_registration ("-g gwhost -x sapgw12 -a progid"), 1);
  EXPECT_EQ (log.text (), "status gateway parameter error: duplicate entry detected\n");
  EXPECT_EQ (status.add_registration ("-a progid -g gwhost -x sapgw13"), 0);
  EXPECT_EQ (status.registration_count (), 2u);
}

TEST (Vurude_Status, StaysPassiveWithoutRegistrations)
{
  Vurude_Status status;
  EXPECT_EQ (status.start (), 0);
  EXPECT_FALSE (status.started ());
  status.update (0);
  status.update (4096);
  status.update (-1);
  const auto totals = status.totals ();
  EXPECT_EQ (totals.current_requests, 0);
  EXPECT_EQ (totals.total_requests, 0u);
  EXPECT_EQ (totals.total_bytes, 0u);
}

TEST (Vurude_Status, CountsRequestsAndBytesOnceRegistered)
{
  Vurude_Status status;
  ASSERT_EQ (status.add_registration ("-a progid -g gwhost -x sapgw12"), 0);
  EXPECT_EQ (status.start (), 0);
  EXPECT_TRUE (status.started ());
  status.update (0);
  status.update (0);
  status.update (1000);
  status.update (24);
  status.update (-1);
  const auto totals = status.totals ();
  EXPECT_EQ (totals.current_requests, 1);
  EXPECT_EQ (totals.total_requests, 2u);
  EXPECT_EQ (totals.total_bytes, 1024u);
}
}
