// The figures of another process that the kernel shows in /proc/<pid>.
#ifndef PROCESS_STATUS_H
#define PROCESS_STATUS_H

#include <sys/types.h>

#include <chrono>
#include <optional>

struct Process_Figures
{
  long rss_kib = 0;       // VmRSS of status
  long threads = 0;       // Threads of status
  long descriptors = -1;  // entries of fd/; -1 when that folder cannot be read (another user's process)
};

class Process_Status
{
public:
  explicit Process_Status (pid_t pid) : pid_ (pid) {}

  pid_t pid () const { return pid_; }

  // Nothing when the process is gone or its status cannot be read.
  std::optional<Process_Figures> read () const;

  // User and system CPU time of all its threads so far; nothing when the
  // process is gone.
  std::optional<double> cpu_seconds () const;

  // Samples every `interval` until two samples in a row agree, or `limit`
  // has passed; the last sample. A process that has just been given work
  // needs a moment until its threads have started and touched their memory.
  std::optional<Process_Figures> settled (std::chrono::milliseconds interval,
                                          std::chrono::milliseconds limit) const;

  // Waits until the process runs at most the threads of `baseline` and,
  // when both are known, holds at most its descriptors; the time it took,
  // or nothing when `limit` passed first or the process is gone.
  std::optional<std::chrono::milliseconds> wait_for_baseline (const Process_Figures &baseline,
                                                              std::chrono::milliseconds limit) const;

private:
  pid_t pid_;
};

// Whether `now` is at or below `baseline` in threads and descriptors.
bool at_baseline (const Process_Figures &now, const Process_Figures &baseline);

#endif
