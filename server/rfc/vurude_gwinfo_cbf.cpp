#include "vurude_gwinfo_cbf.h"

Vurude_Gwinfo_Cbf::Vurude_Gwinfo_Cbf (const char16_t *label)
  : Vurude_Base_Cbf (label),
    jobcount_ {u'0'},
    batdest_ {u'0'},
    batprid_ {u'0'},
    batgwh_ {u'0'},
    batgws_ {u'0'},
    batgwfl_ ()
{
  declare_get (u"JOBCOUNT", jobcount_, 2 * jobcount_units);
  declare_get (u"BATDEST", batdest_, 2 * text_units);
  declare_get (u"BATPRID", batprid_, 2 * text_units);
  declare_get (u"BATGWH", batgwh_, 2 * text_units);
  declare_get (u"BATGWS", batgws_, 2 * text_units);
  declare_get (u"BATGWFL", batgwfl_, 2);
  prepare ();
}

int Vurude_Gwinfo_Cbf::getdata (RFC_HANDLE handle)
{
  const int result = get_checked (handle);
  cut_at_blank (jobcount_);
  cut_at_blank (batdest_);
  cut_at_blank (batprid_);
  cut_at_blank (batgwh_);
  cut_at_blank (batgws_);
  return result;
}
