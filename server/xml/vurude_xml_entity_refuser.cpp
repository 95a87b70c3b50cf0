#include "vurude_xml_entity_refuser.h"

#include "utf16_text.h"

#include <ace/Log_Msg.h>

#include <string>
#include <string_view>

namespace
{
// Identifiers come from the client: only their start goes to the log.
constexpr std::size_t logged_units = 200;
}

Vurude_Xml_Entity_Refuser::Vurude_Xml_Entity_Refuser ()
  : refused_ (0)
{
}

xercesc::InputSource *Vurude_Xml_Entity_Refuser::resolveEntity (const XMLCh *const public_id,
                                                                const XMLCh *const system_id)
{
  ++refused_;
  const XMLCh *id = system_id && *system_id ? system_id : public_id;
  const std::string text = utf8_from_utf16 (std::u16string_view (id ? id : u"").substr (0, logged_units));
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) External XML resource refused: \"%s\"\n", text.c_str ()));
  return nullptr;
}

int Vurude_Xml_Entity_Refuser::refused () const
{
  return refused_;
}
