#include "vurude_function.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <new>

namespace
{
// Appends without letting an exhausted heap escape as an exception.
template <typename T>
int append (std::vector<T *> &list, T *entry)
{
  try
    {
      list.push_back (entry);
    }
  catch (const std::bad_alloc &)
    {
      ACE_ERROR ((LM_ERROR, "%D(%P|%t) Vurude_Function - no memory to add a parameter\n"));
      return -1;
    }
  return static_cast<int> (list.size () - 1);
}

template <typename Entry>
std::unique_ptr<Entry[]> zeroed_array (std::size_t count)
{
  return std::unique_ptr<Entry[]> (new (std::nothrow) Entry[count] ());
}

template <typename Entry>
const Entry *entry_at (const std::unique_ptr<Entry[]> &array, std::size_t count, int index)
{
  if (!array || index < 0 || static_cast<std::size_t> (index) >= count)
    return nullptr;
  return &array[static_cast<std::size_t> (index)];
}

void copy_text (SAP_UC *target, std::size_t size, std::u16string_view text)
{
  const std::size_t n = std::min (text.size (), size - 1);
  std::copy_n (text.data (), n, target);
  target[n] = 0;
}
}

Vurude_Function::Vurude_Function (const char16_t *function_name)
  : rc (0),
    error_info (),
    last_error_rc (0),
    exception (nullptr),
    name (function_name ? function_name : u""),
    get_count_ (0),
    send_count_ (0),
    table_count_ (0),
    get_failed_ (false),
    send_failed_ (false)
{
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Entering Vurude_Function constructor\n"));
}

Vurude_Function::~Vurude_Function ()
{
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Entering Vurude_Function destructor\n"));
}

int Vurude_Function::add_get_parm (Vurude_Parm *parm)
{
  return append (get_parms, parm);
}

int Vurude_Function::add_send_parm (Vurude_Parm *parm)
{
  return append (send_parms, parm);
}

int Vurude_Function::add_table (Vurude_Tabparm *tabparm)
{
  return append (tables, tabparm);
}

int Vurude_Function::prepare_get ()
{
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Entering Vurude_Function::prepare_get\n"));
  get_array = zeroed_array<RFC_PARAMETER> (get_parms.size () + 1);
  table_array = zeroed_array<RFC_TABLE> (tables.size () + 1);
  get_failed_ = !get_array || !table_array;
  if (get_failed_)
    {
      get_array.reset ();
      table_array.reset ();
      get_count_ = table_count_ = 0;
      ACE_ERROR ((LM_ERROR, "%D(%P|%t) Vurude_Function::prepare_get - no memory for the arrays\n"));
      return -1;
    }
  get_count_ = get_parms.size ();
  table_count_ = tables.size ();
  for (std::size_t k = 0; k < get_count_; ++k)
    get_parms[k]->set (get_array[k]);
  for (std::size_t k = 0; k < table_count_; ++k)
    tables[k]->set (table_array[k]);
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Leaving Vurude_Function::prepare_get\n"));
  return 0;
}

int Vurude_Function::prepare_send ()
{
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Entering Vurude_Function::prepare_send\n"));
  send_array = zeroed_array<RFC_PARAMETER> (send_parms.size () + 1);
  send_failed_ = !send_array;
  if (send_failed_)
    {
      send_count_ = 0;
      ACE_ERROR ((LM_ERROR, "%D(%P|%t) Vurude_Function::prepare_send - no memory for the array\n"));
      return -1;
    }
  send_count_ = send_parms.size ();
  for (std::size_t k = 0; k < send_count_; ++k)
    send_parms[k]->set (send_array[k]);
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Leaving Vurude_Function::prepare_send\n"));
  return 0;
}

int Vurude_Function::prepare ()
{
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Entering Vurude_Function::prepare\n"));
  const int get_result = prepare_get ();
  const int send_result = prepare_send ();
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Leaving Vurude_Function::prepare\n"));
  return get_result == 0 && send_result == 0 ? 0 : -1;
}

bool Vurude_Function::refuse_unprepared ()
{
  if (!get_failed_ && !send_failed_)
    return false;
  rc = RFC_FAILURE;
  error_info = RFC_ERROR_INFO_EX ();
  error_info.group = RFC_ERROR_RESOURCE;
  copy_text (error_info.key, sizeof error_info.key / sizeof (SAP_UC), u"RFC_ERROR_RESOURCE");
  copy_text (error_info.message, sizeof error_info.message / sizeof (SAP_UC),
             u"no memory for the parameters of the call");
  last_error_rc = 0;
  return true;
}

int Vurude_Function::finish (RFC_RC result, bool with_details)
{
  rc = result;
  if (with_details)
    last_error_rc = RfcLastErrorEx (&error_info);
  return rc;
}

