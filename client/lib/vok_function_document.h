#ifndef VOK_FUNCTION_DOCUMENT_H
#define VOK_FUNCTION_DOCUMENT_H

#include "vok_status.h"
#include "vok_xml_element.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How the server hands a parameter value to the function module.
enum class Vok_Value_Type
{
  bytes,     // "B": raw bytes (the server's default)
  character  // "C": character data
};

// The `function` document: calls an RFC function module of the logon named
// by `chandle`. With `data` false (or absent) the logon's dialog module runs
// the call; with `data` true the server calls the module `name` itself with
// the parameters and tables in `content`, answers with "D,..." lines and
// "EOF" and writes the values to the connection `dhandle`.
//
//   Vok_Function_Document call;
//   call.chandle = control.handle ();
//   call.dhandle = data.handle ();
//   call.data = true;
//   call.name = "RFC_READ_TEXT";
//   call.content.push_back (Vok_Function_Document::exporting ("ID", 4, "ST  "));
//   call.content.push_back (Vok_Function_Document::importing ("LINES", 132));
//
// Optional root attributes left empty are not sent; flags go out as "Y" or
// "N". The helpers make the child elements with their required attributes;
// optional ones (a table's `inputonly` and `structure`, a field's `len2`,
// `offset2`, `dec`, ...) are set on the element they return.
struct Vok_Function_Document
{
  // Base64 text of one `d` element, at most: the server bounds a run of
  // text, and smaller pieces keep its buffers small.
  static constexpr std::size_t max_d_bytes = 49152;

  std::optional<std::string> chandle;
  std::optional<bool> data;
  std::optional<std::string> dhandle;
  std::optional<bool> metadata;
  std::optional<std::string> name;
  // 'Y', 'N' or 'C' (either case); the server takes 'N' when it is absent.
  std::optional<char> persist;
  // `parameter`, `table`, `callback` and `exception` elements, in order.
  std::vector<Vok_Xml_Element> content;

  Vok_Xml_Element element () const;
  // The document text; fails as Vok_Xml_Element::write does, and for a
  // `persist` other than the six letters.
  Vok_Status write (std::string &document) const;

  // A parameter the function module returns (paramclass "I"), `intlen`
  // bytes long.
  static Vok_Xml_Element importing (std::string_view name, std::size_t intlen,
                                    Vok_Value_Type type = Vok_Value_Type::bytes);
  // A parameter sent to the function module (paramclass "E") with its value;
  // the server cuts the value at `intlen` bytes.
  static Vok_Xml_Element exporting (std::string_view name, std::size_t intlen, std::string_view value,
                                    Vok_Value_Type type = Vok_Value_Type::bytes);
  // A table of lines of `intlen` bytes; add `field` elements, then one
  // `line` element per line.
  static Vok_Xml_Element table (std::string_view name, std::size_t intlen);
  // One field of a table's line structure; `type` is one of C D P T X N F I s b.
  static Vok_Xml_Element field (std::string_view name, char type, std::size_t len, std::size_t offset);
  // An `i` element holding `bytes` as Base64, in `d` pieces of at most
  // max_d_bytes of text each.
  static Vok_Xml_Element line (std::string_view bytes);
  static Vok_Xml_Element callback (std::string_view name);
  static Vok_Xml_Element exception (std::string_view name);
};

#endif
