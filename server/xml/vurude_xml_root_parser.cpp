#include "vurude_xml_root_parser.h"

#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/SAXParseException.hpp>

Vurude_Xml_Root_Parser::Vurude_Xml_Root_Parser ()
{
  setDoNamespaces (false);
  setDoSchema (false);
  setLoadSchema (false);
  setLoadExternalDTD (false);
  setDisableDefaultEntityResolution (true);
  setEntityResolver (&refuser_);
  setSecurityManager (&security_);
  setDTDHandler (&dtd_events_);
}

void Vurude_Xml_Root_Parser::doctypeDecl (const xercesc::DTDElementDecl &, const XMLCh *const,
                                          const XMLCh *const, const bool, const bool)
{
  throw xercesc::SAXParseException (doctype_message, *getScanner ().getLocator ());
}
