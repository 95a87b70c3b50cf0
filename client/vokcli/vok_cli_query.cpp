#include "vok_cli_query.h"

#include "vok_select_clause.h"

#include <algorithm>
#include <cctype>

namespace
{
std::string lower (std::string_view text)
{
  std::string out (text);
  std::transform (out.begin (), out.end (), out.begin (), [] (unsigned char c) { return std::tolower (c); });
  return out;
}

std::string upper (std::string_view text)
{
  std::string out (text);
  std::transform (out.begin (), out.end (), out.begin (), [] (unsigned char c) { return std::toupper (c); });
  return out;
}

std::string_view trim (std::string_view text)
{
  const std::size_t first = text.find_first_not_of (' ');
  if (first == std::string_view::npos)
    return {};
  return text.substr (first, text.find_last_not_of (' ') - first + 1);
}

// The blank-separated words of a text.
std::vector<std::string_view> words (std::string_view text)
{
  std::vector<std::string_view> out;
  for (;;)
    {
      const std::size_t first = text.find_first_not_of (' ');
      if (first == std::string_view::npos)
        return out;
      text.remove_prefix (first);
      const std::size_t end = text.find (' ');
      out.push_back (text.substr (0, end));
      if (end == std::string_view::npos)
        return out;
      text.remove_prefix (end);
    }
}

bool is_aggregate (std::string_view name)
{
  static const char *const names[] = {"avg", "count", "max", "min", "sum"};
  return std::find (std::begin (names), std::end (names), lower (name)) != std::end (names);
}

// "NAME", "TABLE~NAME" or "TABLE:NAME" into the field's name and table.
bool parse_reference (std::string_view reference, bool star_allowed, Vok_Xml_Element &field, std::string &problem)
{
  const std::size_t separator = reference.find_first_of ("~:");
  std::string_view name = reference;
  if (separator != std::string_view::npos)
    {
      const std::string_view table = reference.substr (0, separator);
      name = reference.substr (separator + 1);
      if (table.empty () || name.empty () || name.find_first_of ("~:") != std::string_view::npos)
        {
          problem = "\"" + std::string (reference) + "\" is not TABLE~NAME";
          return false;
        }
      field.set_attribute ("table", table);
    }
  if (name.empty () || name.find_first_of ("(),") != std::string_view::npos)
    {
      problem = "\"" + std::string (reference) + "\" is not a field name";
      return false;
    }
  if (name == "*" && !star_allowed)
    {
      problem = "\"*\" is a field only in count(*); leave out --field to select all columns";
      return false;
    }
  field.set_attribute ("name", name);
  return true;
}

bool has_attribute (const Vok_Xml_Element &element, std::string_view name)
{
  return element.attribute (name) != nullptr;
}
}

bool vok_cli_parse_table (std::string_view text, Vok_Xml_Element &table, std::string &problem)
{
  std::vector<std::string_view> parts;
  for (std::string_view rest = text;;)
    {
      const std::size_t colon = rest.find (':');
      parts.push_back (rest.substr (0, colon));
      if (colon == std::string_view::npos)
        break;
      rest.remove_prefix (colon + 1);
    }
  const std::string shown = "--table \"" + std::string (text) + "\"";
  if (parts.size () > 3)
    {
      problem = shown + " is not NAME[:ALIAS[:JOIN]]";
      return false;
    }
  if (parts[0].empty ())
    {
      problem = shown + " names no table";
      return false;
    }
  table = Vok_Select_Document::table (parts[0]);
  if (parts.size () > 1 && !parts[1].empty ())
    table.set_attribute ("alias", parts[1]);
  if (parts.size () > 2)
    {
      const std::string join = lower (parts[2]);
      if (join != "inner" && join != "left")
        {
          problem = shown + ": the join is inner or left, not \"" + std::string (parts[2]) + "\"";
          return false;
        }
      table.set_attribute ("join", join);
    }
  return true;
}

