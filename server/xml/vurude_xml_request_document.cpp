#include "vurude_xml_request_document.h"

#include "gettypehandler.h"
#include "vurude_service_xmlerr.h"
#include "vurude_xml_log_text.h"
#include "vurude_xml_prologs.h"
#include "vurude_xml_reply_sink.h"
#include "vurude_xml_root_parser.h"
#include "vurude_xml_text_fault.h"

#include <ace/Log_Msg.h>
#include <ace/Message_Block.h>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include <algorithm>

namespace
{
std::size_t chain_length (const ACE_Message_Block *chain)
{
  std::size_t length = 0;
  for (const ACE_Message_Block *block = chain; block; block = block->cont ())
    length += block->length ();
  return length;
}
}

Vurude_Xml_Request_Document::Vurude_Xml_Request_Document (Vurude_Xml_Reply_Sink &replies)
  : replies_ (replies)
{
}

int Vurude_Xml_Request_Document::parse (ACE_Message_Block *chain)
{
  parser_.reset ();
  root_name_.clear ();
  std::u16string root;
  {
    // Root detection consumes what it reads; the validating parse needs
    // the received blocks untouched, so detection reads one copy.
    const std::size_t length = chain_length (chain);
    ACE_Message_Block text (length);
    if (text.size () < length)
      {
        replies_.error_reply (std::u16string_view (u"out of memory"));
        return 1;
      }
    for (const ACE_Message_Block *block = chain; block; block = block->cont ())
      text.copy (block->rd_ptr (), block->length ());
    root = gettype (text);
  }
  if (root.empty ())
    return 1;
  return validate (chain, root);
}

std::unique_ptr<xercesc::XercesDOMParser> Vurude_Xml_Request_Document::take_parser ()
{
  return std::move (parser_);
}

const std::u16string &Vurude_Xml_Request_Document::root_name () const
{
  return root_name_;
}

std::u16string Vurude_Xml_Request_Document::gettype (ACE_Message_Block &text)
{
  const std::string_view whole (text.rd_ptr (), text.length ());
  const Vurude_Xml_Text_Fault fault = find_text_fault (whole);
  // The root is looked for in the text before a fault only, so that the
  // fault's position can count the prolog of the document's type as the
  // validating parse would.
  if (fault.found ())
    text.wr_ptr (text.rd_ptr () + fault.offset);
  gettypeHandler handler;
  if (find_root (text, handler) != 0)
    return std::u16string ();
  if (fault.found ())
    {
      const std::string_view prolog = handler.found () ? prolog_for_root (handler.root_name ()) : "";
      const auto prolog_lines = static_cast<XMLFileLoc> (std::count (prolog.begin (), prolog.end (), '\n'));
      replies_.error_reply (vurude_service_xmlerr::format (u"Fatal Error", fault.line + prolog_lines, fault.column,
                                                           fault.message));
      return std::u16string ();
    }
  if (handler.found ())
    return handler.root_name ();
  if (handler.failed ())
    ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) No root element: %s at line %Q, column %Q\n",
                log_text (handler.error_message ()).c_str (), static_cast<ACE_UINT64> (handler.error_line ()),
                static_cast<ACE_UINT64> (handler.error_column ())));
  no_tag_reply (whole);
  return std::u16string ();
}

int Vurude_Xml_Request_Document::find_root (ACE_Message_Block &text, gettypeHandler &handler)
{
  try
    {
      Vurude_Xml_Root_Parser parser;
      parser.setDocumentHandler (&handler);
      parser.setErrorHandler (&handler);
      ACEMBInputSource source (&text);
      xercesc::XMLPScanToken token;
      // Only the text up to the end of the first start tag is read.
      bool more = parser.parseFirst (source, token);
      while (more && !handler.found () && !handler.failed ())
        more = parser.parseNext (token);
      // Only a parse still under way may, and must, be reset.
      if (more)
        parser.parseReset (token);
    }
  catch (const xercesc::SAXParseException &refused)
    {
      // The client's DOCTYPE (Vurude_Xml_Root_Parser).
      replies_.error_reply (vurude_service_xmlerr::format (u"Fatal Error", refused.getLineNumber (),
                                                           refused.getColumnNumber (), refused.getMessage ()));
      return 1;
    }
  catch (const xercesc::XMLException &exception)
    {
      replies_.error_reply (std::u16string_view (exception.getMessage ()));
      return 1;
    }
  catch (const xercesc::OutOfMemoryException &)
    {
      replies_.error_reply (std::u16string_view (u"out of memory"));
      return 1;
    }
  return 0;
}

void Vurude_Xml_Request_Document::no_tag_reply (std::string_view text)
{
  static constexpr std::string_view head = "no valid XML tag found in \"";
  static constexpr std::string_view tail = "\".";
  // A long text is cut at a character boundary so the line keeps its
  // closing quote. The text holds no zero byte: that is a fault of its own.
  const std::size_t room = Vurude_Xml_Reply_Sink::max_message_units - head.size () - tail.size ();
  if (text.size () > room)
    {
      std::size_t cut = room;
      while (cut > 0 && (static_cast<unsigned char> (text[cut]) & 0xC0) == 0x80)
        --cut;
      text = text.substr (0, cut);
    }
  std::string message;
  message.reserve (head.size () + text.size () + tail.size ());
  message += head;
  message += text;
  message += tail;
  replies_.error_reply (std::string_view (message));
}

std::unique_ptr<ACEMBInputSource> Vurude_Xml_Request_Document::make_input_source (
  xercesc::XercesDOMParser &parser, std::u16string_view root, ACE_Message_Block *chain)
{
  std::unique_ptr<ACEMBInputSource> source (new ACEMBInputSource (chain, prolog_for_root (root)));
  parser.setValidationScheme (xercesc::XercesDOMParser::Val_Always);
  return source;
}

int Vurude_Xml_Request_Document::validate (ACE_Message_Block *chain, std::u16string_view root)
{
  vurude_service_xmlerr errors (replies_);
  std::unique_ptr<Vurude_Xml_Dom_Parser> parser;
  bool failed = false;
  try
    {
      parser.reset (new Vurude_Xml_Dom_Parser);
      std::unique_ptr<ACEMBInputSource> source = make_input_source (*parser, root, chain);
      parser->setErrorHandler (&errors);
      xercesc::XMLPScanToken token;
      bool more = parser->parseFirst (*source, token);
      while (more && !errors.stopped () && !parser->limit_exceeded ())
        more = parser->parseNext (token);
      if (parser->limit_exceeded ())
        errors.limit_exceeded (parser->limit_line (), parser->limit_column (), parser->limit_message ());
      if (more)
        parser->parseReset (token);
    }
  catch (const xercesc::XMLException &exception)
    {
      replies_.error_reply (vurude_service_xmlerr::format_exception (exception.getSrcLine (),
                                                                     exception.getMessage ()));
      failed = true;
    }
  catch (const xercesc::OutOfMemoryException &)
    {
      replies_.error_reply (vurude_service_xmlerr::format_exception (0, u"out of memory"));
      failed = true;
    }
  if (failed || errors.failed)
    return 1;
  // The error handler is a local of this parse; the parser lives on.
  parser->setErrorHandler (nullptr);
  xercesc::DOMDocument *document = parser->getDocument ();
  const xercesc::DOMElement *element = document ? document->getDocumentElement () : nullptr;
  if (!element)
    {
      errors.limit_exceeded (0, 0, u"no root element");
      return 1;
    }
  root_name_ = element->getTagName ();
  parser_ = std::move (parser);
  return 0;
}
