#ifndef VURUDE_XML_REQUEST_DOCUMENT_H
#define VURUDE_XML_REQUEST_DOCUMENT_H

#include "acemb_input_source.h"
#include "vurude_xml_dom_parser.h"

#include <memory>
#include <string>
#include <string_view>

class ACE_Message_Block;
class Vurude_Xml_Reply_Sink;
class gettypeHandler;

// One request text of the main port, parsed as an XML request document:
// root detection over a copy of the text, then the validating parse of the
// stored prolog for that root followed by the text as received. Every
// failure is answered through the reply sink (docs/xml-requests.md).
// One object per request, on the connection's worker thread.
class Vurude_Xml_Request_Document
{
public:
  explicit Vurude_Xml_Request_Document (Vurude_Xml_Reply_Sink &replies);

  Vurude_Xml_Request_Document (const Vurude_Xml_Request_Document &) = delete;
  Vurude_Xml_Request_Document &operator= (const Vurude_Xml_Request_Document &) = delete;

  // Parses the request text held in `chain` (its read positions advance).
  // Returns 0 with the document held here, or 1: the request is finished
  // and its error replies have been sent.
  int parse (ACE_Message_Block *chain);

  // After a successful parse: the parser, which owns the document, for the
  // request object to take; and the name of the document's root element.
  std::unique_ptr<xercesc::XercesDOMParser> take_parser ();
  const std::u16string &root_name () const;

  // Root detection over one block holding the whole request text: the
  // name of its first element, or empty after an error reply. A text that
  // holds a zero byte or is not UTF-8 is refused here (its read end may
  // move back to the fault).
  std::u16string gettype (ACE_Message_Block &text);
  // The source of the validating parse: the prolog for `root` followed by
  // the chain. Switches validation on in `parser`.
  static std::unique_ptr<ACEMBInputSource> make_input_source (xercesc::XercesDOMParser &parser,
                                                              std::u16string_view root,
                                                              ACE_Message_Block *chain);

private:
  // The validating parse; 0 keeps the parser and the root name.
  int validate (ACE_Message_Block *chain, std::u16string_view root);
  // The root parse of `text`, its events and errors recorded in `handler`;
  // 1 after an error reply of its own (a DOCTYPE, a library exception).
  int find_root (ACE_Message_Block &text, gettypeHandler &handler);
  void no_tag_reply (std::string_view text);

  Vurude_Xml_Reply_Sink &replies_;
  std::unique_ptr<Vurude_Xml_Dom_Parser> parser_;
  std::u16string root_name_;
};

#endif
