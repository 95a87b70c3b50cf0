#include "vurude_base_cbf.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace
{
// Makes an object for `list` to own; null without memory.
template <typename T, typename... Args>
T *own (std::vector<std::unique_ptr<T>> &list, Args &&...args)
{
  try
    {
      list.push_back (std::make_unique<T> (std::forward<Args> (args)...));
    }
  catch (const std::bad_alloc &)
    {
      return nullptr;
    }
  return list.back ().get ();
}

void copy_text (SAP_UC *target, std::size_t size, std::u16string_view text)
{
  const std::size_t n = std::min (text.size (), size - 1);
  std::copy_n (text.data (), n, target);
  target[n] = 0;
}
}

Vurude_Base_Cbf::Vurude_Base_Cbf (const char16_t *label)
  : Vurude_Function (label),
    incomplete_ (false)
{
}

Vurude_Base_Cbf::~Vurude_Base_Cbf ()
{
  delete_created_tables ();
}

int Vurude_Base_Cbf::getdata (RFC_HANDLE handle)
{
  return get_checked (handle);
}

int Vurude_Base_Cbf::senddata (RFC_HANDLE handle)
{
  return send_checked (handle);
}

char16_t Vurude_Base_Cbf::func_flag (char16_t metadata_flag, char16_t data_flag)
{
  char16_t flag = metadata_flag == u'Y' ? u'M' : u' ';
  if (data_flag == u'Y')
    flag = flag == u'M' ? u'B' : u'D';
  return flag;
}

int Vurude_Base_Cbf::declare_get (const char16_t *parm_name, char16_t *value, int length, int type)
{
  Vurude_Parm *parm = own (owned_get_parms_, parm_name, value, length, type);
  const int index = parm ? add_get_parm (parm) : -1;
  if (index < 0)
    set_incomplete ();
  return index;
}

int Vurude_Base_Cbf::declare_send (const char16_t *parm_name, char16_t *value, int length, int type)
{
  Vurude_Parm *parm = own (owned_send_parms_, parm_name, value, length, type);
  const int index = parm ? add_send_parm (parm) : -1;
  if (index < 0)
    set_incomplete ();
  return index;
}

int Vurude_Base_Cbf::declare_table (const char16_t *table_name, int type, unsigned line_length)
{
  Vurude_Tabparm *table = own (owned_tables_, table_name, type, line_length, ITAB_NULL, RFC_ITMODE_BYREFERENCE);
  const int index = table ? add_table (table) : -1;
  if (index < 0)
    set_incomplete ();
  return index;
}

void Vurude_Base_Cbf::clear_send ()
{
  send_parms.clear ();
  // The prepared entries point into the parameters about to go.
  prepare_send ();
  owned_send_parms_.clear ();
}

void Vurude_Base_Cbf::set_incomplete ()
{
  if (!incomplete_)
    ACE_ERROR ((LM_ERROR, "%D(%P|%t) Vurude_Base_Cbf - no memory for the parameters of a callback\n"));
  incomplete_ = true;
}

bool Vurude_Base_Cbf::refuse ()
{
  if (!incomplete_)
    return false;
  fail_no_memory ();
  return true;
}

int Vurude_Base_Cbf::fail_no_memory ()
{
  exception = nullptr;
  rc = RFC_FAILURE;
  error_info = RFC_ERROR_INFO_EX ();
  error_info.group = RFC_ERROR_RESOURCE;
  copy_text (error_info.key, sizeof error_info.key / sizeof (SAP_UC), u"RFC_ERROR_RESOURCE");
  copy_text (error_info.message, sizeof error_info.message / sizeof (SAP_UC),
             u"no memory for the parameters of the call");
  last_error_rc = 0;
  return rc;
}

int Vurude_Base_Cbf::get_checked (RFC_HANDLE handle)
{
  return refuse () ? rc : get_data (handle);
}

int Vurude_Base_Cbf::send_checked (RFC_HANDLE handle)
{
  return refuse () ? rc : send_data (handle);
}

std::unique_ptr<Vurude_Itab> Vurude_Base_Cbf::wrap_table (int index) const
{
  return std::unique_ptr<Vurude_Itab> (new (std::nothrow) Vurude_Itab (table_handle (index), Vurude_Itab::OWN_NONE));
}

void Vurude_Base_Cbf::cut_at_blank (char16_t *text)
{
  for (; *text; ++text)
    if (*text == u' ')
      {
        *text = 0;
        return;
      }
}

void Vurude_Base_Cbf::trim_trailing_blanks (char16_t *text)
{
  std::size_t n = std::char_traits<char16_t>::length (text);
  while (n > 0 && text[n - 1] == u' ')
    --n;
  text[n] = 0;
}

void Vurude_Base_Cbf::delete_created_tables ()
{
  for (std::size_t k = 0; k < table_count (); ++k)
    {
      RFC_TABLE &entry = table_array[k];
      if (entry.newitab && entry.ithandle)
        ItDelete (entry.ithandle);
      entry.ithandle = ITAB_NULL;
      entry.newitab = 0;
    }
}
