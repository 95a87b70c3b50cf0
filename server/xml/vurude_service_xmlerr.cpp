#include "vurude_service_xmlerr.h"

#include "utf16_text.h"
#include "vurude_xml_reply_sink.h"

#include <xercesc/sax/SAXParseException.hpp>

#include <algorithm>

namespace
{
std::u16string number (XMLFileLoc value)
{
  return utf16_from_utf8 (std::to_string (value));
}

// Appends as much of `message` as lets the text and a final newline fit one
// error line, without leaving half of a surrogate pair behind.
std::u16string finish (std::u16string text, std::u16string_view message)
{
  const std::size_t room = Vurude_Xml_Reply_Sink::max_message_units - 1;
  if (text.size () < room)
    {
      const std::size_t kept = std::min (message.size (), room - text.size ());
      text += message.substr (0, kept);
      if (kept < message.size () && kept > 0 && text.back () >= 0xD800 && text.back () <= 0xDBFF)
        text.pop_back ();
    }
  text += u'\n';
  return text;
}
}

vurude_service_xmlerr::vurude_service_xmlerr (Vurude_Xml_Reply_Sink &replies)
  : failed (false),
    handler (replies),
    errors_ (0),
    stopped_ (false)
{
}

vurude_service_xmlerr::~vurude_service_xmlerr () = default;

void vurude_service_xmlerr::warning (const xercesc::SAXParseException &)
{
}

void vurude_service_xmlerr::error (const xercesc::SAXParseException &exception)
{
  if (stopped_)
    return;
  // A document of many faults would otherwise draw replies many times its size.
  if (++errors_ > max_error_replies)
    {
      limit_exceeded (exception.getLineNumber (), exception.getColumnNumber (),
                      u"more than " + number (max_error_replies) + u" errors, parsing stopped");
      return;
    }
  reply (u"Error", exception.getLineNumber (), exception.getColumnNumber (), exception.getMessage ());
}

void vurude_service_xmlerr::fatalError (const xercesc::SAXParseException &exception)
{
  if (stopped_)
    return;
  reply (u"Fatal Error", exception.getLineNumber (), exception.getColumnNumber (), exception.getMessage ());
}

void vurude_service_xmlerr::resetErrors ()
{
}

void vurude_service_xmlerr::limit_exceeded (XMLFileLoc line, XMLFileLoc column, std::u16string_view message)
{
  if (stopped_)
    return;
  reply (u"Fatal Error", line, column, message);
  stopped_ = true;
}

bool vurude_service_xmlerr::stopped () const
{
  return stopped_;
}

std::u16string vurude_service_xmlerr::format (std::u16string_view kind, XMLFileLoc line, XMLFileLoc column,
                                              std::u16string_view message)
{
  return finish (std::u16string (kind) + u" at line " + number (line) + u", column " + number (column)
                   + u". Message: ",
                 message);
}

std::u16string vurude_service_xmlerr::format_exception (XMLFileLoc line, std::u16string_view message)
{
  return finish (u"Error at line " + number (line) + u". Message: ", message);
}

void vurude_service_xmlerr::reply (std::u16string_view kind, XMLFileLoc line, XMLFileLoc column,
                                   std::u16string_view message)
{
  failed = true;
  handler.error_reply (format (kind, line, column, message));
}
