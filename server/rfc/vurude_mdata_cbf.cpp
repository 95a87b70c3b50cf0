#include "vurude_mdata_cbf.h"

Vurude_Mdata_Cbf::Vurude_Mdata_Cbf (const char16_t *label)
  : Vurude_Base_Cbf (label),
    mtab_index_ (-1)
{
  mtab_index_ = declare_table (u"MTAB", RFCTYPE_CHAR, mtab_line_bytes);
  prepare ();
}

int Vurude_Mdata_Cbf::getdata (RFC_HANDLE handle)
{
  mtab_.reset ();
  const int result = get_checked (handle);
  if (result != RFC_OK)
    return result;
  mtab_ = wrap_table (mtab_index_);
  return result;
}
