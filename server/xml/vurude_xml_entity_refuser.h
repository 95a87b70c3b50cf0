#ifndef VURUDE_XML_ENTITY_REFUSER_H
#define VURUDE_XML_ENTITY_REFUSER_H

#include <xercesc/sax/EntityResolver.hpp>

// Client XML is hostile: no external entity, DTD or include it names is
// ever opened. Installed on a parser whose default entity resolution is
// disabled, so refusing leaves the entity unresolved (a parse error).
class Vurude_Xml_Entity_Refuser : public xercesc::EntityResolver
{
public:
  Vurude_Xml_Entity_Refuser ();

  // EntityResolver
  // Logs the refused identifier; always null.
  xercesc::InputSource *resolveEntity (const XMLCh *const public_id, const XMLCh *const system_id) override;

  // How many resources were refused.
  int refused () const;

private:
  int refused_;
};

#endif
