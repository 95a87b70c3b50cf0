#include "vurude_xml_dom_parser.h"

#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/XMLString.hpp>

#include <string>

namespace
{
std::u16string number (XMLSize_t value)
{
  const std::string digits = std::to_string (value);
  return std::u16string (digits.begin (), digits.end ());
}
}

Vurude_Xml_Dom_Parser::Vurude_Xml_Dom_Parser ()
  : depth_ (0),
    elements_ (0),
    text_run_ (0),
    limit_line_ (0),
    limit_column_ (0)
{
  setDoNamespaces (false);
  setDoSchema (false);
  setLoadSchema (false);
  setDoXInclude (false);
  setLoadExternalDTD (false);
  setDisableDefaultEntityResolution (true);
  setEntityResolver (&refuser_);
  setSecurityManager (&security_);
}

int Vurude_Xml_Dom_Parser::refused_resources () const
{
  return refuser_.refused ();
}

bool Vurude_Xml_Dom_Parser::limit_exceeded () const
{
  return !limit_message_.empty ();
}

const std::u16string &Vurude_Xml_Dom_Parser::limit_message () const
{
  return limit_message_;
}

XMLFileLoc Vurude_Xml_Dom_Parser::limit_line () const
{
  return limit_line_;
}

XMLFileLoc Vurude_Xml_Dom_Parser::limit_column () const
{
  return limit_column_;
}

void Vurude_Xml_Dom_Parser::exceeded (const std::u16string &message)
{
  if (limit_exceeded ())
    return;
  limit_message_ = message;
  const xercesc::Locator *where = getScanner ()->getLocator ();
  limit_line_ = where->getLineNumber ();
  limit_column_ = where->getColumnNumber ();
}

void Vurude_Xml_Dom_Parser::add_text (XMLSize_t length)
{
  text_run_ += length;
  if (text_run_ > max_text_units)
    exceeded (u"text longer than " + number (max_text_units) + u" characters");
}

void Vurude_Xml_Dom_Parser::startElement (const xercesc::XMLElementDecl &decl, const unsigned int url_id,
                                          const XMLCh *const prefix,
                                          const xercesc::RefVectorOf<xercesc::XMLAttr> &attributes,
                                          const XMLSize_t attribute_count, const bool is_empty,
                                          const bool is_root)
{
  XercesDOMParser::startElement (decl, url_id, prefix, attributes, attribute_count, is_empty, is_root);
  text_run_ = 0;
  if (++elements_ > max_elements)
    exceeded (u"more than " + number (max_elements) + u" elements");
  if (depth_ + 1 > max_depth)
    exceeded (u"elements nested deeper than " + number (max_depth) + u" levels");
  if (!is_empty)
    ++depth_;
  for (XMLSize_t k = 0; k < attribute_count; ++k)
    if (xercesc::XMLString::stringLen (attributes.elementAt (k)->getValue ()) > max_text_units)
      exceeded (u"attribute value longer than " + number (max_text_units) + u" characters");
}

void Vurude_Xml_Dom_Parser::endElement (const xercesc::XMLElementDecl &decl, const unsigned int url_id,
                                        const bool is_root, const XMLCh *const prefix)
{
  XercesDOMParser::endElement (decl, url_id, is_root, prefix);
  text_run_ = 0;
  if (depth_ > 0)
    --depth_;
}

void Vurude_Xml_Dom_Parser::docCharacters (const XMLCh *const chars, const XMLSize_t length,
                                           const bool cdata_section)
{
  XercesDOMParser::docCharacters (chars, length, cdata_section);
  add_text (length);
}

void Vurude_Xml_Dom_Parser::ignorableWhitespace (const XMLCh *const chars, const XMLSize_t length,
                                                 const bool cdata_section)
{
  XercesDOMParser::ignorableWhitespace (chars, length, cdata_section);
  add_text (length);
}

void Vurude_Xml_Dom_Parser::docComment (const XMLCh *const comment)
{
  XercesDOMParser::docComment (comment);
  text_run_ = 0;
  add_text (xercesc::XMLString::stringLen (comment));
}

void Vurude_Xml_Dom_Parser::docPI (const XMLCh *const target, const XMLCh *const data)
{
  XercesDOMParser::docPI (target, data);
  text_run_ = 0;
  add_text (xercesc::XMLString::stringLen (data));
}
