// The figures of another process that the kernel shows in /proc/<pid>/status.
#ifndef PROCESS_STATUS_H
#define PROCESS_STATUS_H

#include <sys/types.h>

#include <chrono>
#include <optional>

struct Process_Figures
{
  long rss_kib = 0;  // VmRSS
  long threads = 0;  // Threads
};

class Process_Status
{
public:
  explicit Process_Status (pid_t pid) : pid_ (pid) {}

  // Nothing when the process is gone or its status cannot be read.
  std::optional<Process_Figures> read () const;

  // Samples every `interval` until two samples in a row agree, or `limit`
  // has passed; the last sample. A process that has just been given work
  // needs a moment until its threads have started and touched their memory.
  std::optional<Process_Figures> settled (std::chrono::milliseconds interval,
                                          std::chrono::milliseconds limit) const;

  // Waits until the process runs at most `threads` threads; the time it
  // took, or nothing when `limit` passed first.
  std::optional<std::chrono::milliseconds> wait_for_threads (long threads, std::chrono::milliseconds limit) const;

private:
  pid_t pid_;
};

#endif
