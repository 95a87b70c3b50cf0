#include "vurude_v9function_request.h"

#include "nt_vurude_service_options.h"
#include "utf16_text.h"
#include "vurude_base_handler.h"
#include "vurude_data_cbf.h"
#include "vurude_function.h"
#include "vurude_getptab_cbf.h"
#include "vurude_itab.h"
#include "vurude_parm.h"
#include "vurude_tabparm.h"
#include "vurude_xml_log_text.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>

#include <xercesc/dom/DOMNodeList.hpp>
#include <xercesc/util/Base64.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
// Child elements of `element` named `tag`, in document order.
std::vector<xercesc::DOMElement *> children_named (xercesc::DOMElement *element, std::u16string_view tag)
{
  std::vector<xercesc::DOMElement *> found;
  for (xercesc::DOMNode *child = element->getFirstChild (); child; child = child->getNextSibling ())
    if (child->getNodeType () == xercesc::DOMNode::ELEMENT_NODE && tag == child->getNodeName ())
      found.push_back (static_cast<xercesc::DOMElement *> (child));
  return found;
}

std::u16string attribute_of (xercesc::DOMElement *element, const char16_t *name)
{
  const XMLCh *value = element->getAttribute (name);
  return value ? std::u16string (value) : std::u16string ();
}

char16_t first_upper (const std::u16string &text, char16_t fallback)
{
  return text.empty () ? fallback : utf16_upper (text.substr (0, 1))[0];
}

// A number attribute as the C library's atol reads it; absent reads 0.
long number_of (xercesc::DOMElement *element, const char16_t *name)
{
  const std::string text = utf8_from_utf16 (attribute_of (element, name)).substr (0, 20);
  return std::atol (text.c_str ());
}

// Fills `destination` from the Base64 text of the d elements of `item`;
// what does not fit is dropped, what is not Base64 contributes nothing.
void fill_data (xercesc::DOMElement *item, unsigned char *destination, std::size_t capacity)
{
  std::size_t position = 0;
  for (xercesc::DOMElement *d : children_named (item, u"d"))
    for (xercesc::DOMNode *node = d->getFirstChild (); node; node = node->getNextSibling ())
      {
        if (node->getNodeType () != xercesc::DOMNode::TEXT_NODE)
          continue;
        XMLSize_t length = 0;
        XMLByte *bytes = xercesc::Base64::decodeToXMLByte (node->getNodeValue (), &length);
        if (!bytes)
          continue;
        const std::size_t copied = std::min<std::size_t> (length, capacity - position);
        std::memcpy (destination + position, bytes, copied);
        position += copied;
        xercesc::XMLPlatformUtils::fgMemoryManager->deallocate (bytes);
      }
}

// Field type letters and the library's type codes.
int field_type_code (std::u16string_view type)
{
  static const std::u16string_view letters = u"CDPTX?NFIsb";
  if (type.size () != 1 || type[0] == u'?')
    return -1;
  const std::size_t code = letters.find (type[0]);
  return code == std::u16string_view::npos ? -1 : static_cast<int> (code);
}
}

Vurude_V9function_Request::~Vurude_V9function_Request ()
{
  // main_function refers to the parameters and tables: it goes first.
  main_function.reset ();
  for (std::unique_ptr<Vurude_Parm> &parm : parms)
    if (parm)
      parm->release_data ();
  for (std::unique_ptr<Vurude_Tabparm> &table : tabparms)
    if (table && table->itab)
      ItDelete (table->itab);
  // The shared connection belongs to the control connection.
  rfc_handle = RFC_HANDLE_NULL;
}

int Vurude_V9function_Request::parse_attributes ()
{
  const int result = Vurude_Base_Request::parse_attributes ();
  if (result == 0)
    grp_handler = &Vurude_Base_Request::handle_grpfunc;
  return result;
}

RFC_HANDLE Vurude_V9function_Request::open_rfc ()
{
  ACE_GUARD_RETURN (ACE_Recursive_Thread_Mutex, guard, chandle_handler->rfc_lock, RFC_HANDLE_NULL);
  rfc_handle = chandle_handler->rfc_handle;
  if (rfc_handle == RFC_HANDLE_NULL)
    chandle_handler->rfc_handle = Vurude_Base_Request::open_rfc ();
  return rfc_handle;
}

