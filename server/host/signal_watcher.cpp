#include "signal_watcher.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

Signal_Watcher::Signal_Watcher (std::initializer_list<int> signals)
{
  sigemptyset (&signals_);
  for (const int s : signals)
    sigaddset (&signals_, s);
  pthread_sigmask (SIG_BLOCK, &signals_, &previous_mask_);
}

Signal_Watcher::~Signal_Watcher ()
{
  stop ();
  if (signal_fd_ >= 0)
    ::close (signal_fd_);
  if (wake_fd_ >= 0)
    ::close (wake_fd_);
  pthread_sigmask (SIG_SETMASK, &previous_mask_, nullptr);
}

int Signal_Watcher::open ()
{
  signal_fd_ = ::signalfd (-1, &signals_, SFD_CLOEXEC);
  wake_fd_ = ::eventfd (0, EFD_CLOEXEC);
  return signal_fd_ >= 0 && wake_fd_ >= 0 ? 0 : -1;
}

int Signal_Watcher::wait ()
{
  pollfd fds[2] = {{signal_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
  for (;;)
    {
      if (::poll (fds, 2, -1) < 0)
        {
          if (errno == EINTR)
            continue;
          return -1;
        }
      if (fds[1].revents & POLLIN)
        {
          std::uint64_t count;
          if (::read (wake_fd_, &count, sizeof count) < 0 && errno != EAGAIN)
            return -1;
          return 0;
        }
      if (fds[0].revents & POLLIN)
        {
          signalfd_siginfo info;
          if (::read (signal_fd_, &info, sizeof info) == static_cast<ssize_t> (sizeof info))
            return static_cast<int> (info.ssi_signo);
        }
    }
}

void Signal_Watcher::wake ()
{
  const std::uint64_t one = 1;
  while (::write (wake_fd_, &one, sizeof one) < 0 && errno == EINTR)
    ;
}

int Signal_Watcher::start (std::function<void (int)> on_signal)
{
  if (signal_fd_ < 0 && open () != 0)
    return -1;
  thread_ = std::thread ([this, on_signal = std::move (on_signal)] {
    for (int s; (s = wait ()) > 0;)
      on_signal (s);
  });
  return 0;
}

void Signal_Watcher::stop ()
{
  if (!thread_.joinable ())
    return;
  wake ();
  thread_.join ();
}