bool vok_cli_parse_field (std::string_view text, Vok_Xml_Element &field, std::string &problem)
{
  const std::string shown = "--field \"" + std::string (text) + "\"";
  field = Vok_Xml_Element ("field");
  std::string_view rest;
  bool distinct = false;

  const std::size_t open = text.find ('(');
  if (open != std::string_view::npos)
    {
      const std::string_view aggregate = trim (text.substr (0, open));
      const std::size_t close = text.find (')', open);
      if (!is_aggregate (aggregate) || close == std::string_view::npos)
        {
          problem = shown + " is not AGG(FIELD) with AGG one of avg, count, max, min, sum";
          return false;
        }
      std::vector<std::string_view> inner = words (text.substr (open + 1, close - open - 1));
      if (inner.size () == 2 && lower (inner[0]) == "distinct")
        {
          distinct = true;
          inner.erase (inner.begin ());
        }
      if (inner.size () != 1)
        {
          problem = shown + " holds no single field within the parentheses";
          return false;
        }
      if (!parse_reference (inner[0], lower (aggregate) == "count", field, problem))
        {
          problem = shown + ": " + problem;
          return false;
        }
      field.set_attribute ("aggregate", upper (aggregate));
      rest = text.substr (close + 1);
    }
  else
    {
      std::vector<std::string_view> head = words (text);
      std::size_t next = 0;
      if (head.size () > 1 && lower (head[0]) == "distinct")
        {
          distinct = true;
          next = 1;
        }
      if (head.size () <= next)
        {
          problem = shown + " names no field";
          return false;
        }
      if (!parse_reference (head[next], false, field, problem))
        {
          problem = shown + ": " + problem;
          return false;
        }
      const std::string_view reference = head[next];
      rest = text.substr (static_cast<std::size_t> (reference.data () - text.data ()) + reference.size ());
    }
  if (distinct)
    field.set_attribute ("distinct", "Y");

  const std::vector<std::string_view> tail = words (rest);
  std::size_t i = 0;
  if (i + 1 < tail.size () && lower (tail[i]) == "as")
    {
      field.set_attribute ("alias", tail[i + 1]);
      i += 2;
    }
  if (i < tail.size () && lower (tail[i]) == "suppress")
    {
      field.set_attribute ("suppress", "Y");
      ++i;
    }
  if (i < tail.size ())
    {
      problem = shown + ": \"" + std::string (tail[i]) + "\" is neither AS ALIAS nor SUPPRESS";
      return false;
    }
  return true;
}

bool vok_cli_clause_elements (std::string_view option, const char *element, std::string_view text,
                              std::vector<Vok_Xml_Element> &elements, std::string &problem)
{
  if (trim (text).empty ())
    {
      problem = std::string (option) + " is empty";
      return false;
    }
  std::vector<std::string> pieces;
  if (Vok_Status status = vok_split_clause (text, pieces); !status.ok ())
    {
      problem = std::string (option) + ": " + status.message ();
      return false;
    }
  for (const std::string &piece : pieces)
    {
      Vok_Xml_Element clause (element);
      clause.add_text (piece);
      elements.push_back (std::move (clause));
    }
  return true;
}

bool vok_cli_build_select (const Vok_Cli_Query &query, Vok_Select_Document &document, std::string &problem)
{
  if (query.statements.empty () || query.statements.front ().tables.empty ())
    {
      problem = "name a table with --table";
      return false;
    }
  const auto clauses = [&problem] (const Vok_Cli_Statement &statement, std::vector<Vok_Xml_Element> &content) {
    return !statement.where || vok_cli_clause_elements ("--where", "where", *statement.where, content, problem);
  };

  if (query.nested)
    {
      if (query.group_by || query.having || query.order_by)
        {
          problem = "--group-by, --having and --order-by do not go with --nested";
          return false;
        }
      // The server passes join conditions to SAP for joins only; in a nested
      // statement they would be dropped without a word.
      if (std::any_of (query.statements.begin (), query.statements.end (),
                       [] (const Vok_Cli_Statement &statement) { return statement.has_on; }))
        {
          problem = "--on does not go with --nested: the server passes join conditions on for joins only";
          return false;
        }
      document = Vok_Select_Document (Vok_Select_Type::nselect);
      for (std::size_t i = 0; i < query.statements.size (); ++i)
        {
          const Vok_Cli_Statement &statement = query.statements[i];
          if (statement.tables.size () != 1)
            {
              problem = "statement " + std::to_string (i + 1) + " of --nested names "
                        + std::to_string (statement.tables.size ()) + " tables; each names one (--then starts the "
                        + "next statement)";
              return false;
            }
          Vok_Select_Document inner (Vok_Select_Type::sselect);
          inner.content = statement.tables;
          inner.content.insert (inner.content.end (), statement.fields.begin (), statement.fields.end ());
          if (!clauses (statement, inner.content))
            return false;
          document.content.push_back (inner.element ());
        }
    }
  else
    {
      if (query.statements.size () > 1)
        {
          problem = "--then separates the statements of --nested";
          return false;
        }
      const Vok_Cli_Statement &statement = query.statements.front ();
      for (const Vok_Xml_Element &field : statement.fields)
        if (has_attribute (field, "suppress"))
          {
            problem = "SUPPRESS goes only with --nested";
            return false;
          }
      const bool joined = statement.tables.size () > 1 || statement.has_on;
      document = Vok_Select_Document (joined ? Vok_Select_Type::gselect : Vok_Select_Type::sselect);
      document.content = statement.tables;
      document.content.insert (document.content.end (), statement.fields.begin (), statement.fields.end ());
      if (!clauses (statement, document.content)
          || (query.group_by
              && !vok_cli_clause_elements ("--group-by", "groupby", *query.group_by, document.content, problem))
          || (query.having && !vok_cli_clause_elements ("--having", "having", *query.having, document.content, problem))
          || (query.order_by
              && !vok_cli_clause_elements ("--order-by", "orderby", *query.order_by, document.content, problem)))
        return false;
    }
  if (query.distinct)
    document.distinct = true;
  return true;
}
