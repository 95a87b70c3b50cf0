#include "vurude_v9connect_request.h"

#include "utf16_text.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>

#include <algorithm>
#include <utility>
#include <vector>

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
          if (!append (value + u" ", value + u" "))
            {
              refuse ("connect attributes too long");
              return -1;
            }
          continue;
        }
      const std::u16string quoted = connect_string_value (value);
      const std::u16string shown = name == u"passwd" ? std::u16string (u"????????") : quoted;
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
