#include "connection_churn.h"

#include "loopback.h"
#include "vok_select_document.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

namespace
{
constexpr std::size_t greeting_bytes = 130;

// Reads up to `count` bytes or until the peer closes or a second passes.
std::string read_some (int fd, std::size_t count)
{
  std::string bytes;
  char buffer[4096];
  while (bytes.size () < count)
    {
      pollfd p {fd, POLLIN, 0};
      if (::poll (&p, 1, 1000) <= 0)
        break;
      const ssize_t n = ::recv (fd, buffer, std::min (sizeof buffer, count - bytes.size ()), 0);
      if (n <= 0)
        break;
      bytes.append (buffer, static_cast<std::size_t> (n));
    }
  return bytes;
}

void close_socket (int fd, bool reset)
{
  if (reset)
    {
      const linger abort_on_close {1, 0};
      ::setsockopt (fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
    }
  ::close (fd);
}

// A connection that has read its greeting; the handle in `handle`.
int greeted (int port, std::string &handle)
{
  const int fd = vurude::test::connect_loopback (port);
  if (fd < 0)
    return -1;
  const std::string greeting = read_some (fd, greeting_bytes);
  handle = greeting.substr (0, greeting.find (' '));
  return fd;
}

std::string extraction_document (const std::string &chandle, const std::string &dhandle)
{
  Vok_Select_Document select (Vok_Select_Type::sselect);
  select.chandle = chandle;
  select.dhandle = dhandle;
  select.data = true;
  select.metadata = true;
  select.content.push_back (Vok_Select_Document::table ("SBOOK"));
  for (const char *field : {"CARRID", "CONNID", "FLDATE", "BOOKID", "CUSTOMID"})
    select.content.push_back (Vok_Select_Document::field (field));
  std::string text;
  select.write (text);
  return text + "\n";
}

class Churner
{
public:
  Churner (const Churn_Settings &settings, std::uint32_t seed)
    : settings_ (settings), random_ (seed)
  {
  }

  void run (int cycles, Churn_Report &report)
  {
    for (int i = 0; i < cycles; ++i)
      {
        const auto point = static_cast<Churn_Point> (pick (static_cast<int> (Churn_Point::count)));
        if (cycle (point))
          ++report.ended[static_cast<std::size_t> (point)];
        else
          ++report.connect_failures;
      }
  }

private:
  int pick (int n) { return std::uniform_int_distribution<int> (0, n - 1) (random_); }
  bool coin () { return pick (2) == 1; }

  bool cycle (Churn_Point point)
  {
    std::string handle;
    switch (point)
      {
      case Churn_Point::before_greeting:
        {
          const int fd = vurude::test::connect_loopback (settings_.port);
          if (fd < 0)
            return false;
          close_socket (fd, coin ());
          return true;
        }
      case Churn_Point::after_greeting:
        {
          const int fd = greeted (settings_.port, handle);
          if (fd < 0)
            return false;
          close_socket (fd, coin ());
          return true;
        }
      case Churn_Point::mid_request:
        {
          const int fd = greeted (settings_.port, handle);
          if (fd < 0)
            return false;
          // Either an unfinished line, or a continuation line left unanswered.
          vurude::test::send_all (fd, coin () ? "<sselect chandle=\"" : "<sselect chandle=\"x\" \\\n");
          close_socket (fd, coin ());
          return true;
        }
      case Churn_Point::mid_logon:
        {
          const int fd = greeted (settings_.port, handle);
          if (fd < 0)
            return false;
          vurude::test::send_all (fd, "<connect gwhost=\"127.0.0.1\" gwserv=\"" + std::to_string (settings_.sapsim_port)
                                        + "\" client=\"100\" user=\"DEMO\" passwd=\"demo\"/>\n");
          if (coin ())
            read_some (fd, static_cast<std::size_t> (pick (200)));
          close_socket (fd, coin ());
          return true;
        }
      case Churn_Point::mid_extraction:
        {
          std::string data_handle;
          const int data = greeted (settings_.port, data_handle);
          const int request = greeted (settings_.port, handle);
          if (data < 0 || request < 0)
            {
              if (data >= 0)
                ::close (data);
              if (request >= 0)
                ::close (request);
              return false;
            }
          vurude::test::send_all (request, extraction_document (settings_.chandle, data_handle));
          read_some (data, static_cast<std::size_t> (pick (20000)));
          // Whichever goes first, the server must let go of both.
          if (coin ())
            {
              close_socket (data, coin ());
              close_socket (request, coin ());
            }
          else
            {
              close_socket (request, coin ());
              close_socket (data, coin ());
            }
          return true;
        }
      case Churn_Point::count:
        break;
      }
    return false;
  }

  const Churn_Settings &settings_;
  std::mt19937 random_;
};
}

const char *churn_point_name (Churn_Point point)
{
  switch (point)
    {
    case Churn_Point::before_greeting: return "before the greeting";
    case Churn_Point::after_greeting: return "after the greeting";
    case Churn_Point::mid_request: return "mid-request";
    case Churn_Point::mid_logon: return "mid-logon";
    case Churn_Point::mid_extraction: return "mid-extraction";
    case Churn_Point::count: break;
    }
  return "?";
}

Churn_Report run_churn (const Churn_Settings &settings)
{
  const int threads = std::max (1, settings.threads);
  std::vector<Churn_Report> reports (static_cast<std::size_t> (threads));
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back ([&, t] {
      const int cycles = settings.cycles / threads + (t < settings.cycles % threads ? 1 : 0);
      Churner (settings, settings.seed + static_cast<std::uint32_t> (t)).run (cycles, reports[static_cast<std::size_t> (t)]);
    });
  for (std::thread &worker : workers)
    worker.join ();
  Churn_Report total;
  for (const Churn_Report &report : reports)
    {
      for (std::size_t i = 0; i < total.ended.size (); ++i)
        total.ended[i] += report.ended[i];
      total.connect_failures += report.connect_failures;
    }
  return total;
}
