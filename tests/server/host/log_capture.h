#ifndef VURUDE_TEST_LOG_CAPTURE_H
#define VURUDE_TEST_LOG_CAPTURE_H

#include <sstream>
#include <string>

// Sends the calling thread's log output to a string for the life of the
// object, so a test can check what was logged.
class Log_Capture
{
public:
  Log_Capture ();
  ~Log_Capture ();
  Log_Capture (const Log_Capture &) = delete;
  Log_Capture &operator= (const Log_Capture &) = delete;

  std::string text () const { return stream_.str (); }
  void clear () { stream_.str (""); }

private:
  std::ostringstream stream_;
  unsigned long saved_flags_;
};

#endif
