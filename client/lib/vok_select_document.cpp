#include "vok_select_document.h"

namespace
{
Vok_Xml_Element clause (const char *name, std::string_view text)
{
  Vok_Xml_Element element (name);
  if (!text.empty ())
    element.add_text (text);
  return element;
}

Vok_Xml_Element named (const char *element_name, std::string_view name)
{
  Vok_Xml_Element element (element_name);
  element.set_attribute ("name", name);
  return element;
}
}

Vok_Select_Document::Vok_Select_Document (Vok_Select_Type select_type)
  : type (select_type)
{
}

const char *Vok_Select_Document::root_name (Vok_Select_Type select_type)
{
  switch (select_type)
    {
    case Vok_Select_Type::sselect: return "sselect";
    case Vok_Select_Type::nselect: return "nselect";
    case Vok_Select_Type::gselect: return "gselect";
    }
  return "sselect";
}

Vok_Xml_Element Vok_Select_Document::element () const
{
  Vok_Xml_Element root (root_name (type));
  const auto put_flag = [&root] (const char *name, const std::optional<bool> &value) {
    if (value)
      root.set_attribute (name, *value ? "Y" : "N");
  };
  put_flag ("batch", batch);
  if (chandle)
    root.set_attribute ("chandle", *chandle);
  put_flag ("data", data);
  if (dhandle)
    root.set_attribute ("dhandle", *dhandle);
  put_flag ("distinct", distinct);
  put_flag ("metadata", metadata);
  for (const Vok_Xml_Element &child : content)
    root.add_child (child);
  return root;
}

Vok_Status Vok_Select_Document::write (std::string &document) const
{
  return element ().write (document);
}

Vok_Xml_Element Vok_Select_Document::field (std::string_view name)
{
  return named ("field", name);
}

Vok_Xml_Element Vok_Select_Document::table (std::string_view name)
{
  return named ("table", name);
}

Vok_Xml_Element Vok_Select_Document::where (std::string_view condition)
{
  return clause ("where", condition);
}

Vok_Xml_Element Vok_Select_Document::groupby (std::string_view fields)
{
  return clause ("groupby", fields);
}

Vok_Xml_Element Vok_Select_Document::having (std::string_view condition)
{
  return clause ("having", condition);
}

Vok_Xml_Element Vok_Select_Document::orderby (std::string_view fields)
{
  return clause ("orderby", fields);
}

Vok_Xml_Element Vok_Select_Document::on (std::string_view condition)
{
  return clause ("on", condition);
}
