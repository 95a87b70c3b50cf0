#include "vurude_ssi_cbf.h"

Vurude_Ssi_Cbf::Vurude_Ssi_Cbf (const char16_t *label)
  : Vurude_Base_Cbf (label),
    sysinfo_ (),
    batdest_ (),
    batprid_ (),
    batgwh_ (),
    batgws_ (),
    batgwfl_ (),
    batmess_ ()
{
  declare_get (u"SYSINFO", sysinfo_, 2 * sysinfo_units);
  declare_get (u"BATDEST", batdest_, 2 * text_units);
  declare_get (u"BATPRID", batprid_, 2 * text_units);
  declare_get (u"BATGWH", batgwh_, 2 * text_units);
  declare_get (u"BATGWS", batgws_, 2 * text_units);
  declare_get (u"BATGWFL", batgwfl_, 2);
  declare_get (u"BATMESS", batmess_, 2 * text_units);
  prepare ();
}

int Vurude_Ssi_Cbf::getdata (RFC_HANDLE handle)
{
  const int result = get_checked (handle);
  cut_at_blank (batprid_);
  cut_at_blank (batdest_);
  cut_at_blank (batgwh_);
  cut_at_blank (batgws_);
  trim_trailing_blanks (batmess_);
  trim_trailing_blanks (sysinfo_);
  return result;
}
