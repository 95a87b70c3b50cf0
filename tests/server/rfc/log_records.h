#ifndef VURUDE_TEST_LOG_RECORDS_H
#define VURUDE_TEST_LOG_RECORDS_H

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Callback.h>
#include <ace/Log_Record.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

// Collects what the calling thread logs, with each line's priority, for the
// life of the object; nothing reaches standard error meanwhile.
class Log_Records : public ACE_Log_Msg_Callback
{
public:
  Log_Records ()
    : saved_flags_ (ACE_LOG_MSG->flags ()),
      saved_callback_ (ACE_LOG_MSG->msg_callback (this))
  {
    ACE_LOG_MSG->clr_flags (ACE_Log_Msg::STDERR);
    ACE_LOG_MSG->set_flags (ACE_Log_Msg::MSG_CALLBACK);
  }

  ~Log_Records () override
  {
    ACE_LOG_MSG->clr_flags (ACE_Log_Msg::MSG_CALLBACK);
    ACE_LOG_MSG->set_flags (saved_flags_);
    ACE_LOG_MSG->msg_callback (saved_callback_);
  }

  Log_Records (const Log_Records &) = delete;
  Log_Records &operator= (const Log_Records &) = delete;

  void log (ACE_Log_Record &record) override
  {
    lines.emplace_back (static_cast<ACE_Log_Priority> (record.type ()), record.msg_data ());
  }

  // A line's text after its "time stamp(pid|tid) " prefix, or the whole
  // line behind "no prefix: " when it lacks one.
  static std::string text (const std::string &line)
  {
    static const std::regex prefix (R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}\(\d+\|\d+\) )");
    std::smatch found;
    if (!std::regex_search (line, found, prefix))
      return "no prefix: " + line;
    return found.suffix ();
  }

  std::vector<std::pair<ACE_Log_Priority, std::string>> lines;

private:
  unsigned long saved_flags_;
  ACE_Log_Msg_Callback *saved_callback_;
};

#endif
