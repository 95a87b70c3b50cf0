#include "vurude_service_options.h"

#include "utf16_text.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <ace/ARGV.h>
#include <ace/Guard_T.h>
#include <ace/Get_Opt.h>
#include <ace/Log_Msg.h>

Options::Options ()
  : debug_level_ (0),
    port_ (6999),
    dialog_port_ (0),
    batch_port_ (0),
    min_bufsize_ (default_min_bufsize),
    unlimited_dialog_ (u' '),
    name_prefix_ (u"/VOK/")
{
}

Options::~Options () = default;

xercesc::XMLTranscoder *Options::utf8_transcoder ()
{
  ACE_GUARD_RETURN (ACE_Thread_Mutex, guard, transcoder_lock_, nullptr);
  if (!utf8_transcoder_ && !transcoder_released_)
    {
      xercesc::XMLTransService::Codes result;
      utf8_transcoder_.reset (xercesc::XMLPlatformUtils::fgTransService->makeNewTranscoderFor (
        "UTF-8", result, 16384));
    }
  return utf8_transcoder_.get ();
}

void Options::release_utf8_transcoder ()
{
  ACE_GUARD (ACE_Thread_Mutex, guard, transcoder_lock_);
  utf8_transcoder_.reset ();
  transcoder_released_ = true;
}

bool valid_port (int port)
{
  return port > 0 && port <= 65535;
}

void Options::parse_batch_parms (const char *text)
{
  batch_parms_ = utf16_from_utf8 (text);
  ACE_ARGV words (text);
  ACE_Get_Opt get_opt (words.argc (), words.argv (), "p:R:V:B:", 0, 0,
                       ACE_Get_Opt::PERMUTE_ARGS);
  for (int c; (c = get_opt ()) != EOF;)
    {
      const std::u16string value = utf16_from_utf8 (get_opt.opt_arg () ? get_opt.opt_arg () : "");
      switch (c)
        {
        case 'p':
          batch_port_ = utf16_atoi (value);
          if (!valid_port (batch_port_))
            {
              batch_port_ = 0;
              ACE_ERROR ((LM_ERROR, "invalid batch compatibility port\n"));
            }
          break;
        case 'R':
          batch_report_ = value;
          break;
        case 'V':
          batch_variant_ = utf16_upper (value);
          break;
        case 'B':
          min_bufsize_ = utf16_atoi (value);
          if (min_bufsize_ < default_min_bufsize)
            {
              min_bufsize_ = default_min_bufsize;
              ACE_ERROR ((LM_ERROR, "minimum bufsize ignored - 10000 used\n"));
            }
          break;
        default:
          ACE_ERROR ((LM_ERROR, "unknown batch compatibility parameter\n"));
          break;
        }
    }
  if (batch_port_ == 0)
    batch_port_ = default_batch_port;
}

int Options::set_unlimited_dialog (std::string_view text)
{
  if (text.size () != 1)
    return -1;
  switch (text[0])
    {
    case '0': case 'n': case 'N':
      unlimited_dialog_ = u' ';
      return 0;
    case '1': case 'y': case 'Y':
      unlimited_dialog_ = u'X';
      return 0;
    default:
      return -1;
    }
}
