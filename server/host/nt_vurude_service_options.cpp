#include "nt_vurude_service_options.h"

#include "key_store.h"
#include "utf16_text.h"

#include <ace/Get_Opt.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_stdlib.h>

#include <algorithm>
#include <climits>
#include <cstring>

const char *const default_registry_root = "/etc/vurude/registry";

namespace
{
const char usage_text[] =
  "Usage: %s -in -r -s -k -tn -n name[,desc] -dn -p port -V variant -N ns -b \"bparms\" -c port -B min_bufsize -U unlimited_dialog -S \"smparms\"\n"
  "  -i: Install this program as an NT service, with\n"
  "      specified startup n.  (See -t for description.)\n"
  "  -r: Remove this program from the Service Manager\n"
  "  -s: Start the service\n"
  "  -k: Kill the service\n"
  "  -t: Set startup for an existing service\n"
  "      n=2 service starts automatically\n"
  "      n=3 service starts on demand\n"
  "      n=4 service disabled\n"
  "  -n: name and (optional) description of the service.\n"
  "  -d: Debug; run as a regular application with\n"
  "      debug level n.\n"
  "  -p: Port number on which the server listens.\n"
  "  -V: R/3 report variant, assigned to this server.\n"
  "      (Required for batch operation.)\n"
  "  -N: R/3 name prefix for ABAP objects.\n"
  "  -b: Parameters for batch compatibility (optional).\n"
  "      (Example: -b \"-p 6995 -R ZVOKRDBT -V MYVAR1\")\n"
  "  -c: Port number for dialog compatibility (optional).\n"
  "  -B: Minimum buffer size for RFC data transfers.\n"
  "      (Should be a number greater than 10000\n"
  "       and less than 99999999.)\n"
  "  -U: Extract unlimited records in dialog mode\n"
  "      unlimited_dialog = 0 or n or N\n"
  "                            enforce the limit (default)\n"
  "      unlimited_dialog = 1 or y or Y\n"
  "                            do not enforce limit (old style)\n"
  "  -S: Parameters for Status Monitoring (optional).\n"
  "      (Example: -S \"-a progid -g gwhost -x sapgw12\")\n";

constexpr std::size_t max_quoted_chars = 255;
constexpr std::size_t max_number_chars = 20;

// Copies at most units - 1 characters and terminates.
void copy_bounded (char16_t *target, std::size_t units, std::u16string_view text)
{
  const std::size_t n = std::min (text.size (), units - 1);
  std::copy_n (text.data (), n, target);
  target[n] = u'\0';
}

// An argument as a message quotes it: cut to a few characters, control
// characters as '?', so no argument can fill the log or forge a line in it.
std::string shown_argument (const char *argument)
{
  constexpr std::size_t shown_chars = 40;
  std::u16string text = utf16_from_utf8 (argument);
  const bool cut = text.size () > shown_chars;
  text.resize (std::min (text.size (), shown_chars));
  for (char16_t &c : text)
    if (c < u' ' || c == 0x7F)
      c = u'?';
  return utf8_from_utf16 (text) + (cut ? "..." : "");
}
}

Platform_Options::Platform_Options ()
  : install_requested_ (0),
    remove_requested_ (0),
    start_requested_ (0),
    kill_requested_ (0),
    startup_type_ (0),
    set_startup_requested_ (0),
    app_parameter_ (false),
    registry_root_ (default_registry_root)
{
  copy_bounded (service_name_, service_name_units, u"vurudev9");
  copy_bounded (service_desc_, service_desc_units, u"VOK RFC Service V9");
}

Platform_Options::~Platform_Options () = default;

void Platform_Options::service_name (std::u16string_view name)
{
  copy_bounded (service_name_, service_name_units, name);
}

void Platform_Options::usage (const ACE_TCHAR *program)
{
  ACE_DEBUG ((LM_INFO, usage_text, program));
  ACE_OS::exit (1);
}

void Platform_Options::persist (std::string entry)
{
  app_parameter_texts_.push_back (std::move (entry));
  app_parameter_.add (app_parameter_texts_.back ().c_str ());
}

