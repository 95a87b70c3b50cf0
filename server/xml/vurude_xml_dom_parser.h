#ifndef VURUDE_XML_DOM_PARSER_H
#define VURUDE_XML_DOM_PARSER_H

#include "vurude_xml_entity_refuser.h"

#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include <string>

// The DOM parser of a request document, with the defaults of the request
// parse (no namespaces, stop at the first fatal error, validation errors not
// fatal, ignorable whitespace kept) and hardened: no external DTD, entity or
// include is loaded, entity expansions are bounded. It counts what the document builds
// and notes the first bound the document passes; the parse loop then stops.
// Limits (docs/xml-requests.md): the request documents nest at most four
// elements deep and are small; the bounds leave ample room for them while
// keeping a hostile document from exhausting a worker's stack or memory.
class Vurude_Xml_Dom_Parser : public xercesc::XercesDOMParser
{
public:
  // Elements open at once, the root counted as 1.
  static constexpr XMLSize_t max_depth = 64;
  // Elements in one document.
  static constexpr XMLSize_t max_elements = 1000000;
  // UTF-16 units of one attribute value, one run of text between two
  // tags, one comment or one processing instruction.
  static constexpr XMLSize_t max_text_units = 4 * 1024 * 1024;

  Vurude_Xml_Dom_Parser ();

  // The resources refused so far.
  int refused_resources () const;

  // Whether a bound was passed; its message and where the parser was.
  bool limit_exceeded () const;
  const std::u16string &limit_message () const;
  XMLFileLoc limit_line () const;
  XMLFileLoc limit_column () const;

  // XMLDocumentHandler
  void startElement (const xercesc::XMLElementDecl &decl, const unsigned int url_id,
                     const XMLCh *const prefix, const xercesc::RefVectorOf<xercesc::XMLAttr> &attributes,
                     const XMLSize_t attribute_count, const bool is_empty, const bool is_root) override;
  void endElement (const xercesc::XMLElementDecl &decl, const unsigned int url_id, const bool is_root,
                   const XMLCh *const prefix) override;
  void docCharacters (const XMLCh *const chars, const XMLSize_t length, const bool cdata_section) override;
  void ignorableWhitespace (const XMLCh *const chars, const XMLSize_t length, const bool cdata_section) override;
  void docComment (const XMLCh *const comment) override;
  void docPI (const XMLCh *const target, const XMLCh *const data) override;

private:
  void exceeded (const std::u16string &message);
  void add_text (XMLSize_t length);

  Vurude_Xml_Entity_Refuser refuser_;
  xercesc::SecurityManager security_;
  XMLSize_t depth_;
  XMLSize_t elements_;
  XMLSize_t text_run_;
  std::u16string limit_message_;
  XMLFileLoc limit_line_;
  XMLFileLoc limit_column_;
};

#endif
