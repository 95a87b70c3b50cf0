#ifndef VURUDE_SIGNAL_WATCHER_H
#define VURUDE_SIGNAL_WATCHER_H

#include <csignal>
#include <functional>
#include <initializer_list>
#include <thread>

// Turns asynchronous signals into ordinary calls on an ordinary thread, so a
// stop request can use any thread-safe operation (a signal handler could
// not). The watched signals are blocked in the constructing thread and so in
// every thread created after it: construct before any other thread exists.
class Signal_Watcher
{
public:
  explicit Signal_Watcher (std::initializer_list<int> signals);
  ~Signal_Watcher ();
  Signal_Watcher (const Signal_Watcher &) = delete;
  Signal_Watcher &operator= (const Signal_Watcher &) = delete;

  // 0, or -1 with errno set when the descriptors cannot be created.
  int open ();

  // Blocks until a watched signal arrives (returns its number) or wake() is
  // called (returns 0); -1 on failure.
  int wait ();
  // Any thread.
  void wake ();

  // Calls on_signal on a thread of its own for every signal until stop().
  int start (std::function<void (int)> on_signal);
  void stop ();

private:
  sigset_t signals_;
  sigset_t previous_mask_;
  int signal_fd_ = -1;
  int wake_fd_ = -1;
  std::thread thread_;
};

#endif