void Platform_Options::persist_quoted (char quote, const char *value)
{
  std::string quoted = quote + std::string (value) + quote;
  // Cut by characters, not bytes, so a cut never splits a UTF-8 sequence.
  const std::u16string wide = utf16_from_utf8 (quoted);
  if (wide.size () > max_quoted_chars)
    quoted = utf8_from_utf16 (wide.substr (0, max_quoted_chars));
  persist (std::move (quoted));
}

void Platform_Options::persist_number (int value)
{
  std::string text = std::to_string (value);
  text.resize (std::min (text.size (), max_number_chars));
  persist (std::move (text));
}

void Platform_Options::set_name_and_description (const char *argument)
{
  const std::u16string text = utf16_from_utf8 (argument).substr (0, service_name_units - 1);
  const std::size_t comma = text.find (u',');
  if (comma == std::u16string::npos)
    copy_bounded (service_name_, service_name_units, text);
  else
    {
      copy_bounded (service_name_, service_name_units, text.substr (0, comma));
      copy_bounded (service_desc_, service_desc_units, text.substr (comma + 1));
    }
}

void Platform_Options::parse_args (int argc, ACE_TCHAR *argv[], int skip)
{
  const ACE_TCHAR *program = argc > 0 ? argv[0] : "";
  // The value of a numeric option, or a message naming it and the usage.
  auto number = [this, program] (int letter, const char *arg, const char *kind, int high, int &field) {
    if (!read_number (arg, 1, high, field))
      {
        ACE_ERROR ((LM_ERROR, "-%c: '%s' is not %s from 1 to %d\n", letter, shown_argument (arg).c_str (),
                    kind, high));
        usage (program);
      }
  };
  ACE_Get_Opt get_opt (argc, argv, "i:rskt:d:n:p:b:c:V:N:B:U:S:", skip, 0,
                       ACE_Get_Opt::PERMUTE_ARGS);
  for (int c; (c = get_opt ()) != EOF;)
    {
      const char *arg = get_opt.opt_arg ();
      switch (c)
        {
        case 'i':
          install_requested_ = 1;
          if (arg[0] == '-' && arg == argv[get_opt.opt_ind () - 1])
            {
              // "-i -p 7000": the next word is an option, not a start type.
              --get_opt.optind;
              startup_type_ = 3;
            }
          else
            number ('i', arg, "a start type", INT_MAX, startup_type_);
          break;
        case 'r': remove_requested_ = 1; break;
        case 's': start_requested_ = 1; break;
        case 'k': kill_requested_ = 1; break;
        case 't':
          set_startup_requested_ = 1;
          number ('t', arg, "a start type", INT_MAX, startup_type_);
          break;
        case 'd':
          number ('d', arg, "a debug level", INT_MAX, debug_level_);
          break;
        case 'n':
          set_name_and_description (arg);
          persist ("-n");
          persist_quoted ('\'', arg);
          break;
        case 'p':
          number ('p', arg, "a port number", max_port, port_);
          break;
        case 'b':
          parse_batch_parms (arg);
          if (batch_variant_.empty ())
            {
              ACE_ERROR ((LM_ERROR, "batch compatibility variant must be specified\n"));
              usage (program);
            }
          break;
        case 'c':
          number ('c', arg, "a port number", max_port, dialog_port_);
          break;
        case 'V':
          variant_ = utf16_upper (utf16_from_utf8 (arg));
          persist ("-V");
          persist (arg);
          break;
        case 'N':
          name_prefix_ = utf16_upper (utf16_from_utf8 (arg));
          persist ("-N");
          persist (arg);
          break;
        case 'B':
          // At most eight characters, as the usage text promises.
          if (std::strlen (arg) > 8 || !read_number (arg, default_min_bufsize, INT_MAX, min_bufsize_))
            {
              min_bufsize_ = default_min_bufsize;
              ACE_ERROR ((LM_ERROR, "minimum bufsize ignored - 10000 used\n"));
            }
          break;
        case 'U':
          if (set_unlimited_dialog (arg) == -1)
            {
              ACE_ERROR ((LM_ERROR, "-U value invalid\n"));
              usage (program);
            }
          break;
        case 'S':
          if (status_.add_registration (arg) != 0)
            {
              ACE_ERROR ((LM_ERROR, "-S value invalid\n"));
              usage (program);
            }
          persist ("-S");
          persist_quoted ('"', arg);
          break;
        default:
          // A lone "-i" at the end lacks its optional start type: install on demand.
          if (get_opt.opt_opt () == 'i' && get_opt.opt_ind () >= argc)
            {
              install_requested_ = 1;
              startup_type_ = 3;
              break;
            }
          usage (program);
        }
    }

  persist ("-p");
  persist_number (port_);
  if (dialog_port_ > 0)
    {
      persist ("-c");
      persist_number (dialog_port_);
    }
  if (!batch_parms_.empty ())
    {
      persist ("-b");
      persist_quoted ('\'', utf8_from_utf16 (batch_parms_).c_str ());
    }
  if (min_bufsize_ != default_min_bufsize)
    {
      persist ("-B");
      persist_number (min_bufsize_);
    }
  if (unlimited_dialog_ != u' ')
    {
      persist ("-U");
      persist ("1");
    }
}

