#include "vurude_service_options.h"

#include "utf16_text.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <ace/ARGV.h>
#include <ace/Guard_T.h>
#include <ace/Get_Opt.h>
#include <ace/Log_Msg.h>

#include <climits>

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

bool read_number (std::string_view text, int low, int high, int &value)
{
  if (text.empty ())
    return false;
  long long number = 0;
  for (char c : text)
    {
      if (c < '0' || c > '9')
        return false;
      number = number * 10 + (c - '0');
      // Past every int already: stop before the sum can overflow.
      if (number > INT_MAX)
        return false;
    }
  if (number < low || number > high)
    return false;
  value = static_cast<int> (number);
  return true;
}

void Options::parse_batch_parms (const char *text)
{
  batch_parms_ = utf16_from_utf8 (text);
  ACE_ARGV words (text);
  ACE_Get_Opt get_opt (words.argc (), words.argv (), "p:R:V:B:", 0, 0,
                       ACE_Get_Opt::PERMUTE_ARGS);
  for (int c; (c = get_opt ()) != EOF;)
    {
      const std::string_view arg = get_opt.opt_arg () ? get_opt.opt_arg () : "";
      switch (c)
        {
        case 'p':
          // Not a port: as if no -p were given, so 6995 unless a later one is.
          if (!read_number (arg, 1, max_port, batch_port_))
            {
              batch_port_ = 0;
              ACE_ERROR ((LM_ERROR, "invalid batch compatibility port\n"));
            }
          break;
        case 'R':
          batch_report_ = utf16_from_utf8 (arg);
          break;
        case 'V':
          batch_variant_ = utf16_upper (utf16_from_utf8 (arg));
          break;
        case 'B':
          if (!read_number (arg, default_min_bufsize, INT_MAX, min_bufsize_))
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
