#ifndef VOK_CONNECT_DOCUMENT_H
#define VOK_CONNECT_DOCUMENT_H

#include "vok_status.h"
#include "vok_xml_element.h"

#include <optional>
#include <string>

// The `connect` document that logs a connection on to SAP and makes it the
// control connection of that logon. Every attribute is optional: one left
// empty (std::nullopt) is not sent, one set to "" is sent empty. The
// attributes go out in the order the server declares them.
//
//   Vok_Connect_Document logon;
//   logon.ashost = "sap.example.com";
//   logon.sysnr = "00";
//   logon.client = "100";
//   logon.user = "ANALYST";
//   logon.passwd = password;   // or xpasswd = vok_encode_password (...)
//   std::string text;
//   Vok_Status status = logon.write (text);
//
// The password travels in the document text: wipe copies of it once sent.
struct Vok_Connect_Document
{
  // Dialog function module and read report of the logon; not part of the
  // connect string.
  std::optional<std::string> abapfm;
  std::optional<std::string> abapprog;
  std::optional<std::string> ashost;
  std::optional<std::string> client;
  // A raw fragment of connect-string syntax, appended as it is.
  std::optional<std::string> cstring;
  std::optional<std::string> dest;
  std::optional<std::string> group;
  std::optional<std::string> gwhost;
  std::optional<std::string> gwserv;
  std::optional<std::string> lang;
  std::optional<std::string> mshost;
  // The password in plain text.
  std::optional<std::string> passwd;
  std::optional<std::string> r3name;
  std::optional<std::string> saplogon_id;
  // Its first character, upper-cased, is the debug flag of every request
  // of the logon.
  std::optional<std::string> vokdebug;
  std::optional<std::string> sysnr;
  // Sent as "1" or "0"; the server takes "0" when it is absent.
  std::optional<bool> trace;
  std::optional<std::string> user;
  // The password encrypted (docs/password.md).
  std::optional<std::string> xpasswd;

  Vok_Xml_Element element () const;
  // The document text; fails as Vok_Xml_Element::write does.
  Vok_Status write (std::string &document) const;
};

#endif