void Platform_Options::set_log_mask ()
{
  u_long mask = ACE_LOG_MSG->priority_mask (ACE_Log_Msg::PROCESS);
  if (debug_level_ < 1)
    mask &= ~LM_WARNING;
  if (debug_level_ < 2)
    mask &= ~LM_NOTICE;
  if (debug_level_ < 3)
    mask &= ~LM_DEBUG;
  if (debug_level_ < 4)
    mask &= ~LM_TRACE;
  ACE_LOG_MSG->priority_mask (mask, ACE_Log_Msg::PROCESS);
}

std::vector<std::string> Platform_Options::registry_context_path () const
{
  return {"HKEY_LOCAL_MACHINE", "SYSTEM", "CurrentControlSet", "Services",
          utf8_from_utf16 (service_name_), "Parameters"};
}

int Platform_Options::set_registry ()
{
  if (app_parameter_.argc () == 0)
    return 0;
  Key_Store store (registry_root_);
  if (store.connect () != 0)
    ACE_ERROR_RETURN ((LM_ERROR, "%p\n", "ACE_Predefined_Naming_Contexts::connect failed"), -1);
  std::string folder;
  if (store.resolve_context (registry_context_path (), folder) != 0
      && store.bind_new_context (registry_context_path (), folder) != 0)
    ACE_ERROR_RETURN ((LM_ERROR, "%p\n",
                       "in Platform_Options::set_registry ACE_Registry::Naming_Contexts::bind/resolve_context failed"),
                      -1);
  if (store.write_value (folder, "AppParameter", utf16_from_utf8 (app_parameter_.buf ())) != 0)
    ACE_ERROR_RETURN ((LM_ERROR, "%p\n", "ACE_Registry::Naming_Contexts::bind/resolve failed"), -1);
  return 0;
}

void Platform_Options::get_registry ()
{
  Key_Store store (registry_root_);
  if (store.connect () != 0)
    {
      ACE_ERROR ((LM_ERROR, "%p\n", "ACE_Predefined_Naming_Contexts::connect failed"));
      return;
    }
  std::string folder;
  if (store.resolve_context (registry_context_path (), folder) != 0)
    {
      ACE_ERROR ((LM_ERROR, "%p\n",
                  "in Platform_Options::get_registry ACE_Registry::Naming_Contexts::bind/resolve_context failed"));
      return;
    }
  char16_t stored[registry_read_units];
  if (store.read_value (folder, "AppParameter", stored, registry_read_units) != 0)
    return;
  const std::string text = utf8_from_utf16 (stored);
  ACE_ARGV words (text.c_str ());
  parse_args (words.argc (), words.argv (), 0);
}
