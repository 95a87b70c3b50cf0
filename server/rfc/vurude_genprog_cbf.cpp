#include "vurude_genprog_cbf.h"

Vurude_Genprog_Cbf::Vurude_Genprog_Cbf (const char16_t *label)
  : Vurude_Base_Cbf (label),
    rc_ (),
    dhandle_ (),
    ltab_index_ (-1)
{
  declare_get (u"RC", rc_, 2 * rc_units);
  declare_get (u"DHANDLE", dhandle_, 2 * dhandle_units);
  ltab_index_ = declare_table (u"LTAB", RFCTYPE_CHAR, ltab_line_bytes);
  prepare ();
}

int Vurude_Genprog_Cbf::getdata (RFC_HANDLE handle)
{
  ltab_.reset ();
  const int result = get_checked (handle);
  if (result == RFC_OK)
    ltab_ = wrap_table (ltab_index_);
  return result;
}
