// Select documents as the read report receives them: the statement as
// lines of JDATA, the selected fields as lines of MDATA.
#include "vurude_base_request.h"

#include "utf16_text.h"
#include "vurude_itab.h"

#include <xercesc/dom/DOMNodeList.hpp>

#include <cstdio>

namespace
{
constexpr std::size_t line_units = 72;

const char *const header_formats[] = {"W,%d", "GB,%d", "H,%d", "OB,%d", "O,%d"};
const char16_t *const clause_tags[] = {u"where", u"groupby", u"having", u"orderby", u"on"};

std::u16string attribute_of (xercesc::DOMElement *element, const char16_t *name)
{
  const XMLCh *value = element->getAttribute (name);
  return value ? std::u16string (value) : std::u16string ();
}

bool is_yes (std::u16string_view value)
{
  return !value.empty () && (value[0] == u'y' || value[0] == u'Y');
}
}

void Vurude_Base_Request::encode_kind (Vurude_Itab &jdata)
{
  std::u16string kind (root->getTagName ());
  if (is_yes (attribute (u"distinct")))
    kind += u",Y";
  jdata.append_text (kind.c_str ());
}

void Vurude_Base_Request::encode_select (xercesc::DOMElement *statement, Vurude_Itab &jdata, Vurude_Itab &mdata)
{
  std::u16string default_table;
  xercesc::DOMNodeList *tables = statement->getElementsByTagName (u"table");
  if (tables->getLength () > 0)
    encode_table (static_cast<xercesc::DOMElement *> (tables->item (0)), jdata, default_table);
  encode_clauses (statement, jdata);
  encode_fields (statement, mdata, default_table);
}

bool Vurude_Base_Request::encode_table (xercesc::DOMElement *table, Vurude_Itab &jdata, std::u16string &name)
{
  std::u16string alias, join;
  const XMLCh *table_name = table_attributes (table, alias, join);
  name = table_name ? table_name : u"";
  // A table element whose name is empty still gets its line, so the read
  // report names the fault instead of reading another table.
  const std::u16string line = u"T," + name + u"," + alias + u"," + join;
  jdata.append_text (line.c_str ());
  return table_name != nullptr;
}

const XMLCh *Vurude_Base_Request::table_attributes (xercesc::DOMElement *table, std::u16string &alias,
                                                    std::u16string &join)
{
  const XMLCh *name = table->getAttribute (u"name");
  if (!name || !*name)
    return nullptr;
  alias = attribute_of (table, u"alias");
  join = attribute_of (table, u"join");
  return name;
}

void Vurude_Base_Request::encode_clauses (xercesc::DOMElement *element, Vurude_Itab &jdata)
{
  for (Clause kind : {CLAUSE_WHERE, CLAUSE_GROUPBY, CLAUSE_HAVING, CLAUSE_ORDERBY})
    encode_clause (element, clause_tags[kind], header_formats[kind], clause_counters[kind], jdata);
}

void Vurude_Base_Request::encode_clause (xercesc::DOMElement *element, const char16_t *tag,
                                         const char *header_format, Clause_Counter &counter, Vurude_Itab &jdata)
{
  xercesc::DOMNodeList *elements = element->getElementsByTagName (tag);
  for (XMLSize_t i = 0; i < elements->getLength (); ++i)
    add_clause_line (header_format, element_text (elements->item (i)), jdata, counter);
  counter = Clause_Counter ();
}

std::u16string Vurude_Base_Request::element_text (xercesc::DOMNode *node)
{
  std::u16string text;
  for (xercesc::DOMNode *child = node->getFirstChild (); child; child = child->getNextSibling ())
    if (const XMLCh *value = child->getNodeValue ())
      text += value;
  return text;
}

void Vurude_Base_Request::encode_fields (xercesc::DOMElement *element, Vurude_Itab &mdata,
                                         std::u16string_view default_table)
{
  xercesc::DOMNodeList *fields = element->getElementsByTagName (u"field");
  for (XMLSize_t i = 0; i < fields->getLength (); ++i)
    {
      xercesc::DOMElement *field = static_cast<xercesc::DOMElement *> (fields->item (i));
      const std::u16string name = attribute_of (field, u"name");
      if (name.empty ())
        {
          send_error_line ("field has no name");
          continue;
        }
      std::u16string table = attribute_of (field, u"table");
      if (table.empty ())
        table = default_table;
      const std::u16string line = table + u"," + name + u"," + attribute_of (field, u"alias") + u","
                                  + (is_yes (attribute_of (field, u"distinct")) ? u"Y" : u"") + u","
                                  + attribute_of (field, u"aggregate") + u"," + attribute_of (field, u"suppress");
      mdata.append_text (line.c_str ());
    }
  if (mdata.count () == 0)
    {
      const std::u16string all = std::u16string (default_table) + u",*";
      mdata.append_text (all.c_str ());
    }
}

void Vurude_Base_Request::clear_counters ()
{
  for (Clause_Counter &counter : clause_counters)
    counter = Clause_Counter ();
}

void Vurude_Base_Request::add_clause_line (const char *header_format, std::u16string_view text, Vurude_Itab &jdata,
                                           Clause_Counter &counter)
{
  if (counter.header_line == 0)
    {
      if (!jdata.append_text (u""))
        return;
      counter.header_line = jdata.count ();
    }
  const std::u16string line (text.substr (0, line_units));
  if (!jdata.append_text (line.c_str ()))
    return;
  ++counter.count;
  char header[line_units + 1];
  const int length = std::snprintf (header, sizeof header, header_format, counter.count);
  char16_t *header_line = static_cast<char16_t *> (ItGupLine (jdata.handle, counter.header_line));
  for (int k = 0; header_line && k < length && static_cast<std::size_t> (k) < line_units; ++k)
    header_line[k] = static_cast<unsigned char> (header[k]);
}
