#include "process_status.h"

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace
{
long count_entries (const std::string &path)
{
  DIR *dir = ::opendir (path.c_str ());
  if (!dir)
    return -1;
  long count = 0;
  while (const dirent *entry = ::readdir (dir))
    if (entry->d_name[0] != '.')
      ++count;
  ::closedir (dir);
  return count;
}
}

std::optional<Process_Figures> Process_Status::read () const
{
  const std::string folder = "/proc/" + std::to_string (pid_);
  std::ifstream file (folder + "/status");
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
  figures.descriptors = count_entries (folder + "/fd");
  return figures;
}

std::optional<double> Process_Status::cpu_seconds () const
{
  std::ifstream file ("/proc/" + std::to_string (pid_) + "/stat");
  std::string stat;
  if (!std::getline (file, stat))
    return std::nullopt;
  // The command name in parentheses may hold blanks; the fields after it
  // begin with the state (field 3); utime and stime are fields 14 and 15.
  const std::size_t name_end = stat.rfind (')');
  if (name_end == std::string::npos)
    return std::nullopt;
  std::istringstream fields (stat.substr (name_end + 1));
  std::string field;
  for (int number = 3; number < 14; ++number)
    fields >> field;
  unsigned long long user = 0, system = 0;
  if (!(fields >> user >> system))
    return std::nullopt;
  return static_cast<double> (user + system) / static_cast<double> (::sysconf (_SC_CLK_TCK));
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
      const bool same = next->rss_kib == last->rss_kib && next->threads == last->threads
                        && next->descriptors == last->descriptors;
      last = next;
      if (same)
        break;
    }
  return last;
}

bool at_baseline (const Process_Figures &now, const Process_Figures &baseline)
{
  const bool descriptors_known = now.descriptors >= 0 && baseline.descriptors >= 0;
  return now.threads <= baseline.threads && (!descriptors_known || now.descriptors <= baseline.descriptors);
}

std::optional<std::chrono::milliseconds> Process_Status::wait_for_baseline (const Process_Figures &baseline,
                                                                           std::chrono::milliseconds limit) const
{
  const auto start = std::chrono::steady_clock::now ();
  for (;;)
    {
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now ()
                                                                                 - start);
      const std::optional<Process_Figures> figures = read ();
      if (figures && at_baseline (*figures, baseline))
        return waited;
      if (!figures || waited >= limit)
        return std::nullopt;
      std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }
}
