#ifndef GETTYPEHANDLER_H
#define GETTYPEHANDLER_H

#include <xercesc/framework/XMLErrorReporter.hpp>
#include <xercesc/sax/HandlerBase.hpp>

#include <string>

// Root detection: records the name of the first element of a document.
// Also the parser's error handler: a text that is not well-formed before
// its first start tag is recorded as failed instead of throwing out of the
// parse.
class gettypeHandler : public xercesc::HandlerBase
{
public:
  gettypeHandler ();

  // DocumentHandler
  // Records the name of the first element only.
  void startElement (const XMLCh *const name, xercesc::AttributeList &attributes) override;

  // ErrorHandler
  void error (const xercesc::SAXParseException &exception) override;
  void fatalError (const xercesc::SAXParseException &exception) override;

  // The first element's name; empty while none was seen.
  const std::u16string &root_name () const;
  bool found () const;
  // Whether the parser reported an error; its first message and position.
  bool failed () const;
  const std::u16string &error_message () const;
  XMLFileLoc error_line () const;
  XMLFileLoc error_column () const;

private:
  void record (const xercesc::SAXParseException &exception);

  std::u16string root_name_;
  bool found_;
  bool failed_;
  std::u16string error_message_;
  XMLFileLoc error_line_;
  XMLFileLoc error_column_;
};

#endif
