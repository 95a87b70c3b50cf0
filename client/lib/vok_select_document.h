#ifndef VOK_SELECT_DOCUMENT_H
#define VOK_SELECT_DOCUMENT_H

#include "vok_status.h"
#include "vok_xml_element.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The three kinds of select document, named by their root element.
enum class Vok_Select_Type
{
  sselect,  // one select on one table or join
  nselect,  // a sequence of selects: inner `sselect` elements
  gselect   // a grouped select whose parts come in any order
};

// A select document: reads table data through the logon named by `chandle`
// and writes the rows to the connection `dhandle`. The server answers on the
// connection that carried the document and closes it when the select is done.
//
//   Vok_Select_Document select (Vok_Select_Type::sselect);
//   select.chandle = control.handle ();
//   select.dhandle = data.handle ();
//   select.data = true;
//   select.content.push_back (Vok_Select_Document::field ("CARRID"));
//   select.content.push_back (Vok_Select_Document::table ("SCARR"));
//   select.content.push_back (Vok_Select_Document::where ("CARRID = 'LH'"));
//
// The inner selects of an `nselect` are the elements of sselect documents of
// their own (`element ()`), without `batch`. Optional attributes of the
// children (a field's `table`, `alias`, `aggregate`, `abaptype`, `distinct`,
// `suppress`; a table's `alias` and `join`) are set on the element the
// helpers return; a table's join conditions are `on` children.
struct Vok_Select_Document
{
  explicit Vok_Select_Document (Vok_Select_Type select_type);

  Vok_Select_Type type;
  // Flags go out as "Y" or "N"; left empty they are not sent (`batch` is
  // then "N" at the server).
  std::optional<bool> batch;
  std::optional<std::string> chandle;
  std::optional<bool> data;
  std::optional<std::string> dhandle;
  std::optional<bool> distinct;
  std::optional<bool> metadata;
  // `field`, `table`, `where`, `groupby`, `having`, `orderby` elements (inner
  // `sselect` elements for an nselect), in order.
  std::vector<Vok_Xml_Element> content;

  // The root element's name: "sselect", "nselect" or "gselect".
  static const char *root_name (Vok_Select_Type select_type);

  Vok_Xml_Element element () const;
  // The document text; fails as Vok_Xml_Element::write does.
  Vok_Status write (std::string &document) const;

  static Vok_Xml_Element field (std::string_view name);
  static Vok_Xml_Element table (std::string_view name);
  // Text clauses, passed to the server as they are.
  static Vok_Xml_Element where (std::string_view condition);
  static Vok_Xml_Element groupby (std::string_view fields);
  static Vok_Xml_Element having (std::string_view condition);
  static Vok_Xml_Element orderby (std::string_view fields);
  static Vok_Xml_Element on (std::string_view condition);
};

#endif