int Vurude_V9function_Request::call_req_function ()
{
  // The logon's calls take turns on its connection: SAP keeps one state
  // per connection, and the library serves one call at a time on it.
  ACE_GUARD_RETURN (ACE_Recursive_Thread_Mutex, guard, chandle_handler->rfc_lock, -1);
  if (open_rfc () == RFC_HANDLE_NULL)
    {
      report_rfc_error ();
      return -1;
    }
  if (data_flag != u'Y')
    {
      const int result = Vurude_Base_Request::call_req_function ();
      return result == 0 ? 13 : result;
    }

  const int built = build_call ();
  if (built != 0)
    return built;

  Vurude_Status &status = OPTIONS::instance ()->status ();
  status.update (0);
  int result = main_function->rfccall (rfc_handle);
  if (result == 0)
    result = receive_loop (rfc_handle);
  else
    check_rfc_result (main_function.get (), result);
  status.update (-1);
  if (result != 0)
    return result;

  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) RfcCallReceive good - nimports=%d\n", static_cast<int> (imports_.size ())));
  send_results ();
  if (data_handler->batch_request == this)
    {
      ACE_DEBUG ((LM_NOTICE, "%D(%P|%t) In Vurude_V9function_Request call_req_function - acquiring rh sema\n"));
      handler->sema.acquire ();
      ACE_DEBUG ((LM_NOTICE, "%D(%P|%t) In Vurude_V9function_Request call_req_function - acquired rh sema\n"));
    }
  else
    handler->send_bytes ("EOF\n", 4);
  return 0;
}

int Vurude_V9function_Request::build_call ()
{
  const std::u16string name = attribute (u"name");
  main_function = std::make_unique<Vurude_Function> (name.c_str ());
  xercesc::DOMNodeList *children = root->getChildNodes ();
  child_count = children->getLength ();
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Got %d children for function %s.\n", static_cast<int> (child_count),
              log_text (name).c_str ()));
  parms.clear ();
  tabparms.clear ();
  parms.resize (child_count);
  tabparms.resize (child_count);
  returned.assign (child_count, 0);
  imports_.clear ();
  tables_.clear ();
  for (std::size_t k = 0; k < child_count; ++k)
    {
      xercesc::DOMNode *child = children->item (k);
      if (child->getNodeType () != xercesc::DOMNode::ELEMENT_NODE)
        continue;
      xercesc::DOMElement *element = static_cast<xercesc::DOMElement *> (child);
      const std::u16string_view tag (element->getTagName ());
      int result = 0;
      if (tag == u"parameter")
        result = add_parameter (k, element);
      else if (tag == u"table")
        result = add_table (k, element);
      if (result != 0)
        return result;
    }
  main_function->prepare ();
  return 0;
}

long Vurude_V9function_Request::read_intlen (xercesc::DOMElement *element, const char *kind)
{
  const long length = number_of (element, u"intlen");
  if (length > 0 && length <= max_intlen)
    return length;
  const std::string text = std::string ("intlen of ") + kind + " " + utf8_from_utf16 (attribute_of (element, u"name"))
                           + " must be a number from 1 to " + std::to_string (max_intlen);
  send_error_line (text.c_str ());
  return -1;
}

int Vurude_V9function_Request::add_parameter (std::size_t index, xercesc::DOMElement *parameter)
{
  const std::u16string name = attribute_of (parameter, u"name");
  const long length = read_intlen (parameter, "parameter");
  if (length < 0)
    return 13;
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Got <parameter> named %s, intlen %d of function %s.\n", log_text (name).c_str (),
              static_cast<int> (length), log_text (main_function->name).c_str ()));
  // Bytes the client's data does not reach are zero.
  char *value = new char[static_cast<std::size_t> (length)]();
  const int type = first_upper (attribute_of (parameter, u"type"), u'B') == u'C' ? RFCTYPE_CHAR : RFCTYPE_BYTE;
  parms[index] = std::make_unique<Vurude_Parm> (name.c_str (), value, static_cast<int> (length), type);
  Vurude_Parm *parm = parms[index].get ();
  if (first_upper (attribute_of (parameter, u"paramclass"), u'E') == u'I')
    {
      main_function->add_get_parm (parm);
      imports_.push_back (parm);
      return 0;
    }
  for (xercesc::DOMElement *item : children_named (parameter, u"i"))
    fill_data (item, reinterpret_cast<unsigned char *> (value), static_cast<std::size_t> (length));
  main_function->add_send_parm (parm);
  return 0;
}

