#include "vok_connect_document.h"

Vok_Xml_Element Vok_Connect_Document::element () const
{
  Vok_Xml_Element root ("connect");
  const auto put = [&root] (const char *name, const std::optional<std::string> &value) {
    if (value)
      root.set_attribute (name, *value);
  };
  put ("abapfm", abapfm);
  put ("abapprog", abapprog);
  put ("ashost", ashost);
  put ("client", client);
  put ("cstring", cstring);
  put ("dest", dest);
  put ("group", group);
  put ("gwhost", gwhost);
  put ("gwserv", gwserv);
  put ("lang", lang);
  put ("mshost", mshost);
  put ("passwd", passwd);
  put ("r3name", r3name);
  put ("saplogon_id", saplogon_id);
  put ("vokdebug", vokdebug);
  put ("sysnr", sysnr);
  if (trace)
    root.set_attribute ("trace", *trace ? "1" : "0");
  put ("user", user);
  put ("xpasswd", xpasswd);
  return root;
}

Vok_Status Vok_Connect_Document::write (std::string &document) const
{
  return element ().write (document);
}
