#include "vok_greeting.h"

namespace
{
// Handles are quoted in requests and in blank-separated commands: a blank or
// a control character in one could not be quoted back.
bool is_handle_text (std::string_view text)
{
  for (unsigned char c : text)
    if (c <= ' ' || c == 0x7F)
      return false;
  return true;
}

std::string_view trim_trailing_blanks (std::string_view text)
{
  const std::size_t end = text.find_last_not_of (' ');
  return end == std::string_view::npos ? std::string_view () : text.substr (0, end + 1);
}

// The greeting with unprintable bytes shown as \xNN, cut to a readable length.
std::string quoted (std::string_view text)
{
  static const char digits[] = "0123456789ABCDEF";
  constexpr std::size_t shown = 80;
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size () && i < shown; ++i)
    {
      const auto c = static_cast<unsigned char> (text[i]);
      if (c >= ' ' && c < 0x7F)
        out += static_cast<char> (c);
      else if (c == '\n')
        out += "\\n";
      else
        {
          out += "\\x";
          out += digits[c >> 4];
          out += digits[c & 0xF];
        }
    }
  if (text.size () > shown)
    out += "...";
  return out + "\"";
}

Vok_Status bad (const std::string &what, std::string_view line)
{
  return {Vok_Result::bad_greeting, what + ": " + quoted (line)};
}
}

std::size_t Vok_Greeting::max_bytes (Vok_Greeting_Form form)
{
  return form == Vok_Greeting_Form::padded ? padded_bytes : handle_prefix.size () + max_handle_bytes + 1;
}

Vok_Status Vok_Greeting::parse (std::string_view line, Vok_Greeting_Form form, std::string &handle)
{
  handle.clear ();
  if (line.empty () || line.back () != '\n')
    return bad ("the greeting does not end with a line feed", line);
  std::string_view text = line.substr (0, line.size () - 1);

  if (form == Vok_Greeting_Form::padded)
    {
      if (line.size () != padded_bytes)
        return bad ("the greeting is " + std::to_string (line.size ()) + " bytes long, not "
                      + std::to_string (padded_bytes), line);
    }
  else
    {
      if (!text.starts_with (handle_prefix))
        return bad ("the greeting does not begin with \"HANDLE \"", line);
      text.remove_prefix (handle_prefix.size ());
      if (text.size () > max_handle_bytes)
        return bad ("the handle is longer than " + std::to_string (max_handle_bytes) + " bytes", line);
    }

  const std::string_view name = trim_trailing_blanks (text);
  if (name.empty ())
    return bad ("the greeting holds no handle", line);
  if (!is_handle_text (name))
    return bad ("the handle holds a blank or a control character", line);
  handle.assign (name);
  return {};
}
