#include "vok_xml_element.h"

namespace
{
bool is_name_start (char c)
{
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
}

bool is_name_char (char c)
{
  return is_name_start (c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Request documents use ASCII names only; the check keeps to that subset of
// the XML Name production.
bool is_xml_name (std::string_view name)
{
  if (name.empty () || !is_name_start (name[0]))
    return false;
  for (char c : name)
    if (!is_name_char (c))
      return false;
  return true;
}

// Length of the UTF-8 sequence at text[k] when it is well-formed (shortest
// form, no surrogate, at most U+10FFFF), else 0; `code` receives its value.
std::size_t utf8_sequence (std::string_view text, std::size_t k, char32_t &code)
{
  const auto byte = [&] (std::size_t i) { return static_cast<unsigned char> (text[i]); };
  const unsigned char lead = byte (k);
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2, code = lead & 0x1F;
  else if (lead >= 0xE0 && lead <= 0xEF)
    {
      length = 3, code = lead & 0x0F;
      if (lead == 0xE0)
        low = 0xA0;
      else if (lead == 0xED)
        high = 0x9F;
    }
  else if (lead >= 0xF0 && lead <= 0xF4)
    {
      length = 4, code = lead & 0x07;
      if (lead == 0xF0)
        low = 0x90;
      else if (lead == 0xF4)
        high = 0x8F;
    }
  else
    return 0;
  if (k + length > text.size ())
    return 0;
  for (std::size_t i = 1; i < length; ++i)
    {
      const unsigned char next = byte (k + i);
      if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
        return 0;
      code = (code << 6) | (next & 0x3F);
    }
  return length;
}

// Appends `text` as attribute value (`in_attribute`) or character data.
// Line feeds and carriage returns always become references: the parser would
// normalise them, and a line feed could end the request on the wire. Tabs in
// values too, which the parser would turn into blanks. Returns null, or what
// is wrong with the byte at `offset`.
const char *append_escaped (std::string &out, std::string_view text, bool in_attribute, std::size_t &offset)
{
  for (std::size_t k = 0; k < text.size ();)
    {
      const char c = text[k];
      if (static_cast<unsigned char> (c) < 0x80)
        {
          switch (c)
            {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            case '\n': out += "&#10;"; break;
            case '\r': out += "&#13;"; break;
            case '\t':
              if (in_attribute)
                out += "&#9;";
              else
                out += c;
              break;
            default:
              if (static_cast<unsigned char> (c) < 0x20)
                {
                  offset = k;
                  return "a control character";
                }
              out += c;
            }
          ++k;
          continue;
        }
      char32_t code = 0;
      const std::size_t length = utf8_sequence (text, k, code);
      if (length == 0)
        {
          offset = k;
          return "invalid UTF-8";
        }
      if (code == 0xFFFE || code == 0xFFFF)
        {
          offset = k;
          return "a non-character (U+FFFE or U+FFFF)";
        }
      out.append (text.substr (k, length));
      k += length;
    }
  return nullptr;
}

Vok_Status invalid (std::string message)
{
  return {Vok_Result::invalid_argument, std::move (message)};
}
}

Vok_Xml_Element::Vok_Xml_Element (std::string name)
  : name_ (std::move (name))
{
}

Vok_Xml_Element::Vok_Xml_Element (Text_Tag, std::string text)
  : is_text_ (true), text_ (std::move (text))
{
}

Vok_Xml_Element &Vok_Xml_Element::set_attribute (std::string_view name, std::string_view value)
{
  for (auto &[existing, old_value] : attributes_)
    if (existing == name)
      {
        old_value = value;
        return *this;
      }
  attributes_.emplace_back (name, value);
  return *this;
}

Vok_Xml_Element &Vok_Xml_Element::add_child (Vok_Xml_Element child)
{
  content_.push_back (std::move (child));
  return *this;
}

Vok_Xml_Element &Vok_Xml_Element::add_text (std::string_view text)
{
  content_.push_back (Vok_Xml_Element (Text_Tag {}, std::string (text)));
  return *this;
}

const std::string *Vok_Xml_Element::attribute (std::string_view name) const
{
  for (const auto &[existing, value] : attributes_)
    if (existing == name)
      return &value;
  return nullptr;
}

Vok_Status Vok_Xml_Element::write (std::string &document, std::size_t max_bytes) const
{
  std::string out;
  std::string path;
  if (Vok_Status status = write_to (out, path, 1, max_bytes); !status.ok ())
    return status;
  document.swap (out);
  return {};
}

Vok_Status Vok_Xml_Element::write_to (std::string &out, std::string &path, std::size_t depth,
                                      std::size_t max_bytes) const
{
  std::size_t offset = 0;
  if (is_text_)
    {
      if (const char *problem = append_escaped (out, text_, false, offset))
        return invalid ("the text of " + path + " holds " + problem + " at byte " + std::to_string (offset));
    }
  else
    {
      if (!is_xml_name (name_))
        return invalid ("the element name \"" + name_ + "\"" + (path.empty () ? "" : " in " + path)
                        + " is not an XML name");
      const std::size_t path_length = path.size ();
      path += "<" + name_ + ">";
      if (depth > max_depth)
        return invalid (path + " is nested deeper than " + std::to_string (max_depth) + " levels");
      out += '<';
      out += name_;
      for (const auto &[name, value] : attributes_)
        {
          if (!is_xml_name (name))
            return invalid ("the attribute name \"" + name + "\" of " + path + " is not an XML name");
          out += ' ';
          out += name;
          out += "=\"";
          if (const char *problem = append_escaped (out, value, true, offset))
            return invalid ("the value of attribute \"" + name + "\" of " + path + " holds " + problem
                            + " at byte " + std::to_string (offset));
          out += '"';
        }
      if (content_.empty ())
        out += "/>";
      else
        {
          out += '>';
          for (const Vok_Xml_Element &item : content_)
            if (Vok_Status status = item.write_to (out, path, depth + 1, max_bytes); !status.ok ())
              return status;
          out += "</";
          out += name_;
          out += '>';
        }
      path.resize (path_length);
    }
  if (out.size () > max_bytes)
    return {Vok_Result::too_long, "the document is longer than " + std::to_string (max_bytes) + " bytes"};
  return {};
}