int Vurude_V9function_Request::add_table (std::size_t index, xercesc::DOMElement *table)
{
  const std::u16string name = attribute_of (table, u"name");
  const std::u16string structure = attribute_of (table, u"structure");
  const long length = read_intlen (table, "table");
  if (length < 0)
    return 13;
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Got <table> named %s, intlen %d , structure %s of function %s.\n",
              log_text (name).c_str (), static_cast<int> (length), log_text (structure).c_str (),
              log_text (main_function->name).c_str ()));
  const ITAB_H itab = ItCreate (name.c_str (), static_cast<unsigned> (length), 30, 0);
  tabparms[index] = std::make_unique<Vurude_Tabparm> (name.c_str (), RFCTYPE_BYTE, static_cast<unsigned> (length),
                                                      itab, 0);
  for (xercesc::DOMElement *item : children_named (table, u"i"))
    {
      void *line = itab ? ItAppLine (itab) : nullptr;
      if (!line)
        {
          constexpr std::u16string_view no_line = u"Possibly out of memory, ItAppLine returned NULL\n";
          handler->send_text (no_line.data (), no_line.size ());
          handler->send_bytes ("EOF\n", 4);
          return 11;
        }
      std::memset (line, 0, static_cast<std::size_t> (length));
      fill_data (item, static_cast<unsigned char *> (line), static_cast<std::size_t> (length));
    }
  if (first_upper (attribute_of (table, u"inputonly"), u'N') == u'N')
    returned[tables_.size ()] = 1;
  tabparms[index]->type = static_cast<int> (line_type (table));
  main_function->add_table (tabparms[index].get ());
  tables_.push_back (tabparms[index].get ());
  return 0;
}

RFC_TYPEHANDLE Vurude_V9function_Request::line_type (xercesc::DOMElement *table)
{
  const std::u16string structure = attribute_of (table, u"structure");
  const std::vector<xercesc::DOMElement *> fields = children_named (table, u"field");
  if (structure.empty () || fields.empty ())
    return RFCTYPE_BYTE;
  if (attribute_of (fields[0], u"len2").empty ())
    {
      // Without the layout of UTF-16 characters the lines travel as bytes.
      ACE_ERROR ((LM_ERROR, "%D(%P|%t) Need Unicode structure info\n"));
      return RFCTYPE_BYTE;
    }
  std::vector<std::u16string> names;
  std::vector<RFC_UNICODE_TYPE_ELEMENT> elements;
  names.reserve (fields.size ());
  for (xercesc::DOMElement *field : fields)
    {
      const int type = field_type_code (attribute_of (field, u"type"));
      if (type < 0)
        return RFCTYPE_BYTE;
      names.push_back (attribute_of (field, u"name"));
      RFC_UNICODE_TYPE_ELEMENT element {};
      element.name = names.back ().c_str ();
      element.type = static_cast<RFC_TYPEHANDLE> (type);
      element.decimals = static_cast<unsigned> (number_of (field, u"dec"));
      element.c1_length = static_cast<unsigned> (number_of (field, u"len"));
      element.c1_offset = static_cast<unsigned> (number_of (field, u"offset"));
      element.c2_length = static_cast<unsigned> (number_of (field, u"len2"));
      element.c2_offset = static_cast<unsigned> (number_of (field, u"offset2"));
      element.c4_length = static_cast<unsigned> (number_of (field, u"len4"));
      element.c4_offset = static_cast<unsigned> (number_of (field, u"offset4"));
      elements.push_back (element);
    }
  RFC_TYPEHANDLE type = RFCTYPE_BYTE;
  if (RfcInstallUnicodeStructure (structure.c_str (), elements.data (), static_cast<unsigned> (elements.size ()), 0, 0,
                                  &type)
      != RFC_OK)
    return RFCTYPE_BYTE;
  return type;
}

void Vurude_V9function_Request::send_results ()
{
  Vurude_Status &status = OPTIONS::instance ()->status ();
  for (Vurude_Parm *parm : imports_)
    {
      const std::u16string line = u"D," + parm->name + u",1\n";
      handler->send_text (line.data (), line.size ());
      std::vector<char> value (static_cast<const char *> (parm->data),
                               static_cast<const char *> (parm->data) + parm->length);
      value.push_back (0);
      data_handler->send_bytes (value.data (), value.size ());
      if (parm->length != 0)
        status.update (static_cast<std::int32_t> (parm->length + 1));
    }
  for (std::size_t t = 0; t < tables_.size (); ++t)
    {
      const ITAB_H itab = tables_[t]->itab;
      if (!returned[t] || !itab || ItFill (itab) == 0)
        continue;
      const std::u16string line
        = u"D," + tables_[t]->name + u"," + utf16_from_utf8 (std::to_string (ItFill (itab))) + u"\n";
      handler->send_text (line.data (), line.size ());
      data_handler->send_table (itab, 0);
    }
}

