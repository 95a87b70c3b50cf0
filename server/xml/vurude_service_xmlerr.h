#ifndef VURUDE_SERVICE_XMLERR_H
#define VURUDE_SERVICE_XMLERR_H

#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/util/XercesDefs.hpp>

#include <string>
#include <string_view>

class Vurude_Xml_Reply_Sink;

// The error handler of the validating parse: one error reply for each error
// and fatal error, in document order. Warnings are ignored.
class vurude_service_xmlerr : public xercesc::ErrorHandler
{
public:
  // Replies a document may draw; the next error ends its parse.
  static constexpr int max_error_replies = 100;

  explicit vurude_service_xmlerr (Vurude_Xml_Reply_Sink &replies);
  ~vurude_service_xmlerr () override;

  // ErrorHandler
  void warning (const xercesc::SAXParseException &exception) override;
  // "Error at line %d, column %d. Message: %s\n"; sets failed.
  void error (const xercesc::SAXParseException &exception) override;
  // "Fatal Error at line %d, column %d. Message: %s\n"; sets failed.
  void fatalError (const xercesc::SAXParseException &exception) override;
  void resetErrors () override;

  // A bound of the parse was passed at this position: one fatal-error
  // reply with `message`; sets failed and stopped.
  void limit_exceeded (XMLFileLoc line, XMLFileLoc column, std::u16string_view message);
  // Whether the parse must stop before the end of the document.
  bool stopped () const;

  // "<kind> at line %d, column %d. Message: %s\n", the message cut so the
  // whole text, its final newline included, fits one error line.
  static std::u16string format (std::u16string_view kind, XMLFileLoc line, XMLFileLoc column,
                                std::u16string_view message);
  // "Error at line %d. Message: %s\n" for an exception out of a parse,
  // with the line the exception carries; cut as above.
  static std::u16string format_exception (XMLFileLoc line, std::u16string_view message);

  bool failed;
  Vurude_Xml_Reply_Sink &handler;

private:
  void reply (std::u16string_view kind, XMLFileLoc line, XMLFileLoc column, std::u16string_view message);

  int errors_;
  bool stopped_;
};

#endif
