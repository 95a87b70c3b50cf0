#include "vurude_data_cbf.h"

#include <algorithm>

Vurude_Data_Cbf::Vurude_Data_Cbf (const char16_t *label)
  : Vurude_Base_Cbf (label),
    dhandle_ (),
    emsg_ (),
    end_of_data_ {u' ', 0},
    table_name_ (),
    dtab_index_ (-1),
    mtab_index_ (-1)
{
  std::fill_n (dhandle_, dhandle_units - 1, u' ');
  declare_get (u"DHANDLE", dhandle_, 2 * dhandle_units);
  declare_get (u"EMSG", emsg_, 2 * emsg_units);
  declare_get (u"END_OF_DATA", end_of_data_, 2);
  declare_get (u"TABLE_NAME", table_name_, 2 * table_name_units);
  dtab_index_ = declare_table (u"DTAB", RFCTYPE_BYTE, 0);
  mtab_index_ = declare_table (u"MTAB", RFCTYPE_CHAR, 0);
  prepare ();
}

int Vurude_Data_Cbf::getdata (RFC_HANDLE handle)
{
  end_of_data_[0] = u' ';
  std::fill_n (emsg_, emsg_units, u'\0');
  std::fill_n (table_name_, table_name_units, u'\0');
  dtab_.reset ();
  mtab_.reset ();
  const int result = get_checked (handle);
  if (result == RFC_OK)
    {
      dtab_ = wrap_table (dtab_index_);
      mtab_ = wrap_table (mtab_index_);
    }
  return result;
}

int Vurude_Data_Cbf::senddata (RFC_HANDLE handle)
{
  const int result = send_checked (handle);
  dtab_.reset ();
  mtab_.reset ();
  return result;
}
