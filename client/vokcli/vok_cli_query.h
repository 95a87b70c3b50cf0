#ifndef VOK_CLI_QUERY_H
#define VOK_CLI_QUERY_H

#include "vok_select_document.h"
#include "vok_xml_element.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The parts of one select statement as the command line gave them, in the
// order given. `vokcli select` has one; with --nested every --then starts
// the next.
struct Vok_Cli_Statement
{
  // `table` elements, each with its `on` elements.
  std::vector<Vok_Xml_Element> tables;
  // Whether any table has `on` elements.
  bool has_on = false;
  std::vector<Vok_Xml_Element> fields;
  std::optional<std::string> where;
};

// The whole select as the command line gave it.
struct Vok_Cli_Query
{
  bool nested = false;
  std::vector<Vok_Cli_Statement> statements;
  std::optional<std::string> group_by;
  std::optional<std::string> having;
  std::optional<std::string> order_by;
  bool distinct = false;
};

// "NAME[:ALIAS[:JOIN]]", JOIN inner or left (either case): a `table`
// element. False with `problem` set for an empty name, an unknown join or
// more parts.
bool vok_cli_parse_table (std::string_view text, Vok_Xml_Element &table, std::string &problem);

// A field: "[DISTINCT] REF [AS ALIAS] [SUPPRESS]" or
// "AGG([DISTINCT] REF) [AS ALIAS] [SUPPRESS]" with AGG one of avg, count,
// max, min, sum and REF "NAME", "TABLE~NAME" or "TABLE:NAME" ("*" only as
// count(*)); keywords in either case. A `field` element. False with
// `problem` set for anything else.
bool vok_cli_parse_field (std::string_view text, Vok_Xml_Element &field, std::string &problem);

// Cuts a clause into the elements named `element` ("where", "on", ...), each
// within the server's 72 characters. False with `problem` set when the text
// is empty or cannot be cut; `option` names the option in the message.
bool vok_cli_clause_elements (std::string_view option, const char *element, std::string_view text,
                              std::vector<Vok_Xml_Element> &elements, std::string &problem);

// The document for the query: sselect for one table without join conditions,
// gselect for several tables or any --on, nselect with --nested. Checks what
// the document types allow (one table per nested statement; no grouping,
// having or ordering in nested statements; suppress only there) and refuses
// join conditions in nested statements, which the server would drop. False
// with `problem` set.
bool vok_cli_build_select (const Vok_Cli_Query &query, Vok_Select_Document &document, std::string &problem);

#endif
