#ifndef VURUDE_XML_ROOT_PARSER_H
#define VURUDE_XML_ROOT_PARSER_H

#include "vurude_xml_entity_refuser.h"

#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/SecurityManager.hpp>

// The SAX parser of root detection, hardened as the validating parser is
// (no external DTD, entity or schema is loaded, entity expansions are
// bounded), and refusing a document type declaration in the client's text.
// A client never needs one: the server supplies the prolog, so a client's
// DOCTYPE always fails the validating parse. Yet its internal subset can
// declare entities whose expansion in the first start tag takes memory and
// time many thousand times the request's size, and parameter entities that
// keep the scanner busy inside the subset itself; so the parse stops at the
// declaration, before the subset is read.
class Vurude_Xml_Root_Parser : public xercesc::SAXParser
{
public:
  static constexpr const char16_t *doctype_message = u"DOCTYPE declaration not allowed in a request";

  Vurude_Xml_Root_Parser ();

  // DocTypeHandler
  // Ends the parse with a SAXParseException of `doctype_message` where the
  // parser is: the parser offers a handler no other way to stop it.
  void doctypeDecl (const xercesc::DTDElementDecl &decl, const XMLCh *const public_id,
                    const XMLCh *const system_id, const bool has_internal_subset,
                    const bool has_external_subset = false) override;

private:
  Vurude_Xml_Entity_Refuser refuser_;
  xercesc::SecurityManager security_;
  // The scanner reports the DOCTYPE only while a DTD handler is installed.
  xercesc::HandlerBase dtd_events_;
};

#endif
