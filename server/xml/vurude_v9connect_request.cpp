#include "vurude_v9connect_request.h"

#include "utf16_text.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>

#include <algorithm>
#include <utility>
#include <vector>

namespace
{
constexpr std::u16string_view hidden = u"????????";

// Values the log copy hides: that of the password key the RFC library
// reads, in any case as the library compares keys; for a client that
// misspells it, that of every other key naming a password; and a host given
// as a router string, which may carry a router password.
bool is_hidden (std::u16string_view key, std::u16string_view value)
{
  std::u16string lower (key);
  for (char16_t &c : lower)
    if (c >= u'A' && c <= u'Z')
      c = static_cast<char16_t> (c + (u'a' - u'A'));
  if (lower.find (u"passw") != std::u16string::npos || lower.find (u"pwd") != std::u16string::npos)
    return true;
  return (lower == u"ashost" || lower == u"gwhost" || lower == u"mshost") && value.find (u'/') != std::u16string::npos;
}

// Key characters and blanks as the RFC library reads a connect string.
bool is_key_char (char16_t c)
{
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

bool is_blank (char16_t c)
{
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// The log copy of a raw connect-string fragment, with every value that
// is_hidden names hidden. The fragment is read as the library reads a connect
// string: name=value pairs, each value either quoted (a doubled quote stands
// for one) and followed by a blank, or running up to the next blank. A
// fragment that does not read that way is hidden as a whole: what the
// library would take for a password in it cannot be told.
std::u16string masked_fragment (std::u16string_view text)
{
  std::u16string shown;
  std::size_t i = 0;
  while (i < text.size ())
    {
      if (is_blank (text[i]))
        {
          shown += text[i++];
          continue;
        }
      const std::size_t key_start = i;
      while (i < text.size () && is_key_char (text[i]))
        ++i;
      if (i == key_start || i >= text.size () || text[i] != u'=')
        return std::u16string (hidden);
      const std::u16string_view key = text.substr (key_start, i - key_start);
      const std::size_t value_start = ++i;
      const bool quoted = i < text.size () && text[i] == u'"';
      if (quoted)
        {
          bool closed = false;
          for (++i; i < text.size () && !closed; ++i)
            if (text[i] == u'"')
              {
                if (i + 1 < text.size () && text[i + 1] == u'"')
                  ++i;
                else
                  closed = true;
              }
          if (!closed || (i < text.size () && !is_blank (text[i])))
            return std::u16string (hidden);
        }
      else
        while (i < text.size () && !is_blank (text[i]))
          ++i;
      shown.append (text.substr (key_start, value_start - key_start));
      if (!is_hidden (key, text.substr (value_start, i - value_start)))
        shown.append (text.substr (value_start, i - value_start));
      else if (quoted)
        shown.append (u"\"").append (hidden).append (u"\"");
      else
        shown.append (hidden);
    }
  return shown;
}
}

int Vurude_V9connect_Request::parse_attributes ()
{
  chandle_handler = handler;
  connect_string[0] = 0;
  log_connect_string[0] = 0;

  // The pairs go in ascending order of attribute name, defaulted ones
  // included, whatever order the client wrote them in.
  std::vector<std::pair<std::u16string, std::u16string>> attributes;
  if (xercesc::DOMNamedNodeMap *map = root ? root->getAttributes () : nullptr)
    for (XMLSize_t i = 0; i < map->getLength (); ++i)
      {
        const xercesc::DOMNode *node = map->item (i);
        attributes.emplace_back (node->getNodeName (), node->getNodeValue ());
      }
  std::sort (attributes.begin (), attributes.end ());

  for (const auto &[name, value] : attributes)
    {
      if (name == u"xpasswd")
        {
          if (value.empty ())
            {
              refuse ("invalid encrypted password");
              return -1;
            }
          encrypted_password = std::make_unique<std::u16string> (utf16_cut_at_blank (value));
          continue;
        }
      if (name == u"abapfm" || name == u"abapprog" || name == u"vokdebug")
        continue;
      if (name == u"cstring")
        {
          if (!append (value + u" ", masked_fragment (value) + u" "))
            {
              refuse ("connect attributes too long");
              return -1;
            }
          continue;
        }
      const std::u16string quoted = connect_string_value (value);
      const std::u16string shown = is_hidden (name, value) ? std::u16string (hidden) : quoted;
      const bool fits = append (name + u"=\"" + quoted + u"\" ", name + u"=\"" + shown + u"\" ");
      if (!fits)
        {
          refuse ("connect attributes too long");
          return -1;
        }
    }
  grp_handler = &Vurude_Base_Request::handle_grpconn;
  return 0;
}

void Vurude_V9connect_Request::refuse (const char *reason)
{
  // A refused logon must not serve other connections as one.
  connect_string[0] = 0;
  log_connect_string[0] = 0;
  encrypted_password.reset ();
  send_error_line (reason);
}

bool Vurude_V9connect_Request::append (std::u16string_view text, std::u16string_view log_text)
{
  const std::size_t used = utf16_length (connect_string, connect_string_units);
  const std::size_t log_used = utf16_length (log_connect_string, connect_string_units);
  if (used + text.size () >= connect_string_units || log_used + log_text.size () >= connect_string_units)
    return false;
  utf16_copy (connect_string + used, connect_string_units - used, text);
  utf16_copy (log_connect_string + log_used, connect_string_units - log_used, log_text);
  return true;
}