// Callbacks of the called module

int Vurude_V9function_Request::handle_data_chunk (RFC_HANDLE handle)
{
  callrfc_cbf = std::make_unique<Vurude_Data_Cbf> (u"CALLRFC_CALLBACK");
  callrfc_cbf->getdata (handle);

  const std::u16string_view named = utf16_cut_at_blank (callrfc_cbf->dhandle ());
  Vurude_Handler_Ref target;
  if (named == handler->handle_name ())
    target = Vurude_Handler_Ref (handler);
  else
    target = VURUDE_HANDLER_REGISTRY::instance ()->find (named);
  if (!target)
    {
      callrfc_cbf->raise (handle, u"INVALID_DATA_HANDLE");
      // The request ends here; the client learns why instead of seeing its
      // connection close without a word.
      send_error_line (u"Invalid data handle '" + std::u16string (named) + u"' in Z_VOK_DATA_CHUNK");
      return 13;
    }

  // The rows go to the data connection of the request the handle names,
  // its lines to that request's connection. A connection without a
  // request is a data connection: its rows go there, the lines here.
  Vurude_Request_Ref receiver = target.get () == handler ? Vurude_Request_Ref (this) : target->current_request ();
  Vurude_Base_Handler *lines_to = receiver ? receiver->get_handler () : handler;
  Vurude_Base_Handler *rows_to = receiver ? receiver->get_data_handler () : target.get ();
  Vurude_Base_Request *sender = receiver ? receiver.get () : this;
  sender->send_lines (callrfc_cbf->mtab (), lines_to);

  Vurude_Itab *rows = callrfc_cbf->dtab ();
  const unsigned count = rows && rows->handle ? ItFill (rows->handle) : 0;
  if (count != 0)
    {
      const std::u16string line = u"D," + std::u16string (utf16_trim_right (callrfc_cbf->table_name ())) + u","
                                  + utf16_from_utf8 (std::to_string (count)) + u"\n";
      lines_to->send_text (line.data (), std::min<std::size_t> (line.size (), 1023));
      if (rows_to->send_table (rows->handle, 0) < 0)
        return callrfc_cbf->raise (handle, u"KILLED_BY_VOK");
    }
  const char16_t end = callrfc_cbf->end_of_data ();
  const int result = callrfc_cbf->senddata (handle);
  if (data_handler->batch_request == this && end == u'X')
    {
      data_state = u'X';
      lines_to->send_bytes ("EOF\n", 4);
    }
  return result;
}

int Vurude_V9function_Request::deliver_chunk (RFC_HANDLE, Vurude_Data_Cbf *)
{
  return 0;
}

int Vurude_V9function_Request::handle_parameter_table (RFC_HANDLE handle)
{
  Vurude_GetPtab_Cbf request_table (u"GETPTAB");
  int result = request_table.getdata (handle);
  if (result != 0)
    {
      send_error_line ("RfcGetData for GetPtab failed");
      return result;
    }
  ITAB_H source = ITAB_NULL;
  if (main_function)
    source = main_function->table_handle (main_function->get_table_index (request_table.tabname ()));
  if (source)
    request_table.fill_table (source);
  result = request_table.send_data (handle);
  if (result != 0)
    send_error_line ("RfcSendData for GetPtab failed");
  return result;
}

int Vurude_V9function_Request::check_rfc_result (Vurude_Function *function, int code)
{
  Vurude_Base_Request::check_rfc_result (function, code);
  if (code != RFC_SYS_EXCEPTION)
    return code;
  constexpr std::u16string_view warning = u"\nWarning: RFC Session break caused by invalid RFC handle\n";
  handler->send_text (warning.data (), warning.size ());
  // The broken connection is closed; the logon's next calls use a new one.
  ACE_GUARD_RETURN (ACE_Recursive_Thread_Mutex, guard, chandle_handler->rfc_lock, code);
  const RFC_HANDLE broken = rfc_handle;
  rfc_handle = RFC_HANDLE_NULL;
  chandle_handler->rfc_handle = Vurude_Base_Request::open_rfc ();
  if (broken != RFC_HANDLE_NULL)
    RfcClose (broken);
  return code;
}
