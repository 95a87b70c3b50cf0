#ifndef VOK_XML_ELEMENT_H
#define VOK_XML_ELEMENT_H

#include "vok_status.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One XML element of a request document: a name, attributes in the order they
// were first set, and content (child elements and text) in the order it was
// added. `write` turns it into the bytes the server parses: UTF-8 without an
// XML declaration, attribute values in double quotes, every character that
// markup or the line framing could misread written as a reference, and no
// line feed anywhere, so a document always travels as one request.
//
//   Vok_Xml_Element table ("table");
//   table.set_attribute ("name", "SFLIGHT");
//   Vok_Xml_Element select ("sselect");
//   select.add_child (Vok_Xml_Element ("where").add_text ("CARRID = 'LH'")).add_child (table);
//   std::string text;
//   Vok_Status status = select.write (text);
class Vok_Xml_Element
{
public:
  // The server refuses requests of more than 64 MiB.
  static constexpr std::size_t max_document_bytes = 64 * 1024 * 1024;
  // The server refuses documents nested deeper (the root is level 1).
  static constexpr std::size_t max_depth = 64;

  explicit Vok_Xml_Element (std::string name);

  // Sets an attribute. A name set before keeps its place and takes the new
  // value. Returns this element.
  Vok_Xml_Element &set_attribute (std::string_view name, std::string_view value);
  // Appends a child element or a run of text (UTF-8). Return this element.
  Vok_Xml_Element &add_child (Vok_Xml_Element child);
  Vok_Xml_Element &add_text (std::string_view text);

  const std::string &name () const { return name_; }
  // The value of an attribute, or null when it is not set.
  const std::string *attribute (std::string_view name) const;
  const std::vector<std::pair<std::string, std::string>> &attributes () const { return attributes_; }

  // Replaces `document` with this element as a document. Fails with
  // invalid_argument, leaving `document` as it was, for a name that is not an
  // XML name, text or a value that is not UTF-8 or holds a character XML 1.0
  // cannot carry (control characters other than tab, line feed and carriage
  // return; U+FFFE, U+FFFF), or nesting deeper than max_depth; with too_long
  // for a document of more than `max_bytes`. Messages name the element
  // path, the attribute and the byte offset; they never quote a value or text.
  Vok_Status write (std::string &document, std::size_t max_bytes = max_document_bytes) const;

private:
  // A run of text in the content of its parent.
  struct Text_Tag {};
  Vok_Xml_Element (Text_Tag, std::string text);

  Vok_Status write_to (std::string &out, std::string &path, std::size_t depth, std::size_t max_bytes) const;

  std::string name_;
  std::vector<std::pair<std::string, std::string>> attributes_;
  std::vector<Vok_Xml_Element> content_;
  bool is_text_ = false;
  std::string text_;
};

#endif
