#include "vurude_xml_entity_refuser.h"

#include "vurude_xml_log_text.h"

#include <ace/Log_Msg.h>

#include <string>
#include <string_view>

Vurude_Xml_Entity_Refuser::Vurude_Xml_Entity_Refuser ()
  : refused_ (0)
{
}

xercesc::InputSource *Vurude_Xml_Entity_Refuser::resolveEntity (const XMLCh *const public_id,
                                                                const XMLCh *const system_id)
{
  ++refused_;
  const XMLCh *id = system_id && *system_id ? system_id : public_id;
  // Identifiers come from the client.
  const std::string text = log_text (std::u16string_view (id ? id : u""));
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) External XML resource refused: \"%s\"\n", text.c_str ()));
  return nullptr;
}

int Vurude_Xml_Entity_Refuser::refused () const
{
  return refused_;
}
