#include "vok_function_document.h"

#include "vok_base64.h"

#include <string_view>

namespace
{
const char *flag (bool value)
{
  return value ? "Y" : "N";
}

Vok_Xml_Element parameter (std::string_view name, std::size_t intlen, Vok_Value_Type type, const char *paramclass)
{
  Vok_Xml_Element element ("parameter");
  element.set_attribute ("intlen", std::to_string (intlen));
  element.set_attribute ("name", name);
  element.set_attribute ("type", type == Vok_Value_Type::character ? "C" : "B");
  element.set_attribute ("paramclass", paramclass);
  return element;
}

Vok_Xml_Element named (const char *element_name, std::string_view name)
{
  Vok_Xml_Element element (element_name);
  element.set_attribute ("name", name);
  return element;
}
}

Vok_Xml_Element Vok_Function_Document::element () const
{
  Vok_Xml_Element root ("function");
  if (chandle)
    root.set_attribute ("chandle", *chandle);
  if (data)
    root.set_attribute ("data", flag (*data));
  if (dhandle)
    root.set_attribute ("dhandle", *dhandle);
  if (metadata)
    root.set_attribute ("metadata", flag (*metadata));
  if (name)
    root.set_attribute ("name", *name);
  if (persist)
    root.set_attribute ("persist", std::string_view (&*persist, 1));
  for (const Vok_Xml_Element &child : content)
    root.add_child (child);
  return root;
}

Vok_Status Vok_Function_Document::write (std::string &document) const
{
  if (persist && std::string_view ("cCnNyY").find (*persist) == std::string_view::npos)
    return {Vok_Result::invalid_argument, "persist must be one of c, C, n, N, y, Y"};
  return element ().write (document);
}

Vok_Xml_Element Vok_Function_Document::importing (std::string_view name, std::size_t intlen, Vok_Value_Type type)
{
  return parameter (name, intlen, type, "I");
}

Vok_Xml_Element Vok_Function_Document::exporting (std::string_view name, std::size_t intlen,
                                                  std::string_view value, Vok_Value_Type type)
{
  return parameter (name, intlen, type, "E").add_child (line (value));
}

Vok_Xml_Element Vok_Function_Document::table (std::string_view name, std::size_t intlen)
{
  Vok_Xml_Element element ("table");
  element.set_attribute ("intlen", std::to_string (intlen));
  element.set_attribute ("name", name);
  return element;
}

Vok_Xml_Element Vok_Function_Document::field (std::string_view name, char type, std::size_t len, std::size_t offset)
{
  Vok_Xml_Element element ("field");
  element.set_attribute ("name", name);
  element.set_attribute ("type", std::string_view (&type, 1));
  element.set_attribute ("len", std::to_string (len));
  element.set_attribute ("offset", std::to_string (offset));
  return element;
}

Vok_Xml_Element Vok_Function_Document::line (std::string_view bytes)
{
  // Whole groups of three bytes per piece, so that only the last piece is padded.
  constexpr std::size_t piece_bytes = max_d_bytes / 4 * 3;
  Vok_Xml_Element element ("i");
  do
    {
      const std::string_view piece = bytes.substr (0, piece_bytes);
      element.add_child (Vok_Xml_Element ("d").add_text (vok_base64_encode (piece)));
      bytes.remove_prefix (piece.size ());
    }
  while (!bytes.empty ());
  return element;
}

Vok_Xml_Element Vok_Function_Document::callback (std::string_view name)
{
  return named ("callback", name);
}

Vok_Xml_Element Vok_Function_Document::exception (std::string_view name)
{
  return named ("exception", name);
}
