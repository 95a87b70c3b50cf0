#include "vurude_jobno_cbf.h"

#include <algorithm>
#include <string>

Vurude_Jobno_Cbf::Vurude_Jobno_Cbf (const char16_t *label)
  : Vurude_Base_Cbf (label),
    jobno_ (),
    token_ ()
{
  declare_get (u"Z_VOK_JOBNO", jobno_, 2 * jobno_units);
  prepare_get ();
}

int Vurude_Jobno_Cbf::getdata (RFC_HANDLE handle)
{
  const int result = get_checked (handle);
  cut_at_blank (jobno_);
  return result;
}

int Vurude_Jobno_Cbf::set_token (const char16_t *text)
{
  std::fill_n (token_, token_units, u'\0');
  if (text)
    std::copy_n (text, std::min (std::char_traits<char16_t>::length (text), token_units - 1), token_);
  clear_send ();
  if (declare_send (u"Z_VOK_TOKEN", token_, 2 * token_units) < 0)
    return -1;
  return prepare_send ();
}
