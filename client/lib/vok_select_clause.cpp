#include "vok_select_clause.h"

namespace
{
// UTF-16 units of the UTF-8 sequence that begins with `lead`: 0 for a
// continuation byte, 2 for a four-byte sequence, else 1.
std::size_t units_of (unsigned char lead)
{
  if ((lead & 0xC0) == 0x80)
    return 0;
  return lead >= 0xF0 ? 2 : 1;
}
}

Vok_Status vok_split_clause (std::string_view text, std::vector<std::string> &pieces, std::size_t max_characters)
{
  pieces.clear ();
  // units[i]: UTF-16 units of text[0..i); cut[i]: a cut may go before byte i.
  std::vector<std::size_t> units (text.size () + 1, 0);
  std::vector<bool> cut (text.size (), false);
  char quote = 0;
  for (std::size_t i = 0; i < text.size (); ++i)
    {
      const char c = text[i];
      if (quote == 0 && c == ' ')
        cut[i] = true;
      if (c == '\'' || c == '`')
        {
          if (quote == 0)
            quote = c;
          else if (quote == c)
            quote = 0;
        }
      units[i + 1] = units[i] + units_of (static_cast<unsigned char> (c));
    }

  std::size_t start = 0;
  while (units[text.size ()] - units[start] > max_characters)
    {
      // The last cut within reach; a piece holds more than its leading blank.
      std::size_t end = start;
      for (std::size_t i = start + 1; i < text.size () && units[i] - units[start] <= max_characters; ++i)
        if (cut[i])
          end = i;
      if (end == start)
        {
          std::size_t next = start + 1;
          while (next < text.size () && !cut[next])
            ++next;
          pieces.clear ();
          return {Vok_Result::invalid_argument,
                  "the clause cannot be cut into pieces of at most " + std::to_string (max_characters)
                    + " characters: from byte " + std::to_string (start) + " on, "
                    + std::to_string (units[next] - units[start])
                    + " characters follow without a blank outside a literal"};
        }
      pieces.emplace_back (text.substr (start, end - start));
      start = end;
    }
  pieces.emplace_back (text.substr (start));
  return {};
}
