#include "vurude_status_gateway.h"

#include "utf16_text.h"

#include <ace/ARGV.h>
#include <ace/Get_Opt.h>

Vurude_Status_Gateway::Vurude_Status_Gateway (const char *text)
  : arguments_ (text ? text : "")
{
  ACE_ARGV words (arguments_.c_str ());
  ACE_Get_Opt get_opt (words.argc (), words.argv (), "a:g:x:", 0, 0,
                       ACE_Get_Opt::PERMUTE_ARGS);
  for (int c; (c = get_opt ()) != EOF;)
    switch (c)
      {
      case 'a': program_id_ = utf16_from_utf8 (get_opt.opt_arg ()); break;
      case 'g': gateway_host_ = utf16_from_utf8 (get_opt.opt_arg ()); break;
      case 'x': gateway_service_ = utf16_from_utf8 (get_opt.opt_arg ()); break;
      default: message_ = "unknown status gateway parameter"; break;
      }
  // Permuting moves the words that are not options to the end.
  if (get_opt.opt_ind () < words.argc ())
    message_ = "unknown status gateway parameter";

  // Each check overwrites the previous one: with several faults the last is reported.
  if (program_id_.empty ())
    message_ = "lacks \"-a <program id>\"";
  if (gateway_host_.empty ())
    message_ = "lacks \"-g <gateway host>\"";
  if (gateway_service_.empty ())
    message_ = "lacks \"-x <gateway service>\"";

  key_ = program_id_ + gateway_host_ + gateway_service_;
}
