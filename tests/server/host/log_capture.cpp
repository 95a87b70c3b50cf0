#include "log_capture.h"

#include <ace/Log_Msg.h>

Log_Capture::Log_Capture ()
  : saved_flags_ (ACE_LOG_MSG->flags ())
{
  ACE_LOG_MSG->msg_ostream (&stream_);
  ACE_LOG_MSG->clr_flags (ACE_Log_Msg::STDERR);
  ACE_LOG_MSG->set_flags (ACE_Log_Msg::OSTREAM);
}

Log_Capture::~Log_Capture ()
{
  ACE_LOG_MSG->clr_flags (ACE_Log_Msg::OSTREAM);
  ACE_LOG_MSG->set_flags (saved_flags_);
  ACE_LOG_MSG->msg_ostream (nullptr);
}
