#ifndef VURUDE_TEST_CONNECTION_CHURN_H
#define VURUDE_TEST_CONNECTION_CHURN_H

#include <array>
#include <cstdint>
#include <string>

// Clients that connect and give up at random points of a conversation with
// the server: before the greeting, after it, in the middle of a request, of
// a logon and of an extraction; half of them close with a reset. Used by
// the end-to-end test and by the connection benchmark, at different sizes.
struct Churn_Settings
{
  int port = 0;            // the server's main port
  int sapsim_port = 0;     // the gateway a logon goes to
  std::string chandle;     // a logged-on control connection, for extractions
  int cycles = 2000;       // in all, over every thread
  int threads = 8;
  std::uint32_t seed = 1;  // same seed, same sequence of points per thread
};

enum class Churn_Point
{
  before_greeting,
  after_greeting,
  mid_request,
  mid_logon,
  mid_extraction,
  count
};

struct Churn_Report
{
  // Cycles ended at each point, and cycles whose connect failed.
  std::array<long, static_cast<std::size_t> (Churn_Point::count)> ended {};
  long connect_failures = 0;
};

Churn_Report run_churn (const Churn_Settings &settings);

const char *churn_point_name (Churn_Point point);

#endif
