#include "process_status.h"

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

std::optional<Process_Figures> Process_Status::read () const
{
  std::ifstream file ("/proc/" + std::to_string (pid_) + "/status");
  if (!file)
    return std::nullopt;
  Process_Figures figures;
  bool have_rss = false, have_threads = false;
  std::string line;
  while (std::getline (file, line))
    {
      std::istringstream fields (line);
      std::string key;
      fields >> key;
      if (key == "VmRSS:")
        have_rss = static_cast<bool> (fields >> figures.rss_kib);
      else if (key == "Threads:")
        have_threads = static_cast<bool> (fields >> figures.threads);
    }
  if (!have_rss || !have_threads)
    return std::nullopt;
  return figures;
}

std::optional<Process_Figures> Process_Status::settled (std::chrono::milliseconds interval,
                                                        std::chrono::milliseconds limit) const
{
  const auto end = std::chrono::steady_clock::now () + limit;
  std::optional<Process_Figures> last = read ();
  while (last && std::chrono::steady_clock::now () < end)
    {
      std::this_thread::sleep_for (interval);
      const std::optional<Process_Figures> next = read ();
      if (!next)
        return std::nullopt;
      const bool same = next->rss_kib == last->rss_kib && next->threads == last->threads;
      last = next;
      if (same)
        break;
    }
  return last;
}

std::optional<std::chrono::milliseconds> Process_Status::wait_for_threads (long threads,
                                                                          std::chrono::milliseconds limit) const
{
  const auto start = std::chrono::steady_clock::now ();
  for (;;)
    {
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now ()
                                                                                 - start);
      const std::optional<Process_Figures> figures = read ();
      if (figures && figures->threads <= threads)
        return waited;
      if (!figures || waited >= limit)
        return std::nullopt;
      std::this_thread::sleep_for (std::chrono::milliseconds (20));
    }
}