int Vurude_Function::rfccall (RFC_HANDLE handle)
{
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Entering Vurude_Function::rfccall\n"));
  exception = nullptr;
  if (!refuse_unprepared ())
    {
      const RFC_RC result = RfcCall (handle, name.c_str (), send_array.get (), table_array.get ());
      finish (result, result == RFC_FAILURE);
    }
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Leaving Vurude_Function::rfccall\n"));
  return rc;
}

int Vurude_Function::rfccallreceive (RFC_HANDLE handle)
{
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Entering Vurude_Function::rfccallreceive\n"));
  exception = nullptr;
  if (!refuse_unprepared ())
    {
      const RFC_RC result = RfcCallReceive (handle, name.c_str (), send_array.get (), get_array.get (),
                                            table_array.get (), &exception);
      finish (result, result == RFC_FAILURE || result == RFC_SYS_EXCEPTION);
    }
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Leaving Vurude_Function::rfccallreceive\n"));
  return rc;
}

int Vurude_Function::receive (RFC_HANDLE handle)
{
  exception = nullptr;
  if (refuse_unprepared ())
    return rc;
  const RFC_RC result = RfcReceive (handle, get_array.get (), table_array.get (), &exception);
  return finish (result, result == RFC_FAILURE || result == RFC_SYS_EXCEPTION);
}

int Vurude_Function::get_data (RFC_HANDLE handle)
{
  exception = nullptr;
  if (refuse_unprepared ())
    return rc;
  const RFC_RC result = RfcGetData (handle, get_array.get (), table_array.get ());
  return finish (result, result == RFC_FAILURE);
}

int Vurude_Function::send_data (RFC_HANDLE handle)
{
  exception = nullptr;
  if (refuse_unprepared ())
    return rc;
  const RFC_RC result = RfcSendData (handle, send_array.get (), table_array.get ());
  return finish (result, result == RFC_FAILURE);
}

int Vurude_Function::raise (RFC_HANDLE handle, const char16_t *exception_name)
{
  exception = nullptr;
  if (refuse_unprepared ())
    return rc;
  const RFC_RC result = RfcRaiseTables (handle, exception_name, table_array.get ());
  return finish (result, result == RFC_FAILURE);
}

int Vurude_Function::get_table_index (std::u16string_view table_name) const
{
  if (!table_array)
    return 0;
  for (std::size_t k = 0; table_array[k].nlen != 0; ++k)
    {
      const RFC_TABLE &entry = table_array[k];
      if (entry.name && std::u16string_view (entry.name, entry.nlen) == table_name)
        return static_cast<int> (k);
    }
  return 0;
}

int Vurude_Function::set_export_data_ptr (int index, const void *address, int length)
{
  if (!entry_at (send_array, send_count_, index))
    return -1;
  RFC_PARAMETER &entry = send_array[static_cast<std::size_t> (index)];
  // The library only reads what it sends.
  entry.addr = const_cast<void *> (address);
  if (length >= 0)
    entry.leng = static_cast<unsigned> (length);
  else
    entry.leng = address ? static_cast<unsigned> (
                   2 * std::char_traits<char16_t>::length (static_cast<const char16_t *> (address)))
                         : 0;
  return 0;
}

ITAB_H Vurude_Function::table_handle (int index) const
{
  const RFC_TABLE *entry = entry_at (table_array, table_count_, index);
  return entry ? entry->ithandle : ITAB_NULL;
}

const char16_t *Vurude_Function::table_name (int index) const
{
  const RFC_TABLE *entry = entry_at (table_array, table_count_, index);
  return entry ? entry->name : nullptr;
}

unsigned Vurude_Function::table_name_length (int index) const
{
  const RFC_TABLE *entry = entry_at (table_array, table_count_, index);
  return entry ? entry->nlen : 0;
}

const char16_t *Vurude_Function::get_parm_name (int index) const
{
  const RFC_PARAMETER *entry = entry_at (get_array, get_count_, index);
  return entry ? entry->name : nullptr;
}

unsigned Vurude_Function::get_parm_name_length (int index) const
{
  const RFC_PARAMETER *entry = entry_at (get_array, get_count_, index);
  return entry ? entry->nlen : 0;
}

const char16_t *Vurude_Function::send_parm_name (int index) const
{
  const RFC_PARAMETER *entry = entry_at (send_array, send_count_, index);
  return entry ? entry->name : nullptr;
}

unsigned Vurude_Function::send_parm_name_length (int index) const
{
  const RFC_PARAMETER *entry = entry_at (send_array, send_count_, index);
  return entry ? entry->nlen : 0;
}

unsigned Vurude_Function::send_length (int index) const
{
  const RFC_PARAMETER *entry = entry_at (send_array, send_count_, index);
  return entry ? entry->leng : 0;
}

void *Vurude_Function::send_address (int index) const
{
  const RFC_PARAMETER *entry = entry_at (send_array, send_count_, index);
  return entry ? entry->addr : nullptr;
}
