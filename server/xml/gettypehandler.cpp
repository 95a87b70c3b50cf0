#include "gettypehandler.h"

#include <xercesc/sax/SAXParseException.hpp>

gettypeHandler::gettypeHandler ()
  : found_ (false),
    failed_ (false),
    error_line_ (0),
    error_column_ (0)
{
}

void gettypeHandler::startElement (const XMLCh *const name, xercesc::AttributeList &)
{
  if (found_)
    return;
  root_name_ = name;
  found_ = true;
}

void gettypeHandler::error (const xercesc::SAXParseException &exception)
{
  record (exception);
}

void gettypeHandler::fatalError (const xercesc::SAXParseException &exception)
{
  record (exception);
}

void gettypeHandler::record (const xercesc::SAXParseException &exception)
{
  if (failed_)
    return;
  failed_ = true;
  error_message_ = exception.getMessage ();
  error_line_ = exception.getLineNumber ();
  error_column_ = exception.getColumnNumber ();
}

const std::u16string &gettypeHandler::root_name () const
{
  return root_name_;
}

bool gettypeHandler::found () const
{
  return found_;
}

bool gettypeHandler::failed () const
{
  return failed_;
}

const std::u16string &gettypeHandler::error_message () const
{
  return error_message_;
}

XMLFileLoc gettypeHandler::error_line () const
{
  return error_line_;
}

XMLFileLoc gettypeHandler::error_column () const
{
  return error_column_;
}
